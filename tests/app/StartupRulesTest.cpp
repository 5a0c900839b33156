// The downloader's start-up rules outside the window: the command line, the staleness of a setup
// file, which listed names may be written, the server setting, the front end and stall settings,
// and entering the download folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <string>
#include <vector>

#include "app/FrontEndChoice.h"
#include "app/HeadlessRun.h"
#include "app/LocalFolder.h"
#include "app/LocalNames.h"
#include "app/RunTexts.h"
#include "app/ServerAddress.h"
#include "app/StartupRules.h"

namespace {

using namespace std::string_literals;

TEST(CommandLine, ProductAndLanguageFollowTheParameters) {
  struct Case {
    std::vector<std::string> params;
    std::string product;
    bool chinese;
  };
  const std::vector<Case> cases = {
      {{}, "ORV", true},
      {{"XYZ"}, "ORV", true},  // a single parameter is ignored
      {{"XYZ", "C"}, "XYZ", true},
      {{"XYZ", "c"}, "XYZ", false},
      {{"XYZ", "E"}, "XYZ", false},
      {{"XYZ", "Chinese"}, "XYZ", false},
      {{"XYZ", " C"}, "XYZ", false},
      {{"XYZ", "C", "E", "more"}, "XYZ", true},
      {{" xy ", "E"}, " xy ", false},  // verbatim, no trimming or case change
      {{"", "E"}, "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.params));
    const TCommandLine line = ReadCommandLine(c.params);
    EXPECT_EQ(line.productCode, c.product);
    EXPECT_EQ(line.useChinese, c.chinese);
    EXPECT_EQ(line.remoteFolder, "//" + c.product + "_program");
    EXPECT_EQ(line.setupFileName, "Setup" + c.product + ".exe");
  }
}

std::time_t LocalTime(int year, int month, int day, int hour, int minute) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_isdst = -1;
  return std::mktime(&t);
}

TEST(SetupFileAge, OlderThanThirtyDaysBeforeTodaysMidnightIsStale) {
  const std::time_t now = LocalTime(2017, 11, 11, 15, 30);
  struct Case {
    std::time_t written;
    bool stale;
  };
  const std::vector<Case> cases = {
      {LocalTime(2017, 10, 12, 0, 0), false},   {LocalTime(2017, 10, 11, 23, 59), true},
      {LocalTime(2017, 11, 11, 9, 0), false},   {LocalTime(2017, 1, 1, 0, 0), true},
      {LocalTime(2017, 10, 12, 23, 59), false}, {LocalTime(2018, 1, 1, 0, 0), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::ctime(&c.written));
    EXPECT_EQ(IsSetupFileStale(c.written, now), c.stale);
  }
}

TEST(ListedNames, OnlyPlainFileNamesAreWritten) {
  const std::vector<std::pair<std::string, bool>> cases = {
      {"SetupORV.exe", true}, {"a b.dat", true},   {"..data", true},        {"x..", true},
      {"", false},            {".", false},        {"..", false},           {"../evil", false},
      {"a/b", false},         {"/etc/passwd", false}, {"dir/", false},      {"a\\b", false},
      {"..\\evil", false},    {"a\0b"s, false},    {"\0"s, false},
  };
  for (const auto& [name, plain] : cases) {
    SCOPED_TRACE(name);
    EXPECT_EQ(IsPlainFileName(name), plain);
  }
}

TEST(ListedNames, OnlyTheDefaultSetupNameIsRenamed) {
  EXPECT_EQ(LocalNameFor("SetupORV.exe", "SetupXYZ.exe"), "SetupXYZ.exe");
  EXPECT_EQ(LocalNameFor("setuporv.exe", "SetupXYZ.exe"), "setuporv.exe");
  EXPECT_EQ(LocalNameFor("SetupORV.exe ", "SetupXYZ.exe"), "SetupORV.exe ");
  EXPECT_EQ(LocalNameFor("data.bin", "SetupXYZ.exe"), "data.bin");
  EXPECT_EQ(LocalNameFor("SetupORV.exe", "SetupORV.exe"), "SetupORV.exe");
}

TEST(ServerSettingTest, TheEnvironmentOverridesTheBuiltInServer) {
  struct Case {
    const char* value;
    std::string address;
    std::string port;
    bool tls = false;
  };
  const std::vector<Case> cases = {
      {nullptr, kBuiltInServerAddress, "ftp"}, {"", kBuiltInServerAddress, "ftp"},
      {"127.0.0.1", "127.0.0.1", "ftp"},       {"127.0.0.1:2121", "127.0.0.1", "2121"},
      {"mirror.local:", "mirror.local", "ftp"}, {"host:ftp", "host", "ftp"},
      {"ftps://host", "host", "ftp", true},    {"FTPS://host:2990/", "host", "2990", true},
      {"ftp://host:2121", "host", "2121"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value == nullptr ? "unset" : c.value);
    const TServerSetting setting = ServerSetting(c.value);
    EXPECT_EQ(setting.address, c.address);
    EXPECT_EQ(setting.port, c.port);
    EXPECT_EQ(setting.tls, c.tls);
  }
}

TEST(FrontEndChoiceTest, TheSettingWinsElseADisplayMeansQt) {
  using K = TFrontEndKind;
  struct Case {
    const char* ui;
    const char* display;
    const char* wayland;
    bool qt;
    K expected;
  };
  const std::vector<Case> cases = {
      {nullptr, nullptr, nullptr, true, K::Headless}, {nullptr, ":0", nullptr, true, K::Qt},
      {nullptr, nullptr, "wayland-0", true, K::Qt},   {nullptr, "", "", true, K::Headless},
      {"headless", ":0", nullptr, true, K::Headless}, {"qt", nullptr, nullptr, true, K::Qt},
      {"other", ":0", nullptr, true, K::Qt},          {"other", nullptr, nullptr, true, K::Headless},
      {"qt", ":0", nullptr, false, K::Headless},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.ui ? c.ui : "-") + " " + (c.display ? c.display : "-") + " " + (c.wayland ? c.wayland : "-"));
    EXPECT_EQ(ChooseFrontEnd(c.ui, c.display, c.wayland, c.qt), c.expected);
  }
}

TEST(StallSecondsTest, APositiveNumberElseTheDefault) {
  const std::vector<std::pair<const char*, int>> cases = {
      {nullptr, 200}, {"", 200}, {"5", 5}, {"0", 200}, {"-3", 200}, {"7s", 200}, {"abc", 200}, {"600", 600}};
  for (const auto& [value, seconds] : cases) {
    SCOPED_TRACE(value == nullptr ? "unset" : value);
    EXPECT_EQ(StallSeconds(value), seconds);
  }
}

// The default stall limit outlasts the program's transfer time-out (3000 ticks of 55 ms), so
// that a server that stops answering ends as a time-out, not as a stall.
TEST(StallSecondsTest, TheDefaultOutlastsTheTransferTimeOut) { EXPECT_GT(kDefaultStallSeconds * 1000, 3000 * 55); }

TEST(ProductCode, ALineBreakOrNulIsRefusedAtStartUp) {
  const std::vector<std::pair<std::string, bool>> cases = {
      {"ORV", true},         {"XYZ-2", true},           {"X\r\nDELE y", false}, {"X\nDELE y", false},
      {"X\rY", false},       {std::string("X\0Y", 3), false}, {"", true}};
  for (const auto& [code, usable] : cases) {
    SCOPED_TRACE(code);
    EXPECT_EQ(ProductCodeProblem(code).empty(), usable);
  }
}

TEST(LocalFolderTest, AFolderThatCannotBeEnteredIsToldAndTheProgramFolderUsed) {
  struct Case {
    std::string downloadFolder;
    std::vector<std::string> enterable;
    std::string expectedFolder;
    bool warned;
  };
  const std::vector<Case> cases = {
      {"/c/Quillstage", {"/c/Quillstage/", "/prog/"}, "/c/Quillstage/", false},
      {"", {"/prog/"}, "/prog/", false},  // no download folder: the program's own, silently
      {"/c/Quillstage", {"/prog/"}, "/prog/", true},
      {"/c/Quillstage", {}, "/prog/", true},
      {"", {}, "/prog/", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.downloadFolder + " enterable " + testing::PrintToString(c.enterable));
    std::vector<std::string> entered;
    const TLocalFolderChoice choice = EnterLocalFolder(c.downloadFolder, "/prog/", [&](const std::string& folder) {
      entered.push_back(folder);
      return std::find(c.enterable.begin(), c.enterable.end(), folder) != c.enterable.end();
    });
    EXPECT_EQ(choice.localFolder, c.expectedFolder);
    EXPECT_EQ(!choice.warning.empty(), c.warned) << choice.warning;
    ASSERT_FALSE(entered.empty());
    EXPECT_EQ(entered.back(), c.expectedFolder);
    if (c.warned && !c.downloadFolder.empty()) {
      EXPECT_NE(choice.warning.find(c.downloadFolder), std::string::npos);
    }
  }
}

TEST(RunTextsTest, EveryTextExistsInBothLanguages) {
  for (int i = 0; i < rtRunTextCount; ++i) {
    SCOPED_TRACE(i);
    const auto text = static_cast<TRunText>(i);
    EXPECT_FALSE(RunText(text, false).empty());
    EXPECT_FALSE(RunText(text, true).empty());
    EXPECT_NE(RunText(text, false), RunText(text, true));
  }
  EXPECT_EQ(RunText(rtDownloading, false), "Downloading...");
  EXPECT_EQ(RunText(rtLoggedOut, true), "已登出系統");
}

}  // namespace
