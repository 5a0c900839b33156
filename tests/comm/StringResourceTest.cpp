// The "STR0" tables: the compiled-in tables against their sources, the generator on tricky and
// broken sources, the reader on malformed tables, text conversion, and concurrent lookups.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "comm/QsExcept.h"
#include "comm/QsStrRes.h"
#include "platform/Resources.h"

namespace {

constexpr platform::HMODULE kTestModule = 0x7E57;

std::string ThrownMessage(const std::function<void()>& action) {
  try {
    action();
  } catch (const EQsStringResourceError& e) {
    return e.Message();
  }
  return "<nothing thrown>";
}

// Writes a table in the "STR0" layout, entries in the order given.
std::vector<std::uint8_t> MakeTable(const std::vector<std::pair<std::int32_t, std::u16string>>& entries) {
  std::vector<std::uint8_t> out = {'S', 'T', 'R', '0'};
  auto put = [&out](std::uint32_t v) {
    for (int s = 0; s < 32; s += 8) out.push_back(static_cast<std::uint8_t>(v >> s));
  };
  put(static_cast<std::uint32_t>(entries.size()));
  std::uint32_t offset = static_cast<std::uint32_t>(8 + 12 * entries.size());
  for (const auto& [id, text] : entries) {
    put(static_cast<std::uint32_t>(id));
    put(offset);
    put(static_cast<std::uint32_t>(text.size()));
    offset += static_cast<std::uint32_t>(2 * text.size());
  }
  for (const auto& entry : entries)
    for (char16_t u : entry.second) out.insert(out.end(), {static_cast<std::uint8_t>(u & 0xFF), static_cast<std::uint8_t>(u >> 8)});
  return out;
}

void PutU32At(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t v) {
  for (int s = 0; s < 32; s += 8) bytes[at + static_cast<std::size_t>(s / 8)] = static_cast<std::uint8_t>(v >> s);
}

// Registers bytes under the test module for the lifetime of the object.
class RegisteredTable {
 public:
  RegisteredTable(std::string name, std::vector<std::uint8_t> bytes, platform::HMODULE module = kTestModule)
      : name_(std::move(name)), bytes_(std::move(bytes)), module_(module) {
    platform::RegisterRawResource(module_, name_, bytes_);
  }
  ~RegisteredTable() { platform::UnregisterRawResource(module_, name_); }

 private:
  std::string name_;
  std::vector<std::uint8_t> bytes_;
  platform::HMODULE module_;
};

// ---- The compiled-in tables ---------------------------------------------------------------------

struct KnownText {
  std::int32_t id;
  const char* text;
};

TEST(StringResource, ErrorTableHoldsTheEngineTexts) {
  const KnownText cases[] = {
      {0, "OK"},
      {2, "File not found"},
      {162, "General failure"},
      {1009, "Component not compatible with WinSock"},
      {3007, "Buffer is empty"},
      {5506, "Packet too long"},
      {9004, "Winsock not initialized - %s"},
      {10037, "WSAEALREADY: watch out, Al is ready"},
      {11004, "Valid name, but no data record of requested type"},
      {15121, "Sent WON'T"},
      {15501, "Time      Type      SubType       Data      OtherData"},
      {15601, "DCTS "},
      {15608, "DCD "},
      {15742, "Character Set"},
  };
  for (const KnownText& c : cases) {
    SCOPED_TRACE(c.id);
    EXPECT_EQ(ErrorTexts().TextById(c.id), c.text);
  }
  EXPECT_EQ(ErrorTexts().TextById(1), "");
  EXPECT_EQ(ErrorTexts().TextById(-2), "");
}

TEST(StringResource, ReaderTableHoldsTheReaderTexts) {
  const KnownText cases[] = {{1, "String not found: %d"},
                             {2, "Cannot lock resource"},
                             {3, "String resource not found: %s"},
                             {4, "Unable to open string resource: %s"},
                             {5, "Invalid string table resource"}};
  for (const KnownText& c : cases) EXPECT_EQ(ResourceReaderTexts().TextById(c.id), c.text) << c.id;
  EXPECT_EQ(ResourceReaderTexts().Ids(), (std::vector<std::int32_t>{1, 2, 3, 4, 5}));
}

// An independent reading of the text sources: `<id> "<text>"` lines with \" \\ \t \r \n escapes.
std::map<std::int32_t, std::string> ReadSource(const std::string& path) {
  std::ifstream in(path);
  std::map<std::int32_t, std::string> entries;
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::int32_t id = 0;
    if (line.empty() || line[0] == '#' || !(fields >> id)) continue;
    const std::size_t open = line.find('"');
    std::string text;
    for (std::size_t i = open + 1; i < line.size() && line[i] != '"'; ++i) {
      if (line[i] != '\\') {
        text += line[i];
        continue;
      }
      const char e = line[++i];
      text += e == 't' ? '\t' : e == 'r' ? '\r' : e == 'n' ? '\n' : e;
    }
    entries[id] = text;
  }
  return entries;
}

TEST(StringResource, CompiledTablesHoldExactlyTheSourceEntries) {
  struct Table {
    const char* name;
    const char* source;
  };
  for (const Table& t : {Table{"QS_ERROR_STRINGS_ENGLISH", "QsErrorStrings.txt"}, Table{"QSSTRRES_STRINGS", "QsStrResStrings.txt"}}) {
    SCOPED_TRACE(t.name);
    const auto source = ReadSource(std::string(QS_RESOURCES_DIR) + "/" + t.source);
    ASSERT_FALSE(source.empty());
    TQsStringResource reader(platform::kMainModule, t.name);
    std::vector<std::int32_t> sourceIds;
    for (const auto& [id, text] : source) {
      sourceIds.push_back(id);
      EXPECT_EQ(reader.TextById(id), text) << id;
    }
    EXPECT_EQ(reader.Ids(), sourceIds);

    // The layout: index right after the header, texts back to back in index order to the end.
    std::span<const std::uint8_t> bytes;
    ASSERT_EQ(platform::FindRawResource(platform::kMainModule, t.name, bytes), platform::ResourceLookup::Found);
    auto u32 = [&](std::size_t at) { return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | std::uint32_t{bytes[at + 3]} << 24; };
    ASSERT_EQ(u32(4), source.size());
    std::uint32_t expectedOffset = static_cast<std::uint32_t>(8 + 12 * source.size());
    for (std::size_t i = 0; i < source.size(); ++i) {
      EXPECT_EQ(u32(8 + 12 * i + 4), expectedOffset) << "entry " << i;
      expectedOffset += 2 * u32(8 + 12 * i + 8);
    }
    EXPECT_EQ(expectedOffset, bytes.size());
  }
}

TEST(StringResource, ErrorTableHasTheFirstTextWhereTheIndexEnds) {
  // 249 entries are kept (status texts of absent features are left out): texts start at 8 + 12 * 249.
  std::span<const std::uint8_t> bytes;
  ASSERT_EQ(platform::FindRawResource(platform::kMainModule, "QS_ERROR_STRINGS_ENGLISH", bytes),
            platform::ResourceLookup::Found);
  EXPECT_EQ(ErrorTexts().Ids().size(), 249u);
  EXPECT_EQ(bytes[8 + 4] | bytes[8 + 5] << 8, 2996);
}

// ---- The generator ----------------------------------------------------------------------------

class Generator : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() / ("strtable_gen_test_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  // Runs the generator on one source; returns its exit status, fills errors with its messages.
  int Run(const std::string& source, std::string& errors) {
    const auto sourcePath = dir_ / "source.txt";
    std::ofstream(sourcePath, std::ios::binary) << source;
    const std::string command = std::string(QS_STRTABLE_GEN) + " " + Output().string() + " TEST_TABLE=" +
                                sourcePath.string() + " 2> " + (dir_ / "errors.txt").string();
    const int status = std::system(command.c_str());
    std::ifstream in(dir_ / "errors.txt");
    errors.assign(std::istreambuf_iterator<char>(in), {});
    return status;
  }

  std::filesystem::path Output() const { return dir_ / "out.cpp"; }

  // The bytes of the first table of the generated source.
  std::vector<std::uint8_t> GeneratedBytes() const {
    std::ifstream in(Output());
    std::string content((std::istreambuf_iterator<char>(in)), {});
    std::size_t pos = content.find("kTable0[] = {");
    std::vector<std::uint8_t> bytes;
    if (pos == std::string::npos) return bytes;
    std::istringstream numbers(content.substr(pos + 13, content.find("};", pos) - pos - 13));
    unsigned value = 0;
    char comma = 0;
    while (numbers >> value >> comma) bytes.push_back(static_cast<std::uint8_t>(value));
    return bytes;
  }

  std::filesystem::path dir_;
};

TEST_F(Generator, TrickySourceRoundTripsThroughTheReader) {
  const std::string source =
      "# comment line\n"
      "\n"
      "  30 \"quote \\\" backslash \\\\ tab \\t cr \\r lf \\n\"   # trailing comment\r\n"
      "-7\t\"negative id\"\n"
      "2147483647 \"largest\"\n"
      "-2147483648 \"smallest\"\n"
      "12 \"\xC3\xA9t\xC3\xA9 \xE4\xB8\xAD \xF0\x9F\x98\x80\"\n"
      "5 \"\"\n"
      "11 \"# not a comment\"\n";
  std::string errors;
  ASSERT_EQ(Run(source, errors), 0) << errors;
  RegisteredTable table("GENERATED", GeneratedBytes());
  TQsStringResource reader(kTestModule, "GENERATED");
  EXPECT_EQ(reader.Ids(), (std::vector<std::int32_t>{INT32_MIN, -7, 5, 11, 12, 30, INT32_MAX}));
  EXPECT_EQ(reader.TextById(30), "quote \" backslash \\ tab \t cr \r lf \n");
  EXPECT_EQ(reader.TextById(-7), "negative id");
  EXPECT_EQ(reader.TextById(INT32_MAX), "largest");
  EXPECT_EQ(reader.TextById(INT32_MIN), "smallest");
  EXPECT_EQ(reader.TextById(12), "\xC3\xA9t\xC3\xA9 \xE4\xB8\xAD \xF0\x9F\x98\x80");
  EXPECT_EQ(reader.TextById(5), "");
  EXPECT_EQ(reader.TextById(11), "# not a comment");
}

TEST_F(Generator, BrokenSourcesFailWithFileAndLine) {
  struct Case {
    const char* what;
    const char* source;
    int line;
  };
  const Case cases[] = {
      {"duplicate id", "1 \"a\"\n# x\n1 \"b\"\n", 3},
      {"unknown escape", "1 \"a\"\n2 \"bad \\q\"\n", 2},
      {"no closing quote", "1 \"open\n", 1},
      {"backslash at the end", "1 \"open\\\n", 1},
      {"no blank after id", "1\"a\"\n", 1},
      {"no text", "1\n", 1},
      {"no id", "\"a\"\n", 1},
      {"id too large", "2147483648 \"a\"\n", 1},
      {"id too small", "-2147483649 \"a\"\n", 1},
      {"junk after text", "1 \"a\" b\n", 1},
      {"raw control character", "1 \"a\tb\"\n", 1},
      {"invalid UTF-8", "1 \"\xC3\x28\"\n", 1},
      {"overlong UTF-8", "1 \"\xC0\xAF\"\n", 1},
      {"encoded surrogate", "1 \"\xED\xA0\x80\"\n", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove(Output());
    std::string errors;
    EXPECT_NE(Run(c.source, errors), 0);
    EXPECT_NE(errors.find("source.txt:" + std::to_string(c.line) + ":"), std::string::npos) << errors;
    EXPECT_FALSE(std::filesystem::exists(Output()));
  }
}

// ---- Opening tables -----------------------------------------------------------------------------

TEST(StringResource, MalformedTablesAreRefused) {
  const std::vector<std::uint8_t> good = MakeTable({{1, u"one"}, {2, u"two"}});
  struct Case {
    const char* what;
    std::function<void(std::vector<std::uint8_t>&)> damage;
  };
  const Case cases[] = {
      {"wrong magic", [](auto& b) { b[3] = '1'; }},
      {"empty", [](auto& b) { b.clear(); }},
      {"truncated header", [](auto& b) { b.resize(7); }},
      {"index past the end", [](auto& b) { b.resize(8 + 12 + 6); }},
      {"huge count", [](auto& b) { PutU32At(b, 4, 0xFFFFFFFFu); }},
      {"count one too many", [](auto& b) { PutU32At(b, 4, 3); }},
      {"text past the end", [](auto& b) { b.pop_back(); }},
      {"huge text length", [](auto& b) { PutU32At(b, 8 + 12 + 8, 0x80000000u); }},
      {"huge text offset", [](auto& b) { PutU32At(b, 8 + 4, 0xFFFFFFF0u); }},
      {"text inside the header", [](auto& b) { PutU32At(b, 8 + 4, 0); }},
      {"ids not ascending", [](auto& b) { PutU32At(b, 8 + 12, 1); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::uint8_t> bytes = good;
    c.damage(bytes);
    RegisteredTable table("DAMAGED", bytes);
    EXPECT_EQ(ThrownMessage([] { TQsStringResource reader(kTestModule, "DAMAGED"); }), "Invalid string table resource");
  }
  RegisteredTable table("GOOD", good);
  EXPECT_EQ(TQsStringResource(kTestModule, "GOOD").TextById(2), "two");
}

TEST(StringResource, MissingAndUnloadableTablesAreRefusedWithTheirName) {
  EXPECT_EQ(ThrownMessage([] { TQsStringResource reader(kTestModule, "NO_SUCH_TABLE"); }),
            "String resource not found: NO_SUCH_TABLE");
  platform::RegisterUnloadableResource(kTestModule, "LOCKED_TABLE");
  EXPECT_EQ(ThrownMessage([] { TQsStringResource reader(kTestModule, "LOCKED_TABLE"); }),
            "Unable to open string resource: LOCKED_TABLE");
  platform::UnregisterRawResource(kTestModule, "LOCKED_TABLE");
}

TEST(StringResource, FallsBackToTheMainModuleAndUsesAtMost255CharactersOfTheName) {
  TQsStringResource fromMain(kTestModule, "QSSTRRES_STRINGS");
  EXPECT_EQ(fromMain.TextById(5), "Invalid string table resource");

  const std::string name(255, 'N');
  RegisteredTable table(name, MakeTable({{7, u"seven"}}));
  EXPECT_EQ(TQsStringResource(kTestModule, name + "IGNORED").TextById(7), "seven");
}

TEST(StringResource, EmptyNameGivesAnEmptyReaderThatCannotBeRead) {
  TQsStringResource reader(kTestModule, "");
  EXPECT_EQ(ThrownMessage([&] { reader.TextById(1); }), "Cannot lock resource");
}

TEST(StringResource, MissingIdIsEmptyUnlessFailOnMissing) {
  RegisteredTable table("SMALL", MakeTable({{-5, u"minus five"}, {0, u"zero"}, {9, u"nine"}}));
  TQsStringResource reader(kTestModule, "SMALL");
  EXPECT_FALSE(reader.FailOnMissing());
  for (std::int32_t id : {-6, -4, 1, 8, 10, INT32_MIN, INT32_MAX}) EXPECT_EQ(reader.TextById(id), "") << id;
  EXPECT_EQ(reader.TextById(-5), "minus five");
  EXPECT_EQ(reader.TextById(9), "nine");
  reader.SetFailOnMissing(true);
  EXPECT_EQ(ThrownMessage([&] { reader.TextById(12345); }), "String not found: 12345");
  EXPECT_EQ(reader.TextById(0), "zero");
}

TEST(StringResource, EmptyTableHasNoTexts) {
  RegisteredTable table("EMPTY", MakeTable({}));
  TQsStringResource reader(kTestModule, "EMPTY");
  EXPECT_EQ(reader.TextById(0), "");
  EXPECT_TRUE(reader.Ids().empty());
}

TEST(StringResource, ConvertsUtf16ToUtf8AndReplacesLoneSurrogates) {
  struct Case {
    std::u16string utf16;
    std::string utf8;
  };
  const std::vector<Case> cases = {
      {u"plain", "plain"},
      {u"\u00E9", "\xC3\xA9"},
      {u"\u4E2D\u6587", "\xE4\xB8\xAD\xE6\x96\x87"},
      {u"\U0001F600", "\xF0\x9F\x98\x80"},
      {std::u16string{0xD83D}, "\xEF\xBF\xBD"},
      {std::u16string{0xDE00, u'x'}, "\xEF\xBF\xBDx"},
      {std::u16string{0xD83D, u'A'}, "\xEF\xBF\xBD" "A"},
      {std::u16string{0xDE00, 0xD83D}, "\xEF\xBF\xBD\xEF\xBF\xBD"},
      {std::u16string{u'a', 0}, std::string("a\0", 2)},
  };
  std::vector<std::pair<std::int32_t, std::u16string>> entries;
  for (std::size_t i = 0; i < cases.size(); ++i) entries.emplace_back(static_cast<std::int32_t>(i), cases[i].utf16);
  RegisteredTable table("UNICODE", MakeTable(entries));
  TQsStringResource reader(kTestModule, "UNICODE");
  for (std::size_t i = 0; i < cases.size(); ++i) EXPECT_EQ(reader.TextById(static_cast<std::int32_t>(i)), cases[i].utf8) << i;
}

TEST(StringResource, ConcurrentLookupsSeeTheRightTexts) {
  const std::vector<std::pair<std::int32_t, std::string>> expected = {
      {0, "OK"}, {3007, "Buffer is empty"}, {10061, "The attempt to connect was forcibly refused"},
      {15742, "Character Set"}, {15601, "DCTS "}, {4242, ""}};
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 5000; ++i) {
        const auto& [id, text] = expected[static_cast<std::size_t>(i + t) % expected.size()];
        if (ErrorTexts().TextById(id) != text) ++wrong;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
