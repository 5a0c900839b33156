#include "lang/StringLibrary.h"

#include <cctype>
#include <charconv>
#include <fstream>
#include <sstream>

#include "platform/SysUtils.h"

namespace {

[[noreturn]] void Fail(const std::string& fileName, int line, const std::string& reason) {
  throw platform::Exception(fileName + ":" + std::to_string(line) + ": " + reason);
}

// Parses the quoted text starting at pos (on the opening quote); leaves pos after the closing one.
std::string QuotedText(std::string_view line, std::size_t& pos, const std::string& fileName, int lineNo) {
  std::string text;
  ++pos;
  while (true) {
    if (pos >= line.size()) Fail(fileName, lineNo, "the text is not closed");
    const char c = line[pos++];
    if (c == '"') return text;
    if (static_cast<unsigned char>(c) < 0x20) Fail(fileName, lineNo, "a control character in the text");
    if (c != '\\') {
      text += c;
      continue;
    }
    if (pos >= line.size()) Fail(fileName, lineNo, "an escape at the end of the line");
    switch (line[pos++]) {
      case '"': text += '"'; break;
      case '\\': text += '\\'; break;
      case 't': text += '\t'; break;
      case 'r': text += '\r'; break;
      case 'n': text += '\n'; break;
      default: Fail(fileName, lineNo, "an unknown escape");
    }
  }
}

}  // namespace

TStringLibrary TStringLibrary::Parse(std::string_view text, const std::string& fileName) {
  TStringLibrary library;
  int lineNo = 0;
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t end = std::min(text.find('\n', start), text.size());
    std::string_view line = text.substr(start, end - start);
    start = end + 1;
    ++lineNo;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    std::size_t pos = line.find_first_not_of(" \t");
    if (pos == std::string_view::npos || line[pos] == '#') continue;
    std::int32_t id = 0;
    const auto [idEnd, error] = std::from_chars(line.data() + pos, line.data() + line.size(), id);
    if (error != std::errc() || idEnd == line.data() + pos) Fail(fileName, lineNo, "a string id was expected");
    pos = static_cast<std::size_t>(idEnd - line.data());
    pos = line.find_first_not_of(" \t", pos);
    if (pos == std::string_view::npos || line[pos] != '"') Fail(fileName, lineNo, "a quoted text was expected");
    std::string value = QuotedText(line, pos, fileName, lineNo);
    pos = line.find_first_not_of(" \t", pos);
    if (pos != std::string_view::npos && line[pos] != '#') Fail(fileName, lineNo, "unexpected text after the string");
    if (!library.strings_.emplace(id, std::move(value)).second) {
      Fail(fileName, lineNo, "the id " + std::to_string(id) + " is used twice");
    }
  }
  return library;
}

TStringLibrary TStringLibrary::Load(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw platform::Exception(path.string() + ": cannot be opened");
  std::ostringstream text;
  text << in.rdbuf();
  return Parse(text.str(), path.string());
}

std::optional<std::string> TStringLibrary::String(std::int32_t id, std::size_t maxChars) const {
  auto it = strings_.find(id);
  if (it == strings_.end()) return std::nullopt;
  const std::string& text = it->second;
  std::size_t chars = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    // A character starts at every byte that is not a UTF-8 continuation byte.
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 && chars++ == maxChars) return text.substr(0, i);
  }
  return text;
}
