// The whole download run in the Qt window, on Qt's offscreen platform, against pyftpdlib on
// loopback: Download clicked on the real button, the files arriving on disk, in the received-files
// memo and in the folder's file list, the status bar following the run, and the end-of-run question
// answered in its message box while our messages keep flowing: No leaves the window idle, Yes starts
// the setup program.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QStatusBar>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/HeadlessRun.h"
#include "app/uGetUpdateFile.h"
#include "lang/MLang.h"
#include "tests/support/FtpServers.h"
#include "ui/qt/QtFrontEnd.h"

namespace {

namespace fs = std::filesystem;

const std::string kSetupScript = "#!/bin/sh\necho \"setup started\" > \"$(pwd)/setup-ran\"\n";
const std::string kData = "sample data\n";
const std::string kBig = ftpserver::PatternBytes(300 * 1024 + 7, 5);

constexpr int kGuardExpired = 99;

struct Case {
  std::vector<std::string> params;
  QMessageBox::StandardButton answer;
  std::string question;
  std::string completed;  // the status text after the last file
  std::string loggedOut;
};

void PrintTo(const Case& c, std::ostream* os) { *os << (c.answer == QMessageBox::Yes ? "answer Yes" : "answer No"); }

class DownloadRunQt : public testing::TestWithParam<Case> {
 protected:
  void SetUp() override {
    root_ = ftpserver::MakeTempDir("qs-qtrun-root-");
    driveC_ = ftpserver::MakeTempDir("qs-qtrun-c-");
    download_ = driveC_ + "/Quillstage";
    ftpserver::WriteFile(root_ + "/ORV_program/SetupORV.exe", kSetupScript);
    ftpserver::WriteFile(root_ + "/ORV_program/a.dat", kData);
    ftpserver::WriteFile(root_ + "/ORV_program/b.bin", kBig);
    ftpserver::Options options;
    options.root = root_;
    std::string reason;
    server_ = ftpserver::Server::Start(ftpserver::Kind::Pyftpdlib, options, reason);
    ASSERT_TRUE(server_) << reason;
    setenv("QUILLSTAGE_FTP_SERVER", ("127.0.0.1:" + std::to_string(server_->Port())).c_str(), 1);
    setenv("QUILLSTAGE_DRIVE_C", driveC_.c_str(), 1);
  }
  void TearDown() override {
    unsetenv("QUILLSTAGE_FTP_SERVER");
    unsetenv("QUILLSTAGE_DRIVE_C");
    SetGlobalLanguage(0);
    fs::current_path(fs::temp_directory_path());
    server_.reset();
    ftpserver::RemoveTree(root_);
    ftpserver::RemoveTree(driveC_);
  }

  std::string root_, driveC_, download_;
  std::unique_ptr<ftpserver::Server> server_;
};

// Answers the first message box that opens with the case's button, and remembers its texts.
struct Answerer {
  QMessageBox::StandardButton answer;
  std::vector<std::string> boxes;
  void Look() {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr || !box->isVisible()) return;
    boxes.push_back(box->windowTitle().toStdString() + " | " + box->text().toStdString());
    if (QAbstractButton* button = box->button(answer)) button->click();
  }
};

bool WaitForFile(const std::string& path) {
  for (int waited = 0; waited < 10000 && !fs::exists(path); waited += 50)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  return fs::exists(path);
}

TEST_P(DownloadRunQt, DownloadClickedInTheWindowFetchesEveryFileAndAsksTheQuestion) {
  const Case& c = GetParam();
  qtfront::QtFrontEnd front;
  // Ends the loop with the unattended program's exit code once the run's outcome is known.
  THeadlessRun outcome(front, kDefaultStallSeconds, std::cerr);
  std::unique_ptr<TGetUpdateFile> window = TGetUpdateFile::Create(c.params, &outcome);
  front.Present(*window);
  const auto widget = [&](const char* name) { return front.WidgetOf(dynamic_cast<ui::TControl&>(*window->FindComponent(name))); };

  auto* status = qobject_cast<QStatusBar*>(widget("StatusBar1"));
  ASSERT_NE(status, nullptr);
  std::vector<std::string> statuses;
  QObject::connect(status, &QStatusBar::messageChanged,
                   [&statuses](const QString& text) { statuses.push_back(text.toStdString()); });
  Answerer answerer{c.answer, {}};
  QTimer looker;
  QObject::connect(&looker, &QTimer::timeout, [&answerer] { answerer.Look(); });
  looker.start(20);
  auto* download = qobject_cast<QAbstractButton*>(widget("btnFileDownload"));
  ASSERT_NE(download, nullptr);
  QWidget* shown = front.WidgetOf(*window);
  ASSERT_NE(shown, nullptr);
  const QPoint place = shown->pos();
  QTimer::singleShot(0, download, &QAbstractButton::click);
  // A run that never ends fails the test instead of hanging it.
  QTimer::singleShot(60000, [&front] { front.Quit(kGuardExpired); });
  EXPECT_EQ(front.Run(), kExitAllReceived);

  EXPECT_EQ(answerer.boxes, std::vector<std::string>{"Confirm | " + c.question});
  EXPECT_EQ(ftpserver::ReadFile(download_ + "/SetupORV.exe"), kSetupScript);
  EXPECT_EQ(ftpserver::ReadFile(download_ + "/a.dat"), kData);
  EXPECT_EQ(ftpserver::ReadFile(download_ + "/b.bin"), kBig);
  auto* received = qobject_cast<QPlainTextEdit*>(widget("Memo1"));
  ASSERT_NE(received, nullptr);
  EXPECT_EQ(received->toPlainText().toStdString(), "SetupORV.exe\na.dat\nb.bin");
  auto* files = qobject_cast<QListWidget*>(widget("FileListBox1"));
  ASSERT_NE(files, nullptr);
  std::vector<std::string> listed;
  for (int i = 0; i < files->count(); ++i) listed.push_back(files->item(i)->text().toStdString());
  EXPECT_EQ(listed, (std::vector<std::string>{"a.dat", "b.bin", "SetupORV.exe"}));
  auto* listing = qobject_cast<QPlainTextEdit*>(widget("InfoMemo"));
  ASSERT_NE(listing, nullptr);
  EXPECT_NE(listing->toPlainText().toStdString().find("SetupORV.exe"), std::string::npos);
  // The status bar followed the run: the last file done, then logged out before the question.
  const auto at = [&statuses](const std::string& text) { return std::find(statuses.begin(), statuses.end(), text); };
  ASSERT_NE(at(c.completed), statuses.end());
  ASSERT_NE(at(c.loggedOut), statuses.end());
  EXPECT_LT(at(c.completed), at(c.loggedOut));
  EXPECT_EQ(status->currentMessage().toStdString(), c.loggedOut);
  EXPECT_EQ(window->ReceivedCount(), 3);
  if (c.answer == QMessageBox::No) {
    // The run changed the caption and ended with a question: the window is still shown, in place.
    EXPECT_TRUE(shown->isVisible());
    EXPECT_EQ(shown->pos(), place);
  }
  if (c.answer == QMessageBox::Yes) {
    ASSERT_TRUE(WaitForFile(download_ + "/setup-ran"));
    EXPECT_EQ(ftpserver::ReadFile(download_ + "/setup-ran"), "setup started\n");
  } else {
    EXPECT_FALSE(fs::exists(download_ + "/setup-ran"));
  }
  window->DoDestroy();
}

INSTANTIATE_TEST_SUITE_P(
    Answers, DownloadRunQt,
    testing::Values(Case{{}, QMessageBox::No, "所需檔案已下載完成, 現在開始安裝軟件?", "b.bin 下載完成", "已登出系統"},
                    Case{{"ORV", "E"}, QMessageBox::Yes,
                         "Required files had been completely downloaded, install program now?", "b.bin Download completed",
                         "Logged out"}),
    [](const testing::TestParamInfo<Case>& info) { return info.param.answer == QMessageBox::Yes ? "Yes" : "No"; });

}  // namespace
