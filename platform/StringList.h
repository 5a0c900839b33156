// The runtime's string list: the lines of a memo, the items of a list box, a stored form's list
// of texts, the names of a listing.
//
// Text conventions: Text() ends every line with CR LF, the line end that stored texts and memo
// texts of this program use, so a list of n lines gives n terminators and an empty list gives "".
// SetText() accepts CR LF, a lone CR and a lone LF as line ends; the last line needs none, so
// "a\r\nb" and "a\r\nb\r\n" both give two lines, and "" gives none. Any other byte, NUL included,
// is part of a line.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Compares two texts ignoring the case of ASCII letters, the way component names, property names
// and list items are matched.
bool SameText(std::string_view a, std::string_view b);

class TStringList {
 public:
  using const_iterator = std::vector<std::string>::const_iterator;

  TStringList() = default;
  explicit TStringList(std::vector<std::string> lines) : lines_(std::move(lines)) {}
  TStringList(std::initializer_list<std::string> lines) : lines_(lines) {}

  int Count() const { return static_cast<int>(lines_.size()); }
  bool IsEmpty() const { return lines_.empty(); }

  // Index errors raise platform::Exception "List index out of bounds (i)".
  const std::string& operator[](int index) const { return Strings(index); }
  const std::string& Strings(int index) const;
  void SetStrings(int index, std::string value);

  // Returns the index of the new line.
  int Add(std::string value);
  // index may be Count(), which appends.
  void Insert(int index, std::string value);
  void Delete(int index);
  void Clear() { lines_.clear(); }

  // The first line equal to value, or -1. Ignores case unless CaseSensitive is set, as the
  // runtime's lists do.
  int IndexOf(std::string_view value) const;
  bool CaseSensitive() const { return caseSensitive_; }
  void SetCaseSensitive(bool caseSensitive) { caseSensitive_ = caseSensitive; }

  std::string Text() const;
  void SetText(std::string_view text);

  // The lines as one comma-separated record. A line that is empty or holds a blank, a comma, a
  // double quote or a control character is quoted in double quotes, with inner quotes doubled.
  std::string CommaText() const;
  // Splits a record: items are separated by commas or by blanks (unless quoted); blanks around
  // items are skipped; a comma at the end gives a last empty item. "" is an empty item.
  void SetCommaText(std::string_view text);

  const std::vector<std::string>& Lines() const { return lines_; }
  const_iterator begin() const { return lines_.begin(); }
  const_iterator end() const { return lines_.end(); }

  bool operator==(const TStringList& other) const { return lines_ == other.lines_; }

 private:
  std::size_t CheckedIndex(int index, int limit) const;

  std::vector<std::string> lines_;
  bool caseSensitive_ = false;
};

}  // namespace platform
