// `setup-downloader --help` (or -h) and `--version`: asked for as the only parameter, the program
// prints its usage or its version and ends with 0 before anything else happens (no window, no
// network). Any other command line keeps the positional rules (app/StartupRules.h), so a product
// may still be called "-h" when a language letter follows.
#pragma once

#include <optional>
#include <string>
#include <vector>

// The text to print instead of running, or nothing when params ask for a run.
std::optional<std::string> ProgramInfoRequest(const std::vector<std::string>& params);

std::string UsageText();
std::string VersionText();
