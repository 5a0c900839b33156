// The trace: a circular record of the data bytes the application read ('R') and wrote ('T'),
// written to a text file on request. Not locked itself: the dispatcher holds its state lock.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

class TQsTrace {
 public:
  static constexpr std::uint32_t kMaxEntries = 4'000'000;

  // Empties an existing buffer, or allocates count zeroed entries; 0, or kErrBadArgument for a
  // count above the limit (then nothing changes). Recording is on afterwards.
  int Start(std::uint32_t count);
  void Clear();
  void Stop();
  void Pause() { recording_ = false; }
  void Resume() { recording_ = bufferMade_; }

  bool Recording() const { return recording_; }
  bool HasBuffer() const { return bufferMade_; }
  std::uint32_t Count() const { return count_; }
  std::uint32_t Index() const { return index_; }
  bool Wrapped() const { return wrapped_; }

  void Add(char kind, std::uint8_t b);
  void AddBytes(char kind, const std::uint8_t* data, int len);

  // Writes the trace (replacing the file, or appending to it when asked and it exists), then
  // stops tracing. 0, or the negated system error; an empty trace writes no file.
  int Dump(const std::string& fileName, bool append, bool hexMode, bool allHex);

 private:
  struct Entry {
    char kind;
    std::uint8_t b;
  };

  std::unique_ptr<Entry[]> entries_;
  bool bufferMade_ = false;  // Start ran (a count of 0 records nothing but still counts)
  std::uint32_t count_ = 0;
  std::uint32_t index_ = 0;
  bool wrapped_ = false;
  bool recording_ = false;
};
