// The states a set of data triggers goes through, for the scan's fast path. A state is the
// concatenation of the live triggers' partial-match counters; the step from a state on a byte is
// learnt once from the plain matcher (MatchDataByte) and then looked up, so that a byte costs one
// table load whatever the number of triggers. Bytes that every trigger tells apart alike share one
// class and one table entry. Everything lives in one block taken when triggers are made; when the
// block is full the states learnt so far are dropped and learning starts again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "comm/QsTriggers.h"

class TDataScanStates {
 public:
  // A step not learnt yet (or one that completes a trigger: such steps are never learnt).
  static constexpr std::uint32_t kUnknown = 0xFFFFFFFF;
  // The all-idle state: every counter 0. It is always the first state of the block.
  static constexpr std::uint32_t kIdle = 0;

  // blockBytes 0: the usual size, growing with the number of triggers.
  explicit TDataScanStates(std::size_t blockBytes = 0) : fixedBlock_(blockBytes) {}

  // Takes the memory for that many triggers now (see TQsDataScanner::Reserve).
  void Reserve(std::size_t triggers);
  // Makes the states those of this trigger set; keeps what was learnt when the set (patterns,
  // lengths, case folding, order) is the one of the last call. False when the set is not held in
  // states (no live trigger, or too many counters): the caller scans the plain way.
  bool Fit(const std::vector<TDataTrigger>& triggers);
  // The state the triggers' counters are in now, added when new; kUnknown when the counters hold
  // a value no state can (never after MatchDataByte). reset: the states learnt so far were dropped.
  std::uint32_t Find(const std::vector<TDataTrigger>& triggers, bool& reset);
  // Writes a state's counters into the triggers.
  void Load(std::uint32_t state, std::vector<TDataTrigger>& triggers) const;
  void Learn(std::uint32_t from, std::uint8_t byte, std::uint32_t to) { steps_[from + classes_[byte]] = to; }
  // Bytes scanned through the states, and how many of them had a step learnt. A set whose states
  // do not settle (more than the block holds, so that learning never ends) is scanned the plain
  // way until it changes: learning a step costs more than the plain matcher's step.
  void Account(std::uint32_t scanned, std::uint32_t learnt);

  // The step table: steps[state + Classes()[byte]] is the next state or kUnknown. A state is the
  // offset of its row.
  const std::uint32_t* Steps() const { return steps_; }
  const std::uint8_t* Classes() const { return classes_; }

 private:
  struct TSignature {
    std::int32_t len;
    std::int32_t ignoreCase;
    std::uint8_t pattern[kMaxPatternLength];
  };

  bool SameSet(const std::vector<TDataTrigger>& triggers) const;
  void BuildClasses(const std::vector<TDataTrigger>& triggers);
  bool Layout();
  void Clear();
  // Adds a state not held yet (there is room); its offset.
  std::uint32_t Insert(const std::uint8_t* key, std::uint32_t hash);
  std::uint32_t Hash(const std::uint8_t* key) const;
  std::size_t BlockBytesFor(std::size_t triggers) const;

  std::size_t fixedBlock_;
  std::vector<std::uint32_t> block_;
  std::vector<TSignature> signature_;
  bool fitted_ = false;   // signature_ holds the set of the last Fit
  bool usable_ = false;   // and that set is held in states
  std::uint8_t classes_[256] = {};
  std::uint32_t classCount_ = 1;
  std::uint32_t keyLen_ = 0;     // counters per state
  std::uint32_t capacity_ = 0;   // states the block holds
  std::uint32_t count_ = 0;      // states held now
  std::uint32_t hashMask_ = 0;
  std::uint64_t scanned_ = 0;    // bytes in the current judging window
  std::uint64_t learnt_ = 0;
  std::uint32_t* steps_ = nullptr;  // capacity_ rows of classCount_ entries
  std::uint32_t* hash_ = nullptr;   // hashMask_ + 1 slots: state index + 1, or 0
  std::uint8_t* keys_ = nullptr;    // capacity_ keys of keyLen_ bytes
  static constexpr std::uint32_t kMaxKey = 512;
  std::uint8_t key_[kMaxKey] = {};  // the key being looked up
};
