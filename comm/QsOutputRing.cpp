#include "comm/QsOutputRing.h"

#include <algorithm>
#include <cstring>

void TQsOutputRing::Allocate(int size) {
  size_ = size > 0 ? size : 0;
  bytes_ = std::make_unique<std::uint8_t[]>(static_cast<std::size_t>(size_));
  Clear();
}

void TQsOutputRing::Free() {
  bytes_.reset();
  size_ = 0;
  Clear();
}

void TQsOutputRing::Clear() {
  head_ = tail_ = 0;
  full_ = false;
}

int TQsOutputRing::Pending() const {
  if (full_) return size_;
  if (head_ > tail_) return head_ - tail_;
  if (head_ < tail_) return head_ - tail_ + size_;
  return 0;
}

void TQsOutputRing::Append(const std::uint8_t* buf, int len) {
  if (len <= 0 || size_ == 0) return;
  if (head_ == size_) head_ = 0;
  const int first = std::min(len, size_ - head_);
  std::memcpy(bytes_.get() + head_, buf, static_cast<std::size_t>(first));
  if (len > first) std::memcpy(bytes_.get(), buf + first, static_cast<std::size_t>(len - first));
  head_ = (head_ + len) % size_;
  full_ = head_ == tail_;
}

void TQsOutputRing::NextBlock(const std::uint8_t*& block, int& len) {
  block = bytes_.get();
  len = 0;
  if (Pending() == 0) return;
  if (head_ > tail_) {
    block = bytes_.get() + tail_;
    len = head_ - tail_;
  } else if (head_ == 0) {
    block = bytes_.get() + tail_;
    len = size_ - tail_;
  } else {
    // The pending bytes wrap: bring the tail to index 0 so that they follow each other.
    std::rotate(bytes_.get(), bytes_.get() + tail_, bytes_.get() + size_);
    head_ += size_ - tail_;
    tail_ = 0;
    // Only a full ring ends exactly at the ring's end; index 0 with the full flag says the same.
    if (head_ == size_) head_ = 0;
    len = full_ ? size_ : head_;
  }
}

void TQsOutputRing::Advance(int n) {
  if (n <= 0) return;
  tail_ += n;
  if (tail_ >= size_) tail_ -= size_;
  if (tail_ == head_ || (head_ == size_ && tail_ == 0)) head_ = tail_ = 0;
  full_ = false;
}
