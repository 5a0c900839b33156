// The data matcher and the trigger handle allocator.
#include <gtest/gtest.h>

#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "comm/QsDispatchDefs.h"
#include "comm/QsTriggers.h"

namespace {

// The input positions at which the matcher reports a completed pattern.
std::vector<int> MatchPositions(const std::string& pattern, const std::string& input, bool ignoreCase) {
  std::int32_t partial[kMaxPatternLength] = {};
  std::string stored = pattern;
  if (ignoreCase)
    for (char& c : stored) c = static_cast<char>(UpperCaseByte(static_cast<std::uint8_t>(c)));
  std::vector<int> hits;
  for (std::size_t i = 0; i < input.size(); ++i) {
    if (MatchDataByte(partial, static_cast<std::uint8_t>(input[i]), static_cast<int>(pattern.size()), ignoreCase,
                      reinterpret_cast<const std::uint8_t*>(stored.data())))
      hits.push_back(static_cast<int>(i));
  }
  return hits;
}

TEST(MatchDataByte, FindsOverlappingAndRestartedMatches) {
  struct Case {
    const char* pattern;
    const char* input;
    bool ignoreCase;
    std::vector<int> hits;
  };
  const Case cases[] = {
      {"AA", "AAA", false, {1, 2}},
      {"abc", "ababc", false, {4}},
      {"aab", "aaab", false, {3}},
      {"aba", "ababa", false, {2, 4}},
      {"\r\n", "230 ok\r\n\r\n", false, {7, 9}},
      {"OK", "ok Ok oK", true, {1, 4, 7}},
      {"OK", "ok", false, {}},
      {"x", "xxx", false, {0, 1, 2}},
      {"abab", "abababab", false, {3, 7}},  // the match at 5 overlaps the one completed at 3 by two bytes
      {"cc", "cccc", false, {1, 2}},        // the restart taken on the second match's byte is cleared
      {"ABCDEFGHIJKLMNOPQRSTUV", "..ABCDEFGHIJKLMNOPQRSTUV", false, {23}},
      // Every counter once took up the same "a" and then lost it together on a "b": found by fuzzing.
      {"abacde", "abaabaabaabaabaababacde", false, {22}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << '"' << c.pattern << "\" in \"" << c.input << '"');
    EXPECT_EQ(MatchPositions(c.pattern, c.input, c.ignoreCase), c.hits);
  }
}

// Every occurrence of pattern in input, by the position of its last byte.
std::vector<int> AllOccurrences(const std::string& pattern, const std::string& input) {
  std::vector<int> hits;
  for (std::size_t i = 0; i + pattern.size() <= input.size(); ++i)
    if (input.compare(i, pattern.size(), pattern) == 0) hits.push_back(static_cast<int>(i + pattern.size() - 1));
  return hits;
}

// A completed match clears every partial match, so overlapping occurrences may be missed (only
// one that starts with the completing byte is sure to be found); but nothing is reported that is
// not there, and no occurrence clear of the previous report is lost.
TEST(MatchDataByte, ReportsOnlyRealMatchesAndMissesNoneClearOfThePreviousOne) {
  std::mt19937 random(42);
  for (int round = 0; round < 3000; ++round) {
    std::uniform_int_distribution<int> letter(0, 1 + round % 3);
    std::string pattern(1 + round % 6, 'a');
    for (char& c : pattern) c = static_cast<char>('a' + letter(random));
    std::string input(40, 'a');
    for (char& c : input) c = static_cast<char>('a' + letter(random));
    SCOPED_TRACE(pattern + " in " + input);
    const std::vector<int> reported = MatchPositions(pattern, input, false);
    const std::vector<int> all = AllOccurrences(pattern, input);
    int lastReported = -1;
    std::size_t next = 0;
    for (int end : all) {
      const int start = end - static_cast<int>(pattern.size()) + 1;
      const bool found = next < reported.size() && reported[next] == end;
      if (start > lastReported) {
        ASSERT_TRUE(found) << "missed the match ending at " << end;
      }
      if (found) {
        lastReported = end;
        ++next;
      }
    }
    ASSERT_EQ(next, reported.size()) << "reported a match that is not there";
  }
}

TEST(TriggerHandles, CountedThenSearchedPastTheLast) {
  TQsTriggerSet set;
  for (int i = 1; i < kFirstSearchedCounter; ++i) {
    const std::int32_t handle = set.AllocTriggerHandle();
    ASSERT_EQ(handle, 8 * i);
    if (i % 2 == 0) {
      TTimerTrigger t;
      t.handle = handle;
      set.timers.push_back(t);
    }
  }
  // Every even multiple of 8 is in use: the search finds 8, then (once it is taken) 24.
  EXPECT_EQ(set.AllocTriggerHandle(), 8);
  TStatusTrigger s;
  s.handle = 8 | skLine;  // a status handle takes its multiple of 8 too
  set.status.push_back(s);
  EXPECT_EQ(set.AllocTriggerHandle(), 24);
  set.DeleteAll();
  EXPECT_EQ(set.AllocTriggerHandle(), 8) << "the counter starts over";
  EXPECT_EQ(set.AllocTriggerHandle(), 16);
}

TEST(TriggerHandles, RunOutOnlyWhenEverySixteenBitHandleIsTaken) {
  TQsTriggerSet set;
  for (std::int32_t h = 8; h <= kLargestTriggerHandle; h += 8) {
    TDataTrigger t;
    t.handle = h;
    set.data.push_back(t);
  }
  set.MoveCounterPastLiveHandles();
  EXPECT_EQ(set.AllocTriggerHandle(), kErrNoMoreTriggers);
  set.data.erase(set.data.begin() + 100);
  EXPECT_EQ(set.AllocTriggerHandle(), 8 * 101);
}

// Thousands of live triggers: each searched allocation must not rescan every trigger for every
// candidate handle (that took 20 s for 4095 allocations). The CPU bound only catches that blow-up.
TEST(TriggerHandles, SearchingPastThousandsOfLiveTriggersStaysLinear) {
  TQsTriggerSet set;
  for (int i = 1; i < kFirstSearchedCounter; ++i) {
    TDataTrigger t;
    t.handle = set.AllocTriggerHandle();
    set.data.push_back(t);
  }
  const std::clock_t start = std::clock();
  std::vector<bool> seen(kLargestTriggerHandle / 8 + 1);
  for (const auto& t : set.data) seen[t.handle / 8] = true;
  for (int i = 0; i < kFirstSearchedCounter - 1; ++i) {
    const std::int32_t handle = set.AllocTriggerHandle();
    ASSERT_GT(handle, 0);
    ASSERT_EQ(handle % 8, 0);
    ASSERT_FALSE(seen[handle / 8]) << "handle " << handle << " given twice";
    seen[handle / 8] = true;
    TTimerTrigger t;
    t.handle = handle;
    set.timers.push_back(t);
  }
  const double seconds = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
  EXPECT_LT(seconds, 5.0) << "the handle search is quadratic";
}

}  // namespace
