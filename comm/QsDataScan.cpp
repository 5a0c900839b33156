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
  TDataScanStop stop;
  if (live_ == 0) {
    stop.scanned = count;
    return stop;
  }
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
