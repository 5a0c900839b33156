// The fast data-trigger scan against the plain one it replaces: every received byte fed to every
// live trigger in list order. Both run over the same random triggers, streams and cuts of the
// stream; the hits (position, longest pattern, triggers in notification order) and the counters
// left behind must be the same.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "comm/QsDataScan.h"
#include "comm/QsTriggers.h"

namespace {

// The plain matcher, kept as it was so that a change to the real one is caught here as well.
bool PlainMatchByte(std::int32_t* partial, std::uint8_t b, int len, bool ignoreCase, const std::uint8_t* pattern) {
  if (ignoreCase && b >= 'a' && b <= 'z') b = static_cast<std::uint8_t>(b - 32);
  bool result = false, started = false, examine = true;
  for (int i = 0; i < len; ++i) {
    if (examine) {
      if (pattern[partial[i]] == b) {
        if (partial[i] == len - 1) {
          result = true;
          std::fill(partial, partial + kMaxPatternLength, 0);
        } else {
          ++partial[i];
        }
      } else if (pattern[0] == b && !started) {
        started = true;
        partial[i] = 1;
      } else {
        partial[i] = 0;
      }
    }
    if (partial[i] == 1) started = true;
    if (i == len - 1) break;
    examine = started ? partial[i + 1] != 0 : (partial[i + 1] != 0 || pattern[0] == b);
  }
  return result;
}

struct THit {
  std::size_t pos;
  int longest;
  std::vector<std::int32_t> handles;  // in notification order: last created first
  bool operator==(const THit&) const = default;
};

// What a notification pass does to the flags: every matched trigger is told and cleared.
std::vector<std::int32_t> Notify(std::vector<TDataTrigger>& triggers) {
  std::vector<std::int32_t> handles;
  for (auto t = triggers.rbegin(); t != triggers.rend(); ++t) {
    if (!t->matched) continue;
    handles.push_back(t->handle);
    t->matched = 0;
  }
  return handles;
}

void PlainScan(std::vector<TDataTrigger>& triggers, const std::string& chunk, std::size_t base,
               std::vector<THit>& hits) {
  for (std::size_t i = 0; i < chunk.size(); ++i) {
    const auto b = static_cast<std::uint8_t>(chunk[i]);
    bool hit = false;
    int longest = 0;
    for (TDataTrigger& t : triggers) {
      if (t.len == 0) continue;
      if (!t.matched) t.matched = PlainMatchByte(t.partial, b, t.len, t.ignoreCase != 0, t.pattern) ? -1 : 0;
      if (t.matched && t.len > longest) longest = t.len;
      hit = hit || t.matched;
    }
    if (hit) hits.push_back({base + i, longest, Notify(triggers)});
  }
}

void FastScan(TQsDataScanner& scanner, std::vector<TDataTrigger>& triggers, const std::string& chunk,
              std::size_t base, std::vector<THit>& hits) {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(chunk.data());
  const int count = static_cast<int>(chunk.size());
  int at = 0;
  scanner.Prepare(triggers);
  while (at < count) {
    const TDataScanStop stop = scanner.Scan(bytes + at, count - at);
    ASSERT_GT(stop.scanned, 0);
    at += stop.scanned;
    if (!stop.hit) {
      ASSERT_EQ(at, count);
      break;
    }
    hits.push_back({base + static_cast<std::size_t>(at - 1), stop.longest, Notify(triggers)});
    scanner.Prepare(triggers);
  }
}

// Letters of both cases, line ends, a byte above 127 and 0, so that case folding, repeated
// prefixes and overlaps all occur often.
const std::string kAlphabet = std::string("aAbBc\r\nx\xE9") + '\0';

std::string RandomText(std::mt19937& rng, std::size_t len, const std::string& alphabet) {
  std::string s(len, ' ');
  for (char& c : s) c = alphabet[rng() % alphabet.size()];
  return s;
}

TDataTrigger MakeTrigger(std::int32_t handle, const std::string& pattern, bool ignoreCase) {
  TDataTrigger t;
  t.handle = handle;
  t.len = static_cast<std::int32_t>(pattern.size());
  t.ignoreCase = ignoreCase ? 1 : 0;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    const auto b = static_cast<std::uint8_t>(pattern[i]);
    t.pattern[i] = ignoreCase ? UpperCaseByte(b) : b;
  }
  return t;
}

struct TShape {
  const char* name;
  int maxTriggers;
  int maxPatternLen;
  std::string alphabet;  // of the patterns; the stream uses kAlphabet and, now and then, this
  bool startsHalfway;    // counters fed a random prefix, some triggers left matched
  bool clearsBetweenCuts;
  std::size_t stateBytes = 0;  // the scanner's memory for learnt states (0: the usual)
  bool changesTriggersBetweenCuts = false;  // as creating and deleting triggers does
  int rounds = 300;
  std::size_t streamLimit = 2000;  // streams are shorter than this
};

// One edit of the trigger list, the same on both sides: a trigger made, deleted or replaced.
void ChangeTriggers(std::mt19937& rng, const TShape& shape, std::vector<TDataTrigger>& plain,
                    std::vector<TDataTrigger>& fast) {
  const std::size_t len = 1 + rng() % static_cast<unsigned>(shape.maxPatternLen);
  const TDataTrigger made = MakeTrigger(8 * (100 + static_cast<int>(rng() % 100)), RandomText(rng, len, shape.alphabet),
                                        rng() % 2 == 0);
  const std::size_t k = rng() % plain.size();
  switch (rng() % 3) {
    case 0:
      plain.push_back(made);
      fast.push_back(made);
      break;
    case 1:
      if (plain.size() > 1) {
        plain.erase(plain.begin() + static_cast<std::ptrdiff_t>(k));
        fast.erase(fast.begin() + static_cast<std::ptrdiff_t>(k));
      }
      break;
    default:
      plain[k] = fast[k] = made;
  }
}

class DataScanDifferential : public testing::TestWithParam<TShape> {};

TEST_P(DataScanDifferential, SameHitsAndCountersAsThePlainScan) {
  const TShape& shape = GetParam();
  std::mt19937 rng(20261209);
  for (int round = 0; round < shape.rounds; ++round) {
    std::vector<TDataTrigger> triggers;
    const int n = 1 + static_cast<int>(rng() % static_cast<unsigned>(shape.maxTriggers));
    for (int k = 0; k < n; ++k) {
      const std::size_t len = rng() % 9 == 0 ? 0 : 1 + rng() % static_cast<unsigned>(shape.maxPatternLen);
      std::string pattern = RandomText(rng, len, shape.alphabet);
      if (rng() % 4 == 0 && len > 1) pattern.assign(len - 1, pattern[0]).push_back(pattern.back());  // aaab
      triggers.push_back(MakeTrigger(8 * (k + 1), pattern, rng() % 2 == 0));
    }
    if (shape.startsHalfway) {
      std::vector<THit> ignored;
      PlainScan(triggers, RandomText(rng, rng() % 40, shape.alphabet), 0, ignored);
      for (TDataTrigger& t : triggers)
        if (t.len != 0 && rng() % 5 == 0) t.matched = -1;
    }
    std::vector<TDataTrigger> plain = triggers, fast = triggers;
    std::string stream = RandomText(rng, rng() % shape.streamLimit, rng() % 2 ? kAlphabet : shape.alphabet);
    std::vector<THit> plainHits, fastHits;
    TQsDataScanner scanner(shape.stateBytes);
    for (std::size_t at = 0; at < stream.size();) {
      const std::size_t cut = std::min(stream.size() - at, 1 + rng() % 300);
      const std::string chunk = stream.substr(at, cut);
      PlainScan(plain, chunk, at, plainHits);
      FastScan(scanner, fast, chunk, at, fastHits);
      at += cut;
      if (shape.changesTriggersBetweenCuts && rng() % 2 == 0) ChangeTriggers(rng, shape, plain, fast);
      if (shape.clearsBetweenCuts && rng() % 3 == 0) {  // as a flush of the input does
        for (auto* set : {&plain, &fast})
          for (TDataTrigger& t : *set) std::fill(t.partial, t.partial + kMaxPatternLength, 0);
      }
    }
    SCOPED_TRACE(testing::Message() << shape.name << " round " << round);
    ASSERT_EQ(fastHits, plainHits);
    for (std::size_t k = 0; k < plain.size(); ++k) {
      ASSERT_TRUE(std::equal(plain[k].partial, plain[k].partial + kMaxPatternLength, fast[k].partial)) << "trigger " << k;
      ASSERT_EQ(plain[k].matched, fast[k].matched) << "trigger " << k;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    DataScan, DataScanDifferential,
    testing::Values(TShape{"one short trigger", 1, 3, "aAb", false, false},
                    TShape{"sixteen short triggers", 16, 4, "aAbB\r\n", false, false},
                    TShape{"sixteen long triggers", 16, kMaxPatternLength, "ab", false, false},
                    TShape{"two letters, overlapping", 6, 6, "aa", true, false},
                    TShape{"started halfway", 16, 8, "aAbc\r", true, false},
                    TShape{"flushed between cuts", 8, 8, "abAB", true, true},
                    TShape{"bytes the stream rarely has", 16, 5, "\xE9\n", false, false},
                    // Patterns sharing first bytes that the stream is full of, so that matches are
                    // in progress at most bytes.
                    TShape{"frequent starts", 16, 6, "aaAb", false, false},
                    TShape{"frequent starts, long patterns", 16, kMaxPatternLength, "aAa\r", true, false},
                    TShape{"frequent starts, flushed", 16, 10, "aab", true, true},
                    // Room for few states: the learnt ones are dropped and learnt again mid-stream.
                    TShape{"frequent starts, little memory", 16, 8, "aAbB", true, false, 8 * 1024},
                    // The same scanner after triggers were made, deleted or replaced mid-stream.
                    TShape{"triggers changed between cuts", 8, 6, "aAb", true, false, 0, true},
                    // Long streams through more states than the memory holds: the scanner gives the
                    // states up midway and goes on the plain way.
                    TShape{"states given up", 16, kMaxPatternLength, "ab", false, false, 16 * 1024, false, 6, 400000}),
    [](const testing::TestParamInfo<TShape>& info) {
      std::string name = info.param.name;
      std::replace_if(name.begin(), name.end(), [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); }, '_');
      return name;
    });

// With no trigger at all, or only inert ones, the scan takes the whole run and reports nothing.
TEST(DataScan, NothingToMatchTakesTheWholeRun) {
  std::vector<TDataTrigger> none;
  std::vector<TDataTrigger> inert = {MakeTrigger(8, "", false)};
  const std::string text(100, 'a');
  for (auto* set : {&none, &inert}) {
    TQsDataScanner scanner;
    scanner.Prepare(*set);
    const TDataScanStop stop = scanner.Scan(reinterpret_cast<const std::uint8_t*>(text.data()), 100);
    EXPECT_EQ(stop.scanned, 100);
    EXPECT_FALSE(stop.hit);
  }
}

}  // namespace
