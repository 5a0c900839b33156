// The data-trigger matcher against a plain search: fed a stream byte by byte, it reports a match
// only where the pattern (with or without case) ends in the stream, and never misses one that lies
// clear of the previous report. (A completed match clears every partial match, so an occurrence
// overlapping the one just reported may go unreported.)
#include <cstring>
#include <string>

#include "comm/QsTriggers.h"
#include "fuzz/FuzzInput.h"

namespace {

bool EndsHere(const std::string& stream, std::size_t end, const std::string& pattern, bool ignoreCase) {
  if (end + 1 < pattern.size()) return false;
  const std::size_t from = end + 1 - pattern.size();
  for (std::size_t k = 0; k < pattern.size(); ++k) {
    auto a = static_cast<std::uint8_t>(stream[from + k]);
    auto b = static_cast<std::uint8_t>(pattern[k]);
    if (ignoreCase) {
      a = UpperCaseByte(a);
      b = UpperCaseByte(b);
    }
    if (a != b) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::TInput input(data, size);
  const bool ignoreCase = input.Bool();
  std::string pattern = input.Text(kMaxPatternLength);
  if (pattern.empty()) return 0;
  const std::string stream = input.Rest();

  std::uint8_t stored[24] = {};
  for (std::size_t k = 0; k < pattern.size(); ++k) {
    const auto b = static_cast<std::uint8_t>(pattern[k]);
    stored[k] = ignoreCase ? UpperCaseByte(b) : b;
  }
  std::int32_t partial[kMaxPatternLength] = {};
  std::ptrdiff_t lastReported = -1;
  for (std::size_t i = 0; i < stream.size(); ++i) {
    const bool matched = MatchDataByte(partial, static_cast<std::uint8_t>(stream[i]), static_cast<int>(pattern.size()),
                                       ignoreCase, stored);
    const bool there = EndsHere(stream, i, pattern, ignoreCase);
    if (matched) FUZZ_CHECK(there);
    const auto start = static_cast<std::ptrdiff_t>(i + 1) - static_cast<std::ptrdiff_t>(pattern.size());
    if (there && start > lastReported) FUZZ_CHECK(matched);
    if (matched) lastReported = static_cast<std::ptrdiff_t>(i);
  }
  return 0;
}
