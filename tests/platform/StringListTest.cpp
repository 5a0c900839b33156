#include "platform/StringList.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "platform/SysUtils.h"

using platform::TStringList;
using Lines = std::vector<std::string>;

namespace {

using namespace std::string_literals;

TEST(StringListText, SplitsAtEveryKindOfLineEnd) {
  const std::vector<std::pair<std::string, Lines>> cases = {
      {"", {}},
      {"a", {"a"}},
      {"a\r\n", {"a"}},
      {"a\r\nb", {"a", "b"}},
      {"a\r\nb\r\n", {"a", "b"}},
      {"a\nb\rc\r\nd", {"a", "b", "c", "d"}},
      {"\r\n", {""}},
      {"\r\n\r\n", {"", ""}},
      {"\n\r", {"", ""}},         // LF then a lone CR: two line ends
      {"a\r\r\nb", {"a", "", "b"}},
      {"\r", {""}},
      {"a\n\nb\n", {"a", "", "b"}},
      {"a\0b\r\n\0"s, {"a\0b"s, "\0"s}},  // NUL is an ordinary byte
      {" a \t\r\n", {" a \t"}},
  };
  for (const auto& [text, lines] : cases) {
    SCOPED_TRACE(testing::PrintToString(text));
    TStringList list;
    list.Add("left over");
    list.SetText(text);
    EXPECT_EQ(list.Lines(), lines);
  }
}

TEST(StringListText, EndsEveryLineWithCrLfAndRoundTrips) {
  const std::vector<std::pair<Lines, std::string>> cases = {
      {{}, ""},
      {{""}, "\r\n"},
      {{"a", "b"}, "a\r\nb\r\n"},
      {{"", "x", ""}, "\r\nx\r\n\r\n"},
      {{"a\0b"s}, "a\0b\r\n"s},
  };
  for (const auto& [lines, text] : cases) {
    SCOPED_TRACE(testing::PrintToString(text));
    const TStringList list(lines);
    EXPECT_EQ(list.Text(), text);
    TStringList back;
    back.SetText(list.Text());
    EXPECT_EQ(back, list);
  }
}

TEST(StringListEditing, AddInsertDeleteAndReplaceKeepOrder) {
  TStringList list;
  EXPECT_EQ(list.Add("b"), 0);
  EXPECT_EQ(list.Add("d"), 1);
  list.Insert(0, "a");
  list.Insert(2, "c");
  list.Insert(4, "e");  // at Count: appends
  EXPECT_EQ(list.Lines(), (Lines{"a", "b", "c", "d", "e"}));
  list.Delete(1);
  list.Delete(3);
  list.SetStrings(0, "A");
  EXPECT_EQ(list.Lines(), (Lines{"A", "c", "d"}));
  EXPECT_EQ(list[2], "d");
  EXPECT_EQ(list.Count(), 3);
  list.Clear();
  EXPECT_TRUE(list.IsEmpty());
}

TEST(StringListEditing, RefusesIndexesOutOfBounds) {
  struct Case {
    const char* what;
    std::function<void(TStringList&)> action;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"read -1", [](TStringList& l) { (void)l[-1]; }, "List index out of bounds (-1)"},
      {"read Count", [](TStringList& l) { (void)l.Strings(2); }, "List index out of bounds (2)"},
      {"replace Count", [](TStringList& l) { l.SetStrings(2, "x"); }, "List index out of bounds (2)"},
      {"insert past Count", [](TStringList& l) { l.Insert(3, "x"); }, "List index out of bounds (3)"},
      {"insert -1", [](TStringList& l) { l.Insert(-1, "x"); }, "List index out of bounds (-1)"},
      {"delete Count", [](TStringList& l) { l.Delete(2); }, "List index out of bounds (2)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TStringList list{"a", "b"};
    try {
      c.action(list);
      ADD_FAILURE() << "no exception";
    } catch (const platform::Exception& e) {
      EXPECT_EQ(e.Message(), c.message);
    }
    EXPECT_EQ(list.Lines(), (Lines{"a", "b"}));
  }
}

TEST(StringListSearch, IndexOfIgnoresCaseUnlessAskedNotTo) {
  TStringList list{"Setup.exe", "readme.txt", "SETUP.EXE"};
  EXPECT_EQ(list.IndexOf("setup.EXE"), 0);
  EXPECT_EQ(list.IndexOf("README.TXT"), 1);
  EXPECT_EQ(list.IndexOf("readme"), -1);
  list.SetCaseSensitive(true);
  EXPECT_EQ(list.IndexOf("SETUP.EXE"), 2);
  EXPECT_EQ(list.IndexOf("setup.exe"), -1);
}

TEST(StringListSearch, SameTextFoldsOnlyAsciiLetters) {
  const std::vector<std::tuple<std::string, std::string, bool>> cases = {
      {"Button1", "BUTTON1", true},  {"", "", true},          {"a", "", false},
      {"ab", "abc", false},          {"[", "{", false},       {"@", "`", false},
      {"\xC4", "\xE4", false},       {"a\0b"s, "A\0B"s, true}, {"a\0b"s, "a\0c"s, false},
  };
  for (const auto& [a, b, same] : cases) {
    SCOPED_TRACE(a + " / " + b);
    EXPECT_EQ(platform::SameText(a, b), same);
  }
}

TEST(StringListCommaText, SplitsRecordsAtCommasAndBlanks) {
  const std::vector<std::pair<std::string, Lines>> cases = {
      {"", {}},
      {"a", {"a"}},
      {"a,b", {"a", "b"}},
      {"label1,16.104.140.137,16.104.140.137", {"label1", "16.104.140.137", "16.104.140.137"}},
      {"a,,b", {"a", "", "b"}},
      {"a,", {"a", ""}},
      {",a", {"", "a"}},
      {"a b", {"a", "b"}},  // an unquoted blank separates too
      {"  a ,  b  ", {"a", "b"}},
      {"\"a b\",c", {"a b", "c"}},
      {"\"say \"\"hi\"\"\"", {"say \"hi\""}},
      {"\"\",x", {"", "x"}},
      {"\"open", {"open"}},  // a quote left open runs to the end
  };
  for (const auto& [text, lines] : cases) {
    SCOPED_TRACE(text);
    TStringList list{"left over"};
    list.SetCommaText(text);
    EXPECT_EQ(list.Lines(), lines);
  }
}

TEST(StringListCommaText, QuotesWhatWouldNotSurviveAndRoundTrips) {
  const std::vector<std::pair<Lines, std::string>> cases = {
      {{}, ""},
      {{"a", "b"}, "a,b"},
      {{"%Form%", "1.2.3.4"}, "%Form%,1.2.3.4"},
      {{"", "x"}, "\"\",x"},
      {{"a b", "c,d", "e\"f", "g\th"}, "\"a b\",\"c,d\",\"e\"\"f\",\"g\th\""},
  };
  for (const auto& [lines, text] : cases) {
    SCOPED_TRACE(text);
    const TStringList list(lines);
    EXPECT_EQ(list.CommaText(), text);
    TStringList back;
    back.SetCommaText(list.CommaText());
    EXPECT_EQ(back.Lines(), lines);
  }
}

}  // namespace
