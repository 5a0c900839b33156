#include "comm/QsTriggers.h"

#include <algorithm>

std::uint8_t UpperCaseByte(std::uint8_t b) { return b >= 'a' && b <= 'z' ? static_cast<std::uint8_t>(b - 32) : b; }

bool MatchDataByte(std::int32_t* partial, std::uint8_t b, int len, bool ignoreCase, const std::uint8_t* pattern) {
  if (ignoreCase) b = UpperCaseByte(b);
  bool result = false;
  bool started = false;
  bool examine = true;
  for (int i = 0; i < len; ++i) {
    if (examine) {
      if (pattern[partial[i]] == b) {
        if (partial[i] == len - 1) {
          result = true;
          std::fill(partial, partial + kMaxPatternLength, 0);
        } else {
          ++partial[i];
        }
      } else if (pattern[0] == b && !started) {
        // One counter takes up the match that may start with this byte; a second one would track
        // the same bytes twice, and once every counter held the same match, a match starting
        // later found no counter left (a run of "aba" before "abacde" hid the "abacde").
        started = true;
        partial[i] = 1;
      } else {
        partial[i] = 0;
      }
    }
    if (partial[i] == 1) started = true;
    if (i == len - 1) break;
    examine = started ? partial[i + 1] != 0 : (partial[i + 1] != 0 || pattern[0] == b);
  }
  return result;
}

std::int32_t TQsTriggerSet::AllocTriggerHandle() {
  if (counter_ < kFirstSearchedCounter) return 8 * counter_++;
  // One sweep over the live triggers marks the multiples of 8 in use, instead of a scan of every
  // trigger for every candidate (quadratic with thousands of triggers).
  std::vector<bool> used(kLargestTriggerHandle / 8 + 1);
  auto mark = [&used](std::int32_t handle) {
    const std::int32_t slot = (handle & ~7) / 8;
    if (slot >= 0 && slot < static_cast<std::int32_t>(used.size())) used[static_cast<std::size_t>(slot)] = true;
  };
  for (const auto& t : timers) mark(t.handle);
  for (const auto& t : data) mark(t.handle);
  for (const auto& t : status) mark(t.handle);
  for (std::size_t slot = 1; slot < used.size(); ++slot) {
    if (!used[slot]) return static_cast<std::int32_t>(8 * slot);
  }
  return kErrNoMoreTriggers;
}

bool TQsTriggerSet::HandleInUse(std::int32_t handle) const {
  const std::int32_t base = handle & ~7;
  auto same = [base](const auto& t) { return (t.handle & ~7) == base; };
  return std::any_of(timers.begin(), timers.end(), same) || std::any_of(data.begin(), data.end(), same) ||
         std::any_of(status.begin(), status.end(), same);
}

void TQsTriggerSet::MoveCounterPastLiveHandles() {
  std::int32_t largest = 0;
  for (const auto& t : timers) largest = std::max(largest, t.handle);
  for (const auto& t : data) largest = std::max(largest, t.handle);
  for (const auto& t : status) largest = std::max(largest, t.handle);
  counter_ = std::max(counter_, largest / 8 + 1);
}

void TQsTriggerSet::DeleteAll() {
  availThreshold = 0;
  timers.clear();
  data.clear();
  status.clear();
  counter_ = 1;
}

namespace {
template <typename T>
T* FindByHandle(std::vector<T>& list, std::int32_t handle) {
  auto it = std::find_if(list.begin(), list.end(), [handle](const T& t) { return t.handle == handle; });
  return it == list.end() ? nullptr : &*it;
}
}  // namespace

TTimerTrigger* TQsTriggerSet::FindTimer(std::int32_t handle) { return FindByHandle(timers, handle); }
TStatusTrigger* TQsTriggerSet::FindStatus(std::int32_t handle) { return FindByHandle(status, handle); }
TDataTrigger* TQsTriggerSet::FindData(std::int32_t handle) { return FindByHandle(data, handle); }
