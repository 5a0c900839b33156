#include "platform/Process.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <vector>

namespace platform {
namespace {

bool IsWindowsExecutable(const std::string& path) {
  char magic[2] = {};
  std::ifstream in(path, std::ios::binary);
  return in.read(magic, 2) && magic[0] == 'M' && magic[1] == 'Z';
}

bool MakeExecutable(const std::string& path) {
  struct stat st{};
  if (stat(path.c_str(), &st) != 0) return false;
  mode_t mode = st.st_mode | S_IXUSR;
  if (st.st_mode & S_IRGRP) mode |= S_IXGRP;
  if (st.st_mode & S_IROTH) mode |= S_IXOTH;
  return chmod(path.c_str(), mode) == 0;
}

// Runs argv detached (its own session, reparented to init) in folder. The exec's failure comes
// back through a pipe that a successful exec closes.
int SpawnDetached(const std::vector<std::string>& argv, const std::string& folder) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) return errno;
  pid_t child = fork();
  if (child < 0) {
    int error = errno;
    close(report[0]);
    close(report[1]);
    return error;
  }
  if (child == 0) {
    setsid();
    if (fork() == 0) {
      int error = 0;
      if (chdir(folder.c_str()) != 0) {
        error = errno;
      } else {
        int devnull = open("/dev/null", O_RDWR);
        if (devnull >= 0) dup2(devnull, 0);
        execv(args[0], args.data());
        error = errno;
      }
      [[maybe_unused]] ssize_t n = write(report[1], &error, sizeof error);
      _exit(127);
    }
    _exit(0);
  }
  close(report[1]);
  int status = 0;
  waitpid(child, &status, 0);
  int error = 0;
  ssize_t n = read(report[0], &error, sizeof error);
  close(report[0]);
  return n == static_cast<ssize_t>(sizeof error) ? error : 0;
}

}  // namespace

std::string FindOnPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::string dirs = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
  std::size_t start = 0;
  while (start <= dirs.size()) {
    std::size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    std::string candidate = dirs.substr(start, end - start) + "/" + program;
    if (end > start && access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return {};
}

bool StartProgram(const std::string& path, const std::string& folder, std::string& error) {
  if (access(path.c_str(), F_OK) != 0) {
    error = path + ": " + std::strerror(errno);
    return false;
  }
  std::vector<std::string> argv;
  if (IsWindowsExecutable(path)) {
    std::string wine = FindOnPath("wine");
    if (wine.empty()) {
      error = path + " is a Windows program; install wine to run it";
      return false;
    }
    argv = {wine, path};
  } else {
    if (!MakeExecutable(path)) {
      error = path + ": cannot make it executable: " + std::strerror(errno);
      return false;
    }
    argv = {path};
  }
  int failure = SpawnDetached(argv, folder);
  if (failure != 0) {
    error = argv[0] + ": " + std::strerror(failure);
    return false;
  }
  return true;
}

}  // namespace platform
