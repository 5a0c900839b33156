// What the FTP benchmarks share: the figures of a measured piece of work, child processes measured
// with their own CPU time and peak memory, and a local pyftpdlib server.
#pragma once

#include <sys/time.h>
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace bench {

struct Figures {
  double wall = 0, cpu = 0;  // seconds
  long peakKiB = 0;
};

double Seconds(const timeval& t);

// Each run starts with no dirty pages left by the one before (or by the test files): their
// write-back would otherwise fall into the next run's time, always against the same side.
void Settle();

// Runs argv (searched on PATH) to its end. With onLine, each line of its standard output is handed
// over with the seconds since the start at which it arrived; without, the output is the caller's.
// exitCode, when given, receives the exit status (-1 for a signal).
using LineSink = std::function<void(const std::string& line, double at)>;
Figures RunChild(const std::vector<std::string>& argv, const LineSink& onLine = {}, int* exitCode = nullptr);

// Removes the given folders when this process ends, however it ends (a finished run, Ctrl-C, a
// closed pipe, a kill): a benchmark leaves a gibibyte of served files in memory-backed /dev/shm
// otherwise. The removal is done by a small child that waits for this process to go; make the
// object before any thread is started.
class RemoveWhenGone {
 public:
  explicit RemoveWhenGone(std::vector<std::string> paths);
  ~RemoveWhenGone();
  RemoveWhenGone(const RemoveWhenGone&) = delete;
  RemoveWhenGone& operator=(const RemoveWhenGone&) = delete;

 private:
  int lifeline_ = -1;  // its closing, by this object or by the system at exit, starts the removal
  pid_t pid_ = -1;
};

// scripts/ftp-server.py serving root on a loopback port of its choosing, stopped with the object,
// or with this process if it is killed first.
class LocalFtpServer {
 public:
  // With a certificate and key, the server requires TLS on every connection.
  explicit LocalFtpServer(const std::string& root, const std::string& tlsCert = "", const std::string& tlsKey = "");
  ~LocalFtpServer();
  LocalFtpServer(const LocalFtpServer&) = delete;
  LocalFtpServer& operator=(const LocalFtpServer&) = delete;
  // 0 when the server did not start.
  std::uint16_t Port() const { return port_; }

 private:
  pid_t pid_ = -1;
  int output_ = -1;
  std::uint16_t port_ = 0;
};

}  // namespace bench
