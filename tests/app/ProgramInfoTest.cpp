// --help, -h and --version as the only parameter print and end with 0 without a window or a
// connection; every other command line is a run, whose rules stay as they were.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/ProgramInfo.h"
#include "app/StartupRules.h"

namespace {

enum class Answer { Run, Usage, Version };

struct InfoCase {
  const char* name;
  std::vector<std::string> params;
  Answer answer;
};

void PrintTo(const InfoCase& c, std::ostream* os) { *os << c.name; }

class ProgramInfo : public testing::TestWithParam<InfoCase> {};

TEST_P(ProgramInfo, OnlyALoneOptionIsAnswered) {
  const InfoCase& c = GetParam();
  const std::optional<std::string> text = ProgramInfoRequest(c.params);
  switch (c.answer) {
    case Answer::Run:
      EXPECT_FALSE(text.has_value()) << *text;
      break;
    case Answer::Usage:
      ASSERT_TRUE(text.has_value());
      EXPECT_EQ(*text, UsageText());
      break;
    case Answer::Version:
      ASSERT_TRUE(text.has_value());
      EXPECT_EQ(*text, VersionText());
      break;
  }
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, ProgramInfo,
    testing::Values(InfoCase{"Help", {"--help"}, Answer::Usage}, InfoCase{"ShortHelp", {"-h"}, Answer::Usage},
                    InfoCase{"Version", {"--version"}, Answer::Version}, InfoCase{"NoParameters", {}, Answer::Run},
                    InfoCase{"OneProduct", {"XYZ"}, Answer::Run},
                    // With a second parameter the positional rules hold: "-h" is a product code.
                    InfoCase{"HelpAsProduct", {"-h", "C"}, Answer::Run},
                    InfoCase{"VersionAsLanguage", {"XYZ", "--version"}, Answer::Run},
                    InfoCase{"OtherCase", {"--HELP"}, Answer::Run}, InfoCase{"Prefix", {"--help="}, Answer::Run},
                    InfoCase{"SingleDash", {"-help"}, Answer::Run}),
    [](const testing::TestParamInfo<InfoCase>& info) { return std::string(info.param.name); });

TEST(ProgramInfo, AProductCalledLikeAnOptionIsStillAProduct) {
  const TCommandLine line = ReadCommandLine({"-h", "C"});
  EXPECT_EQ(line.productCode, "-h");
  EXPECT_TRUE(line.useChinese);
}

TEST(ProgramInfo, UsageNamesEveryEnvironmentVariableAndExitCode) {
  const std::string usage = UsageText();
  for (const char* part : {"QUILLSTAGE_FTP_SERVER", "QUILLSTAGE_DRIVE_C", "QUILLSTAGE_UI", "QUILLSTAGE_ANSWER",
                           "QUILLSTAGE_STALL_SECONDS", "QUILLSTAGE_RESOURCES", "QUILLSTAGE_SERIAL_DIR", "~/Quillstage",
                           "\n  0  ", "\n  1  ", "\n  2  ", "\n  3  "}) {
    EXPECT_NE(usage.find(part), std::string::npos) << part;
  }
  EXPECT_EQ(VersionText().rfind("setup-downloader ", 0), 0u);
}

}  // namespace
