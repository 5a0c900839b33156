// The headless front end's output: one "tag: text" line per event.
//
// A text shown on one line may hold line breaks (message box texts use CR as one): each line
// break (CR LF, a lone CR or a lone LF) is written as one blank. No other character is changed,
// so every event is exactly one output line, and "tag: " begins each.
//
// Lines are flushed at most every kFlushMilliseconds, and never later than that after they were
// written (a timer of the thread's message loop catches the end of a burst). A download prints a
// progress line per block received, thousands a second: flushing each woke whoever reads the
// stream as often, and on a small machine that reader took processor time from the download.
#pragma once

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>

namespace platform {
class TComponent;
}
namespace ui {
class TTimer;
}

namespace headless {

inline constexpr unsigned kFlushMilliseconds = 50;

// text with each line break replaced by one blank.
std::string OneLine(std::string_view text);

class LineWriter {
 public:
  explicit LineWriter(std::ostream& out);
  // Flushes what is still waiting.
  ~LineWriter();
  LineWriter(const LineWriter&) = delete;
  LineWriter& operator=(const LineWriter&) = delete;

  // Writes "tag: text" (text made one line).
  void Write(std::string_view tag, std::string_view text);
  void Flush();

 private:
  void FlushWaiting(platform::TComponent* sender);

  std::ostream& out_;
  std::uint64_t lastFlush_ = 0;
  bool waiting_ = false;
  std::unique_ptr<ui::TTimer> flushTimer_;
};

}  // namespace headless
