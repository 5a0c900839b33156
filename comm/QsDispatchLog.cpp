#include "comm/QsDispatchLog.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "comm/QsDiagText.h"
#include "comm/QsMisc.h"
#include "comm/QsStrRes.h"
#include "platform/SysInfo.h"

namespace {

constexpr std::uint32_t kHeaderSize = sizeof(TQsLogHeader);
constexpr int kDataColumn = 44;

std::string StatusKindName(std::uint8_t kind) {
  static const char* const kNames[] = {"(Not active)", "(Modem status)", "(Line status)", "(Output buffer free)",
                                       "(Output buffer used)", "(Output sent)"};
  return kind < 6 ? kNames[kind] : "";
}

std::string Text(int id) { return ErrorTexts().TextById(id); }

}  // namespace

void TQsDispatchLog::Start(std::uint32_t size, std::uint32_t scratchSize) {
  if (!HasBuffer()) {
    ring_ = std::make_unique<std::uint8_t[]>(size);
    scratch_ = std::make_unique<std::uint8_t[]>(scratchSize);
    size_ = size;
    scratchSize_ = scratchSize;
  }
  Clear();
  recording_ = true;
}

void TQsDispatchLog::Clear() {
  head_ = tail_ = 0;
  free_ = size_;
}

void TQsDispatchLog::Stop() {
  recording_ = false;
  ring_.reset();
  scratch_.reset();
  size_ = scratchSize_ = 0;
  Clear();
}

void TQsDispatchLog::SetClock(ClockFunction clock) {
  clock_ = clock;
  MarkStartTime();
}

std::uint32_t TQsDispatchLog::Now() const { return clock_ ? clock_() : MillisecondClock(); }

void TQsDispatchLog::PutBytes(const void* src, std::uint32_t len) {
  const auto* bytes = static_cast<const std::uint8_t*>(src);
  const std::uint32_t first = std::min(len, size_ - head_);
  std::memcpy(ring_.get() + head_, bytes, first);
  if (len > first) std::memcpy(ring_.get(), bytes + first, len - first);
  head_ = (head_ + len) % size_;
}

void TQsDispatchLog::GetBytes(std::uint32_t& pos, void* dst, std::uint32_t len) const {
  auto* bytes = static_cast<std::uint8_t*>(dst);
  const std::uint32_t first = std::min(len, size_ - pos);
  if (bytes) {
    std::memcpy(bytes, ring_.get() + pos, first);
    if (len > first) std::memcpy(bytes + first, ring_.get(), len - first);
  }
  pos = (pos + len) % size_;
}

void TQsDispatchLog::DiscardOldest() {
  TQsLogHeader header;
  GetBytes(tail_, &header, kHeaderSize);
  GetBytes(tail_, nullptr, header.dataLen);
  free_ += kHeaderSize + header.dataLen;
}

void TQsDispatchLog::Add(std::uint8_t type, std::uint8_t subType, std::uint32_t value, const void* data,
                         std::uint32_t dataLen) {
  if (!HasBuffer()) return;
  if (static_cast<std::uint64_t>(kHeaderSize) + dataLen >= size_ || dataLen > scratchSize_) return;
  TQsLogHeader header;
  header.type = type;
  header.subType = subType;
  header.time = Now() - startTime_;
  header.value = value;
  header.dataLen = dataLen;
  while (free_ < kHeaderSize + dataLen) DiscardOldest();
  PutBytes(&header, kHeaderSize);
  if (dataLen > 0) PutBytes(data, dataLen);
  free_ -= kHeaderSize + dataLen;
}

bool TQsDispatchLog::TakeOldest(TQsLogHeader& header, const std::uint8_t*& data) {
  if (!HasBuffer() || Empty()) return false;
  GetBytes(tail_, &header, kHeaderSize);
  GetBytes(tail_, scratch_.get(), header.dataLen);
  free_ += kHeaderSize + header.dataLen;
  data = scratch_.get();
  return true;
}

void TQsDispatchLog::WriteEntry(TDiagTextFile& file, const TQsLogHeader& header, const std::uint8_t* data,
                                bool hexMode, bool allHex) const {
  const std::string typeName = Text(kLogTypeTextBase + 1 + header.type);
  const std::string subTypeName = header.subType == 0 ? std::string() : Text(kLogSubtypeTextBase + header.subType);
  char fixed[128];
  std::snprintf(fixed, sizeof fixed, "%8s  %-8s  %-12s  %08X  ", LogTimeText(header.time).c_str(), typeName.c_str(),
                subTypeName.c_str(), static_cast<unsigned>(header.value));
  file.Write(fixed);
  if (header.dataLen == 0) {
    if (header.type == 10) {
      file.Write(header.value <= 42 ? "[" + Text(kTelnetOptionTextBase + static_cast<int>(header.value)) + "]" : "[]");
    }
  } else if (header.subType == 15 && (header.type == 5 || header.type == 6)) {
    file.Write(StatusKindName(data[0]));
  } else {
    int column = kDataColumn + 1;
    for (std::uint32_t i = 0; i < header.dataLen; ++i) {
      const std::string item = RenderDataByte(data[i], hexMode, allHex);
      const int width = static_cast<int>(item.size());
      column += width;
      if (column >= 79) {
        file.EndLine();
        file.Write(std::string(kDataColumn, ' '));
        column = width + kDataColumn + 1;
      }
      file.Write(item);
    }
  }
  file.EndLine();
}

int TQsDispatchLog::Dump(const std::string& fileName, bool append, bool hexMode, bool allHex) {
  if (!HasBuffer() || Empty()) {
    Stop();
    return 0;
  }
  recording_ = false;
  TDiagTextFile file;
  if (int r = file.Open(fileName, append); r != 0) return r;
  file.Write(std::string("QS ") + "v3.04");
  file.EndLine();
  file.Write("Compiler : " + CompilerDescription());
  file.EndLine();
  file.Write("Operating System : " + platform::OperatingSystemDescription().substr(0, 80));
  file.EndLine();
  file.Write(Text(kLogDumpHeaderTextId));
  file.EndLine();
  file.Write(Text(kLogDumpRuleTextId));
  file.EndLine();
  // Walk a copy of the read position: the entries are dropped only once the file is safely written.
  const std::uint32_t savedTail = tail_;
  const std::uint32_t savedFree = free_;
  TQsLogHeader header;
  const std::uint8_t* data = nullptr;
  while (TakeOldest(header, data)) WriteEntry(file, header, data, hexMode, allHex);
  const int result = file.Close();
  if (result != 0) {
    tail_ = savedTail;
    free_ = savedFree;
    return result;
  }
  Stop();
  return 0;
}
