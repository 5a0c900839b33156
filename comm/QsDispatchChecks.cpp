// The trigger checks run by the service: timers, status conditions, and the scan of new input for
// data patterns and the avail threshold. Lists are walked under the state lock, which is released
// around each notification; indices are checked again afterwards because handlers may change the
// lists.
#include <algorithm>
#include <iterator>

#include "comm/QsDispatch.h"
#include "comm/QsDispatchThreads.h"

bool TQsBaseDispatcher::CheckTimerTriggers() {
  Guard state(stateLock_);
  for (std::size_t i = 0; i < triggers_.timers.size(); ++i) {
    TTimerTrigger& t = triggers_.timers[i];
    if (!t.active || !TicksElapsed(t.timer)) continue;
    t.active = false;  // one-shot
    const std::int32_t handle = t.handle;
    LogEvent(2, 6, static_cast<std::uint32_t>(handle));
    state.unlock();
    return NotifyHandlers(DM_TIMER, static_cast<platform::WPARAM>(handle), 0);
  }
  return false;
}

bool TQsBaseDispatcher::CheckStatusTriggers() {
  // The output counts refresh the device status under the output lock, which comes before the
  // state lock: they are read first, and only when an armed trigger needs them.
  bool needCounts = false;
  {
    Guard state(stateLock_);
    for (const TStatusTrigger& t : triggers_.status)
      needCounts = needCounts || (t.armed && !t.hit && (t.kind == skOutFree || t.kind == skOutUsed));
  }
  const int freeRoom = needCounts ? OutputFree() : 0;
  const int used = needCounts ? OutputCount() : 0;
  Guard state(stateLock_);
  for (std::size_t i = 0; i < triggers_.status.size(); ++i) {
    if (!triggers_.status[i].armed || triggers_.status[i].hit) continue;
    bool fires = false;
    std::uint16_t data = 0;
    switch (triggers_.status[i].kind) {
      case skModem: {
        const std::uint16_t value = triggers_.status[i].value;
        fires = (((value & 0xFF) ^ ModemBits()) & (value >> 8)) != 0;
        break;
      }
      case skLine: {
        const std::uint32_t errors = LineErrors();
        fires = (triggers_.status[i].value & errors) != 0;
        if (fires) triggers_.status[i].value = static_cast<std::uint16_t>(errors & 0xFFFF);
        break;
      }
      case skOutFree: {
        fires = freeRoom >= static_cast<int>(triggers_.status[i].value);
        data = static_cast<std::uint16_t>(freeRoom);
        break;
      }
      case skOutUsed: {
        fires = used <= static_cast<int>(triggers_.status[i].value);
        data = static_cast<std::uint16_t>(used);
        break;
      }
      case skOutSent:
        fires = outputSent_.exchange(false);
        break;
      default:
        break;
    }
    if (!fires) continue;
    TStatusTrigger& t = triggers_.status[i];
    t.armed = false;
    t.hit = true;
    statusHit_.store(true);
    const std::int32_t handle = t.handle;
    LogEvent(2, 8, static_cast<std::uint32_t>(handle));
    state.unlock();
    return NotifyHandlers(DM_STATUS, static_cast<platform::WPARAM>(handle), data);
  }
  return false;
}

bool TQsBaseDispatcher::CheckDataTriggers() {
  // Input lock before state lock, as everywhere.
  Guard in(inputLock_);
  Guard state(stateLock_);
  if (!inRing_.Allocated()) return false;
  int p = scanPos_;
  // A whole ring of new bytes brings the scan back to where the last avail notice was given: the
  // position alone cannot tell new bytes from bytes already announced.
  const bool scannedNew = scanBacklog_ > 0;
  if (scannedNew) scanner_.Prepare(triggers_.data);
  while (scanBacklog_ > 0) {
    // The new bytes in at most two pieces: up to the ring's end, then from its start.
    const int piece = std::min(scanBacklog_, TQsInputRing::kSize - p);
    const TDataScanStop stop = scanner_.Scan(inRing_.Data() + p, piece);
    scanBacklog_ -= stop.scanned;
    if (stop.hit) return NotifyDataHit(p + stop.scanned - 1, stop.longest, in, state);
    p = TQsInputRing::Wrap(p + stop.scanned);
  }
  scanPos_ = p;
  const int avail = InputCountLocked();
  const std::uint32_t threshold = triggers_.availThreshold;
  if (threshold != 0 && (notifyPos_ != p || scannedNew) && static_cast<std::uint32_t>(avail) >= threshold) {
    LogEvent(2, 5, static_cast<std::uint32_t>(avail));
    notifyPos_ = p;
    state.unlock();
    in.unlock();
    return NotifyHandlers(DM_AVAIL, static_cast<platform::WPARAM>(avail), 0);
  }
  return false;
}

bool TQsBaseDispatcher::NotifyDataHit(int p, int longest, Guard& in, Guard& state) {
  bool result = true;
  const unsigned flushesBefore = flushCount_;
  const std::uint32_t threshold = triggers_.availThreshold;
  if (threshold != 0 && notifyPos_ != p) {
    // The bytes from the tail up to and including p, less what the running handler has read.
    int upto = ((p - inRing_.Tail() + TQsInputRing::kSize) % TQsInputRing::kSize) + 1;
    if (inNotification_) upto -= readCount_;
    if (upto - longest >= static_cast<int>(threshold)) {
      const int before = upto - longest;  // the bytes in front of the longest match
      LogEvent(2, 5, static_cast<std::uint32_t>(before));
      scanPos_ = p;
      notifyPos_ = p;
      state.unlock();
      in.unlock();
      result = NotifyHandlers(DM_AVAIL, static_cast<platform::WPARAM>(before), 0);
      if (TQsDispatcherThread::ServedDispatcherFreed()) return false;
      in.lock();
      state.lock();
    }
  }
  // Triggers completed by the same byte: the last created first.
  for (int i = static_cast<int>(triggers_.data.size()) - 1; i >= 0; --i) {
    if (i >= static_cast<int>(triggers_.data.size())) continue;
    TDataTrigger& t = triggers_.data[i];
    if (!t.matched) continue;
    const std::int32_t handle = t.handle;
    const auto len = static_cast<std::uint16_t>(t.len);
    LogEvent(2, 7, static_cast<std::uint32_t>(handle));
    t.matched = 0;
    state.unlock();
    in.unlock();
    result = NotifyHandlers(DM_DATA, static_cast<platform::WPARAM>(handle), len);
    if (TQsDispatcherThread::ServedDispatcherFreed()) return false;
    in.lock();
    state.lock();
  }
  // A handler's flush has moved the scan to the head already.
  if (flushCount_ == flushesBefore && inRing_.Allocated()) scanPos_ = TQsInputRing::Wrap(p + 1);
  return result;
}

bool TQsBaseDispatcher::CheckAllTriggers() {
  return CheckTimerTriggers() || CheckStatusTriggers() || CheckDataTriggers();
}

void TQsBaseDispatcher::ClearStatusHits() {
  Guard state(stateLock_);
  for (TStatusTrigger& t : triggers_.status) t.hit = false;
  statusHit_.store(false);
}

void TQsBaseDispatcher::ClearDataMatches() {
  Guard state(stateLock_);
  for (TDataTrigger& t : triggers_.data) std::fill(std::begin(t.partial), std::end(t.partial), 0);
}
