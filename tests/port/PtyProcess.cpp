#include "tests/port/PtyProcess.h"

#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

TPtyProcess::TPtyProcess(const std::string& path, const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_ = forkpty(&master_, nullptr, nullptr, nullptr);
  if (pid_ == 0) {
    execv(path.c_str(), argv.data());
    _exit(127);
  }
}

TPtyProcess::~TPtyProcess() {
  if (pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (master_ >= 0) close(master_);
}

void TPtyProcess::Type(const std::string& keys) {
  if (master_ >= 0) (void)!write(master_, keys.data(), keys.size());
}

void TPtyProcess::Drain() {
  char buf[4096];
  pollfd p{master_, POLLIN, 0};
  while (master_ >= 0 && poll(&p, 1, 0) > 0 && (p.revents & POLLIN) != 0) {
    const ssize_t n = read(master_, buf, sizeof buf);
    if (n <= 0) return;
    screen_.append(buf, static_cast<std::size_t>(n));
  }
}

bool TPtyProcess::LineByLine() const {
  // On the master side the terminal attributes read are the slave's, which the program sets.
  termios mode{};
  return master_ >= 0 && tcgetattr(master_, &mode) == 0 && (mode.c_lflag & ICANON) != 0;
}
