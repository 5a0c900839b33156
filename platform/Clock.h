// The monotonic clock that all time-outs and tick timing are measured with.
#pragma once

#include <cstdint>

namespace platform {

// Milliseconds of CLOCK_MONOTONIC, full width.
std::uint64_t MonotonicMilliseconds();
// Nanoseconds of CLOCK_MONOTONIC: the high-resolution counter (frequency 1e9 counts per second).
std::uint64_t HighResolutionCounter();
constexpr std::uint64_t kHighResolutionFrequency = 1'000'000'000;

}  // namespace platform
