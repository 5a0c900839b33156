// The process-wide dispatcher registry: a dispatcher's Handle is its slot; slots are reused.
#include <vector>

#include "comm/QsDispatch.h"

namespace {

struct Registry {
  TQsBaseDispatcher::Lock lock;
  std::vector<TQsBaseDispatcher*> slots;
  int cachedId = -1;  // the last device id found, and its dispatcher
  TQsBaseDispatcher* cached = nullptr;
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

}  // namespace

TQsBaseDispatcher::Lock& TQsBaseDispatcher::RegistryLock() { return TheRegistry().lock; }

void TQsBaseDispatcher::Register() {
  Registry& r = TheRegistry();
  std::lock_guard guard(r.lock);
  for (std::size_t i = 0; i < r.slots.size(); ++i) {
    if (r.slots[i] == nullptr) {
      r.slots[i] = this;
      handle_ = static_cast<int>(i);
      return;
    }
  }
  r.slots.push_back(this);
  handle_ = static_cast<int>(r.slots.size()) - 1;
}

void TQsBaseDispatcher::Unregister() {
  Registry& r = TheRegistry();
  std::lock_guard guard(r.lock);
  if (handle_ >= 0 && handle_ < static_cast<int>(r.slots.size()) && r.slots[handle_] == this) r.slots[handle_] = nullptr;
  while (!r.slots.empty() && r.slots.back() == nullptr) r.slots.pop_back();
  if (r.cached == this) {
    r.cachedId = -1;
    r.cached = nullptr;
  }
}

TQsBaseDispatcher* TQsBaseDispatcher::FindDispatcherOf(int deviceId, bool (*isClass)(TQsBaseDispatcher*)) {
  Registry& r = TheRegistry();
  std::lock_guard guard(r.lock);
  // The cached dispatcher may have opened another device since; its id and class are checked again.
  if (r.cached && r.cachedId == deviceId && r.cached->DeviceId() == deviceId && isClass(r.cached)) return r.cached;
  for (TQsBaseDispatcher* d : r.slots) {
    if (d && d->DeviceId() == deviceId && isClass(d)) {
      r.cachedId = deviceId;
      r.cached = d;
      return d;
    }
  }
  return nullptr;
}

TQsBaseDispatcher* TQsBaseDispatcher::DispatcherInSlot(int slot) {
  Registry& r = TheRegistry();
  std::lock_guard guard(r.lock);
  if (slot < 0 || slot >= static_cast<int>(r.slots.size())) return nullptr;
  return r.slots[slot];
}

int TQsBaseDispatcher::RegistrySlotCount() {
  Registry& r = TheRegistry();
  std::lock_guard guard(r.lock);
  return static_cast<int>(r.slots.size());
}
