#include "tests/support/XvfbServer.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <utility>

namespace testsupport {

namespace {

constexpr const char* kXvfb = "/usr/bin/Xvfb";
constexpr int kStartMs = 10000;

// Reads the display number Xvfb writes once it accepts connections; empty when it does not.
std::string ReadDisplayNumber(int fd) {
  std::string number;
  for (int waited = 0; waited < kStartMs; waited += 100) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    char c = 0;
    const ssize_t n = read(fd, &c, 1);
    if (n <= 0) return {};
    if (c == '\n') return number;
    number += c;
  }
  return {};
}

}  // namespace

std::unique_ptr<XvfbServer> XvfbServer::Start(std::string& reason) {
  if (access(kXvfb, X_OK) != 0) {
    reason = std::string(kXvfb) + " is not installed (package xvfb)";
    return nullptr;
  }
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) {
    reason = "pipe failed";
    return nullptr;
  }
  const pid_t pid = fork();
  if (pid == 0) {
    // Xvfb writes the display number on descriptor 3, which must survive the exec.
    if (pipeFds[1] == 3) {
      fcntl(3, F_SETFD, 0);
    } else {
      dup2(pipeFds[1], 3);
    }
    const int devNull = open("/dev/null", O_WRONLY);
    if (devNull >= 0) dup2(devNull, STDERR_FILENO);
    execl(kXvfb, kXvfb, "-displayfd", "3", "-nolisten", "tcp", "-screen", "0", "1024x768x24", "-nocursor",
          static_cast<char*>(nullptr));
    _exit(127);
  }
  close(pipeFds[1]);
  if (pid < 0) {
    close(pipeFds[0]);
    reason = "fork failed";
    return nullptr;
  }
  const std::string number = ReadDisplayNumber(pipeFds[0]);
  close(pipeFds[0]);
  if (number.empty()) {
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    reason = "Xvfb did not report a display";
    return nullptr;
  }
  return std::unique_ptr<XvfbServer>(new XvfbServer(pid, ":" + number));
}

XvfbServer::~XvfbServer() {
  kill(pid_, SIGTERM);
  waitpid(pid_, nullptr, 0);
}

std::string CommandOutput(const std::string& command) {
  std::string output;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return output;
  std::array<char, 4096> buffer{};
  while (const std::size_t n = fread(buffer.data(), 1, buffer.size(), pipe)) output.append(buffer.data(), n);
  pclose(pipe);
  return output;
}

}  // namespace testsupport
