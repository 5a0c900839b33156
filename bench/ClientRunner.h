// The FTP client alone, driven the way an application drives it: log on, retrieve, log off, each
// step waited for in this thread's message loop.
#pragma once

#include <cstdint>
#include <string>

#include "ftp/QsFtp.h"

namespace bench {

class ClientRunner {
 public:
  // Logs on to the benchmarks' account on 127.0.0.1:port, in passive mode; over TLS, trusting
  // the certificates in caFile, when one is named.
  explicit ClientRunner(std::uint16_t port, const std::string& caFile = "");
  bool LogOn();
  bool Retrieve(const std::string& remote, const std::string& local);
  // A names-only listing of path; its length in bytes, or -1 when it failed.
  long List(const std::string& path);
  void LogOff();
  // Sends QUIT and ends the process once the server has answered and the connection is closed,
  // where curl and wget end too: the rest of LogOff's fixed pause is idle time, not the transfer's.
  [[noreturn]] void LogOffAndExit();

 private:
  bool Wait(TFtpStatusCode code);
  void Status(platform::TComponent*, TFtpStatusCode code, const char*);
  void Error(platform::TComponent*, std::int32_t code, const char* text);

  TQsFtpClient client_{nullptr};
  int last_ = -1;
  long listed_ = 0;
  bool failed_ = false;
  bool quitting_ = false;
};

}  // namespace bench
