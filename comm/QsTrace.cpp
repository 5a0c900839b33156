#include "comm/QsTrace.h"

#include "comm/QsDiagText.h"
#include "comm/QsMisc.h"

int TQsTrace::Start(std::uint32_t count) {
  if (bufferMade_) {
    Clear();
  } else {
    if (count > kMaxEntries) return kErrBadArgument;
    if (count > 0) entries_ = std::make_unique<Entry[]>(count);
    count_ = count;
    bufferMade_ = true;
    Clear();
  }
  recording_ = true;
  return 0;
}

void TQsTrace::Clear() {
  index_ = 0;
  wrapped_ = false;
}

void TQsTrace::Stop() {
  recording_ = false;
  entries_.reset();
  bufferMade_ = false;
  count_ = 0;
  Clear();
}

void TQsTrace::Add(char kind, std::uint8_t b) {
  if (count_ == 0) return;
  entries_[index_] = Entry{kind, b};
  if (++index_ == count_) {
    index_ = 0;
    wrapped_ = true;
  }
}

void TQsTrace::AddBytes(char kind, const std::uint8_t* data, int len) {
  for (int i = 0; i < len; ++i) Add(kind, data[i]);
}

namespace {

std::string Heading(char kind) {
  if (kind == 'R') return "Receive: ";
  if (kind == 'T') return "Transmit: ";
  return std::string("Special-") + kind + ": ";
}

}  // namespace

int TQsTrace::Dump(const std::string& fileName, bool append, bool hexMode, bool allHex) {
  if (!bufferMade_) return 0;
  recording_ = false;
  const std::uint32_t last = index_;
  std::uint32_t i = wrapped_ ? index_ : 0;
  if ((!wrapped_ && index_ == 0) || count_ == 0) {
    Stop();
    return 0;
  }
  TDiagTextFile file;
  if (int r = file.Open(fileName, append); r != 0) {
    Stop();
    return r;
  }
  char previous = 0;
  int column = 0;
  bool first = true;
  do {
    const Entry& entry = entries_[i];
    if (first || entry.kind != previous) {
      if (!first) {
        file.EndLine();
        file.EndLine();
        column = 0;
      }
      file.Write(Heading(entry.kind));
      previous = entry.kind;
      first = false;
    }
    const std::string item = RenderDataByte(entry.b, hexMode, allHex);
    const int width = static_cast<int>(item.size());
    column += width;
    if (column > 78) {
      file.EndLine();
      column = width;
    }
    file.Write(item);
    if (++i == count_) i = 0;
  } while (i != last);
  const int result = file.Close();
  Stop();
  return result;
}
