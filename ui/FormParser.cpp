#include "ui/FormParser.h"

#include <cctype>
#include <charconv>
#include <cstdint>
#include <string>

#include "ui/FormReader.h"

namespace ui {

namespace {

bool IsIdentStart(char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0 || c == '_'; }
bool IsIdentChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_'; }

void AppendUtf8(std::string& out, std::uint32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// Far beyond any real window, and far below what the recursive parse (and the reader's walks of the
// tree) could take on the stack: a deeper file is refused like any other fault.
constexpr int kMaxNesting = 200;

class TParser {
 public:
  TParser(std::string_view text, const std::string& fileName) : text_(text), fileName_(fileName) {}

  TFormObject ParseRoot() {
    SkipBlank();
    TFormObject root = ParseObject();
    SkipBlank();
    if (!AtEnd()) Fail("unexpected text after the window's end");
    return root;
  }

 private:
  [[noreturn]] void Fail(const std::string& reason) const { throw EFormError(fileName_, line_, reason); }
  bool AtEnd() const { return pos_ >= text_.size(); }
  char Peek() const { return AtEnd() ? '\0' : text_[pos_]; }

  // Skips blanks, line ends and comment lines.
  void SkipBlank() {
    while (!AtEnd()) {
      const char c = text_[pos_];
      if (c == '\n') {
        ++line_;
        ++pos_;
      } else if (c == ' ' || c == '\t' || c == '\r') {
        ++pos_;
      } else if (c == '/' && pos_ + 1 < text_.size() && text_[pos_ + 1] == '/') {
        while (!AtEnd() && text_[pos_] != '\n') ++pos_;
      } else {
        return;
      }
    }
  }

  // Skips blanks within the current line only.
  void SkipSpaces() {
    while (!AtEnd() && (text_[pos_] == ' ' || text_[pos_] == '\t' || text_[pos_] == '\r')) ++pos_;
  }

  void ExpectLineEnd() {
    SkipSpaces();
    if (!AtEnd() && text_[pos_] != '\n') Fail("unexpected text at the end of the line");
  }

  std::string Identifier(bool dotted) {
    if (!IsIdentStart(Peek())) Fail("a name was expected");
    const std::size_t start = pos_;
    while (!AtEnd() && (IsIdentChar(text_[pos_]) || (dotted && text_[pos_] == '.' && pos_ + 1 < text_.size() &&
                                                     IsIdentStart(text_[pos_ + 1])))) {
      ++pos_;
    }
    return std::string(text_.substr(start, pos_ - start));
  }

  TFormObject ParseObject(int depth = 1) {
    if (depth > kMaxNesting) Fail("objects are nested more than " + std::to_string(kMaxNesting) + " deep");
    TFormObject object;
    object.line = line_;
    if (Identifier(false) != "object") Fail("\"object\" was expected");
    SkipSpaces();
    object.name = Identifier(false);
    SkipSpaces();
    if (Peek() != ':') Fail("':' and a class name were expected after the name " + object.name);
    ++pos_;
    SkipSpaces();
    object.className = Identifier(false);
    ExpectLineEnd();
    while (true) {
      SkipBlank();
      if (AtEnd()) Fail("the object " + object.name + " has no \"end\"");
      const std::size_t mark = pos_;
      const int line = line_;
      const std::string word = Identifier(true);
      if (word == "end") {
        ExpectLineEnd();
        return object;
      }
      if (word == "object") {
        pos_ = mark;
        object.children.push_back(ParseObject(depth + 1));
        continue;
      }
      SkipSpaces();
      if (Peek() != '=') Fail("'=' was expected after the property name " + word);
      ++pos_;
      SkipSpaces();
      platform::Variant value = ParseValue();
      ExpectLineEnd();
      object.properties.push_back(TFormProperty{word, std::move(value), line});
    }
  }

  platform::Variant ParseValue() {
    const char c = Peek();
    if (c == '\'' || c == '#') return platform::Variant(ParseText());
    if (c == '(') return platform::Variant(ParseList());
    if (c == '[') return platform::Variant(ParseSet());
    if (c == '-' || c == '$' || std::isdigit(static_cast<unsigned char>(c)) != 0) return ParseNumber();
    if (IsIdentStart(c)) return platform::Variant(platform::Identifier{Identifier(true)});
    Fail(AtEnd() || c == '\n' ? "a value was expected" : std::string("unexpected character '") + c + "'");
  }

  std::string ParseText() {
    std::string text;
    while (true) {
      if (Peek() == '\'') {
        ++pos_;
        while (true) {
          if (AtEnd() || text_[pos_] == '\n') Fail("a text is not closed on its line");
          const char c = text_[pos_++];
          if (c != '\'') {
            text += c;
          } else if (Peek() == '\'') {
            text += '\'';
            ++pos_;
          } else {
            break;
          }
        }
      } else if (Peek() == '#') {
        ++pos_;
        const std::size_t start = pos_;
        while (std::isdigit(static_cast<unsigned char>(Peek())) != 0) ++pos_;
        std::uint32_t code = 0;
        const auto [end, error] = std::from_chars(text_.data() + start, text_.data() + pos_, code);
        if (start == pos_ || error != std::errc() || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
          Fail("'#' must be followed by a character code from 0 to 1114111");
        }
        AppendUtf8(text, code);
      } else {
        return text;
      }
      // Parts written next to each other join ('a'#9'b'); a '+' joins the next line's text.
      if (Peek() == '\'' || Peek() == '#') continue;
      const std::size_t afterPart = pos_;
      SkipSpaces();
      if (Peek() != '+') {
        pos_ = afterPart;
        return text;
      }
      ++pos_;
      SkipBlank();
      if (Peek() != '\'' && Peek() != '#') Fail("a text was expected after '+'");
    }
  }

  platform::StringVector ParseList() {
    ++pos_;  // (
    platform::StringVector items;
    while (true) {
      SkipBlank();
      if (AtEnd()) Fail("a list is not closed with ')'");
      if (Peek() == ')') {
        ++pos_;
        return items;
      }
      if (Peek() != '\'' && Peek() != '#') Fail("a list holds only texts");
      items.push_back(ParseText());
    }
  }

  platform::StringVector ParseSet() {
    ++pos_;  // [
    platform::StringVector members;
    SkipSpaces();
    if (Peek() == ']') {
      ++pos_;
      return members;
    }
    while (true) {
      SkipSpaces();
      members.push_back(Identifier(false));
      SkipSpaces();
      if (Peek() == ']') {
        ++pos_;
        return members;
      }
      if (Peek() != ',') Fail("',' or ']' was expected in a set");
      ++pos_;
    }
  }

  platform::Variant ParseNumber() {
    const std::size_t start = pos_;
    const bool negative = Peek() == '-';
    if (negative) ++pos_;
    if (Peek() == '$') {
      ++pos_;
      const std::size_t digits = pos_;
      while (std::isxdigit(static_cast<unsigned char>(Peek())) != 0) ++pos_;
      std::int64_t value = 0;
      const auto [end, error] = std::from_chars(text_.data() + digits, text_.data() + pos_, value, 16);
      if (digits == pos_ || error != std::errc()) Fail("a bad hexadecimal number");
      return platform::Variant(negative ? -value : value);
    }
    while (std::isdigit(static_cast<unsigned char>(Peek())) != 0) ++pos_;
    bool real = false;
    if (Peek() == '.') {
      real = true;
      ++pos_;
      while (std::isdigit(static_cast<unsigned char>(Peek())) != 0) ++pos_;
    }
    if (IsIdentChar(Peek())) Fail("a bad number");
    const std::string number(text_.substr(start, pos_ - start));
    if (real) {
      double value = 0;
      const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
      if (error != std::errc() || end != number.data() + number.size()) Fail("a bad number " + number);
      return platform::Variant(value);
    }
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (error != std::errc() || end != number.data() + number.size()) Fail("a bad or too large number " + number);
    return platform::Variant(value);
  }

  std::string_view text_;
  const std::string& fileName_;
  std::size_t pos_ = 0;
  int line_ = 1;
};

}  // namespace

TFormObject ParseForm(std::string_view text, const std::string& fileName) { return TParser(text, fileName).ParseRoot(); }

}  // namespace ui
