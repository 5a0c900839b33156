// The headless front end's output: one "tag: text" line per event, flushed at once so that a
// test or a user watching the stream sees each line as it happens.
//
// A text shown on one line may hold line breaks (message box texts use CR as one): each line
// break (CR LF, a lone CR or a lone LF) is written as one blank. No other character is changed,
// so every event is exactly one output line, and "tag: " begins each.
#pragma once

#include <ostream>
#include <string>
#include <string_view>

namespace headless {

// text with each line break replaced by one blank.
std::string OneLine(std::string_view text);

class LineWriter {
 public:
  explicit LineWriter(std::ostream& out) : out_(out) {}
  // Writes "tag: text" (text made one line) and flushes.
  void Write(std::string_view tag, std::string_view text);

 private:
  std::ostream& out_;
};

}  // namespace headless
