#include "tests/support/ScriptServer.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testsupport {

ScriptServer::ScriptServer(std::vector<std::string> args) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return;
  pid_ = fork();
  if (pid_ == 0) {
    dup2(fds[1], 1);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(fds[1]);
  std::string line;
  char c;
  pollfd p{fds[0], POLLIN, 0};
  while (poll(&p, 1, 10000) > 0 && read(fds[0], &c, 1) == 1 && c != '\n') line += c;
  close(fds[0]);
  if (line.rfind("READY ", 0) == 0) port_ = std::stoi(line.substr(6));
}

// SIGKILL: a server made to stall on purpose must not be able to hold the test up.
ScriptServer::~ScriptServer() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
}

}  // namespace testsupport
