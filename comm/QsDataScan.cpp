#include "comm/QsDataScan.h"

#include <algorithm>
#include <cstring>

namespace {

bool CountersIdle(const TDataTrigger& t) {
  return std::all_of(t.partial, t.partial + t.len, [](std::int32_t c) { return c == 0; });
}

bool StartsWith(const TDataTrigger& t, std::uint8_t b) {
  return (t.ignoreCase != 0 ? UpperCaseByte(b) : b) == t.pattern[0];
}

}  // namespace

void TQsDataScanner::Prepare(std::vector<TDataTrigger>& triggers) {
  triggers_ = &triggers;
  useStates_ = false;
  if (triggers.empty()) {  // the usual case, on every pass: nothing to set up
    live_ = busy_ = 0;
    leftMatched_ = false;
    return;
  }
  idle_.resize(triggers.size());
  std::memset(starts_, 0, sizeof starts_);
  live_ = busy_ = 0;
  leftMatched_ = false;
  for (std::size_t k = 0; k < triggers.size(); ++k) {
    const TDataTrigger& t = triggers[k];
    idle_[k] = t.len != 0 && CountersIdle(t);
    if (t.len == 0) continue;
    ++live_;
    if (!idle_[k]) ++busy_;
    if (t.matched) leftMatched_ = true;
    // The bytes b with StartsWith(t, b): the first pattern byte itself unless case folding can
    // never yield it (a lower-case letter), and its lower-case form when it is a folded letter.
    const std::uint8_t first = t.pattern[0];
    if (t.ignoreCase == 0 || UpperCaseByte(first) == first) starts_[first] = true;
    if (t.ignoreCase != 0 && first >= 'A' && first <= 'Z') starts_[first + 32] = true;
  }
  distinctStarts_ = 0;
  for (int b = 0; b < 256; ++b) {
    if (!starts_[b]) continue;
    ++distinctStarts_;
    onlyStart_ = b;
  }
  if (leftMatched_ || !states_.Fit(triggers)) return;
  bool reset = false;
  state_ = states_.Find(triggers, reset);
  useStates_ = state_ != TDataScanStates::kUnknown;
}

void TQsDataScanner::SyncIdle() {
  busy_ = 0;
  std::vector<TDataTrigger>& triggers = *triggers_;
  for (std::size_t k = 0; k < triggers.size(); ++k) {
    const TDataTrigger& t = triggers[k];
    idle_[k] = t.len != 0 && CountersIdle(t);
    if (t.len != 0 && !idle_[k]) ++busy_;
  }
}

int TQsDataScanner::SkipToStart(const std::uint8_t* bytes, int from, int count) const {
  if (distinctStarts_ == 0) return count;
  if (distinctStarts_ == 1) {
    const void* at = std::memchr(bytes + from, onlyStart_, static_cast<std::size_t>(count - from));
    return at ? static_cast<int>(static_cast<const std::uint8_t*>(at) - bytes) : count;
  }
  while (from < count && !starts_[bytes[from]]) ++from;
  return from;
}

bool TQsDataScanner::StepByte(std::uint8_t b, int& longest) {
  bool hit = false;
  longest = 0;
  std::vector<TDataTrigger>& triggers = *triggers_;
  for (std::size_t k = 0; k < triggers.size(); ++k) {
    TDataTrigger& t = triggers[k];
    if (t.len == 0) continue;
    if (!t.matched) {
      if (idle_[k]) {
        if (!StartsWith(t, b)) continue;  // an idle trigger ignores this byte
        // What the matcher does with a start byte on idle counters: a one-byte pattern is
        // complete, a longer one has its first counter at 1 and the others still idle.
        if (t.len == 1) {
          t.matched = -1;
        } else {
          t.partial[0] = 1;
          idle_[k] = false;
          ++busy_;
        }
        if (t.len > longest && t.matched) longest = t.len;
        hit = hit || t.matched;
        continue;
      }
      t.matched = MatchDataByte(t.partial, b, t.len, t.ignoreCase != 0, t.pattern) ? -1 : 0;
      const bool idleNow = CountersIdle(t);
      if (idleNow != static_cast<bool>(idle_[k])) {
        idle_[k] = idleNow;
        busy_ += idleNow ? -1 : 1;
      }
    }
    if (t.matched) {
      if (t.len > longest) longest = t.len;
      hit = true;
    }
  }
  return hit;
}

TDataScanStop TQsDataScanner::Scan(const std::uint8_t* bytes, int count) {
  if (live_ == 0) {
    TDataScanStop stop;
    stop.scanned = count;
    return stop;
  }
  return useStates_ ? ScanStates(bytes, count) : ScanPlain(bytes, count);
}

TDataScanStop TQsDataScanner::ScanStates(const std::uint8_t* bytes, int count) {
  TDataScanStop stop;
  const std::uint32_t* steps = states_.Steps();
  const std::uint8_t* classes = states_.Classes();
  std::uint32_t s = state_;
  std::uint32_t loaded = state_;  // the state whose counters the triggers hold
  std::uint32_t learnt = 0;
  int i = 0;
  while (i < count) {
    if (s == TDataScanStates::kIdle) {
      i = SkipToStart(bytes, i, count);
      if (i == count) break;
    }
    const std::uint32_t next = steps[s + classes[bytes[i]]];
    if (next != TDataScanStates::kUnknown) {
      s = next;
      ++i;
      continue;
    }
    // A step not learnt yet, or one that completes a trigger: the plain matcher takes it.
    states_.Load(s, *triggers_);
    SyncIdle();
    const std::uint8_t b = bytes[i++];
    if (StepByte(b, stop.longest)) {
      stop.hit = true;
      // The triggers hold the counters now; the states resume at the next Prepare.
      useStates_ = false;
      stop.scanned = i;
      states_.Account(static_cast<std::uint32_t>(i), learnt);
      return stop;
    }
    ++learnt;
    bool reset = false;
    const std::uint32_t to = states_.Find(*triggers_, reset);
    if (to == TDataScanStates::kUnknown) {
      useStates_ = false;
      TDataScanStop rest = ScanPlain(bytes + i, count - i);
      rest.scanned += i;
      return rest;
    }
    if (!reset) states_.Learn(s, b, to);  // a reset dropped the row of s
    s = loaded = to;
  }
  if (s != loaded) {
    states_.Load(s, *triggers_);
    SyncIdle();
  }
  state_ = s;
  stop.scanned = count;
  states_.Account(static_cast<std::uint32_t>(count), learnt);
  return stop;
}

TDataScanStop TQsDataScanner::ScanPlain(const std::uint8_t* bytes, int count) {
  TDataScanStop stop;
  int i = 0;
  while (i < count) {
    if (busy_ == 0 && !leftMatched_) {
      i = SkipToStart(bytes, i, count);
      if (i == count) break;
    }
    stop.hit = StepByte(bytes[i++], stop.longest);
    if (stop.hit) break;
    leftMatched_ = false;  // a trigger left matched would have hit on this byte
  }
  stop.scanned = i;
  return stop;
}
