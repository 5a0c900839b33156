#include "platform/Resources.h"

#include <map>
#include <mutex>
#include <optional>
#include <utility>

#include "platform/CompiledResources.h"

namespace platform {
namespace {

struct Entry {
  std::span<const std::uint8_t> bytes;
  bool loadable = true;
};

struct Registry {
  std::mutex lock;
  std::map<std::pair<HMODULE, std::string>, Entry> entries;
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

std::optional<Entry> FindCompiled(const std::string& name) {
  for (const CompiledResource& r : CompiledResources())
    if (name == r.name) return Entry{{r.data, r.size}, true};
  return std::nullopt;
}

}  // namespace

void RegisterRawResource(HMODULE module, const std::string& name, std::span<const std::uint8_t> bytes) {
  Registry& reg = TheRegistry();
  std::lock_guard guard(reg.lock);
  reg.entries[{module, name}] = Entry{bytes, true};
}

void RegisterUnloadableResource(HMODULE module, const std::string& name) {
  Registry& reg = TheRegistry();
  std::lock_guard guard(reg.lock);
  reg.entries[{module, name}] = Entry{{}, false};
}

void UnregisterRawResource(HMODULE module, const std::string& name) {
  Registry& reg = TheRegistry();
  std::lock_guard guard(reg.lock);
  reg.entries.erase({module, name});
}

ResourceLookup FindRawResource(HMODULE module, const std::string& name, std::span<const std::uint8_t>& bytes) {
  std::optional<Entry> found;
  {
    Registry& reg = TheRegistry();
    std::lock_guard guard(reg.lock);
    auto it = reg.entries.find({module, name});
    if (it != reg.entries.end()) found = it->second;
  }
  // Registered resources of the main module take precedence over the compiled-in ones.
  if (!found && module == kMainModule) found = FindCompiled(name);
  if (!found) return ResourceLookup::Missing;
  if (!found->loadable) return ResourceLookup::Unloadable;
  bytes = found->bytes;
  return ResourceLookup::Found;
}

}  // namespace platform
