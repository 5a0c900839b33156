#include "comm/QsDataScanStates.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace {

constexpr std::size_t kBlockPerTrigger = 32 * 1024;
constexpr std::size_t kSmallestBlock = 64 * 1024;
constexpr std::size_t kLargestBlock = 256 * 1024;
// Fewer states than this would be dropped and learnt again too often to gain anything.
constexpr std::uint32_t kFewestStates = 16;
// Learning is judged over windows of this many bytes; a window in which more than one byte in
// kMostLearntShare needed learning gives the states up.
constexpr std::uint64_t kJudgedBytes = 64 * 1024;
constexpr std::uint64_t kMostLearntShare = 16;
// The byte identities a trigger tells apart: its pattern's distinct bytes, and every other byte.
constexpr int kIdentities = kMaxPatternLength + 1;
constexpr std::uint8_t kZeroKey[512] = {};

}  // namespace

std::size_t TDataScanStates::BlockBytesFor(std::size_t triggers) const {
  if (fixedBlock_ != 0) return fixedBlock_;
  return std::clamp(triggers * kBlockPerTrigger, kSmallestBlock, kLargestBlock);
}

void TDataScanStates::Reserve(std::size_t triggers) {
  signature_.reserve(triggers);
  const std::size_t bytes = BlockBytesFor(triggers);
  if (triggers == 0 || block_.size() * sizeof(std::uint32_t) >= bytes) return;
  block_.assign(bytes / sizeof(std::uint32_t), 0);
  fitted_ = false;  // the layout pointed into the old block
}

bool TDataScanStates::SameSet(const std::vector<TDataTrigger>& triggers) const {
  if (triggers.size() != signature_.size()) return false;
  for (std::size_t k = 0; k < triggers.size(); ++k) {
    const TDataTrigger& t = triggers[k];
    const TSignature& s = signature_[k];
    if (t.len != s.len || t.ignoreCase != s.ignoreCase) return false;
    if (t.len > 0 && std::memcmp(t.pattern, s.pattern, static_cast<std::size_t>(t.len)) != 0) return false;
  }
  return true;
}

bool TDataScanStates::Fit(const std::vector<TDataTrigger>& triggers) {
  if (fitted_ && SameSet(triggers)) return usable_;
  fitted_ = true;
  usable_ = false;
  signature_.resize(triggers.size());
  keyLen_ = 0;
  for (std::size_t k = 0; k < triggers.size(); ++k) {
    const TDataTrigger& t = triggers[k];
    TSignature& s = signature_[k];
    s.len = t.len;
    s.ignoreCase = t.ignoreCase;
    std::memcpy(s.pattern, t.pattern, sizeof s.pattern);
    if (t.len > kMaxPatternLength) return false;
    if (t.len > 0) keyLen_ += static_cast<std::uint32_t>(t.len);
  }
  if (keyLen_ == 0 || keyLen_ > kMaxKey) return false;
  if (block_.empty()) block_.assign(BlockBytesFor(triggers.size()) / sizeof(std::uint32_t), 0);
  BuildClasses(triggers);
  if (!Layout()) return false;
  Clear();
  scanned_ = learnt_ = 0;
  usable_ = true;
  return true;
}

void TDataScanStates::Account(std::uint32_t scanned, std::uint32_t learnt) {
  scanned_ += scanned;
  learnt_ += learnt;
  if (scanned_ < kJudgedBytes) return;
  if (learnt_ * kMostLearntShare > scanned_) usable_ = false;
  scanned_ = learnt_ = 0;
}

// Splits the bytes into classes, one trigger at a time: two bytes stay together while every
// trigger so far sees them as the same pattern byte (after its case folding) or as no pattern
// byte at all, which is all MatchDataByte can tell of a byte.
void TDataScanStates::BuildClasses(const std::vector<TDataTrigger>& triggers) {
  std::memset(classes_, 0, sizeof classes_);
  std::uint32_t count = 1;
  std::int16_t renumber[256 * kIdentities];
  std::uint8_t identity[256];
  for (const TDataTrigger& t : triggers) {
    if (t.len <= 0) continue;
    std::memset(identity, kIdentities - 1, sizeof identity);
    int distinct = 0;
    for (int i = 0; i < t.len; ++i)
      if (identity[t.pattern[i]] == kIdentities - 1) identity[t.pattern[i]] = static_cast<std::uint8_t>(distinct++);
    std::fill(renumber, renumber + count * kIdentities, std::int16_t{-1});
    std::uint32_t next = 0;
    for (int b = 0; b < 256; ++b) {
      const std::uint8_t seen = t.ignoreCase != 0 ? UpperCaseByte(static_cast<std::uint8_t>(b)) : static_cast<std::uint8_t>(b);
      std::int16_t& to = renumber[classes_[b] * kIdentities + identity[seen]];
      if (to < 0) to = static_cast<std::int16_t>(next++);
      classes_[b] = static_cast<std::uint8_t>(to);
    }
    count = next;
  }
  classCount_ = count;
}

bool TDataScanStates::Layout() {
  const std::size_t perState = classCount_ * sizeof(std::uint32_t) + keyLen_ + 2 * sizeof(std::uint32_t);
  const std::size_t most = block_.size() * sizeof(std::uint32_t) / perState;
  if (most < kFewestStates) return false;
  // Twice as many hash slots as states, a power of two: steps, slots and keys fit in the block.
  const std::size_t slots = std::bit_floor(2 * most);
  capacity_ = static_cast<std::uint32_t>(slots / 2);
  hashMask_ = static_cast<std::uint32_t>(slots - 1);
  steps_ = block_.data();
  hash_ = steps_ + static_cast<std::size_t>(capacity_) * classCount_;
  keys_ = reinterpret_cast<std::uint8_t*>(hash_ + slots);
  return true;
}

std::uint32_t TDataScanStates::Hash(const std::uint8_t* key) const {
  std::uint64_t h = 0x9E3779B97F4A7C15ull ^ keyLen_;
  std::uint32_t i = 0;
  for (; i + 8 <= keyLen_; i += 8) {
    std::uint64_t w;
    std::memcpy(&w, key + i, sizeof w);
    h = (h ^ w) * 0xFF51AFD7ED558CCDull;
    h ^= h >> 29;
  }
  for (; i < keyLen_; ++i) h = (h ^ key[i]) * 0x100000001B3ull;
  h ^= h >> 32;
  return static_cast<std::uint32_t>(h);
}

std::uint32_t TDataScanStates::Insert(const std::uint8_t* key, std::uint32_t hash) {
  std::uint32_t slot = hash & hashMask_;
  while (hash_[slot] != 0) slot = (slot + 1) & hashMask_;
  const std::uint32_t index = count_++;
  hash_[slot] = index + 1;
  std::memcpy(keys_ + static_cast<std::size_t>(index) * keyLen_, key, keyLen_);
  std::uint32_t* row = steps_ + static_cast<std::size_t>(index) * classCount_;
  std::fill(row, row + classCount_, kUnknown);
  return index * classCount_;
}

void TDataScanStates::Clear() {
  count_ = 0;
  std::fill(hash_, hash_ + hashMask_ + 1, 0u);
  Insert(kZeroKey, Hash(kZeroKey));  // the idle state, at offset 0
}

std::uint32_t TDataScanStates::Find(const std::vector<TDataTrigger>& triggers, bool& reset) {
  reset = false;
  std::uint32_t j = 0;
  for (const TDataTrigger& t : triggers) {
    for (int i = 0; i < t.len; ++i) {
      const std::int32_t c = t.partial[i];
      if (c < 0 || c > 255) return kUnknown;
      key_[j++] = static_cast<std::uint8_t>(c);
    }
  }
  const std::uint32_t hash = Hash(key_);
  for (std::uint32_t slot = hash & hashMask_; hash_[slot] != 0; slot = (slot + 1) & hashMask_) {
    const std::uint32_t index = hash_[slot] - 1;
    if (std::memcmp(keys_ + static_cast<std::size_t>(index) * keyLen_, key_, keyLen_) == 0) return index * classCount_;
  }
  if (count_ == capacity_) {
    Clear();
    reset = true;
    if (std::memcmp(key_, kZeroKey, keyLen_) == 0) return kIdle;
  }
  return Insert(key_, hash);
}

void TDataScanStates::Load(std::uint32_t state, std::vector<TDataTrigger>& triggers) const {
  const std::uint8_t* key = keys_ + static_cast<std::size_t>(state / classCount_) * keyLen_;
  for (TDataTrigger& t : triggers)
    for (int i = 0; i < t.len; ++i) t.partial[i] = *key++;
}
