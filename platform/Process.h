// Starting another program, detached from this one (it goes on after this program ends).
#pragma once

#include <string>

namespace platform {

// Starts the program file at path in folder, detached. The file is made executable first. A
// Windows executable (it begins with "MZ") is started through wine when wine is on the PATH.
// Returns false with a reason the user can read when the program could not be started.
bool StartProgram(const std::string& path, const std::string& folder, std::string& error);

// The full path of a program found on the PATH, or empty.
std::string FindOnPath(const std::string& program);

}  // namespace platform
