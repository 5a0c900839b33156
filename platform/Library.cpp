#include "platform/Library.h"

#include <map>
#include <memory>
#include <mutex>


namespace platform {
namespace {

struct LoadedLibrary {
  std::vector<LibraryExport> exports;
  int loads = 0;
};

struct Registry {
  std::mutex lock;
  std::map<std::string, std::shared_ptr<LoadedLibrary>> byName;  // key: upper-case name
  std::map<std::string, std::vector<LibraryExport> (*)()> builtins;
  std::map<HLIBRARY, std::shared_ptr<LoadedLibrary>> loaded;
  HLIBRARY nextHandle = 1;
};

Registry& TheRegistry() {
  static Registry* registry = new Registry;  // reachable from static destructors too
  return *registry;
}

std::string Key(const std::string& name) {
  std::string key = name;
  for (char& c : key)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return key;
}

}  // namespace

void RegisterLibrary(const std::string& name, std::vector<LibraryExport> exports) {
  auto library = std::make_shared<LoadedLibrary>();
  library->exports = std::move(exports);
  Registry& reg = TheRegistry();
  std::lock_guard guard(reg.lock);
  reg.byName[Key(name)] = std::move(library);
}

void UnregisterLibrary(const std::string& name) {
  Registry& reg = TheRegistry();
  std::lock_guard guard(reg.lock);
  reg.byName.erase(Key(name));
  reg.builtins.erase(Key(name));
}

void RegisterBuiltinLibrary(const std::string& name, std::vector<LibraryExport> (*make)()) {
  Registry& reg = TheRegistry();
  std::lock_guard guard(reg.lock);
  reg.builtins[Key(name)] = make;
}

HLIBRARY LoadLibrary(const std::string& name) {
  Registry& reg = TheRegistry();
  std::lock_guard guard(reg.lock);
  std::string key = Key(name);
  auto it = reg.byName.find(key);
  if (it == reg.byName.end()) {
    auto builtin = reg.builtins.find(key);
    if (builtin == reg.builtins.end()) return 0;
    auto library = std::make_shared<LoadedLibrary>();
    library->exports = builtin->second();
    it = reg.byName.emplace(key, std::move(library)).first;
  }
  for (auto& [handle, library] : reg.loaded)
    if (library == it->second) {
      ++library->loads;
      return handle;
    }
  HLIBRARY handle = reg.nextHandle++;
  it->second->loads = 1;
  reg.loaded.emplace(handle, it->second);
  return handle;
}

void* GetProcAddress(HLIBRARY library, const std::string& name) {
  Registry& reg = TheRegistry();
  std::lock_guard guard(reg.lock);
  auto it = reg.loaded.find(library);
  if (it == reg.loaded.end()) return nullptr;
  for (const LibraryExport& e : it->second->exports)
    if (e.name == name) return e.address;
  return nullptr;
}

bool FreeLibrary(HLIBRARY library) {
  Registry& reg = TheRegistry();
  std::lock_guard guard(reg.lock);
  auto it = reg.loaded.find(library);
  if (it == reg.loaded.end()) return false;
  if (--it->second->loads == 0) reg.loaded.erase(it);
  return true;
}

}  // namespace platform
