// A real X server for the tests: Debian's Xvfb, started on a free display number (Xvfb picks it
// and reports it through -displayfd) and stopped when the object goes.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>

namespace testsupport {

class XvfbServer {
 public:
  // Null with the reason when Xvfb cannot start (not installed, no display within 10 s).
  static std::unique_ptr<XvfbServer> Start(std::string& reason);
  ~XvfbServer();
  XvfbServer(const XvfbServer&) = delete;
  XvfbServer& operator=(const XvfbServer&) = delete;

  // ":N", for DISPLAY.
  const std::string& Display() const { return display_; }

 private:
  XvfbServer(pid_t pid, std::string display) : pid_(pid), display_(std::move(display)) {}
  pid_t pid_;
  std::string display_;
};

// Runs a command through the shell and returns what it wrote on standard output.
std::string CommandOutput(const std::string& command);

}  // namespace testsupport
