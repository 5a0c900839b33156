// Turning a names-only listing into the ordered list of remote file names: split into lines,
// strip blank characters from both ends of each, drop the lines left empty. A line is one name
// whatever it holds; duplicates and the listing's order are kept.
#pragma once

#include <array>
#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>

#include "platform/StringList.h"

// A set of byte values.
class TCharSet {
 public:
  constexpr TCharSet(std::initializer_list<char> chars) {
    for (char c : chars) members_[static_cast<unsigned char>(c)] = true;
  }
  constexpr bool Contains(char c) const { return members_[static_cast<unsigned char>(c)]; }

 private:
  std::array<bool, 256> members_{};
};

// Exactly space, tab, line feed and carriage return: form feed, vertical tab, NUL and every other
// byte belong to a name.
inline constexpr TCharSet BlankChars{' ', '\t', '\n', '\r'};

// A listing line is read at most this long; the rest of a longer line is lost (no file name is
// that long).
inline constexpr std::size_t kMaxListingLineLength = 4096;

// Positions are 1-based byte indexes; 0 means none.

// The first position at or after start whose byte is not in set, or 0. A start below 1 counts as 1.
std::ptrdiff_t FirstNotIn(const TCharSet& set, std::string_view text, std::ptrdiff_t start);
// The last position at or before start whose byte is not in set, or 0. A start below 1 counts as
// the length of the text, and so does a start beyond it.
std::ptrdiff_t LastNotIn(const TCharSet& set, std::string_view text, std::ptrdiff_t start);
// text without its leading and trailing BlankChars; blanks inside are kept.
std::string StripBlanks(std::string_view text);

// Appends the names of listing to target. Lines end at CR LF, a lone CR or a lone LF; the last
// needs no line end. Any bytes are accepted.
void ListingToNames(std::string_view listing, platform::TStringList& target);
