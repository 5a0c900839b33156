// The dispatcher's 8192-byte circular input buffer. Indices wrap at 8192; the full flag tells a
// full ring from an empty one when head and tail meet. The owner guards it with its input lock.
#pragma once

#include <cstdint>
#include <memory>

class TQsInputRing {
 public:
  static constexpr int kSize = 8192;

  void Allocate();  // zero-filled, head = tail = 0
  void Free();
  bool Allocated() const { return bytes_ != nullptr; }

  int Head() const { return head_; }
  int Tail() const { return tail_; }
  bool Full() const { return full_; }
  std::uint8_t At(int index) const { return bytes_[index]; }
  std::uint8_t* Data() { return bytes_.get(); }

  // Bytes present, from the indices alone.
  int Count() const;
  // Free room and the contiguous part of it that starts at the head.
  void FreeSpace(int& freeBytes, int& firstChunk) const;
  // Records n bytes stored at the head (n may be 0).
  void AdvanceHead(int n);
  // Copies len bytes starting offset bytes after the tail, in at most two pieces.
  void CopyOut(int offset, std::uint8_t* buf, int len) const;
  // Consumes n bytes at the tail; any consumption clears the full flag.
  void AdvanceTail(int n);
  // Discards everything held.
  void Discard();
  void Reset();

  static int Wrap(int index) { return index >= kSize ? index - kSize : index; }

 private:
  std::unique_ptr<std::uint8_t[]> bytes_;
  int head_ = 0;
  int tail_ = 0;
  bool full_ = false;
};
