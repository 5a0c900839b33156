// The dispatch log: a byte ring of time-stamped entries (a 16-byte header and its data), written
// to a text file on request. Not locked itself: the dispatcher holds its state lock.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

struct TQsLogHeader {
  std::uint8_t type = 0;
  std::uint8_t subType = 0;
  std::uint16_t unused = 0;
  std::uint32_t time = 0;  // milliseconds since the log start time
  std::uint32_t value = 0;
  std::uint32_t dataLen = 0;
};
static_assert(sizeof(TQsLogHeader) == 16);

class TQsDispatchLog {
 public:
  using ClockFunction = std::uint32_t (*)();

  // Empties an existing log, or allocates size bytes and a scratch buffer of scratchSize bytes
  // (the largest entry data kept). Recording is on afterwards.
  void Start(std::uint32_t size, std::uint32_t scratchSize);
  void Clear();
  void Stop();
  void Pause() { recording_ = false; }
  void Resume() { recording_ = HasBuffer(); }

  bool Recording() const { return recording_; }
  bool HasBuffer() const { return ring_ != nullptr; }
  bool Empty() const { return free_ == size_; }
  std::uint32_t Size() const { return size_; }
  std::uint32_t FreeBytes() const { return free_; }

  // The time base: the clock's time when the port opened. The clock itself can be replaced (for
  // checks); the time base then starts again from the new clock.
  void MarkStartTime() { startTime_ = Now(); }
  void SetClock(ClockFunction clock);

  // Records one entry; an entry too large for the log or the scratch buffer is dropped, older
  // entries are discarded whole to make room. No memory is taken.
  void Add(std::uint8_t type, std::uint8_t subType, std::uint32_t value, const void* data, std::uint32_t dataLen);

  // Reads the oldest entry into header and the scratch buffer and removes it; false when empty.
  bool TakeOldest(TQsLogHeader& header, const std::uint8_t*& data);

  // Writes every entry (replacing the file, or appending when asked and it exists) and then stops
  // logging. 0, or the negated system error; on a failure the entries stay (logging paused). An
  // empty log writes no file.
  int Dump(const std::string& fileName, bool append, bool hexMode, bool allHex);

 private:
  std::uint32_t Now() const;
  void PutBytes(const void* src, std::uint32_t len);
  void GetBytes(std::uint32_t& pos, void* dst, std::uint32_t len) const;
  void DiscardOldest();
  void WriteEntry(class TDiagTextFile& file, const TQsLogHeader& header, const std::uint8_t* data, bool hexMode,
                  bool allHex) const;

  std::unique_ptr<std::uint8_t[]> ring_;
  std::unique_ptr<std::uint8_t[]> scratch_;
  std::uint32_t size_ = 0;
  std::uint32_t scratchSize_ = 0;
  std::uint32_t head_ = 0;
  std::uint32_t tail_ = 0;
  std::uint32_t free_ = 0;
  std::uint32_t startTime_ = 0;
  ClockFunction clock_ = nullptr;
  bool recording_ = false;
};
