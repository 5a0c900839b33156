// The setup-downloader program end to end, headless, against real FTP servers on loopback
// (pyftpdlib, and vsftpd where it can run): the whole run with the default product and with
// another, a refused file, an empty listing, the stale setup file, names that would leave the
// download folder, and the exit codes for a refused connection, an unresolvable address and a
// server that never answers.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utime.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/app/DownloaderProcess.h"
#include "tests/support/FtpServers.h"
#include "tests/support/LoopbackPeer.h"
#include "tests/support/RealPeers.h"
#include "tests/support/ScriptServer.h"

namespace {

namespace fs = std::filesystem;
using e2e::ProgramResult;
using ftpserver::Kind;


std::string Pattern(std::size_t size) { return ftpserver::PatternBytes(size, 99); }

// The sample product's setup program: a shell script that leaves a marker where it was started.
const std::string kSetupScript = "#!/bin/sh\necho \"setup started\" > \"$(pwd)/setup-ran\"\n";
const std::string kData = "sample data\n";
const std::string kBig = Pattern(100 * 1024 + 3);

bool WaitForFile(const std::string& path, int limitMs) {
  for (int waited = 0; waited < limitMs; waited += 50) {
    if (fs::exists(path)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return fs::exists(path);
}

class Downloader : public testing::TestWithParam<Kind> {
 protected:
  void SetUp() override {
    root_ = ftpserver::MakeTempDir("qs-e2e-root-");
    driveC_ = ftpserver::MakeTempDir("qs-e2e-c-");
    download_ = driveC_ + "/Quillstage";
  }
  void TearDown() override {
    server_.reset();
    ftpserver::RemoveTree(root_);
    ftpserver::RemoveTree(driveC_);
  }

  void MakeProduct(const std::string& code) {
    const std::string folder = root_ + "/" + code + "_program";
    ftpserver::WriteFile(folder + "/SetupORV.exe", kSetupScript);
    ftpserver::WriteFile(folder + "/a.dat", kData);
    ftpserver::WriteFile(folder + "/b.bin", kBig);
  }
  // Starts the server; false (and the test skipped) when it cannot run here.
  bool StartServer() {
    ftpserver::Options options;
    options.root = root_;
    std::string reason;
    server_ = ftpserver::Server::Start(GetParam(), options, reason);
    if (!server_) {
      skipReason_ = reason;
      return false;
    }
    return true;
  }
  ProgramResult Run(const std::vector<std::string>& args, const std::string& answer = "no") {
    return e2e::RunDownloader(args, {{"QUILLSTAGE_FTP_SERVER", "127.0.0.1:" + std::to_string(server_->Port())},
                                     {"QUILLSTAGE_DRIVE_C", driveC_},
                                     {"QUILLSTAGE_ANSWER", answer}});
  }

  std::string root_, driveC_, download_, skipReason_;
  std::unique_ptr<ftpserver::Server> server_;
};

#define START_SERVER_OR_SKIP() \
  QS_NEEDS_REAL_PEER(StartServer(), skipReason_)

TEST_P(Downloader, TheDefaultProductInChineseIsDownloadedAndTheQuestionAnsweredNo) {
  MakeProduct("ORV");
  START_SERVER_OR_SKIP();
  const ProgramResult r = Run({});
  SCOPED_TRACE(r.out + r.err);
  EXPECT_EQ(r.exitCode, 0);
  for (const char* line : {"status: 請稍候.....", "status: 已連接主伺服器", "status: 已成功登入", "status: 登入",
                           "status: SetupORV.exe 下載完成", "status: a.dat 下載完成", "status: b.bin 下載完成",
                           "received: SetupORV.exe", "received: a.dat", "received: b.bin", "status: 已登出系統",
                           "listing: SetupORV.exe", "box: Confirm | 所需檔案已下載完成, 現在開始安裝軟件?", "answer: no"}) {
    EXPECT_TRUE(r.Has(line)) << line;
  }
  EXPECT_EQ(r.Count("received: "), 3);
  EXPECT_EQ(r.Count("box: "), 1);
  EXPECT_TRUE(r.Has("status: b.bin 下載中..." + std::to_string(kBig.size())));
  // The order of the run: logged in before the names, every file before the question.
  EXPECT_LT(r.IndexOf("status: 已成功登入"), r.IndexOf("status: 登入"));
  EXPECT_LT(r.IndexOf("received: b.bin"), r.IndexOf("status: 已登出系統"));
  EXPECT_LT(r.IndexOf("status: 已登出系統"), r.IndexOf("answer: no"));
  EXPECT_EQ(ftpserver::ReadFile(download_ + "/SetupORV.exe"), kSetupScript);
  EXPECT_EQ(ftpserver::ReadFile(download_ + "/a.dat"), kData);
  EXPECT_EQ(ftpserver::ReadFile(download_ + "/b.bin"), kBig);
  EXPECT_FALSE(fs::exists(download_ + "/setup-ran"));
}

TEST_P(Downloader, AnotherProductInEnglishSavesTheSetupUnderItsNameAndInstallStartsIt) {
  MakeProduct("XYZ");
  START_SERVER_OR_SKIP();
  const ProgramResult r = Run({"XYZ", "E"}, "yes");
  SCOPED_TRACE(r.out + r.err);
  EXPECT_EQ(r.exitCode, 0);
  for (const char* line : {"status: Please wait.....", "status: Connected to Main Server", "status: Login success",
                           "status: Login", "status: SetupORV.exe Download completed", "received: SetupORV.exe",
                           "status: Logged out",
                           "box: Confirm | Required files had been completely downloaded, install program now?",
                           "answer: yes"}) {
    EXPECT_TRUE(r.Has(line)) << line;
  }
  EXPECT_EQ(ftpserver::ReadFile(download_ + "/SetupXYZ.exe"), kSetupScript);
  EXPECT_FALSE(fs::exists(download_ + "/SetupORV.exe"));
  ASSERT_TRUE(WaitForFile(download_ + "/setup-ran", 10000));
  EXPECT_EQ(ftpserver::ReadFile(download_ + "/setup-ran"), "setup started\n");
}

TEST_P(Downloader, AFileTheServerRefusesIsReportedOnceAndTheNextOneFetched) {
  MakeProduct("ORV");
  // Listed, but there is nothing to read behind it.
  fs::create_symlink(root_ + "/nowhere", root_ + "/ORV_program/gone.dat");
  START_SERVER_OR_SKIP();
  const ProgramResult r = Run({"ORV", "E"});
  SCOPED_TRACE(r.out + r.err);
  EXPECT_EQ(r.exitCode, 1);
  ASSERT_EQ(r.Count("box: FTP Error: 550 | 550 "), 1);
  EXPECT_EQ(r.Count("box: "), 2);  // the error and the question
  EXPECT_EQ(r.Count("received: "), 3);
  EXPECT_TRUE(r.Has("received: a.dat"));
  EXPECT_EQ(ftpserver::ReadFile(download_ + "/b.bin"), kBig);
  EXPECT_FALSE(r.Has("received: gone.dat"));
}

TEST_P(Downloader, AnEmptyListingEndsTheRunWithoutAQuestion) {
  fs::create_directories(root_ + "/ORV_program");
  START_SERVER_OR_SKIP();
  const ProgramResult r = Run({"ORV", "E"});
  SCOPED_TRACE(r.out + r.err);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_TRUE(r.Has("status: Login"));
  EXPECT_TRUE(r.Has("status: Logged out"));
  EXPECT_EQ(r.Count("box: "), 0);
  EXPECT_EQ(r.Count("received: "), 0);
}

TEST_P(Downloader, AStaleSetupFileIsShownWithItsDateAndDeleted) {
  fs::create_directories(root_ + "/ORV_program");
  fs::create_directories(download_);
  const std::string setup = download_ + "/SetupORV.exe";
  ftpserver::WriteFile(setup, kSetupScript);
  const std::time_t written = std::time(nullptr) - 31 * 24 * 3600;
  const utimbuf times{written, written};
  ASSERT_EQ(utime(setup.c_str(), &times), 0);
  char date[16];
  std::tm local{};
  localtime_r(&written, &local);
  std::strftime(date, sizeof date, "%Y/%m/%d", &local);
  START_SERVER_OR_SKIP();
  const ProgramResult r = Run({"ORV", "E"});
  SCOPED_TRACE(r.out + r.err);
  EXPECT_EQ(r.exitCode, 0);
  ASSERT_FALSE(r.lines.empty());
  const std::string programFolder = fs::path(QS_DOWNLOADER_PROGRAM).parent_path().string() + "/";
  EXPECT_EQ(r.lines[0], "status: " + programFolder + "SetupORV.exe downloaded on " + date);
  EXPECT_FALSE(fs::exists(setup));
}

// A listing far longer than 32 KiB is taken whole: every listed file is fetched.
TEST_P(Downloader, AListingLongerThan32KiBIsNotCut) {
  constexpr int kCount = 2100;
  for (int i = 0; i < kCount; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "product-file-%04d.dat", i);
    ftpserver::WriteFile(root_ + "/ORV_program/" + name, name);
  }
  START_SERVER_OR_SKIP();
  const ProgramResult r = Run({"ORV", "E"});
  SCOPED_TRACE(r.err);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.Count("received: "), kCount);
  EXPECT_TRUE(r.Has("received: product-file-2099.dat"));
  EXPECT_EQ(ftpserver::ReadFile(download_ + "/product-file-2099.dat"), "product-file-2099.dat");
}

// A stall limit shorter than the run's own timer periods does not end a healthy run: while a
// timer is bound to act, or the client waits on the server under its time-out, nothing stalls.
TEST_P(Downloader, AShortStallLimitLeavesAHealthyRunAlone) {
  MakeProduct("ORV");
  START_SERVER_OR_SKIP();
  const ProgramResult r = e2e::RunDownloader({"ORV", "E"},
                                             {{"QUILLSTAGE_FTP_SERVER", "127.0.0.1:" + std::to_string(server_->Port())},
                                              {"QUILLSTAGE_DRIVE_C", driveC_},
                                              {"QUILLSTAGE_STALL_SECONDS", "2"}});
  SCOPED_TRACE(r.out + r.err);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.Count("received: "), 3);
}

INSTANTIATE_TEST_SUITE_P(Servers, Downloader, testing::Values(Kind::Pyftpdlib, Kind::Vsftpd),
                         [](const testing::TestParamInfo<Kind>& info) {
                           return info.param == Kind::Pyftpdlib ? "pyftpdlib" : "vsftpd";
                         });

// A pyftpdlib server whose listing holds the given names (tests/app/listing-server.py).
std::vector<std::string> ListingServerArgs(const std::string& root, const std::vector<std::string>& names) {
  std::vector<std::string> args = {"/usr/bin/python3", QS_TEST_SOURCE_DIR "/listing-server.py", "--root", root};
  for (const std::string& n : names) {
    args.push_back("--name");
    args.push_back(n);
  }
  return args;
}

TEST(DownloaderNames, NamesThatWouldLeaveTheDownloadFolderAreRefusedAndSkipped) {
  const std::string root = ftpserver::MakeTempDir("qs-e2e-root-");
  const std::string driveC = ftpserver::MakeTempDir("qs-e2e-c-");
  ftpserver::WriteFile(root + "/ORV_program/good.dat", kData);
  ftpserver::WriteFile(root + "/evil", "evil\n");
  ftpserver::WriteFile(root + "/ORV_program/a/b", "nested\n");
  {
    testsupport::ScriptServer server(ListingServerArgs(root, {"../evil", "a/b", "good.dat"}));
    QS_NEEDS_REAL_PEER(server.Port() != 0, "pyftpdlib is not available (package python3-pyftpdlib)");
    const ProgramResult r = e2e::RunDownloader({"ORV", "E"}, {{"QUILLSTAGE_FTP_SERVER", "127.0.0.1:" + std::to_string(server.Port())},
                                                              {"QUILLSTAGE_DRIVE_C", driveC}});
    SCOPED_TRACE(r.out + r.err);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.Count("box: Download refused | "), 2);
    int refusals = 0;
    for (const std::string& line : r.lines) {
      if (line.rfind("box: Download refused | ", 0) != 0) continue;
      const char* name = refusals++ == 0 ? "\"../evil\"" : "\"a/b\"";
      EXPECT_NE(line.find(name), std::string::npos) << line;
    }
    EXPECT_TRUE(r.Has("received: good.dat"));
    EXPECT_EQ(r.Count("received: "), 1);
    EXPECT_EQ(ftpserver::ReadFile(driveC + "/Quillstage/good.dat"), kData);
    EXPECT_FALSE(fs::exists(driveC + "/evil"));
    EXPECT_FALSE(fs::exists(driveC + "/Quillstage/a"));
  }
  ftpserver::RemoveTree(root);
  ftpserver::RemoveTree(driveC);
}

TEST(DownloaderEnds, ARefusedConnectionEndsTheProgramWithinSeconds) {
  const std::string driveC = ftpserver::MakeTempDir("qs-e2e-c-");
  const ProgramResult r = e2e::RunDownloader(
      {}, {{"QUILLSTAGE_FTP_SERVER", "127.0.0.1:" + std::to_string(peer::UnusedPort())}, {"QUILLSTAGE_DRIVE_C", driveC}}, 30);
  SCOPED_TRACE(r.out + r.err);
  EXPECT_FALSE(r.timedOut);
  EXPECT_EQ(r.exitCode, 1);
  // The client gives no text for a socket's error: the box says what the code means.
  EXPECT_EQ(r.Count("box: FTP Error: 10061 | The attempt to connect was forcibly refused"), 1);
  EXPECT_LT(r.seconds, 15.0);  // generous: the run itself pauses one second
  ftpserver::RemoveTree(driveC);
}

// A product code holding a line break would reach the server as a command of its own: the
// program refuses it before anything else, with the reason on standard error.
TEST(DownloaderEnds, AProductCodeWithALineBreakIsRefusedAtStartUp) {
  const std::string driveC = ftpserver::MakeTempDir("qs-e2e-c-");
  for (const char* code : {"X\r\nDELE y", "X\nDELE y"}) {
    const ProgramResult r = e2e::RunDownloader(
        {code, "E"}, {{"QUILLSTAGE_FTP_SERVER", "127.0.0.1:" + std::to_string(peer::UnusedPort())}, {"QUILLSTAGE_DRIVE_C", driveC}},
        30);
    SCOPED_TRACE(r.out + r.err);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("line break"), std::string::npos);
    EXPECT_EQ(r.out, "");
  }
  ftpserver::RemoveTree(driveC);
}

TEST(DownloaderEnds, AnAddressThatCannotBeResolvedEndsWithCodeTwoAndSaysWhy) {
  const std::string driveC = ftpserver::MakeTempDir("qs-e2e-c-");
  const ProgramResult r = e2e::RunDownloader(
      {}, {{"QUILLSTAGE_FTP_SERVER", "no-such-host.invalid:21"}, {"QUILLSTAGE_DRIVE_C", driveC}}, 60);
  SCOPED_TRACE(r.out + r.err);
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_FALSE(r.err.empty());
  EXPECT_EQ(r.Count("box: "), 0);
  ftpserver::RemoveTree(driveC);
}

TEST(DownloaderEnds, AServerThatNeverAnswersEndsWithCodeThreeAfterTheStallTime) {
  const std::string driveC = ftpserver::MakeTempDir("qs-e2e-c-");
  // Listens and accepts into its backlog, but never says a word.
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  ASSERT_EQ(listen(s, 4), 0);
  socklen_t length = sizeof a;
  getsockname(s, reinterpret_cast<sockaddr*>(&a), &length);
  const ProgramResult r = e2e::RunDownloader({}, {{"QUILLSTAGE_FTP_SERVER", "127.0.0.1:" + std::to_string(ntohs(a.sin_port))},
                                                  {"QUILLSTAGE_DRIVE_C", driveC},
                                                  {"QUILLSTAGE_STALL_SECONDS", "3"}},
                                             60);
  close(s);
  SCOPED_TRACE(r.out + r.err);
  EXPECT_FALSE(r.timedOut);
  EXPECT_EQ(r.exitCode, 3);
  EXPECT_GE(r.seconds, 3.0);
  EXPECT_NE(r.err.find("Nothing moved"), std::string::npos);
  ftpserver::RemoveTree(driveC);
}

}  // namespace
