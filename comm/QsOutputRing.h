// The serial output ring: accepted bytes wait here until the output thread sends them. The owner
// guards it with its output lock.
#pragma once

#include <cstdint>
#include <memory>

class TQsOutputRing {
 public:
  void Allocate(int size);  // zero-filled, empty
  void Free();
  bool Allocated() const { return bytes_ != nullptr; }
  int Size() const { return size_; }

  int Head() const { return head_; }
  int Tail() const { return tail_; }
  bool Full() const { return full_; }

  // Bytes accepted and not yet sent.
  int Pending() const;
  int FreeRoom() const { return size_ - Pending(); }
  // Appends len bytes at the head, wrapping; the caller has checked the room. A head that reaches
  // the ring's end wraps to 0; meeting the tail sets the full flag.
  void Append(const std::uint8_t* buf, int len);
  // The next block to send, made contiguous when the pending bytes wrap (rotating the ring in
  // place, so no memory is taken). Length 0 when nothing is pending.
  void NextBlock(const std::uint8_t*& block, int& len);
  // The sender has sent n bytes from the tail.
  void Advance(int n);
  void Clear();

 private:
  std::unique_ptr<std::uint8_t[]> bytes_;
  int size_ = 0;
  int head_ = 0;
  int tail_ = 0;
  bool full_ = false;
};
