#include "platform/StringList.h"

#include <algorithm>

#include "platform/SysUtils.h"

namespace platform {

namespace {

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

bool SameText(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [](char x, char y) { return LowerAscii(x) == LowerAscii(y); });
}

std::size_t TStringList::CheckedIndex(int index, int limit) const {
  if (index < 0 || index >= limit) {
    throw Exception("List index out of bounds (" + std::to_string(index) + ")");
  }
  return static_cast<std::size_t>(index);
}

const std::string& TStringList::Strings(int index) const { return lines_[CheckedIndex(index, Count())]; }

void TStringList::SetStrings(int index, std::string value) {
  lines_[CheckedIndex(index, Count())] = std::move(value);
}

int TStringList::Add(std::string value) {
  lines_.push_back(std::move(value));
  return Count() - 1;
}

void TStringList::Insert(int index, std::string value) {
  const std::size_t at = CheckedIndex(index, Count() + 1);
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), std::move(value));
}

void TStringList::Delete(int index) {
  lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(CheckedIndex(index, Count())));
}

int TStringList::IndexOf(std::string_view value) const {
  for (int i = 0; i < Count(); ++i) {
    const std::string& line = lines_[static_cast<std::size_t>(i)];
    if (caseSensitive_ ? line == value : SameText(line, value)) return i;
  }
  return -1;
}

std::string TStringList::Text() const {
  std::size_t size = 0;
  for (const std::string& line : lines_) size += line.size() + 2;
  std::string text;
  text.reserve(size);
  for (const std::string& line : lines_) {
    text += line;
    text += "\r\n";
  }
  return text;
}

void TStringList::SetText(std::string_view text) {
  lines_.clear();
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t end = std::min(text.find_first_of("\r\n", pos), text.size());
    lines_.emplace_back(text.substr(pos, end - pos));
    pos = end;
    if (pos == text.size()) break;
    // CR LF is one line end; a lone CR or a lone LF is one too.
    const bool crLf = text[pos] == '\r' && pos + 1 < text.size() && text[pos + 1] == '\n';
    pos += crLf ? 2 : 1;
  }
}

namespace {

bool NeedsQuotes(std::string_view line) {
  if (line.empty()) return true;
  return std::any_of(line.begin(), line.end(),
                     [](char c) { return c == ',' || c == '"' || static_cast<unsigned char>(c) <= ' '; });
}

bool IsBlank(char c) { return c != '\0' && static_cast<unsigned char>(c) <= ' '; }

}  // namespace

std::string TStringList::CommaText() const {
  std::string text;
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    if (i > 0) text += ',';
    const std::string& line = lines_[i];
    if (!NeedsQuotes(line)) {
      text += line;
      continue;
    }
    text += '"';
    for (char c : line) {
      if (c == '"') text += '"';
      text += c;
    }
    text += '"';
  }
  return text;
}

void TStringList::SetCommaText(std::string_view text) {
  lines_.clear();
  std::size_t pos = 0;
  const auto skipBlanks = [&] {
    while (pos < text.size() && IsBlank(text[pos])) ++pos;
  };
  skipBlanks();
  while (pos < text.size()) {
    std::string item;
    if (text[pos] == '"') {
      ++pos;
      while (pos < text.size()) {
        if (text[pos] == '"') {
          if (pos + 1 < text.size() && text[pos + 1] == '"') {
            item += '"';
            pos += 2;
            continue;
          }
          ++pos;
          break;
        }
        item += text[pos++];
      }
    } else {
      while (pos < text.size() && text[pos] != ',' && !IsBlank(text[pos])) item += text[pos++];
    }
    lines_.push_back(std::move(item));
    skipBlanks();
    if (pos < text.size() && text[pos] == ',') {
      ++pos;
      skipBlanks();
      if (pos == text.size()) lines_.emplace_back();  // "a," ends with an empty item
    }
  }
}

}  // namespace platform
