// Raw-data resources: named blocks of bytes compiled into the program (the message tables) or
// registered at run time by a module (tests register malformed tables this way).
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace platform {

// A module owns a set of resources. 0 is the program's main module, which holds the resources
// compiled into the program.
using HMODULE = std::uintptr_t;
constexpr HMODULE kMainModule = 0;

// Registers (or replaces) a resource of a module. The bytes must outlive the registration.
void RegisterRawResource(HMODULE module, const std::string& name, std::span<const std::uint8_t> bytes);
void UnregisterRawResource(HMODULE module, const std::string& name);
// Registers a resource that exists but cannot be loaded (to exercise the "unable to open" path).
void RegisterUnloadableResource(HMODULE module, const std::string& name);

enum class ResourceLookup { Found, Missing, Unloadable };
// Finds a resource by name in one module (no fallback to the main module: callers decide).
ResourceLookup FindRawResource(HMODULE module, const std::string& name, std::span<const std::uint8_t>& bytes);

}  // namespace platform
