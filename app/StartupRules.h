// The start-up rules of the downloader that do not need the window: what the command line
// chooses, and when a setup file left from an earlier download is too old to keep.
#pragma once

#include <ctime>
#include <string>
#include <vector>

// What the command line chooses: `setup-downloader [PRODUCT] [C]`.
struct TCommandLine {
  std::string productCode;
  bool useChinese = true;
  std::string remoteFolder;   // "//" + product code + "_program"
  std::string setupFileName;  // "Setup" + product code + ".exe"
};

inline constexpr const char* kDefaultProductCode = "ORV";

// params are the parameters after the program's name. With fewer than two the defaults hold
// (a single parameter is ignored); otherwise parameter 1 is the product code, used verbatim, and
// parameter 2 selects Chinese only when it is exactly "C". Later parameters are ignored.
TCommandLine ReadCommandLine(const std::vector<std::string>& params);

// Why the product code cannot be used (empty when it can): a line break or NUL in it would reach
// the FTP server as the end of a command and the start of another.
std::string ProductCodeProblem(const std::string& productCode);

// Whether a setup file last written at fileTime is stale at now: older than today's local
// midnight minus 30 days.
bool IsSetupFileStale(std::time_t fileTime, std::time_t now);
