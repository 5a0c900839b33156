// Libraries loaded by name at run time. On Linux a "library" is a table of named entry points
// registered in the process: the engine binds its socket functions this way, and tests register
// broken libraries (a missing entry point, a wrong version) to exercise the start-up failures.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

using HLIBRARY = std::uintptr_t;  // 0: no library

struct LibraryExport {
  std::string name;
  void* address = nullptr;
};

// Registers (or replaces) the library of that name. Handles already given out keep the old table.
void RegisterLibrary(const std::string& name, std::vector<LibraryExport> exports);
// Removes the library, built-in or registered: loading it then fails.
void UnregisterLibrary(const std::string& name);
// Names a built-in library that is registered on first load (unless registered otherwise before).
void RegisterBuiltinLibrary(const std::string& name, std::vector<LibraryExport> (*make)());

// 0 when no library of that name exists (names compare without regard to case).
HLIBRARY LoadLibrary(const std::string& name);
// nullptr when the library has no entry point of that name (names compare exactly).
void* GetProcAddress(HLIBRARY library, const std::string& name);
bool FreeLibrary(HLIBRARY library);

}  // namespace platform
