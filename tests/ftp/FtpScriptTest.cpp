// The client against the scripted server: each case is data (what the server does, what the
// client is asked to do, which reports the application must receive, in order).
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "tests/ftp/FtpTestClient.h"
#include "tests/ftp/ScriptedServer.h"
#include "tests/support/FtpServers.h"
#include "tests/support/LoopbackPeer.h"
#include "tests/support/Pump.h"

using namespace scripted;

namespace {

using Op = std::function<bool(TFtpTestClient&, const std::string& localFile)>;

Op Pwd() {
  return [](TFtpTestClient& c, const std::string&) { return c.QueryCurrentDirectory(); };
}
Op Cwd(std::string path) {
  return [path](TFtpTestClient& c, const std::string&) { return c.ChangeDirectory(path); };
}
Op Nlst(std::string path = {}) {
  return [path](TFtpTestClient& c, const std::string&) { return c.ListDirectory(path, false); };
}
Op Retr(std::string remote, std::string local = {}) {
  return [remote, local](TFtpTestClient& c, const std::string& file) {
    return c.RetrieveFile(remote, local.empty() ? file : local, rtReplace);
  };
}

std::vector<Step> Join(std::initializer_list<std::vector<Step>> parts) {
  std::vector<Step> all;
  for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

const std::vector<Step> kLogin = {Send("220 hi\r\n"), Expect("USER u"), Send("331 pw\r\n"), Expect("PASS p"),
                                  Send("230 in\r\n")};
const std::vector<std::string> kLoggedIn = {"status 1:hi\r\n", "status 3"};

std::vector<std::string> LoggedInThen(std::initializer_list<std::string> more) {
  std::vector<std::string> all = kLoggedIn;
  all.insert(all.end(), more);
  return all;
}

// The passive data connection opened up to the transfer command.
std::vector<Step> PassiveUpTo(const std::string& type, const std::string& command) {
  return {Expect("TYPE " + type), Send("200 ok\r\n"), Expect("PASV"), Passive(), AcceptData(), Expect(command)};
}

struct ScriptCase {
  const char* name;
  std::vector<Step> script;
  std::vector<Op> ops;
  std::vector<std::string> expected;
  std::string fileContent = {};  // the local file afterwards, when not empty
  bool passive = true;
  int transferTimeout = 1092;
  int replies = -1;  // reply events expected, when not -1
};

void PrintTo(const ScriptCase& c, std::ostream* os) { *os << c.name; }

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class FtpScript : public ::testing::TestWithParam<ScriptCase> {};

TEST_P(FtpScript, ReportsWhatTheApplicationMustSee) {
  const ScriptCase& c = GetParam();
  Server server(c.script);
  const std::string dir = ftpserver::MakeTempDir("ftpscript");
  const std::string local = dir + "/local.bin";
  TFtpTestClient client;
  client.SetServerAddress("127.0.0.1");
  client.SetWsPort(std::to_string(server.Port()));
  client.SetUserName("u");
  client.SetPassword("p");
  client.SetPassiveMode(c.passive);
  client.SetTransferTimeout(c.transferTimeout);
  for (const Op& op : c.ops) client.operations.push_back([op, local](TFtpTestClient& cl) { return op(cl, local); });

  ASSERT_TRUE(client.LogOn());
  EXPECT_TRUE(testpump::PumpUntil([&] { return server.Finished() && client.events.size() >= c.expected.size(); }, 10000));
  testpump::PumpFor(300);  // nothing more may come

  EXPECT_EQ(server.Failure(), "");
  EXPECT_EQ(client.events, c.expected);
  EXPECT_FALSE(client.operationRefused);
  EXPECT_EQ(server.Extra(), std::vector<std::string>{});
  if (c.replies >= 0) {
    EXPECT_EQ(static_cast<int>(client.replies.size()), c.replies);
  }
  if (!c.fileContent.empty()) {
    EXPECT_EQ(ReadAll(local), c.fileContent);
  }
  ftpserver::RemoveTree(dir);
}

const std::string kLongLine = std::string(998, 'x') + "\r\n";

std::string LongMultiLine() {
  std::string text = "220-first\r\n";
  for (int i = 0; i < 40; ++i) text += kLongLine;
  return text + "220 end\r\n";
}

std::vector<ScriptCase> Cases() {
  return {
      {"MultiLineGreetingWithOddContinuations",
       {Send("220-first\r\n220-second\r\n 220 indented\r\n221 other code\r\n220still no blank\r\n220 last\r\n"),
        Expect("USER u"), Send("331 pw\r\n"), Expect("PASS p"), Send("230 in\r\n")},
       {},
       {"status 1:first\r\n220-second\r\n 220 indented\r\n221 other code\r\n220still no blank\r\n", "status 3"},
       {}, true, 1092, 8},
      {"OverlongMultiLineReplyIsCutNotOverrun",
       {Send(LongMultiLine()), Expect("USER u"), Send("331 pw\r\n"), Expect("PASS p"), Send("230 in\r\n")},
       {},
       {"status 1:#32764", "status 3"}},
      {"TelnetBytesInsideReplies",
       {Send("220 re\xFF\xF1" "ady\r\n"), Expect("USER u"), Send("331 pass\xFF\xF1word\r\n"), Expect("PASS p"),
        Send("2\xFF\xF1" "30 in\r\n")},
       {},
       {"status 1:ready\r\n", "status 3"}},
      {"AccountWhenAsked",
       {Send("220 hi\r\n"), Expect("USER u"), Send("331 pw\r\n"), Expect("PASS p"), Send("332 acct\r\n"),
        Expect("ACCT "), Send("202 fine\r\n"), Send("230 in\r\n")},
       {},
       kLoggedIn},
      {"Reply421WhileLoggingOn", {Send("220 hi\r\n"), Expect("USER u"), Send("421 busy\r\n")}, {},
       {"status 1:hi\r\n", "status 0", "status 0"}},
      {"Reply421WhileQuerying", Join({kLogin, {Expect("PWD"), Send("421 going down\r\n")}}), {Pwd()},
       LoggedInThen({"status 2", "status 0"})},
      {"Reply421WhileListing", Join({kLogin, {Expect("TYPE A"), Send("421 going down\r\n")}}), {Nlst()},
       LoggedInThen({"status 2", "status 0"})},
      {"ControlConnectionDroppedWhenReady", Join({kLogin, {Pause(100), Close()}}), {}, LoggedInThen({"status 2"})},
      {"CwdRefusedThenPwd",
       Join({kLogin, {Expect("CWD nowhere"), Send("550 No such folder.\r\n"), Expect("PWD"),
                      Send("257 \"/top dir\" is current\r\n")}}),
       {Cwd("nowhere"), Pwd()},
       LoggedInThen({"error 550:550 No such folder.\r\n", "status 5:/top dir"})},
      {"EmptyCwdAsksForTheDirectory", Join({kLogin, {Expect("PWD"), Send("257 \"/\"\r\n")}}), {Cwd("")},
       LoggedInThen({"status 5:/"})},
      {"CwdThenQuerying250",
       Join({kLogin, {Expect("CWD //name"), Send("250-changed\r\n250 done\r\n")}}), {Cwd("//name")},
       LoggedInThen({"status 4"})},
      {"ListingDataClosedBeforeThe226",
       Join({kLogin, PassiveUpTo("A", "NLST"),
             {Send("150 here\r\n"), DataSend("a\r\nb\r\n"), DataClose(), Pause(100), Send("226 done\r\n")}}),
       {Nlst()},
       LoggedInThen({"status 6:a\r\nb\r\n"})},
      {"ListingWith226BeforeTheLastBytes",
       Join({kLogin, PassiveUpTo("A", "NLST sub"),
             {Send("150 here\r\n"), DataSend("a\r\n"), Send("226 done\r\n"), Pause(200), DataSend("b\r\n"),
              DataClose()}}),
       {Nlst("sub")},
       LoggedInThen({"status 6:a\r\nb\r\n"})},
      {"ListingLongerThan32KiBComesWhole",
       Join({kLogin, PassiveUpTo("A", "NLST"),
             {Send("150 here\r\n"), DataSend(std::string(40000, 'n')), DataClose(), Send("226 done\r\n")}}),
       {Nlst()},
       LoggedInThen({"status 6:#40000"})},
      {"ListingOverTheLimitFailsInsteadOfBeingCut",
       Join({kLogin, PassiveUpTo("A", "NLST"),
             {Send("150 here\r\n"), DataSend(std::string(kFtpListingLimit + 10, 'n')), DataClose(),
              Send("226 done\r\n")}}),
       {Nlst()},
       LoggedInThen({"error 10055:The listing is longer than 16 MiB"})},
      {"ListingDataClosedEarlyThen426IsNoListing",
       Join({kLogin, PassiveUpTo("A", "NLST"),
             {Send("150 here\r\n"), DataSend("a\r\n"), DataClose(), Pause(100),
              Send("426 Connection closed; transfer aborted.\r\n")}}),
       {Nlst()},
       LoggedInThen({"error 426:426 Connection closed; transfer aborted.\r\n"})},
      {"RetrievalDataClosedEarlyThen451IsNotComplete",
       Join({kLogin, PassiveUpTo("I", "RETR f.bin"),
             {Send("150 here\r\n"), DataSend("part"), DataClose(), Pause(100),
              Send("451 Local error in processing.\r\n")}}),
       {Retr("f.bin")},
       LoggedInThen({"error 451:451 Local error in processing.\r\n"})},
      {"ServerDyingMidTransferIsNoCompletion",
       Join({kLogin, PassiveUpTo("I", "RETR f.bin"),
             {Send("150 here\r\n"), DataSend("part"), DataClose(), Close()}}),
       {Retr("f.bin")},
       LoggedInThen({"status 2"})},
      {"LocalWriteFailsWhileTheLastBytesAreDrained",
       Join({kLogin, PassiveUpTo("I", "RETR f.bin"),
             {Send("150 here\r\n"), DataSend("last bytes"), DataClose(), Pause(100), Send("226 done\r\n")}}),
       {Retr("f.bin", "/dev/full")},
       LoggedInThen({"error 28:Cannot write file \"/dev/full\". No space left on device"})},
      {"LateReplyOfAFailedFileIsNotTheNextFilesAnswer",
       Join({kLogin, PassiveUpTo("I", "RETR f.bin"),
             {Send("150 here\r\n"), DataSend("part"), Pause(100), DataReset(), Pause(3500),
              Send("426 Connection reset.\r\n")},
             PassiveUpTo("I", "RETR g.bin"),
             {Send("150 here\r\n"), DataSend("whole"), DataClose(), Send("226 done\r\n")}}),
       {Retr("f.bin", "/dev/null"), Retr("g.bin")},
       LoggedInThen({"error 10054", "status 8"}),
       "whole"},
      {"PassiveListenerClosedBeforeThe550GivesThe550",
       Join({kLogin,
             {Expect("TYPE I"), Send("200 ok\r\n"), Expect("PASV"), Passive(), Expect("RETR f.bin"), Pause(50),
              CloseListener(), Send("550 No such file.\r\n")}}),
       {Retr("f.bin")},
       LoggedInThen({"error 550:550 No such file.\r\n"})},
      {"LineWithoutACodeDuringATransferIsIgnored",
       Join({kLogin, PassiveUpTo("I", "RETR f.bin"),
             {Send("150 here\r\n"), Send("a remark without a code\r\n"), DataSend("data"), DataClose(),
              Send("226 done\r\n")}}),
       {Retr("f.bin")},
       LoggedInThen({"status 8"}),
       "data"},
      {"BareLineFeedsEndReplies",
       {Send("220 hi\n"), Expect("USER u"), Send("331 pw\n"), Expect("PASS p"), Send("230 in\n")},
       {},
       {"status 1:hi\n", "status 3"}},
      {"ActiveModeTakesOnlyTheServersOneConnection",
       Join({kLogin,
             {Expect("PORT 127,0,0,1,"), ConnectStranger("stranger bytes"), Pause(100), Send("200 port ok\r\n"),
              Expect("TYPE I"), Send("200 ok\r\n"), Expect("RETR f.bin"), ConnectActive(), Send("150 here\r\n"),
              Pause(200), ExpectRefused(), DataSend("server bytes"), DataClose(), Send("226 done\r\n")}}),
       {Retr("f.bin")},
       LoggedInThen({"status 8"}),
       "server bytes",
       false},
      {"RetrievalPassive",
       Join({kLogin, PassiveUpTo("I", "RETR f.bin"),
             {Send("150 here\r\n"), DataSend("0123456789"), DataClose(), Send("226 done\r\n")}}),
       {Retr("f.bin")},
       LoggedInThen({"status 8"}),
       "0123456789"},
      {"RetrievalActive",
       Join({kLogin,
             {Expect("PORT 127,0,0,1,"), Send("200 port ok\r\n"), Expect("TYPE I"), Send("200 ok\r\n"),
              Expect("RETR f.bin"), ConnectActive(), Send("150 here\r\n"), DataSend("active bytes"), DataClose(),
              Send("226 done\r\n")}}),
       {Retr("f.bin")},
       LoggedInThen({"status 8"}),
       "active bytes",
       false},
      {"RetrievalErrorReplyThenDataReset",
       Join({kLogin, PassiveUpTo("I", "RETR f.bin"),
             {Send("550 Failed to open file.\r\n"), Pause(50), DataReset()}}),
       {Retr("f.bin")},
       LoggedInThen({"error 550:550 Failed to open file.\r\n"})},
      {"RetrievalDataResetThenErrorReplyGivesTheReply",
       Join({kLogin, PassiveUpTo("I", "RETR f.bin"),
             {Send("150 here\r\n"), DataSend("part"), Pause(100), DataReset(), Pause(100),
              Send("426 Connection closed; transfer aborted.\r\n")}}),
       {Retr("f.bin")},
       LoggedInThen({"error 426:426 Connection closed; transfer aborted.\r\n"})},
      {"ListingDataResetThenErrorReplyGivesTheReply",
       Join({kLogin, PassiveUpTo("A", "NLST"),
             {Send("150 here\r\n"), Pause(100), DataReset(), Pause(100), Send("451 Aborted.\r\n")}}),
       {Nlst()},
       LoggedInThen({"error 451:451 Aborted.\r\n"})},
      {"DataResetWithoutAReplyGivesTheSocketError",
       Join({kLogin, PassiveUpTo("I", "RETR f.bin"),
             {Send("150 here\r\n"), DataSend("part"), Pause(100), DataReset(), Pause(2600)}}),
       {Retr("f.bin")},
       LoggedInThen({"error 10054"})},
      {"LocalWriteFailureIsAnError",
       Join({kLogin, PassiveUpTo("I", "RETR f.bin"),
             {Send("150 here\r\n"), DataSend("bytes that find no room"), Pause(200), DataClose(),
              Send("226 done\r\n")}}),
       {Retr("f.bin", "/dev/full")},
       LoggedInThen({"error 28:Cannot write file \"/dev/full\". No space left on device"})},
      {"ServerThatNeverAnswersTimesOut", Join({kLogin, {Expect("PWD"), Pause(600)}}), {Pwd()},
       LoggedInThen({"status 9"}), {}, true, 4},
      {"TimeOutWhileLoggingOn", {Send("220 hi\r\n"), Expect("USER u"), Pause(600)}, {},
       {"status 1:hi\r\n", "status 9", "status 0", "status 0"}, {}, true, 4},
  };
}

INSTANTIATE_TEST_SUITE_P(Cases, FtpScript, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<ScriptCase>& info) { return std::string(info.param.name); });

// A file many read blocks long arrives whole: every block is written before the end is
// reported, each one posts its progress, and no block is larger than the retrieval buffer.
TEST(FtpRetrieval, LargeFileComesWholeInBoundedBlocks) {
  std::string data(3 * kFtpRetrieveBlockSize + 5, '\0');
  std::uint32_t x = 7;
  for (char& c : data) {
    x = x * 1103515245u + 12345u;
    c = static_cast<char>(x >> 24);
  }
  Server server(Join({kLogin, PassiveUpTo("I", "RETR big.bin"),
                      {Send("150 here\r\n"), DataSend(data), DataClose(), Send("226 done\r\n")}}));
  const std::string dir = ftpserver::MakeTempDir("ftpbig");
  const std::string local = dir + "/big.bin";
  TFtpTestClient client;
  client.SetServerAddress("127.0.0.1");
  client.SetWsPort(std::to_string(server.Port()));
  client.SetUserName("u");
  client.SetPassword("p");
  client.SetPassiveMode(true);
  std::vector<int> seen;  // BytesTransferred at each progress report
  client.onProgress = [&] { seen.push_back(client.BytesTransferred()); };
  client.operations.push_back([&](TFtpTestClient& c) { return c.RetrieveFile("big.bin", local, rtReplace); });

  ASSERT_TRUE(client.LogOn());
  EXPECT_TRUE(testpump::PumpUntil([&] { return client.events.size() >= 3; }, 8000));
  testpump::PumpFor(200);
  EXPECT_EQ(server.Failure(), "");
  EXPECT_EQ(client.events, (std::vector<std::string>{"status 1:hi\r\n", "status 3", "status 8"}));
  EXPECT_EQ(ReadAll(local) == data, true) << "local size " << ReadAll(local).size();
  EXPECT_EQ(client.BytesTransferred(), static_cast<int>(data.size()));
  const std::size_t leastBlocks = (data.size() + kFtpRetrieveBlockSize - 1) / kFtpRetrieveBlockSize;
  EXPECT_GE(seen.size(), leastBlocks);
  EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.back(), static_cast<int>(data.size()));
  ftpserver::RemoveTree(dir);
}

// A refused control connection ends the log-on with the socket's error, even without a connect
// time-out.
TEST(FtpControl, RefusedConnectionIsReportedAndEndsIdle) {
  TFtpTestClient client;
  client.SetServerAddress("127.0.0.1");
  client.SetWsPort(std::to_string(peer::UnusedPort()));
  ASSERT_TRUE(client.LogOn());
  EXPECT_TRUE(client.Connected());
  EXPECT_TRUE(testpump::PumpUntil([&] { return client.events.size() >= 2; }, 5000));
  testpump::PumpFor(200);
  EXPECT_EQ(client.events, (std::vector<std::string>{"error 10061", "status 0"}));
  EXPECT_FALSE(client.Connected());
  EXPECT_FALSE(client.Open());
}

// Every reply line reaches OnFtpReply before the report it causes.
TEST(FtpControl, RepliesComeBeforeTheirReports) {
  Server server(kLogin);
  TFtpTestClient client;
  client.SetServerAddress("127.0.0.1");
  client.SetWsPort(std::to_string(server.Port()));
  client.SetUserName("u");
  client.SetPassword("p");
  ASSERT_TRUE(client.LogOn());
  ASSERT_TRUE(testpump::PumpUntil([&] { return client.events.size() >= 2; }));
  EXPECT_EQ(client.order,
            (std::vector<std::string>{"reply 220", "status 1:hi\r\n", "reply 331", "reply 230", "status 3"}));
  // Ready: a second log-on, a second transfer and an abort are refused and send nothing.
  EXPECT_FALSE(client.LogOn());
  EXPECT_FALSE(client.AbortTransfer());
  EXPECT_FALSE(client.RetrieveFile("", "x", rtReplace));
  EXPECT_FALSE(client.RetrieveFile("x", "", rtReplace));
  testpump::PumpFor(200);
  EXPECT_EQ(server.Extra(), std::vector<std::string>{});
}

}  // namespace
