#include "bench/BenchProcesses.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <thread>

namespace bench {

namespace {

double Since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A line reader that wakes for every line competes for the processors with what it measures (a
// program printing thousands of progress lines, on two cores): it reads in bursts instead, at most
// every few milliseconds, from a pipe big enough to hold what comes meanwhile.
constexpr int kPipeBytes = 1 << 20;
constexpr auto kReadPause = std::chrono::milliseconds(5);

// Hands each complete line read from fd to onLine until the writer closes it. A line's time is at
// most kReadPause late.
void ReadLines(int fd, std::chrono::steady_clock::time_point start, const LineSink& onLine) {
  std::string pending;
  std::vector<char> block(kPipeBytes);
  for (;;) {
    const ssize_t got = read(fd, block.data(), block.size());
    if (got <= 0) break;
    const double at = Since(start);
    pending.append(block.data(), static_cast<std::size_t>(got));
    std::size_t from = 0;
    for (std::size_t end; (end = pending.find('\n', from)) != std::string::npos; from = end + 1)
      onLine(pending.substr(from, end - from), at);
    pending.erase(0, from);
    std::this_thread::sleep_for(kReadPause);
  }
  if (!pending.empty()) onLine(pending, Since(start));
}

}  // namespace

double Seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; }

void Settle() { ::sync(); }

Figures RunChild(const std::vector<std::string>& argv, const LineSink& onLine, int* exitCode) {
  Settle();
  int out[2] = {-1, -1};
  if (onLine) {
    if (pipe2(out, O_CLOEXEC) != 0) std::perror("pipe2");
    fcntl(out[0], F_SETPIPE_SZ, kPipeBytes);
  }
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    if (out[1] >= 0) dup2(out[1], 1);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  if (out[1] >= 0) {
    close(out[1]);
    ReadLines(out[0], start, onLine);
    close(out[0]);
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  Figures f;
  f.wall = Since(start);
  f.cpu = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
  f.peakKiB = usage.ru_maxrss;
  const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  if (exitCode != nullptr) *exitCode = code;
  if (code != 0 && exitCode == nullptr) std::fprintf(stderr, "%s failed\n", argv[0].c_str());
  return f;
}

RemoveWhenGone::RemoveWhenGone(std::vector<std::string> paths) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return;
  pid_ = fork();
  if (pid_ == 0) {
    // The signals that end the benchmark from a terminal reach its whole process group.
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGQUIT}) signal(sig, SIG_IGN);
    close(fds[1]);
    const int quiet = open("/dev/null", O_RDWR);
    for (int fd : {0, 1, 2}) dup2(quiet, fd);  // a pipe reading the benchmark's output ends with it
    char byte;
    ssize_t got;
    do {
      got = read(fds[0], &byte, 1);
    } while (got < 0 && errno == EINTR);
    for (const std::string& path : paths) {
      std::error_code ignored;
      std::filesystem::remove_all(path, ignored);
    }
    _exit(0);
  }
  close(fds[0]);
  lifeline_ = fds[1];
}

RemoveWhenGone::~RemoveWhenGone() {
  if (lifeline_ < 0) return;
  close(lifeline_);
  if (pid_ > 0) waitpid(pid_, nullptr, 0);
}

LocalFtpServer::LocalFtpServer(const std::string& root, const std::string& tlsCert, const std::string& tlsKey) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return;
  const pid_t parent = getpid();
  pid_ = fork();
  if (pid_ == 0) {
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(1);  // the benchmark went before the line above
    dup2(fds[1], 1);
    const int quiet = open("/dev/null", O_WRONLY);
    dup2(quiet, 2);  // the server's request log
    if (tlsCert.empty()) {
      execl("/usr/bin/python3", "python3", QS_SOURCE_DIR "/scripts/ftp-server.py", "--root", root.c_str(), nullptr);
    } else {
      execl("/usr/bin/python3", "python3", QS_SOURCE_DIR "/scripts/ftp-server.py", "--root", root.c_str(), "--tls-cert",
            tlsCert.c_str(), "--tls-key", tlsKey.c_str(), nullptr);
    }
    _exit(127);
  }
  close(fds[1]);
  // It says "READY <port>" once it listens. The pipe stays open: a server that writes to it
  // later must not die of a closed pipe.
  output_ = fds[0];
  char line[64] = {};
  if (read(output_, line, sizeof line - 1) > 6) port_ = static_cast<std::uint16_t>(std::atoi(line + 6));
}

LocalFtpServer::~LocalFtpServer() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  waitpid(pid_, nullptr, 0);
  close(output_);
}

}  // namespace bench
