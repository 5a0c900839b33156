// Where the download server is: the built-in address on the FTP service port, unless the
// environment variable QUILLSTAGE_FTP_SERVER ("host", "host:port", either after "ftp://", or after
// "ftps://" for a server that must be reached over TLS) names another.
#pragma once

#include <string>

// The product's download server.
inline constexpr const char* kBuiltInServerAddress = "ftp.quillstage.example";
// The FTP service, looked up in the system's service table.
inline constexpr const char* kFtpService = "ftp";

struct TServerSetting {
  std::string address;
  std::string port;  // a service name or a decimal port number
  bool tls = false;  // TLS required (explicit: the FTP port, then AUTH TLS)
};

// The setting for the value of QUILLSTAGE_FTP_SERVER (nullptr or empty: the built-in one).
// A port after the last ':' replaces the service; an empty one is ignored.
TServerSetting ServerSetting(const char* override);
