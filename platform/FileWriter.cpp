#include "platform/FileWriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <new>

namespace platform {

namespace {

constexpr std::size_t kPageSize = 4096;

}  // namespace

void TFileWriter::TFreeBlock::operator()(std::uint8_t* block) const { std::free(block); }

TFileWriter::TFileWriter() = default;

TFileWriter::~TFileWriter() {
  Finish();
  {
    std::lock_guard<std::mutex> guard(lock_);
    stop_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void TFileWriter::Start(int fd, std::int64_t position) {
  Finish();
  fd_ = fd;
  startPosition_ = receivedEnd_ = writtenEnd_ = position;
  allocatedEnd_ = 0;
  allocate_ = true;
  threaded_ = false;
  std::lock_guard<std::mutex> guard(lock_);
  error_ = 0;
}

std::uint8_t* TFileWriter::Block(int index) {
  if (!blocks_[index]) {
    void* block = std::aligned_alloc(kPageSize, kBlockSize + kPageSize);
    if (block == nullptr) throw std::bad_alloc();
    blocks_[index].reset(static_cast<std::uint8_t*>(block));
  }
  return blocks_[index].get() + static_cast<std::size_t>(receivedEnd_) % kPageSize;
}

std::uint8_t* TFileWriter::NextBlock() {
  if (fd_ < 0) return nullptr;
  std::unique_lock<std::mutex> guard(lock_);
  changed_.wait(guard, [&] { return error_ != 0 || queue_.size() < static_cast<std::size_t>(kBlocks); });
  if (error_ != 0) return nullptr;
  guard.unlock();
  current_ = (lastSubmitted_ + 1) % kBlocks;
  return Block(current_);
}

void TFileWriter::Submit(std::size_t count) {
  if (fd_ < 0 || count == 0) return;
  const std::size_t offset = static_cast<std::size_t>(receivedEnd_) % kPageSize;
  receivedEnd_ += static_cast<std::int64_t>(count);
  lastSubmitted_ = current_;
  if (!threaded_) {
    WriteAll(blocks_[current_].get() + offset, count);
    // A file that has grown this far is probably big: the rest goes through the thread.
    threaded_ = receivedEnd_ - startPosition_ >= kThreadAfterBytes;
    if (threaded_ && !thread_.joinable()) thread_ = std::thread(&TFileWriter::ThreadMain, this);
    return;
  }
  {
    std::lock_guard<std::mutex> guard(lock_);
    queue_.push_back({current_, offset, count});
  }
  changed_.notify_all();
}

int TFileWriter::Error() {
  std::lock_guard<std::mutex> guard(lock_);
  return error_;
}

int TFileWriter::Finish() {
  if (fd_ < 0) return 0;
  std::unique_lock<std::mutex> guard(lock_);
  changed_.wait(guard, [&] { return queue_.empty(); });
  const int error = error_;
  guard.unlock();
  TrimAllocation();
  ::close(fd_);
  fd_ = -1;
  return error;
}

// Runs on the thread when threaded_, else on the caller's; error_ is the one thing both sides read.
bool TFileWriter::WriteAll(const std::uint8_t* data, std::size_t count) {
  if (threaded_) AllocateAhead(writtenEnd_ + static_cast<std::int64_t>(count));
  while (count > 0) {
    const ssize_t written = ::write(fd_, data, count);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      const int error = written < 0 ? errno : ENOSPC;
      std::lock_guard<std::mutex> guard(lock_);
      if (error_ == 0) error_ = error;
      return false;
    }
    data += written;
    count -= static_cast<std::size_t>(written);
    writtenEnd_ += written;
  }
  return true;
}

// Space that cannot be taken ahead is no failure: the writes themselves say whether it is there.
void TFileWriter::AllocateAhead(std::int64_t end) {
  if (!allocate_ || end <= allocatedEnd_) return;
  const std::int64_t from = allocatedEnd_ > writtenEnd_ ? allocatedEnd_ : writtenEnd_;
  if (::fallocate(fd_, FALLOC_FL_KEEP_SIZE, from, kAllocateStep) != 0) {
    allocate_ = false;
    return;
  }
  allocatedEnd_ = from + kAllocateStep;
}

// Space allocated with the size kept lies past the file's end: cutting the file at its own size
// gives it back (on ext4 and tmpfs alike).
void TFileWriter::TrimAllocation() {
  if (allocatedEnd_ == 0) return;
  struct stat st {};
  if (::fstat(fd_, &st) == 0 && allocatedEnd_ > st.st_size) {
    while (::ftruncate(fd_, st.st_size) != 0 && errno == EINTR) {
    }
  }
  allocatedEnd_ = 0;
}

void TFileWriter::ThreadMain() {
  std::unique_lock<std::mutex> guard(lock_);
  for (;;) {
    changed_.wait(guard, [&] { return stop_ || !queue_.empty(); });
    if (queue_.empty()) return;  // stopping, and nothing left to write
    const TQueued next = queue_.front();
    if (error_ == 0) {
      guard.unlock();
      WriteAll(blocks_[next.block].get() + next.offset, next.count);
      guard.lock();
    }
    queue_.pop_front();
    changed_.notify_all();
  }
}

}  // namespace platform
