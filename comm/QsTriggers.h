// Trigger records and the trigger set a dispatcher watches: the avail threshold, timer, data and
// status triggers, the handle allocator, the data matcher, and the save area that carries a
// trigger set across a re-open. The dispatcher guards a set with its state lock.
#pragma once

#include <cstdint>
#include <vector>

#include "comm/QsMisc.h"

constexpr int kMaxPatternLength = 22;    // one partial-match counter per pattern byte
constexpr int kFirstSearchedCounter = 4096;  // from here on handles are searched, not counted
constexpr std::int32_t kLargestTriggerHandle = 65528;  // handles travel in 16 bits

struct TTimerTrigger {
  std::int32_t handle = 0;
  TickTimer timer;
  std::int32_t ticks = 0;
  bool active = false;
};

struct TDataTrigger {
  std::int32_t handle = 0;
  std::int32_t len = 0;  // 0 = inert
  std::int32_t partial[kMaxPatternLength] = {};
  std::int32_t matched = 0;  // -1 matched, 0 not
  std::int32_t ignoreCase = 0;
  std::uint8_t pattern[24] = {};
};

struct TStatusTrigger {
  std::int32_t handle = 0;
  std::int32_t kind = 0;
  std::uint16_t value = 0;
  bool armed = false;
  bool hit = false;
};

// The single-byte upper-casing that case-insensitive patterns are stored and compared with.
std::uint8_t UpperCaseByte(std::uint8_t b);

// Feeds one received byte to a pattern's partial-match counters; true when it completes a match.
// Matches may overlap and may be split over any number of calls.
bool MatchDataByte(std::int32_t* partial, std::uint8_t b, int len, bool ignoreCase, const std::uint8_t* pattern);

class TQsTriggerSet {
 public:
  std::uint32_t availThreshold = 0;
  std::vector<TTimerTrigger> timers;
  std::vector<TDataTrigger> data;
  std::vector<TStatusTrigger> status;

  // A fresh handle (a multiple of 8) for a timer or data trigger, or kErrNoMoreTriggers.
  std::int32_t AllocTriggerHandle();
  // Drops every trigger, the threshold, and restarts the handle counter.
  void DeleteAll();
  // Whether a live trigger uses the handle's multiple of 8.
  bool HandleInUse(std::int32_t handle) const;
  // After a restore: counted handles continue past the largest live one.
  void MoveCounterPastLiveHandles();

  TTimerTrigger* FindTimer(std::int32_t handle);
  TStatusTrigger* FindStatus(std::int32_t handle);
  TDataTrigger* FindData(std::int32_t handle);
  const TTimerTrigger* FindTimer(std::int32_t handle) const { return const_cast<TQsTriggerSet*>(this)->FindTimer(handle); }
  const TStatusTrigger* FindStatus(std::int32_t handle) const { return const_cast<TQsTriggerSet*>(this)->FindStatus(handle); }
  const TDataTrigger* FindData(std::int32_t handle) const { return const_cast<TQsTriggerSet*>(this)->FindData(handle); }

  std::int32_t Counter() const { return counter_; }

 private:
  std::int32_t counter_ = 1;
};

// A copy of a trigger set kept by the port while it is closed.
struct TQsTriggerSave {
  bool held = false;
  std::uint32_t availThreshold = 0;
  std::vector<TTimerTrigger> timers;
  std::vector<TDataTrigger> data;
  std::vector<TStatusTrigger> status;
};
