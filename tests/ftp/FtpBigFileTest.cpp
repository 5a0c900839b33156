// Big retrievals against real servers, where the file writer's thread and its allocation ahead come
// into play: a complete file is exactly the server's, in every mode; a retrieval whose writes fail
// (a file size limit standing in for a full disk) or that is aborted leaves an intact beginning
// of the file with no space allocated past its end, and is never reported complete. And a long
// listing, which grows its buffer in many steps.
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "tests/ftp/FtpTestClient.h"
#include "tests/support/FtpServers.h"
#include "tests/support/Pump.h"
#include "tests/support/RealPeers.h"

namespace {

using ftpserver::Kind;

const std::string kBig = ftpserver::PatternBytes(24 * 1024 * 1024 + 4099, 777);

long long AllocatedPastEnd(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return -1;
  const long long rounded = (static_cast<long long>(st.st_size) + 4095) / 4096 * 4096;
  return static_cast<long long>(st.st_blocks) * 512 - rounded;
}

class BigFile : public ::testing::TestWithParam<Kind> {
 protected:
  void SetUp() override {
    root_ = ftpserver::MakeTempDir("ftpbig");
    local_ = ftpserver::MakeTempDir("ftpbiglocal");
    ftpserver::WriteFile(root_ + "/big.bin", kBig);
    ftpserver::Options options;
    options.root = root_;
    std::string reason;
    server_ = ftpserver::Server::Start(GetParam(), options, reason);
    QS_NEEDS_REAL_PEER(server_ != nullptr, reason);
    client_.SetServerAddress("127.0.0.1");
    client_.SetWsPort(std::to_string(server_->Port()));
    client_.SetUserName(options.user);
    client_.SetPassword(options.password);
    client_.SetPassiveMode(true);
    ASSERT_TRUE(client_.LogOn());
    ASSERT_EQ(Next().substr(0, 8), "status 1");
    ASSERT_EQ(Next(), "status 3");
  }
  void TearDown() override {
    if (server_) client_.LogOff();
    server_.reset();
    ftpserver::RemoveTree(root_);
    ftpserver::RemoveTree(local_);
  }
  std::string Next(int limitMs = 20000) {
    if (!testpump::PumpUntil([&] { return client_.events.size() > seen_; }, limitMs)) return "none";
    return client_.events[seen_++];
  }
  // After a failed or aborted retrieval: Ready, no completion among the later reports, and the
  // local file an intact beginning of the server's with nothing allocated past its end.
  void ExpectIntactPrefix(const std::string& file) {
    EXPECT_TRUE(testpump::PumpUntil([&] { return client_.FtpState() == fcReady; }));
    testpump::PumpFor(300);
    for (std::size_t i = seen_; i < client_.events.size(); ++i) EXPECT_NE(client_.events[i], "status 8");
    const std::string got = ftpserver::ReadFile(file);
    EXPECT_LT(got.size(), kBig.size());
    EXPECT_TRUE(got == kBig.substr(0, got.size())) << "local size " << got.size();
    EXPECT_LE(AllocatedPastEnd(file), 64 * 1024);
  }

  std::string root_, local_;
  std::unique_ptr<ftpserver::Server> server_;
  TFtpTestClient client_;
  std::size_t seen_ = 0;
  bool aborted_ = false;
};

TEST_P(BigFile, CompleteInEveryMode) {
  const std::string file = local_ + "/big.bin";
  const std::size_t part = 9 * 1024 * 1024 + 5;
  const struct {
    const char* name;
    TRetrieveMode mode;
    std::string before;
    int restart;
    std::string after;
  } cases[] = {
      {"replace", rtReplace, "", 0, kBig},
      {"replace a longer file", rtReplace, kBig + "tail", 0, kBig},
      {"append", rtAppend, "head", 0, "head" + kBig},
      {"restart", rtRestart, kBig.substr(0, part), static_cast<int>(part), kBig},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ::unlink(file.c_str());
    if (!c.before.empty()) ftpserver::WriteFile(file, c.before);
    client_.SetRestartPosition(c.restart);
    ASSERT_TRUE(client_.RetrieveFile("big.bin", file, c.mode));
    EXPECT_EQ(Next(), "status 8");
    EXPECT_TRUE(ftpserver::ReadFile(file) == c.after) << "local size " << ftpserver::ReadFile(file).size();
    EXPECT_LE(AllocatedPastEnd(file), 64 * 1024);
    EXPECT_EQ(client_.BytesTransferred(), static_cast<std::int64_t>(kBig.size() - (c.mode == rtRestart ? part : 0)));
  }
}

// A limit below the thread threshold fails on the client's thread, one above it on the writer's.
TEST_P(BigFile, AFailedWriteFailsTheTransfer) {
  for (const long long limit : {300LL * 1024, 6LL << 20}) {
    SCOPED_TRACE(limit);
    const std::string file = local_ + "/big.bin";
    ::unlink(file.c_str());
    struct sigaction ignore {}, previous {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGXFSZ, &ignore, &previous);
    rlimit saved{};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    rlimit small = saved;
    small.rlim_cur = static_cast<rlim_t>(limit);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    ASSERT_TRUE(client_.RetrieveFile("big.bin", file, rtReplace));
    const std::string report = Next();
    ExpectIntactPrefix(file);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    ::sigaction(SIGXFSZ, &previous, nullptr);
    EXPECT_EQ(report, "error " + std::to_string(EFBIG) + ":Cannot write file \"" + file + "\". " + std::strerror(EFBIG));
    // The connection is still usable.
    ASSERT_TRUE(client_.QueryCurrentDirectory());
    std::string pwd = Next();
    while (pwd.rfind("error", 0) == 0) pwd = Next();
    EXPECT_EQ(pwd, "status 5:/");
  }
}

TEST_P(BigFile, AnAbortLeavesAnIntactBeginning) {
  const std::string file = local_ + "/big.bin";
  client_.onProgress = [&] {
    if (client_.BytesTransferred() >= (4 << 20) && client_.FtpState() == fcRetrieving && !aborted_) {
      aborted_ = true;
      EXPECT_TRUE(client_.AbortTransfer());
    }
  };
  ASSERT_TRUE(client_.RetrieveFile("big.bin", file, rtReplace));
  const std::string report = Next();
  EXPECT_TRUE(report == "status 8" || report.rfind("error 426", 0) == 0) << report;
  if (report != "status 8") ExpectIntactPrefix(file);
  EXPECT_TRUE(aborted_);
}

// A listing of some megabytes, grown in many steps, comes whole (its length is the names' and their
// line ends'), and a second one after it too.
TEST_P(BigFile, ALongListingComesWhole) {
  const std::string folder = root_ + "/names";
  std::size_t expected = 0;
  for (int i = 0; i < 30000; ++i) {
    const std::string name = "a-rather-long-file-name-so-that-the-listing-grows-" + std::to_string(i);
    ftpserver::WriteFile(folder + "/" + name, "");
    expected += name.size() + 2;
  }
  ASSERT_TRUE(client_.ChangeDirectory("names"));
  ASSERT_EQ(Next(), "status 4");
  for (int round = 0; round < 2; ++round) {
    ASSERT_TRUE(client_.ListDirectory("", false));
    EXPECT_EQ(Next(), "status 6:#" + std::to_string(expected));
    EXPECT_EQ(client_.BytesTransferred(), static_cast<std::int64_t>(expected));
  }
}

INSTANTIATE_TEST_SUITE_P(Servers, BigFile, ::testing::Values(Kind::Pyftpdlib, Kind::Vsftpd),
                         [](const ::testing::TestParamInfo<Kind>& info) {
                           return std::string(info.param == Kind::Pyftpdlib ? "pyftpdlib" : "vsftpd");
                         });

}  // namespace
