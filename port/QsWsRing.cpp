#include "port/QsWsRing.h"

TWsRing::TWsRing(std::size_t capacity) : capacity_(capacity), data_(std::make_unique<std::uint8_t[]>(capacity)) {}

std::size_t TWsRing::Count() const {
  if (full_) return capacity_;
  return writePos_ >= readPos_ ? writePos_ - readPos_ : capacity_ - readPos_ + writePos_;
}

std::size_t TWsRing::ContiguousFree() const {
  if (full_) return 0;
  return writePos_ >= readPos_ ? capacity_ - writePos_ : readPos_ - writePos_;
}

void TWsRing::CommitWrite(std::size_t n) {
  if (n == 0) return;
  writePos_ = (writePos_ + n) % capacity_;
  if (writePos_ == readPos_) full_ = true;
}

void TWsRing::Put(std::uint8_t b) {
  data_[writePos_] = b;
  CommitWrite(1);
}

std::size_t TWsRing::ContiguousHeld() const {
  if (Empty()) return 0;
  return writePos_ > readPos_ ? writePos_ - readPos_ : capacity_ - readPos_;
}

void TWsRing::Consume(std::size_t n) {
  if (n == 0) return;
  readPos_ = (readPos_ + n) % capacity_;
  full_ = false;
}

void TWsRing::Clear() {
  readPos_ = writePos_ = 0;
  full_ = false;
}
