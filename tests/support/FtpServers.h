// Real FTP servers from Debian's packages, started on a free loopback port for one test and
// stopped with it: pyftpdlib (through scripts/ftp-server.py) and vsftpd (needs root; it logs on a
// system user that the harness creates for the test and removes afterwards).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace ftpserver {

enum class Kind { Pyftpdlib, Vsftpd };

struct Options {
  std::string root;  // the folder served as the account's home
  std::string user = "kwmoro";
  std::string password = "qk47ze19";
  std::vector<std::string> greeting;  // extra greeting lines (pyftpdlib only)
  // PEM files of the server's certificate and key: when set, the server requires TLS on the
  // control connection and on every data connection.
  std::string tlsCertificate;
  std::string tlsKey;
};

class Server {
 public:
  // Starts a server; nullptr with reason set when it cannot run here (package missing, not root).
  static std::unique_ptr<Server> Start(Kind kind, const Options& options, std::string& reason);
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  std::uint16_t Port() const { return port_; }
  Kind GetKind() const { return kind_; }
  const char* Name() const { return kind_ == Kind::Pyftpdlib ? "pyftpdlib" : "vsftpd"; }

 private:
  Server() = default;
  Kind kind_ = Kind::Pyftpdlib;
  int pid_ = -1;
  std::uint16_t port_ = 0;
  std::string workDir_;
  std::string createdUser_;
  int lockFd_ = -1;
};

// A fresh temporary folder (removed by the caller, or left for inspection).
std::string MakeTempDir(const std::string& prefix);
void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);
// Reproducible bytes of every value, for files whose transfer must come out exact.
std::string PatternBytes(std::size_t size, std::uint32_t seed);
void RemoveTree(const std::string& path);

}  // namespace ftpserver
