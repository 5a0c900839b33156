#include "ui/headless/LineWriter.h"

namespace headless {

std::string OneLine(std::string_view text) {
  std::string line;
  line.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      line += ' ';
    } else {
      line += c;
    }
  }
  return line;
}

void LineWriter::Write(std::string_view tag, std::string_view text) {
  out_ << tag << ": " << OneLine(text) << '\n';
  out_.flush();
}

}  // namespace headless
