// The data-trigger scan over received bytes, fast whatever the number of triggers. A trigger whose
// partial-match counters are all idle ignores every byte but its pattern's first one, so while no
// trigger has a match in progress the scan only looks for bytes some trigger can start with, and
// afterwards feeds each byte only to the triggers it can change. The matches, their order and the
// counters left behind are those of feeding every byte to every trigger with MatchDataByte.
// While triggers have matches in progress, the steps of the whole set are looked up in the states
// learnt from that matcher (TDataScanStates), one table load per byte.
#pragma once

#include <cstdint>
#include <vector>

#include "comm/QsDataScanStates.h"
#include "comm/QsTriggers.h"

struct TDataScanStop {
  int scanned = 0;     // bytes examined, the hit byte included
  bool hit = false;    // the last examined byte completed a trigger (or found one still matched)
  int longest = 0;     // the longest pattern among the matched triggers when hit
};

class TQsDataScanner {
 public:
  // stateBytes: the memory for learnt states, 0 for the usual amount.
  explicit TQsDataScanner(std::size_t stateBytes = 0) : states_(stateBytes) {}
  // Takes the triggers' state as it is now; call again whenever anything else may have changed
  // them (a notification, a flush, a trigger created or deleted). Keeps its memory between calls.
  void Prepare(std::vector<TDataTrigger>& triggers);
  // Feeds bytes[0..count) to the triggers and stops after the first byte that hits.
  TDataScanStop Scan(const std::uint8_t* bytes, int count);
  // Takes the memory for that many triggers now, where the caller allocates anyway, so that the
  // receive path allocates nothing.
  void Reserve(std::size_t triggers) {
    idle_.reserve(triggers);
    states_.Reserve(triggers);
  }

 private:
  TDataScanStop ScanPlain(const std::uint8_t* bytes, int count);
  TDataScanStop ScanStates(const std::uint8_t* bytes, int count);
  // Makes idle_ and busy_ those of the triggers' counters.
  void SyncIdle();
  bool StepByte(std::uint8_t b, int& longest);
  int SkipToStart(const std::uint8_t* bytes, int from, int count) const;

  std::vector<TDataTrigger>* triggers_ = nullptr;
  std::vector<std::uint8_t> idle_;  // per trigger: all counters 0
  bool starts_[256] = {};           // bytes that some idle trigger starts a match with
  int distinctStarts_ = 0;
  int onlyStart_ = 0;               // the start byte when there is exactly one
  int live_ = 0;                    // triggers with a pattern
  int busy_ = 0;                    // live triggers with a match in progress
  bool leftMatched_ = false;        // a trigger is still matched from an earlier pass: the next byte hits
  TDataScanStates states_;
  bool useStates_ = false;          // the triggers' counters are state_ (written back when a scan ends)
  std::uint32_t state_ = TDataScanStates::kIdle;
};
