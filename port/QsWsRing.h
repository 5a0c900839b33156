// The byte ring of a Winsock connection: a read (or send) position, a write position and a full
// flag, so that the whole capacity holds bytes. Allocated once per connection.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

class TWsRing {
 public:
  explicit TWsRing(std::size_t capacity);

  std::size_t Capacity() const { return capacity_; }
  std::size_t Count() const;
  std::size_t FreeSpace() const { return capacity_ - Count(); }
  bool Full() const { return full_; }
  bool Empty() const { return !full_ && readPos_ == writePos_; }
  std::size_t ReadPos() const { return readPos_; }
  std::size_t WritePos() const { return writePos_; }
  const std::uint8_t* Data() const { return data_.get(); }

  // The free space that follows the write position without wrapping, and where it starts.
  std::size_t ContiguousFree() const;
  std::uint8_t* WriteCursor() { return data_.get() + writePos_; }
  // Takes n bytes written at the cursor; the ring is full when the write position meets the read one.
  void CommitWrite(std::size_t n);
  void Put(std::uint8_t b);

  // The held bytes that follow the read position without wrapping.
  std::size_t ContiguousHeld() const;
  const std::uint8_t* ReadCursor() const { return data_.get() + readPos_; }
  std::uint8_t At(std::size_t i) const { return data_[(readPos_ + i) % capacity_]; }
  void Consume(std::size_t n);
  // Both positions to the start, the full flag cleared.
  void Clear();

 private:
  std::size_t capacity_;
  std::unique_ptr<std::uint8_t[]> data_;
  std::size_t readPos_ = 0;
  std::size_t writePos_ = 0;
  bool full_ = false;
};
