#include "platform/WinSockFilter.h"

#include <atomic>
#include <map>
#include <mutex>

namespace platform::ws::filter {
namespace {

std::mutex gLock;
std::atomic<int> gAttached{0};

std::map<SOCKET, std::shared_ptr<TSocketFilter>>& Filters() {
  static auto* filters = new std::map<SOCKET, std::shared_ptr<TSocketFilter>>;
  return *filters;
}

}  // namespace

void Attach(SOCKET s, std::shared_ptr<TSocketFilter> filter) {
  std::lock_guard guard(gLock);
  Filters()[s] = std::move(filter);
  gAttached.store(static_cast<int>(Filters().size()), std::memory_order_relaxed);
}

std::shared_ptr<TSocketFilter> Find(SOCKET s) {
  if (gAttached.load(std::memory_order_relaxed) == 0) return nullptr;
  std::lock_guard guard(gLock);
  auto it = Filters().find(s);
  return it != Filters().end() ? it->second : nullptr;
}

void Detach(SOCKET s) {
  std::shared_ptr<TSocketFilter> freed;  // freed outside the lock: a filter may call back in
  std::lock_guard guard(gLock);
  auto it = Filters().find(s);
  if (it == Filters().end()) return;
  freed = std::move(it->second);
  Filters().erase(it);
  gAttached.store(static_cast<int>(Filters().size()), std::memory_order_relaxed);
}

}  // namespace platform::ws::filter
