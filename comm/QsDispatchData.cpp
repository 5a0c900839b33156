// The input and output data paths: filling the input ring from the device, reading it, writing
// through the device, the counts and the flushes. Nothing here takes memory.
#include <algorithm>
#include <cstdlib>

#include "comm/QsDispatch.h"

void TQsBaseDispatcher::RefreshLineErrors() {
  Guard out(outputLock_);
  lineErrors_.fetch_or(static_cast<std::uint32_t>(DeviceStatus(status_)) & kLineErrMask);
}

int TQsBaseDispatcher::ReadIntoRing(int offset, int chunk) {
  int n = DeviceRead(inRing_.Data() + offset, chunk);
  if (n < 0) {
    n = 0;
    DeviceReadFailed(-1);
  }
  n = std::min(n, chunk);  // a device never gets to write past what it was offered
  if (LogRecording()) LogEvent(1, 1, static_cast<std::uint32_t>(n), inRing_.Data() + offset, static_cast<std::uint32_t>(n));
  inRing_.AdvanceHead(n);
  scanBacklog_ += n;
  return n;
}

bool TQsBaseDispatcher::FillInputBuffer() {
  Guard in(inputLock_);
  if (!inRing_.Allocated()) return false;
  if (inRing_.Full()) return true;
  RefreshLineErrors();
  std::uint32_t inCount;
  {
    Guard out(outputLock_);
    inCount = status_.inCount;
  }
  if (inCount == 0) return false;
  int freeBytes = 0;
  int firstChunk = 0;
  inRing_.FreeSpace(freeBytes, firstChunk);
  const int toRead = static_cast<int>(std::min<std::uint32_t>(static_cast<std::uint32_t>(freeBytes), inCount));
  const int secondChunk = firstChunk < toRead ? toRead - firstChunk : 0;
  int n = firstChunk;
  // The whole contiguous free space is offered: the device returns what it has.
  if (firstChunk != 0) n = ReadIntoRing(inRing_.Head(), firstChunk);
  if (secondChunk > 0 && n == firstChunk) ReadIntoRing(inRing_.Head(), secondChunk);
  return true;
}

int TQsBaseDispatcher::InputCountLocked() const {
  const int count = inRing_.Count() - (inNotification_ ? readCount_ : 0);
  return count > 0 ? count : 0;
}

int TQsBaseDispatcher::InputCount() {
  Guard in(inputLock_);
  return InputCountLocked();
}

int TQsBaseDispatcher::ReadBlock(void* buf, int len) {
  if (len < 0 || (len > 0 && buf == nullptr)) return kErrBadArgument;
  auto* bytes = static_cast<std::uint8_t*>(buf);
  {
    Guard in(inputLock_);
    if (len > InputCountLocked() || !inRing_.Allocated()) return kErrBufferIsEmpty;
    if (len == 0) return 0;
    if (inNotification_) {
      inRing_.CopyOut(readCount_, bytes, len);
      readCount_ += len;
    } else {
      inRing_.CopyOut(0, bytes, len);
      inRing_.AdvanceTail(len);
    }
  }
  if (TraceRecording()) TraceBytes('R', bytes, len);
  return len;
}

int TQsBaseDispatcher::WriteBlock(const void* buf, int len) {
  if (len == 0) return 0;
  if (len < 0 || buf == nullptr) return kErrBadArgument;
  const auto* bytes = static_cast<const std::uint8_t*>(buf);
  int result = 0;
  int n = 0;
  {
    Guard out(outputLock_);
    lineErrors_.store(static_cast<std::uint32_t>(DeviceStatus(status_)) & kLineErrMask);
    const std::int64_t freeRoom = static_cast<std::int64_t>(outSize_) - status_.outCount;
    if (len > freeRoom) return kErrOutputBufferTooSmall;
    if (Rs485On()) {
      if (portBase_ == 0) return kErrBaseAddressNotSet;
      DeviceEscape(kEscSetRts);
    }
    n = DeviceWrite(bytes, len);
    if (n <= 0) {
      n = std::min(std::abs(n), len);
      result = kErrPutBlockFail;
      lineErrors_.store(static_cast<std::uint32_t>(DeviceStatus(status_)) & kLineErrMask);
    } else if (n < len) {
      result = kErrPutBlockFail;  // part of the block was refused: not a success
    }
    n = std::min(n, len);
    outputSent_.store(true);
  }
  RecordWrite(bytes, n);
  return result;
}

void TQsBaseDispatcher::RecordWrite(const std::uint8_t* bytes, int n) {
  if (LogRecording()) LogEvent(1, 2, static_cast<std::uint32_t>(n), bytes, static_cast<std::uint32_t>(n));
  if (TraceRecording()) TraceBytes('T', bytes, n);
}

void TQsBaseDispatcher::RecordWritten(const std::string& text) {
  RecordWrite(reinterpret_cast<const std::uint8_t*>(text.data()), static_cast<int>(text.size()));
}

int TQsBaseDispatcher::OutputCount() {
  RefreshLineErrors();
  Guard out(outputLock_);
  return static_cast<int>(status_.outCount);
}

int TQsBaseDispatcher::OutputFree() {
  RefreshLineErrors();
  Guard out(outputLock_);
  return outSize_ - static_cast<int>(status_.outCount);
}

int TQsBaseDispatcher::FlushInput() {
  Guard in(inputLock_);
  const int r = DeviceFlush(1);
  if (!inNotification_) {
    inRing_.Discard();
    readCount_ = 0;
  } else {
    // The tail passes everything held when the pass ends; the flushing handler sees none of it now.
    maxReadCount_ = readCount_ = inRing_.Count();
  }
  // Flushed bytes are never examined for data triggers.
  scanPos_ = inRing_.Head();
  scanBacklog_ = 0;
  ++flushCount_;
  ClearDataMatches();
  return r;
}

int TQsBaseDispatcher::FlushOutput() { return DeviceFlush(0); }
