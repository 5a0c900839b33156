#include "tests/app/DownloaderProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/support/FtpServers.h"

namespace e2e {

namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

}  // namespace

bool ProgramResult::Has(const std::string& line) const { return IndexOf(line) >= 0; }

int ProgramResult::Count(const std::string& prefix) const {
  return static_cast<int>(
      std::count_if(lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(prefix, 0) == 0; }));
}

int ProgramResult::IndexOf(const std::string& line) const {
  const auto it = std::find(lines.begin(), lines.end(), line);
  return it == lines.end() ? -1 : static_cast<int>(it - lines.begin());
}

ProgramResult RunDownloader(const std::vector<std::string>& args, const std::map<std::string, std::string>& env,
                            int limitSeconds) {
  const std::string dir = ftpserver::MakeTempDir("qs-run-");
  const std::string outPath = dir + "/out.txt";
  const std::string errPath = dir + "/err.txt";
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    setpgid(0, 0);
    const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int in = open("/dev/null", O_RDONLY);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    setenv("QUILLSTAGE_UI", "headless", 1);
    for (const auto& [name, value] : env) setenv(name.c_str(), value.c_str(), 1);
    std::vector<char*> argv;
    std::string program = QS_DOWNLOADER_PROGRAM;
    argv.push_back(program.data());
    std::vector<std::string> copies = args;
    for (std::string& a : copies) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  ProgramResult result;
  int status = 0;
  for (;;) {
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (std::chrono::steady_clock::now() - start > std::chrono::seconds(limitSeconds)) {
      kill(-pid, SIGKILL);
      waitpid(pid, &status, 0);
      result.timedOut = true;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (!result.timedOut && WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  result.out = ReadAll(outPath);
  result.err = ReadAll(errPath);
  result.lines = SplitLines(result.out);
  ftpserver::RemoveTree(dir);
  return result;
}

}  // namespace e2e
