// Pumping the calling thread's message loop in tests, with a time limit so that a broken
// expectation fails the test instead of hanging it.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/Clock.h"
#include "platform/MessageLoop.h"

namespace testpump {

// Handles messages until done() or limitMs; returns whether done() became true.
inline bool PumpUntil(const std::function<bool()>& done, int limitMs = 5000) {
  const std::uint64_t end = platform::MonotonicMilliseconds() + static_cast<std::uint64_t>(limitMs);
  platform::MSG msg;
  while (!done()) {
    if (platform::MonotonicMilliseconds() >= end) return false;
    if (platform::PeekMessage(msg, platform::PM_REMOVE))
      platform::DispatchMessage(msg);
    else
      platform::WaitMessage(10);
  }
  return true;
}

// Handles messages for ms milliseconds.
inline void PumpFor(int ms) {
  const std::uint64_t end = platform::MonotonicMilliseconds() + static_cast<std::uint64_t>(ms);
  PumpUntil([end] { return platform::MonotonicMilliseconds() >= end; }, ms + 1000);
}

}  // namespace testpump
