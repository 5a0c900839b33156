#include "app/ListingNames.h"

std::ptrdiff_t FirstNotIn(const TCharSet& set, std::string_view text, std::ptrdiff_t start) {
  const auto length = static_cast<std::ptrdiff_t>(text.size());
  for (std::ptrdiff_t pos = start < 1 ? 1 : start; pos <= length; ++pos) {
    if (!set.Contains(text[static_cast<std::size_t>(pos - 1)])) return pos;
  }
  return 0;
}

std::ptrdiff_t LastNotIn(const TCharSet& set, std::string_view text, std::ptrdiff_t start) {
  const auto length = static_cast<std::ptrdiff_t>(text.size());
  // A start past the end would read beyond the text: it means the whole text as well.
  for (std::ptrdiff_t pos = (start < 1 || start > length) ? length : start; pos >= 1; --pos) {
    if (!set.Contains(text[static_cast<std::size_t>(pos - 1)])) return pos;
  }
  return 0;
}

std::string StripBlanks(std::string_view text) {
  const std::ptrdiff_t last = LastNotIn(BlankChars, text, 0);
  if (last == 0) return {};
  const std::ptrdiff_t first = FirstNotIn(BlankChars, text, 1);
  return std::string(text.substr(static_cast<std::size_t>(first - 1), static_cast<std::size_t>(last - first + 1)));
}

void ListingToNames(std::string_view listing, platform::TStringList& target) {
  // The lines are split the way the listing memo splits its text.
  platform::TStringList lines;
  lines.SetText(listing);
  for (const std::string& line : lines) {
    std::string name = StripBlanks(std::string_view(line).substr(0, kMaxListingLineLength));
    if (!name.empty()) target.Add(std::move(name));
  }
}
