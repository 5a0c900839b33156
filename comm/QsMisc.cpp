#include "comm/QsMisc.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "platform/Clock.h"

const platform::PropertyTable& TQsBaseComponent::ClassProperties() {
  static const platform::PropertyTable table =
      platform::PropertyTable(&TComponent::ClassProperties())
          .Property("Version", &TQsBaseComponent::Version, &TQsBaseComponent::SetVersion);
  return table;
}

namespace {

constexpr std::uint64_t kClockTurn = std::uint64_t{1} << 32;
// Longest single block of WaitTicks, so that a clock jump or wrap is noticed soon.
constexpr std::int64_t kMaxBlockMilliseconds = 1000;

// Milliseconds until the timer counts as elapsed at nowMs, at least 1 and at most
// kMaxBlockMilliseconds.
int MillisecondsUntilElapsed(const TickTimer& timer, std::uint32_t nowMs) {
  std::int64_t now = nowMs;
  if (static_cast<std::int32_t>(nowMs / kTickMilliseconds) < timer.start) now += static_cast<std::int64_t>(kClockTurn);
  const std::int64_t due = (static_cast<std::int64_t>(timer.expiry) + 1) * kTickMilliseconds;
  return static_cast<int>(std::clamp<std::int64_t>(due - now, 1, kMaxBlockMilliseconds));
}

}  // namespace

std::uint64_t ClockCountsPerMillisecond(std::uint64_t frequency) {
  if (frequency == 0 || frequency >= kClockTurn) return 0;
  return frequency / 1000 + (frequency % 1000 > 500 ? 1 : 0);
}

std::uint32_t MillisecondClock() {
  static const std::uint64_t countsPerMillisecond = ClockCountsPerMillisecond(platform::kHighResolutionFrequency);
  if (countsPerMillisecond == 0) return static_cast<std::uint32_t>(platform::MonotonicMilliseconds());
  return static_cast<std::uint32_t>(platform::HighResolutionCounter() / countsPerMillisecond);
}

std::int32_t CurrentTicks() { return static_cast<std::int32_t>(MillisecondClock() / kTickMilliseconds); }

void StartTicks(TickTimer& timer, int ticks) {
  timer.start = CurrentTicks();
  timer.expiry = timer.start + std::clamp(ticks, -MaxTicks, MaxTicks);  // no overflow for any count
}

bool TicksElapsed(const TickTimer& timer) { return TicksElapsedAt(timer, CurrentTicks()); }

bool TicksElapsedAt(const TickTimer& timer, std::int32_t nowTicks) {
  if (nowTicks > timer.expiry) return true;
  if (nowTicks >= timer.start) return false;
  // The clock has wrapped since the start: count the turn it made. (Adding only MaxTicks here would
  // hold a timer started just before the wrap for about 25 days.)
  return static_cast<std::int64_t>(nowTicks) + kTicksPerClockWrap > timer.expiry;
}

platform::UINT PumpOneMessage() {
  platform::MSG msg;
  if (!platform::PeekMessage(msg, platform::PM_REMOVE)) return 0;
  if (msg.message == platform::WM_QUIT) {
    // Leave the quit for the loop that owns the thread.
    platform::PostQuitMessage(static_cast<int>(msg.wParam));
    return platform::WM_QUIT;
  }
  platform::TranslateMessage(msg);
  platform::DispatchMessage(msg);
  return msg.message;
}

platform::UINT WaitTicks(int ticks, bool pumpMessages) {
  if (ticks <= 0) return 0;
  TickTimer timer;
  StartTicks(timer, ticks);
  platform::UINT last = 0;
  for (;;) {
    if (pumpMessages) {
      last = PumpOneMessage();
      if (last == platform::WM_QUIT) return last;
    }
    if (TicksElapsed(timer)) return last;
    if (!pumpMessages)
      std::this_thread::sleep_for(std::chrono::milliseconds(MillisecondsUntilElapsed(timer, MillisecondClock())));
    else if (last == 0)
      platform::WaitMessage(MillisecondsUntilElapsed(timer, MillisecondClock()));
  }
}
