#include "platform/Application.h"

#include <cstdio>
#include <mutex>

namespace platform {
namespace {

std::mutex gLock;
ExceptionHandler& Handler() {
  static auto* handler = new ExceptionHandler;
  return *handler;
}

}  // namespace

ExceptionHandler SetExceptionHandler(ExceptionHandler handler) {
  std::lock_guard guard(gLock);
  std::swap(Handler(), handler);
  return handler;
}

void HandleException(const std::exception& e) {
  ExceptionHandler handler;
  {
    std::lock_guard guard(gLock);
    handler = Handler();
  }
  if (handler)
    handler(e);
  else
    std::fprintf(stderr, "%s\n", e.what());
}

void GuardHandler(const std::function<void()>& body) {
  try {
    body();
  } catch (const std::exception& e) {
    HandleException(e);
  }
}

}  // namespace platform
