// Writing a received stream to a file on a thread of its own, so that the copy out of the socket
// and the copy into the file's pages run on two processors at once.
//
// The receiving side asks for a block, fills it (a receive straight into it) and hands it over;
// the writer thread writes the blocks in order. A block starts at the same offset within a page as
// the file position its first byte goes to, so that the kernel's copies run between equal page
// offsets. The first bytes of a file (kThreadAfterBytes) are written at once on the caller's
// thread: a small file is then written as before, without a hand-over. Past that, the file is
// allocated ahead in steps of kAllocateStep with its size kept, so that the file system takes
// space in large pieces; Finish gives back whatever was allocated past the file's end.
//
// Memory is fixed: kBlocks blocks of kBlockSize (and a page), made once and kept for the next file.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

namespace platform {

class TFileWriter {
 public:
  static constexpr std::size_t kBlockSize = 256 * 1024;
  static constexpr int kBlocks = 4;
  static constexpr std::int64_t kThreadAfterBytes = 1 << 20;
  static constexpr std::int64_t kAllocateStep = 64 << 20;

  TFileWriter();
  ~TFileWriter();
  TFileWriter(const TFileWriter&) = delete;
  TFileWriter& operator=(const TFileWriter&) = delete;

  // Takes over fd (Finish closes it); its file position, position, is where the first byte goes.
  // A file still open is finished first.
  void Start(int fd, std::int64_t position);
  bool Active() const { return fd_ >= 0; }
  // Room for kBlockSize bytes to be handed over next; waits while every block is still queued.
  // Null once a write has failed (Error tells why).
  std::uint8_t* NextBlock();
  // Hands over the first count bytes of the block NextBlock gave last.
  void Submit(std::size_t count);
  // The errno of the first failed write of this file (a write that took no byte counts as ENOSPC),
  // 0 while there is none. Nothing after a failed write reaches the file.
  int Error();
  // Writes what is queued, gives back space allocated past the file's end, closes the file and
  // returns Error() as it then stands. Without a file, 0.
  int Finish();

 private:
  struct TFreeBlock {
    void operator()(std::uint8_t* block) const;
  };
  struct TQueued {
    int block;
    std::size_t offset;
    std::size_t count;
  };

  std::uint8_t* Block(int index);
  // Writes count bytes at the file position; false (with error_) when that failed.
  bool WriteAll(const std::uint8_t* data, std::size_t count);
  void AllocateAhead(std::int64_t end);
  void ThreadMain();
  void TrimAllocation();

  int fd_ = -1;
  std::int64_t startPosition_ = 0;
  std::int64_t receivedEnd_ = 0;   // the receiving side: where the next handed-over byte goes
  std::int64_t writtenEnd_ = 0;    // the writing side: where the next written byte goes
  std::int64_t allocatedEnd_ = 0;  // allocated ahead up to here (0: nothing)
  bool allocate_ = true;           // the file system takes allocation ahead
  bool threaded_ = false;          // this file's blocks go to the thread
  int current_ = 0;                // the block NextBlock gave last
  int lastSubmitted_ = -1;         // the block handed over last (the queue runs in block order)
  std::unique_ptr<std::uint8_t, TFreeBlock> blocks_[kBlocks];

  std::mutex lock_;
  std::condition_variable changed_;
  std::deque<TQueued> queue_;  // blocks handed over and not yet written
  int error_ = 0;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace platform
