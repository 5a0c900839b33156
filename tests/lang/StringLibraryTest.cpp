// The string library: its file format, and how a window's Loaded takes its word table from it.
#include "lang/StringLibrary.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "lang/MLang.h"
#include "tests/lang/LangTestSupport.h"
#include "ui/StdCtrls.h"

namespace {

TEST(StringLibraryFormat, ReadsNumberedStrings) {
  const TStringLibrary library = TStringLibrary::Parse(
      "# comment\n"
      "\n"
      "1000 \"%C:\\\\src\\\\TMain\"   # after the text\r\n"
      "  -5 \"tab\\there \\\"quoted\\\"\"\n"
      "7 \"\"\n",
      "lib.txt");
  EXPECT_EQ(library.String(1000), "%C:\\src\\TMain");
  EXPECT_EQ(library.String(-5), "tab\there \"quoted\"");
  EXPECT_EQ(library.String(7), "");
  EXPECT_FALSE(library.String(8).has_value());
}

TEST(StringLibraryFormat, CutsLongStringsAtWholeCharacters) {
  const TStringLibrary library = TStringLibrary::Parse("1 \"ab語c\"\n", "lib.txt");
  EXPECT_EQ(library.String(1, 3), "ab語");
  EXPECT_EQ(library.String(1, 2), "ab");
  EXPECT_EQ(library.String(1, 300), "ab語c");
}

TEST(StringLibraryFormat, RejectsBadLinesWithTheirLineNumber) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"1 \"a\"\nx \"b\"\n", "lib.txt:2: a string id was expected"},
      {"1 a\n", "lib.txt:1: a quoted text was expected"},
      {"1 \"open\n", "lib.txt:1: the text is not closed"},
      {"1 \"\\q\"\n", "lib.txt:1: an unknown escape"},
      {"1 \"a\" b\n", "lib.txt:1: unexpected text after the string"},
      {"1 \"a\"\n\n1 \"b\"\n", "lib.txt:3: the id 1 is used twice"},
      {"99999999999 \"a\"\n", "lib.txt:1: a string id was expected"},
  };
  for (const auto& [text, message] : cases) {
    SCOPED_TRACE(text);
    try {
      TStringLibrary::Parse(text, "lib.txt");
      ADD_FAILURE() << "accepted";
    } catch (const platform::Exception& error) {
      EXPECT_EQ(error.Message(), message);
    }
  }
}

class StringLibraryLoading : public LangTest {
 protected:
  void SetUp() override {
    LangTest::SetUp();
    folder = std::filesystem::temp_directory_path() / ("qs-strlib-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    label = Add<ui::TLabel>("Label1");
    label->SetCaption("stored");
    SetWords({"Label1", "zero", "one"});
  }
  void TearDown() override {
    LangTest::TearDown();
    std::filesystem::remove_all(folder);
  }
  std::string Write(const std::string& text) {
    const std::filesystem::path path = folder / "strings.txt";
    std::ofstream(path, std::ios::binary) << text;
    return path.string();
  }

  std::filesystem::path folder;
  ui::TLabel* label = nullptr;
};

TEST_F(StringLibraryLoading, AMatchingEntryReplacesTheWordTable) {
  struct Case {
    const char* what;
    std::string library;
    std::vector<std::string> words;
  };
  const std::vector<Case> cases = {
      {"by class name, after a short and a foreign entry",
       "1000 \"ab\"\n1100 \"%other\\\\TOther\"\n1101 \"Label1\"\n1200 \"%c:\\\\src\\\\TTestWindow\"\n"
       "1201 \"Label1\"\n1202 \"from library\"\n1203 \"\"\n1204 \"ignored\"\n",
       {"Label1", "from library"}},
      {"by window name", "1000 \"$Window1\"\n1001 \"Label1\"\n1002 \"by name\"\n", {"Label1", "by name"}},
      {"an empty text inside a group is kept",
       "1000 \"$window1\"\n1001 \"Label1\"\n1002 \"\"\n1003 \"%Form%\"\n1004 \"F\"\n1005 \"\"\n",
       {"Label1", "", "%Form%", "F"}},
      {"a library that ends inside a group ends the table",
       "1000 \"$Window1\"\n1001 \"Label1\"\n1002 \"x\"\n1003 \"Label2\"\n", {"Label1", "x", "Label2"}},
      {"no match leaves the table", "1000 \"$Other\"\n1001 \"Label1\"\n1002 \"no\"\n", {"Label1", "zero", "one"}},
      {"a gap in the ids ends the search", "1000 \"$Other\"\n1200 \"$Window1\"\n1201 \"Label1\"\n1202 \"no\"\n",
       {"Label1", "zero", "one"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    lang->SetLanguages(2);
    SetWords({"Label1", "zero", "one"});
    SetStringLibraryName(Write(c.library));
    lang->Loaded();
    EXPECT_EQ(lang->Words().Lines(), c.words);
    if (c.words.size() == 2 && c.words[1] != "one") {
      EXPECT_EQ(lang->Languages(), 1);
      EXPECT_EQ(label->Caption(), c.words[1]);
    }
  }
}

TEST_F(StringLibraryLoading, AMissingLibraryIsCutToItsFileName) {
  SetStringLibraryName((folder / "absent" / "strings.txt").string());
  lang->Loaded();
  EXPECT_EQ(StringLibraryName(), "strings.txt");
  EXPECT_EQ(lang->Words().Count(), 3);
}

TEST_F(StringLibraryLoading, AnUnreadableLibraryRaisesTheLoadError) {
  const std::string path = Write("1000 broken\n");
  SetStringLibraryName(path);
  try {
    lang->Loaded();
    ADD_FAILURE() << "loaded";
  } catch (const platform::Exception& error) {
    EXPECT_EQ(error.Message(), "Cannot load string DLL \"" + path + "\".");
  }
}

}  // namespace
