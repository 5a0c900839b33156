// Pumping the calling thread's message loop in tests, with a time limit so that a broken
// expectation fails the test instead of hanging it.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

#include "platform/Clock.h"
#include "platform/MessageLoop.h"
#include "platform/Threads.h"

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

// Waits for cond up to limit, for tests whose service threads send to this thread: the wait
// (WaitForAnyEventPumping) answers those sends and handles this thread's messages meanwhile.
template <typename Cond>
bool Eventually(Cond cond, std::chrono::milliseconds limit = std::chrono::milliseconds(5000)) {
  const auto start = std::chrono::steady_clock::now();
  platform::TSyncEvent never(platform::TSyncEvent::rmManual);
  while (!cond()) {
    if (std::chrono::steady_clock::now() - start > limit) return false;
    platform::WaitForAnyEventPumping({&never}, 5);
  }
  return true;
}

}  // namespace testpump
