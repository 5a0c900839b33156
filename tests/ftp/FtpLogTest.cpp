// The history log's lines and file handling, the link between client and log, and the command
// stack's limit: all without a connection.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>

#include "platform/DateTime.h"
#include "platform/Files.h"
#include "platform/SysUtils.h"
#include "tests/ftp/FtpTestClient.h"
#include "tests/support/FtpServers.h"

namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class FtpLogFile : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::SetShortDateFormat("yyyy/mm/dd");
    dir_ = ftpserver::MakeTempDir("ftplog");
    log_.SetFtpHistoryName(dir_ + "/QSFTP.HIS");
    client_.SetUserName("kwmoro");
    client_.SetServerAddress("ftp.example.test");
    client_.SetFtpLog(&log_);
  }
  void TearDown() override { ftpserver::RemoveTree(dir_); }

  std::string dir_;
  TFtpTestClient client_;
  TQsFtpLog log_{nullptr};
};

TEST_F(FtpLogFile, EachCodeWritesItsText) {
  client_.SetRestartPosition(1000);
  const struct {
    TFtpLogCode code;
    const char* text;
  } cases[] = {{lcDisconnected, "Disconnected"},
               {lcConnected, "Connected to ftp.example.test"},
               {lcLoggedOut, "kwmoro logged out"},
               {lcLoggedIn, "kwmoro logged in"},
               {lcDownloading, "Downloading "},
               {lcTransferComplete, "Transfer complete. 0 bytes Transferred"},
               {lcRestarting, "Attempting re-transfer at 1000 bytes"},
               {lcTimedOut, "Transfer timed out"},
               {lcAborted, "Transfer aborted by user"},
               {lcEncrypted, "Encrypted with "}};
  log_.SetEnabled(true);
  for (const auto& c : cases) log_.UpdateLog(c.code);
  const std::string file = ReadAll(log_.FtpHistoryName());
  // date, blank, time (or none at midnight), " : ", text, CR LF
  const std::regex lineRe(R"((\d{4}/\d{2}/\d{2})( \d{2}:\d{2}:\d{2})? : ([^\r\n]*)\r\n)");
  std::vector<std::string> texts;
  for (auto it = std::sregex_iterator(file.begin(), file.end(), lineRe); it != std::sregex_iterator(); ++it)
    texts.push_back((*it)[3]);
  ASSERT_EQ(texts.size(), std::size(cases)) << file;
  for (std::size_t i = 0; i < texts.size(); ++i) EXPECT_EQ(texts[i], cases[i].text);
}

TEST_F(FtpLogFile, DisabledOrUnnamedWritesNothing) {
  log_.UpdateLog(lcAborted);
  EXPECT_FALSE(platform::FileExists(log_.FtpHistoryName()));
  log_.SetEnabled(true);
  log_.SetFtpHistoryName("");
  log_.UpdateLog(lcAborted);
  EXPECT_FALSE(platform::FileExists(dir_ + "/QSFTP.HIS"));
}

TEST_F(FtpLogFile, AppendsToAnExistingFile) {
  ftpserver::WriteFile(log_.FtpHistoryName(), "old line\r\n");
  log_.SetEnabled(true);
  log_.UpdateLog(lcTimedOut);
  const std::string file = ReadAll(log_.FtpHistoryName());
  EXPECT_EQ(file.rfind("old line\r\n", 0), 0u);
  EXPECT_NE(file.find(" : Transfer timed out\r\n"), std::string::npos);
}

TEST_F(FtpLogFile, UnwritableFileRaisesTheIoError) {
  log_.SetEnabled(true);
  log_.SetFtpHistoryName(dir_ + "/no/such/folder/QSFTP.HIS");
  EXPECT_THROW(log_.UpdateLog(lcAborted), platform::EInOutError);
}

TEST(FtpLogLink, ClientAndLogLinkBothWaysAndForgetEachOther) {
  TQsFtpLog log(nullptr);
  {
    TFtpTestClient first;
    TFtpTestClient second;
    first.SetFtpLog(&log);
    EXPECT_EQ(log.FtpClient(), &first);
    second.SetFtpLog(&log);
    EXPECT_EQ(log.FtpClient(), &second);  // the last client linked
  }
  EXPECT_EQ(log.FtpClient(), nullptr);
  TFtpTestClient client;
  {
    TQsFtpLog shortLived(nullptr);
    client.SetFtpLog(&shortLived);
  }
  EXPECT_EQ(client.FtpLog(), nullptr);
}

TEST(FtpLogLink, LogInsertedIntoTheClientsOwnerIsLinked) {
  platform::TComponent owner(nullptr);
  auto* client = new TQsFtpClient(&owner);
  auto* log = new TQsFtpLog(&owner);
  EXPECT_EQ(client->FtpLog(), log);
  EXPECT_EQ(log->FtpClient(), client);
  delete log;
  EXPECT_EQ(client->FtpLog(), nullptr);
}

TEST(FtpCommandStack, ThirtyTwoFitTheThirtyThirdEmptiesIt) {
  TFtpTestClient client;
  for (int i = 0; i < kFtpCommandStackSize; ++i) client.PushCommand("NOOP");
  EXPECT_EQ(client.CommandCount(), 32);
  try {
    client.PushCommand("NOOP");
    FAIL() << "33rd command accepted";
  } catch (const platform::Exception& e) {
    EXPECT_STREQ(e.what(), "FTP Command stack full");
  }
  EXPECT_EQ(client.CommandCount(), 0);
}

TEST(FtpClientIdle, ConstructionDefaultsAndOperationsRefusedWhileIdle) {
  TQsFtpClient client(nullptr);
  EXPECT_EQ(client.WsPort(), "ftp");
  EXPECT_TRUE(client.TelnetMode());
  EXPECT_FALSE(client.PassiveMode());
  EXPECT_EQ(client.FileType(), ftBinary);
  EXPECT_EQ(client.TransferTimeout(), 1092);
  EXPECT_EQ(client.ConnectTimeout(), 0);
  EXPECT_FALSE(client.OpenOnDemand());
  EXPECT_FALSE(client.Connected());
  EXPECT_FALSE(client.ChangeDirectory("x"));
  EXPECT_FALSE(client.QueryCurrentDirectory());
  EXPECT_FALSE(client.ListDirectory("", false));
  EXPECT_FALSE(client.RetrieveFile("a", "b", rtReplace));
  EXPECT_FALSE(client.AbortTransfer());
  EXPECT_FALSE(client.LogOff());
}

}  // namespace
