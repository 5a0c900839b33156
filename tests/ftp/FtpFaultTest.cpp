// The client against servers and callers that misbehave in ways a single script row cannot show:
// a data reset racing the final reply (both orders, many times), log-ons repeated on one client,
// time-outs in a row, arguments that would smuggle a command, restarts past 2 GiB, an abort
// answered by a success, local files that cannot be opened.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <functional>

#include "platform/SysUtils.h"
#include "tests/ftp/FtpTestClient.h"
#include "tests/ftp/ScriptedServer.h"
#include "tests/support/FtpServers.h"
#include "tests/support/Pump.h"

using namespace scripted;

namespace {

const std::vector<Step> kLogin = {Send("220 hi\r\n"), Expect("USER u"), Send("331 pw\r\n"), Expect("PASS p"),
                                  Send("230 in\r\n")};

std::vector<Step> Join(std::initializer_list<std::vector<Step>> parts) {
  std::vector<Step> all;
  for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

void Configure(TFtpTestClient& client, const Server& server) {
  client.SetServerAddress("127.0.0.1");
  client.SetWsPort(std::to_string(server.Port()));
  client.SetUserName("u");
  client.SetPassword("p");
  client.SetPassiveMode(true);
}

bool LoggedIn(TFtpTestClient& client) {
  return testpump::PumpUntil([&] { return client.FtpState() == fcReady; }, 5000);
}

// ---- A data connection reset racing the server's final reply -------------------------------------

struct RaceCase {
  const char* name;
  bool resetFirst;  // the reset leaves before the reply, else after it
  int gapMs;        // between the two
};

void PrintTo(const RaceCase& c, std::ostream* os) { *os << c.name; }

class ResetRacingTheReply : public ::testing::TestWithParam<RaceCase> {};

// Whichever arrives first, the failed file gives exactly the server's reply as its one error,
// never a completion; and the next operation on the same client gets its own answers.
TEST_P(ResetRacingTheReply, TheReplyIsTheOneReportAndTheNextOperationIsClean) {
  const RaceCase& c = GetParam();
  const std::string dir = ftpserver::MakeTempDir("ftprace");
  for (int round = 0; round < 12; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    std::vector<Step> fault = {Send("150 here\r\n"), DataSend("part"), Pause(20)};
    const Step reply = Send("426 Connection reset; transfer aborted.\r\n");
    if (c.resetFirst) {
      fault.insert(fault.end(), {DataReset(), Pause(c.gapMs), reply});
    } else {
      fault.insert(fault.end(), {reply, Pause(c.gapMs), DataReset()});
    }
    Server server(Join({kLogin,
                        {Expect("TYPE I"), Send("200 ok\r\n"), Expect("PASV"), Passive(), AcceptData(),
                         Expect("RETR f.bin")},
                        fault,
                        {Expect("PWD"), Send("257 \"/next\"\r\n")}}));
    TFtpTestClient client;
    Configure(client, server);
    client.operations.push_back([&](TFtpTestClient& cl) { return cl.RetrieveFile("f.bin", dir + "/f", rtReplace); });
    client.operations.push_back([](TFtpTestClient& cl) { return cl.QueryCurrentDirectory(); });
    ASSERT_TRUE(client.LogOn());
    EXPECT_TRUE(testpump::PumpUntil([&] { return client.events.size() >= 4; }, 6000));
    testpump::PumpFor(100);
    EXPECT_EQ(server.Failure(), "");
    EXPECT_EQ(client.events, (std::vector<std::string>{"status 1:hi\r\n", "status 3",
                                                       "error 426:426 Connection reset; transfer aborted.\r\n",
                                                       "status 5:/next"}));
  }
  ftpserver::RemoveTree(dir);
}

INSTANTIATE_TEST_SUITE_P(Orders, ResetRacingTheReply,
                         ::testing::Values(RaceCase{"ResetThenReplyAtOnce", true, 0},
                                           RaceCase{"ResetThenReplyLater", true, 30},
                                           RaceCase{"ReplyThenResetAtOnce", false, 0},
                                           RaceCase{"ReplyThenResetLater", false, 30}),
                         [](const ::testing::TestParamInfo<RaceCase>& info) { return std::string(info.param.name); });

// ---- One client, several log-ons -----------------------------------------------------------------

// A connection dropped inside a multi-line greeting leaves nothing behind: the next log-on on the
// same client reads its own greeting and logs in.
TEST(FtpLogOnAgain, AfterAConnectionDroppedInsideAMultiLineReply) {
  Server first({Send("220-first line\r\n220-second line\r\n"), Pause(100), Close()});
  TFtpTestClient client;
  Configure(client, first);
  ASSERT_TRUE(client.LogOn());
  ASSERT_TRUE(testpump::PumpUntil([&] { return !client.Connected() && first.Finished(); }, 5000));
  testpump::PumpFor(100);
  Server second(kLogin);
  client.SetWsPort(std::to_string(second.Port()));
  client.events.clear();
  ASSERT_TRUE(client.LogOn());
  EXPECT_TRUE(testpump::PumpUntil([&] { return client.events.size() >= 2; }, 5000));
  EXPECT_EQ(client.events, (std::vector<std::string>{"status 1:hi\r\n", "status 3"}));
  EXPECT_EQ(second.Failure(), "");
}

// The connect timer of a log-on that was refused (530) never ends the session that the next
// log-on on the same connection makes.
TEST(FtpLogOnAgain, TheFirstLogOnsConnectTimerSparesTheSecondsSession) {
  Server server({Send("220 hi\r\n"), Expect("USER u"), Send("331 pw\r\n"), Expect("PASS p"),
                 Send("530 Login incorrect.\r\n"), Expect("USER u"), Send("331 pw\r\n"), Expect("PASS p"),
                 Send("230 in\r\n")});
  TFtpTestClient client;
  Configure(client, server);
  client.SetConnectTimeout(10);  // 550 ms
  ASSERT_TRUE(client.LogOn());
  ASSERT_TRUE(testpump::PumpUntil([&] { return client.events.size() >= 2; }, 5000));
  EXPECT_TRUE(client.LogOn());  // still logging on: sends the user name again
  EXPECT_TRUE(testpump::PumpUntil([&] { return client.FtpState() == fcReady; }, 5000));
  testpump::PumpFor(1200);  // twice the connect time-out
  EXPECT_EQ(client.events,
            (std::vector<std::string>{"status 1:hi\r\n", "error 530:530 Login incorrect.\r\n", "status 3"}));
  EXPECT_EQ(client.FtpState(), fcReady);
  EXPECT_EQ(server.Failure(), "");
}

// A second log-on while the connection is still being made waits for the greeting, which sends
// the user name once.
TEST(FtpLogOnAgain, WhileTheConnectionIsStillBeingMade) {
  Server server(kLogin);
  TFtpTestClient client;
  Configure(client, server);
  ASSERT_TRUE(client.LogOn());
  EXPECT_TRUE(client.LogOn());
  EXPECT_TRUE(testpump::PumpUntil([&] { return client.events.size() >= 2; }, 5000));
  testpump::PumpFor(200);
  EXPECT_EQ(client.events, (std::vector<std::string>{"status 1:hi\r\n", "status 3"}));
  EXPECT_EQ(server.Failure(), "");
  EXPECT_EQ(server.Extra(), std::vector<std::string>{});
}

// ---- Time-outs and aborts -----------------------------------------------------------------------

// Each time-out takes its operation's pushed commands with it: the client stays usable however
// many transfers time out in a row.
TEST(FtpTimeOuts, ManyInARowLeaveTheClientUsable) {
  constexpr int kRounds = kFtpCommandStackSize / 2 + 2;
  Server server(Join({kLogin, {Pause(5000)}}));
  TFtpTestClient client;
  Configure(client, server);
  client.SetTransferTimeout(2);
  for (int i = 0; i < kRounds; ++i)
    client.operations.push_back([](TFtpTestClient& cl) { return cl.ListDirectory("", false); });
  ASSERT_TRUE(client.LogOn());
  EXPECT_TRUE(testpump::PumpUntil([&] { return client.events.size() >= 2 + kRounds; }, 7000));
  EXPECT_EQ(std::count(client.events.begin(), client.events.end(), "status 9"), kRounds);
  EXPECT_FALSE(client.operationRefused);
  EXPECT_EQ(client.CommandCount(), 0);
}

// An abort that the server answers with a success ends the transfer at once, without reporting
// it complete.
TEST(FtpAbort, AnsweredBySuccessIsReadyAtOnce) {
  Server server(Join({kLogin,
                      {Expect("TYPE I"), Send("200 ok\r\n"), Expect("PASV"), Passive(), AcceptData(),
                       Expect("RETR f.bin"), Send("150 here\r\n"), DataSend("first block"), Expect("ABOR"),
                       Send("226 Abort successful.\r\n")}}));
  const std::string dir = ftpserver::MakeTempDir("ftpabort");
  TFtpTestClient client;
  Configure(client, server);
  client.onProgress = [&] {
    if (client.FtpState() == fcRetrieving) client.AbortTransfer();
  };
  client.operations.push_back([&](TFtpTestClient& cl) { return cl.RetrieveFile("f.bin", dir + "/f", rtReplace); });
  ASSERT_TRUE(client.LogOn());
  EXPECT_TRUE(testpump::PumpUntil([&] { return server.Finished() && client.FtpState() == fcReady; }, 3000));
  testpump::PumpFor(200);
  EXPECT_EQ(client.events, (std::vector<std::string>{"status 1:hi\r\n", "status 3"}));
  EXPECT_EQ(server.Failure(), "");
  ftpserver::RemoveTree(dir);
}

// ---- What the caller gives --------------------------------------------------------------------------

struct ArgumentCase {
  const char* name;
  std::function<void(TFtpTestClient&)> call;
};

void PrintTo(const ArgumentCase& c, std::ostream* os) { *os << c.name; }

class CommandArgument : public ::testing::TestWithParam<ArgumentCase> {};

// A line break or NUL in a name would end the command early and make the rest a command of its
// own: the operation raises, sends nothing and leaves the client as it was.
TEST_P(CommandArgument, WithALineBreakOrNulIsRefused) {
  Server server(kLogin);
  TFtpTestClient client;
  Configure(client, server);
  ASSERT_TRUE(client.LogOn());
  ASSERT_TRUE(LoggedIn(client));
  EXPECT_THROW(GetParam().call(client), std::exception);
  EXPECT_EQ(client.FtpState(), fcReady);
  EXPECT_EQ(client.CommandCount(), 0);
  testpump::PumpFor(200);
  EXPECT_EQ(server.Extra(), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(
    Calls, CommandArgument,
    ::testing::Values(
        ArgumentCase{"RetrieveWithCrLf", [](TFtpTestClient& c) { c.RetrieveFile("X\r\nDELE y", "/dev/null", rtReplace); }},
        ArgumentCase{"RetrieveWithLf", [](TFtpTestClient& c) { c.RetrieveFile("X\nDELE y", "/dev/null", rtReplace); }},
        ArgumentCase{"ChangeDirectoryWithCr", [](TFtpTestClient& c) { c.ChangeDirectory("//X\rDELE y_program"); }},
        ArgumentCase{"ListDirectoryWithNul",
                     [](TFtpTestClient& c) { c.ListDirectory(std::string("a\0DELE y", 8), false); }}),
    [](const ::testing::TestParamInfo<ArgumentCase>& info) { return std::string(info.param.name); });

TEST(CommandArgumentLogOn, AUserNameWithALineBreakIsRefused) {
  TFtpTestClient client;
  client.SetServerAddress("127.0.0.1");
  client.SetWsPort("1");
  client.SetUserName("u\r\nDELE y");
  EXPECT_THROW(client.LogOn(), std::exception);
  EXPECT_FALSE(client.Connected());
}

// ---- Restart positions past 2 GiB ---------------------------------------------------------------------

// A local file of 3 GiB (sparse) is resumed at its end: the REST position is the full 64-bit size
// and the new bytes land right after the old ones.
TEST(FtpRestart, PastTwoGiBSendsTheWholePositionAndWritesThere) {
  const std::int64_t size = 3LL * 1024 * 1024 * 1024 + 5;
  const std::string dir = ftpserver::MakeTempDir("ftprest");
  const std::string local = dir + "/big.bin";
  {
    const int fd = ::open(local.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, size), 0);
    ::close(fd);
  }
  Server server(Join({kLogin,
                      {Expect("TYPE I"), Send("200 ok\r\n"), Expect("PASV"), Passive(), AcceptData(),
                       Expect("REST " + std::to_string(size)), Send("350 Restarting.\r\n"), Expect("RETR big.bin"),
                       Send("150 here\r\n"), DataSend("tail"), DataClose(), Send("226 done\r\n")}}));
  TFtpTestClient client;
  Configure(client, server);
  client.SetRestartPosition(-1);
  client.operations.push_back([&](TFtpTestClient& cl) { return cl.RetrieveFile("big.bin", local, rtRestart); });
  ASSERT_TRUE(client.LogOn());
  EXPECT_TRUE(testpump::PumpUntil([&] { return client.events.size() >= 3; }, 5000));
  EXPECT_EQ(server.Failure(), "");
  EXPECT_EQ(client.events, (std::vector<std::string>{"status 1:hi\r\n", "status 3", "status 8"}));
  EXPECT_EQ(client.RestartPosition(), size);
  struct stat st {};
  ASSERT_EQ(::stat(local.c_str(), &st), 0);
  EXPECT_EQ(st.st_size, size + 4);
  char tail[4] = {};
  const int fd = ::open(local.c_str(), O_RDONLY);
  ASSERT_EQ(::pread(fd, tail, 4, size), 4);
  ::close(fd);
  EXPECT_EQ(std::string(tail, 4), "tail");
  ftpserver::RemoveTree(dir);
}

// A local file that cannot be positioned (a pipe) cannot be resumed: the retrieval raises and
// sends nothing, instead of writing at some other place.
TEST(FtpRestart, ALocalFileThatCannotBePositionedIsAnError) {
  const std::string dir = ftpserver::MakeTempDir("ftprest");
  const std::string fifo = dir + "/pipe";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  Server server(kLogin);
  TFtpTestClient client;
  Configure(client, server);
  client.SetRestartPosition(10);
  ASSERT_TRUE(client.LogOn());
  ASSERT_TRUE(LoggedIn(client));
  EXPECT_THROW(client.RetrieveFile("f.bin", fifo, rtRestart), std::exception);
  EXPECT_EQ(client.FtpState(), fcReady);
  testpump::PumpFor(200);
  EXPECT_EQ(server.Extra(), std::vector<std::string>{});
  ftpserver::RemoveTree(dir);
}

// A local file that cannot be created or opened: the file system's error reaches the caller, nothing
// is sent, the client stays Ready, and no file is left behind where there was none.
struct LocalFileCase {
  const char* name;
  const char* local;  // under the test's folder
  TRetrieveMode mode;
};

void PrintTo(const LocalFileCase& c, std::ostream* os) { *os << c.name; }

class UnopenableLocalFile : public ::testing::TestWithParam<LocalFileCase> {};

TEST_P(UnopenableLocalFile, RaisesAndSendsNothing) {
  const std::string dir = ftpserver::MakeTempDir("ftplocal");
  ASSERT_EQ(::mkdir((dir + "/folder").c_str(), 0755), 0);
  const std::string local = dir + "/" + GetParam().local;
  const bool existed = ::access(local.c_str(), F_OK) == 0;
  Server server(kLogin);
  TFtpTestClient client;
  Configure(client, server);
  ASSERT_TRUE(client.LogOn());
  ASSERT_TRUE(LoggedIn(client));
  EXPECT_THROW(client.RetrieveFile("f.bin", local, GetParam().mode), platform::EInOutError);
  EXPECT_EQ(client.FtpState(), fcReady);
  EXPECT_EQ(client.CommandCount(), 0);
  EXPECT_EQ(::access(local.c_str(), F_OK) == 0, existed);
  testpump::PumpFor(200);
  EXPECT_EQ(server.Extra(), std::vector<std::string>{});
  ftpserver::RemoveTree(dir);
}

INSTANTIATE_TEST_SUITE_P(Cases, UnopenableLocalFile,
                         ::testing::Values(LocalFileCase{"replace_in_a_missing_folder", "none/f", rtReplace},
                                           LocalFileCase{"append_in_a_missing_folder", "none/f", rtAppend},
                                           LocalFileCase{"restart_in_a_missing_folder", "none/f", rtRestart},
                                           LocalFileCase{"replace_onto_a_folder", "folder", rtReplace},
                                           LocalFileCase{"append_onto_a_folder", "folder", rtAppend}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
