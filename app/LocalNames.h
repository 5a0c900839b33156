// Which local file a listed remote name is stored in. A listed name comes from the server and is
// trusted only as a bare file name inside the download folder.
#pragma once

#include <string>

// The setup program's name as the server lists it (spelled with the default product code).
inline constexpr const char* kListedSetupName = "SetupORV.exe";

// Whether name is a plain file name: not empty, not "." or "..", and without a path separator
// ("/" or "\") or a NUL, so that it can only name a file directly inside the download folder.
bool IsPlainFileName(const std::string& name);

// The local name for a listed name: setupFileName when the listing names "SetupORV.exe"
// exactly (case-sensitive), otherwise the listed name itself.
std::string LocalNameFor(const std::string& listedName, const std::string& setupFileName);
