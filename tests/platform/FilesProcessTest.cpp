#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/DateTime.h"
#include "platform/Files.h"
#include "platform/Process.h"
#include "tests/support/FtpServers.h"

using namespace platform;
namespace fs = std::filesystem;

namespace {

// Sets an environment variable for one scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old, had_ = true;
    if (value)
      setenv(name, value, 1);
    else
      unsetenv(name);
  }
  ~ScopedEnv() {
    if (had_)
      setenv(name_, old_.c_str(), 1);
    else
      unsetenv(name_);
  }

 private:
  const char* name_;
  std::string old_;
  bool had_ = false;
};

struct PathCase {
  const char* driveC;  // QUILLSTAGE_DRIVE_C, or null
  const char* home;
  const char* windows;
  const char* linux;
};

class WindowsPaths : public ::testing::TestWithParam<PathCase> {};

TEST_P(WindowsPaths, MapDriveCOntoItsFolder) {
  const PathCase& c = GetParam();
  ScopedEnv drive("QUILLSTAGE_DRIVE_C", c.driveC);
  ScopedEnv home("HOME", c.home);
  EXPECT_EQ(MapWindowsPath(c.windows), c.linux);
}

INSTANTIATE_TEST_SUITE_P(
    Files, WindowsPaths,
    ::testing::Values(PathCase{nullptr, "/home/ann", "C:\\Quillstage", "/home/ann/Quillstage"},
                      PathCase{"/srv/c", "/home/ann", "C:\\Quillstage\\SetupORV.exe", "/srv/c/Quillstage/SetupORV.exe"},
                      PathCase{"/srv/c/", "/home/ann", "c:\\Quillstage", "/srv/c/Quillstage"},
                      PathCase{"", "/home/ann", "C:\\", "/home/ann/"},
                      PathCase{"/", "/home/ann", "C:\\Quillstage", "/Quillstage"},
                      PathCase{nullptr, "/home/ann", "D:\\data", "D:/data"}));

TEST(Files, FoldersFilesAndTimes) {
  std::string root = ftpserver::MakeTempDir("qs-files-");
  std::string deep = root + "/a/b/c";
  EXPECT_TRUE(ForceDirectories(deep));
  EXPECT_TRUE(DirectoryExists(deep));
  EXPECT_FALSE(FileExists(deep)) << "a folder is no file";
  std::string file = deep + "/SetupORV.exe";
  ftpserver::WriteFile(file, "x");
  ASSERT_TRUE(FileExists(file));
  auto age = FileAge(file);
  ASSERT_TRUE(age.has_value());
  EXPECT_LE(std::abs(std::time(nullptr) - *age), 5);
  EXPECT_TRUE(DeleteFile(file));
  EXPECT_FALSE(FileAge(file).has_value());
  EXPECT_FALSE(ForceDirectories("/proc/no/such/place"));
  EXPECT_EQ(IncludeTrailingSlash("/tmp"), "/tmp/");
  EXPECT_EQ(ProgramFolder().back(), '/');
  ftpserver::RemoveTree(root);
}

struct FormatCase {
  const char* pattern;
  const char* expected;
};

class DateFormats : public ::testing::TestWithParam<FormatCase> {};

TEST_P(DateFormats, FormatLocalTime) {
  ScopedEnv tz("TZ", "UTC");
  tzset();
  const std::time_t t = 1507813509;  // 2017-10-12 13:05:09 UTC
  EXPECT_EQ(FormatDateTime(GetParam().pattern, t), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(DateTime, DateFormats,
                         ::testing::Values(FormatCase{"yyyy/mm/dd", "2017/10/12"}, FormatCase{"yy-m-d", "17-10-12"},
                                           FormatCase{"hh:nn:ss", "13:05:09"}, FormatCase{"h:mm", "13:05"},
                                           FormatCase{"dd.mm.yyyy hh:nn", "12.10.2017 13:05"}));

TEST(DateTime, LongTimeIsLeftOutAtMidnight) {
  ScopedEnv tz("TZ", "UTC");
  tzset();
  SetShortDateFormat("yyyy/mm/dd");
  EXPECT_EQ(DateTimeToStr(1507766400), "2017/10/12") << "midnight";
  EXPECT_EQ(DateTimeToStr(1507766401), "2017/10/12 00:00:01");
  EXPECT_EQ(StartOfDay(1507813509), 1507766400);
}

// ---- Starting programs --------------------------------------------------------------------------

class StartProgramTest : public ::testing::Test {
 protected:
  void SetUp() override { folder_ = ftpserver::MakeTempDir("qs-start-"); }
  void TearDown() override { ftpserver::RemoveTree(folder_); }
  std::string Write(const std::string& name, const std::string& content, mode_t mode) {
    std::string path = folder_ + "/" + name;
    ftpserver::WriteFile(path, content);
    chmod(path.c_str(), mode);
    return path;
  }
  bool AppearsSoon(const std::string& path) {
    for (int i = 0; i < 200; ++i) {
      if (fs::exists(path)) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }
  std::string folder_;
};

TEST_F(StartProgramTest, StartsAScriptInItsFolderAfterMakingItExecutable) {
  std::string script = Write("setup.sh", "#!/bin/sh\npwd > started.txt\n", 0644);
  std::string error;
  ASSERT_TRUE(StartProgram(script, folder_, error)) << error;
  ASSERT_TRUE(AppearsSoon(folder_ + "/started.txt"));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  std::ifstream in(folder_ + "/started.txt");
  std::string cwd;
  std::getline(in, cwd);
  EXPECT_EQ(fs::canonical(cwd), fs::canonical(folder_));
}

TEST_F(StartProgramTest, FailuresAreToldNotDropped) {
  std::string error;
  EXPECT_FALSE(StartProgram(folder_ + "/missing.exe", folder_, error));
  EXPECT_NE(error.find("missing.exe"), std::string::npos);

  std::string windows = Write("SetupORV.exe", "MZ\x90\x00 not really", 0644);
  {
    ScopedEnv path("PATH", folder_.c_str());  // no wine here
    error.clear();
    EXPECT_FALSE(StartProgram(windows, folder_, error));
    EXPECT_NE(error.find("wine"), std::string::npos);
  }

  std::string garbage = Write("garbage.bin", "\x01\x02\x03 not a program", 0755);
  error.clear();
  EXPECT_FALSE(StartProgram(garbage, folder_, error)) << "the exec's failure comes back";
  EXPECT_FALSE(error.empty());
}

}  // namespace
