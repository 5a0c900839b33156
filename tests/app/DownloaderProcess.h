// Runs the setup-downloader program as a user would, headless, and collects what it printed and
// how it ended. A run that outlives its limit is killed and reported as such.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace e2e {

struct ProgramResult {
  int exitCode = -1;      // -1 when killed or ended by a signal
  bool timedOut = false;  // killed after the limit
  double seconds = 0;
  std::string out;
  std::string err;
  std::vector<std::string> lines;  // out, by line

  bool Has(const std::string& line) const;
  // How many lines begin with prefix.
  int Count(const std::string& prefix) const;
  // Index of the first line equal to line, or -1.
  int IndexOf(const std::string& line) const;
};

// Runs the program with args and the environment variables env added to this process's
// (QUILLSTAGE_UI=headless always), in folder cwd.
ProgramResult RunDownloader(const std::vector<std::string>& args, const std::map<std::string, std::string>& env,
                            int limitSeconds = 90);

}  // namespace e2e
