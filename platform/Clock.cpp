#include "platform/Clock.h"

#include <ctime>

namespace platform {

std::uint64_t HighResolutionCounter() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::uint64_t>(ts.tv_sec) * kHighResolutionFrequency +
         static_cast<std::uint64_t>(ts.tv_nsec);
}

std::uint64_t MonotonicMilliseconds() { return HighResolutionCounter() / 1'000'000; }

}  // namespace platform
