// The main window's start-up in this process: the command line's choices, the download folder on
// drive C, the stale setup file, the status text and the caption, and the language button.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <utime.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/uGetUpdateFile.h"
#include "lang/MLang.h"
#include "platform/DateTime.h"
#include "platform/Files.h"
#include "ui/ComCtrls.h"
#include "ui/FileCtrls.h"
#include "ui/StdCtrls.h"

namespace {

namespace fs = std::filesystem;

const std::string kEnglishCaption = "Program Installation System  (Updated on 2017/10/12)";
const std::string kChineseCaption = "軟件安裝糸統  (Updated on 2017/10/12)";

class StartupWindow : public testing::Test {
 protected:
  void SetUp() override {
    driveC_ = fs::temp_directory_path() / ("qs-startup-" + std::to_string(getpid()));
    fs::create_directories(driveC_);
    setenv("QUILLSTAGE_DRIVE_C", driveC_.c_str(), 1);
    download_ = (driveC_ / "Quillstage").string();
  }
  void TearDown() override {
    window_.reset();
    SetGlobalLanguage(0);
    fs::current_path(fs::temp_directory_path());
    unsetenv("QUILLSTAGE_DRIVE_C");
    fs::remove_all(driveC_);
  }

  TGetUpdateFile& Start(std::vector<std::string> params) {
    window_ = TGetUpdateFile::Create(std::move(params));
    return *window_;
  }
  std::string Status() { return window_->StatusBar1().SimpleText(); }

  // A setup file in the download folder, last written daysAgo days before now.
  std::time_t PutSetupFile(const std::string& name, int daysAgo) {
    fs::create_directories(download_);
    std::ofstream(download_ + "/" + name) << "#!/bin/sh\n";
    const std::time_t when = std::time(nullptr) - static_cast<std::time_t>(daysAgo) * 24 * 3600;
    const utimbuf times{when, when};
    EXPECT_EQ(utime((download_ + "/" + name).c_str(), &times), 0);
    return when;
  }

  fs::path driveC_;
  std::string download_;
  std::unique_ptr<TGetUpdateFile> window_;
};

TEST_F(StartupWindow, TheCommandLineChoosesProductAndLanguage) {
  struct Case {
    std::vector<std::string> params;
    bool chinese;
    std::string remoteFolder;
    std::string setupFile;
    std::string caption;
    std::string exitText;
  };
  const std::vector<Case> cases = {
      {{}, true, "//ORV_program", "SetupORV.exe", kChineseCaption, "離開"},
      {{"XYZ"}, true, "//ORV_program", "SetupORV.exe", kChineseCaption, "離開"},
      {{"XYZ", "C"}, true, "//XYZ_program", "SetupXYZ.exe", kChineseCaption, "離開"},
      {{"XYZ", "E"}, false, "//XYZ_program", "SetupXYZ.exe", kEnglishCaption, "Exit"},
      {{"XYZ", "c"}, false, "//XYZ_program", "SetupXYZ.exe", kEnglishCaption, "Exit"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.params));
    TGetUpdateFile& window = Start(c.params);
    EXPECT_EQ(window.UseChinese(), c.chinese);
    EXPECT_EQ(window.RemoteFolder(), c.remoteFolder);
    EXPECT_EQ(window.SetupFileName(), c.setupFile);
    EXPECT_EQ(window.Caption(), c.caption);
    EXPECT_EQ(window.FindComponent("btnExit")->GetProperty("Caption").AsString(), c.exitText);
    EXPECT_EQ(window.LocalFolder(), download_ + "/");
    EXPECT_EQ(fs::current_path().string(), download_);
    EXPECT_EQ(dynamic_cast<ui::TFileListBox&>(*window.FindComponent("FileListBox1")).Directory(), download_);
    EXPECT_EQ(Status(), platform::ProgramFolder());  // no setup file
    EXPECT_TRUE(window.PendingFiles().IsEmpty());
    EXPECT_EQ(window.ReceivedCount(), 0);
  }
}

TEST_F(StartupWindow, ASetupFileOlderThanThirtyDaysIsDeletedAndAFreshOneKept) {
  struct Case {
    int daysAgo;
    bool kept;
  };
  for (const Case c : {Case{31, false}, Case{0, true}, Case{29, true}}) {
    SCOPED_TRACE(c.daysAgo);
    const std::time_t written = PutSetupFile("SetupXYZ.exe", c.daysAgo);
    Start({"XYZ", "E"});
    platform::SetShortDateFormat("yyyy/mm/dd");
    EXPECT_EQ(Status(), platform::ProgramFolder() + "SetupXYZ.exe downloaded on " + platform::DateToStr(written));
    EXPECT_EQ(fs::exists(download_ + "/SetupXYZ.exe"), c.kept);
    fs::remove(download_ + "/SetupXYZ.exe");
  }
  // Another product's setup file is not this product's: it stays whatever its age.
  PutSetupFile("SetupORV.exe", 40);
  Start({"XYZ", "E"});
  EXPECT_EQ(Status(), platform::ProgramFolder());
  EXPECT_TRUE(fs::exists(download_ + "/SetupORV.exe"));
}

TEST_F(StartupWindow, WithoutADownloadFolderTheProgramsOwnFolderIsUsed) {
  // Drive C is a plain file, so no folder can be made on it.
  const fs::path file = driveC_ / "not-a-folder";
  std::ofstream(file) << "x";
  setenv("QUILLSTAGE_DRIVE_C", file.c_str(), 1);
  TGetUpdateFile& window = Start({});
  EXPECT_EQ(window.LocalFolder(), platform::ProgramFolder());
  EXPECT_EQ(platform::IncludeTrailingSlash(fs::current_path().string()), platform::ProgramFolder());
  EXPECT_TRUE(window.PendingFiles().IsEmpty());
}

TEST_F(StartupWindow, TheLanguageButtonSwitchesBackAndForthButTheCaptionLosesItsDate) {
  TGetUpdateFile& window = Start({"ORV", "E"});
  auto& label4 = dynamic_cast<ui::TLabel&>(*window.FindComponent("Label4"));
  window.BitBtn1Click(&window);
  EXPECT_TRUE(window.UseChinese());
  EXPECT_EQ(label4.Caption(), "檔案列表");
  EXPECT_EQ(window.Caption(), "軟件安裝糸統");
  window.BitBtn1Click(&window);
  EXPECT_FALSE(window.UseChinese());
  EXPECT_EQ(label4.Caption(), "Files List");
  EXPECT_EQ(window.Caption(), "Program Installation System");
  // The connection closing puts the start-up caption back.
  window.QsFtpClient1FtpStatus(&window.Client(), fsDisconnected, nullptr);
  EXPECT_EQ(window.Caption(), kEnglishCaption);
}

}  // namespace
