#include "comm/QsInputRing.h"

#include <algorithm>
#include <cstring>

void TQsInputRing::Allocate() {
  bytes_ = std::make_unique<std::uint8_t[]>(kSize);  // value-initialised: zero-filled
  Reset();
}

void TQsInputRing::Free() { bytes_.reset(); }

void TQsInputRing::Reset() {
  head_ = tail_ = 0;
  full_ = false;
}

int TQsInputRing::Count() const {
  if (head_ == tail_) return full_ ? kSize : 0;
  return head_ > tail_ ? head_ - tail_ : head_ - tail_ + kSize;
}

void TQsInputRing::FreeSpace(int& freeBytes, int& firstChunk) const {
  if (full_) {
    freeBytes = firstChunk = 0;
  } else if (head_ == tail_) {
    freeBytes = kSize;
    firstChunk = kSize - head_;
  } else if (tail_ < head_) {
    freeBytes = tail_ + kSize - head_;
    firstChunk = kSize - head_;
  } else {
    freeBytes = firstChunk = tail_ - head_;
  }
}

void TQsInputRing::AdvanceHead(int n) {
  head_ = Wrap(head_ + n);
  if (n != 0) full_ = head_ == tail_;
}

void TQsInputRing::CopyOut(int offset, std::uint8_t* buf, int len) const {
  const int start = Wrap(tail_ + offset);
  const int first = std::min(len, kSize - start);
  std::memcpy(buf, bytes_.get() + start, static_cast<std::size_t>(first));
  if (len > first) std::memcpy(buf + first, bytes_.get(), static_cast<std::size_t>(len - first));
}

void TQsInputRing::AdvanceTail(int n) {
  if (n <= 0) return;
  tail_ = Wrap(tail_ + n);
  full_ = false;
}

void TQsInputRing::Discard() {
  tail_ = head_;
  full_ = false;
}
