#include "app/ListingNames.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

using platform::TStringList;
using Names = std::vector<std::string>;

namespace {

using namespace std::string_literals;

std::string Repeat(char c, std::size_t n) { return std::string(n, c); }

TEST(ListingScan, FirstAndLastNotInFollowTheirStartRules) {
  const TCharSet ab{'a', 'b'};
  struct Case {
    std::string text;
    std::ptrdiff_t start;
    std::ptrdiff_t first;
    std::ptrdiff_t last;
  };
  const std::vector<Case> cases = {
      {"abxab", 1, 3, 0},   {"abxab", 3, 3, 3},   {"abxab", 4, 0, 3},  {"abxab", 0, 3, 3},
      {"abxab", -7, 3, 3},  {"abxab", 5, 0, 3},   {"abxab", 6, 0, 3},  {"abxab", 99, 0, 3},
      {"xabx", 2, 4, 1},    {"xabx", 4, 4, 4},    {"", 1, 0, 0},       {"", 0, 0, 0},
      {"abab", 1, 0, 0},    {"abab", 0, 0, 0},    {"x", 1, 1, 1},      {"a\0b"s, 1, 2, 0},
      {"a\0b"s, 0, 2, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.text) + " from " + std::to_string(c.start));
    EXPECT_EQ(FirstNotIn(ab, c.text, c.start), c.first);
    EXPECT_EQ(LastNotIn(ab, c.text, c.start), c.last);
  }
}

TEST(ListingScan, StripBlanksRemovesExactlyTheFourBlankCharacters) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"", ""},
      {" \t\r\n", ""},
      {"SetupORV.exe\r\n", "SetupORV.exe"},
      {"\ta b ", "a b"},
      {"  x  ", "x"},
      {"name\f", "name\f"},  // form feed, vertical tab, NUL and NBSP are not blanks
      {"\vname", "\vname"},
      {"\0name\0"s, "\0name\0"s},
      {" \xA0name\xA0 ", "\xA0name\xA0"},
      {"\x1b", "\x1b"},
  };
  for (const auto& [text, stripped] : cases) {
    SCOPED_TRACE(testing::PrintToString(text));
    EXPECT_EQ(StripBlanks(text), stripped);
  }
}

TEST(ListingToNames, TurnsListingsIntoOrderedNames) {
  const std::vector<std::pair<std::string, Names>> cases = {
      {"", {}},
      {"SetupORV.exe\r\n", {"SetupORV.exe"}},
      {"\r\n \r\n\t\n\r\r\n  ", {}},
      {"\ta b \r\n", {"a b"}},
      {"one\f\r\ntwo\v", {"one\f", "two\v"}},
      {"a.exe\nb.cab\rc.dat\r\nd.ini", {"a.exe", "b.cab", "c.dat", "d.ini"}},
      {"data.cab\r\nSetup.exe\r\ndata.cab\r\n", {"data.cab", "Setup.exe", "data.cab"}},
      {"nul\0inside\r\n"s, {"nul\0inside"s}},
      {"-rw-r--r-- 1 ftp ftp 12 Jan 1 a.txt\r\n", {"-rw-r--r-- 1 ftp ftp 12 Jan 1 a.txt"}},
      {".\r\n..\r\n", {".", ".."}},
  };
  for (const auto& [listing, names] : cases) {
    SCOPED_TRACE(testing::PrintToString(listing));
    TStringList target;
    ListingToNames(listing, target);
    EXPECT_EQ(target.Lines(), names);
  }
}

TEST(ListingToNames, AppendsToWhatTheListHolds) {
  TStringList target{"first"};
  ListingToNames("second\r\nthird", target);
  EXPECT_EQ(target.Lines(), (Names{"first", "second", "third"}));
}

TEST(ListingToNames, ReadsAtMost4096CharactersOfALine) {
  const std::vector<std::pair<std::string, Names>> cases = {
      {Repeat('a', 4096) + "\r\nnext", {Repeat('a', 4096), "next"}},
      {Repeat('a', 5000) + "\r\nnext", {Repeat('a', 4096), "next"}},
      {Repeat(' ', 4096) + "lost\nnext", {"next"}},  // blanks count towards the limit
      {" " + Repeat('b', 4095) + "c\rnext", {Repeat('b', 4095), "next"}},
      {Repeat('c', 4095) + " d", {Repeat('c', 4095)}},  // the cut leaves a trailing blank, stripped
  };
  for (const auto& [listing, names] : cases) {
    TStringList target;
    ListingToNames(listing, target);
    EXPECT_EQ(target.Lines(), names);
  }
}

// Names built from random bytes, padded with random blanks and joined by random line ends (with
// blank lines in between), must come back exactly and in order.
TEST(ListingToNames, RecoversRandomNamesFromRandomLayout) {
  std::mt19937 random(20240601);
  const std::string blanks = " \t";
  const std::vector<std::string> ends = {"\r\n", "\r", "\n", "\r\n\r\n", "\n \t\r", "\r\r\n"};
  for (int round = 0; round < 200; ++round) {
    Names names;
    std::string listing;
    const int count = static_cast<int>(random() % 20);
    for (int i = 0; i < count; ++i) {
      std::string name;
      const std::size_t length = 1 + random() % 64;
      while (name.size() < length) {
        const char c = static_cast<char>(random() % 256);
        if (c == '\r' || c == '\n') continue;
        name += c;
      }
      while (!name.empty() && blanks.find(name.front()) != std::string::npos) name.erase(0, 1);
      while (!name.empty() && blanks.find(name.back()) != std::string::npos) name.pop_back();
      if (name.empty()) continue;
      names.push_back(name);
      listing += Repeat(blanks[random() % 2], random() % 4) + name + Repeat(blanks[random() % 2], random() % 4);
      if (i + 1 < count || random() % 2 == 0) listing += ends[random() % ends.size()];
    }
    SCOPED_TRACE(testing::PrintToString(listing));
    TStringList target;
    ListingToNames(listing, target);
    ASSERT_EQ(target.Lines(), names);
  }
}

// Arbitrary bytes of any size parse without a fault and give only stripped, bounded, one-line names.
TEST(ListingToNames, AnyBytesGiveWellFormedNames) {
  std::mt19937 random(7);
  for (int round = 0; round < 50; ++round) {
    std::string listing(random() % 30000, '\0');
    for (char& c : listing) c = static_cast<char>(random() % 8 == 0 ? "\r\n \t"[random() % 4] : random() % 256);
    TStringList target;
    ListingToNames(listing, target);
    for (const std::string& name : target) {
      ASSERT_FALSE(name.empty());
      ASSERT_LE(name.size(), kMaxListingLineLength);
      ASSERT_EQ(name.find_first_of("\r\n"), std::string::npos);
      ASSERT_FALSE(BlankChars.Contains(name.front()));
      ASSERT_FALSE(BlankChars.Contains(name.back()));
    }
  }
  TStringList target;
  std::string big;
  for (int i = 0; i < 100000; ++i) big += "file" + std::to_string(i) + "\r\n";
  ListingToNames(big, target);
  ASSERT_EQ(target.Count(), 100000);
  EXPECT_EQ(target[99999], "file99999");
}

}  // namespace
