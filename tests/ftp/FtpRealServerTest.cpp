// The client against real servers (pyftpdlib, and vsftpd where it can run): log on, directories,
// listings, retrievals in every mode over passive and active connections, a missing file, abort.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include <unistd.h>

#include "tests/ftp/FtpTestClient.h"
#include "tests/support/FtpServers.h"
#include "tests/support/Pump.h"
#include "tests/support/RealPeers.h"
#include "tests/support/TlsTestPki.h"

namespace {

using ftpserver::Kind;


std::string Pattern(std::size_t size) { return ftpserver::PatternBytes(size, 12345); }

const std::string kSetup = Pattern(200 * 1024 + 7);

// Each server in plain FTP, and in its TLS-only configuration with the client requiring TLS:
// everything below runs alike over both.
struct TRealServer {
  Kind kind;
  bool tls;
};

class RealFtp : public ::testing::TestWithParam<TRealServer> {
 protected:
  void SetUp() override {
    root_ = ftpserver::MakeTempDir("ftpreal");
    local_ = ftpserver::MakeTempDir("ftplocal");
    ftpserver::WriteFile(root_ + "/ORV_program/setup.exe", kSetup);
    ftpserver::WriteFile(root_ + "/ORV_program/readme.txt", "read me\n");
    ftpserver::WriteFile(root_ + "/top.txt", "top\n");
    ftpserver::Options options;
    options.root = root_;
    if (GetParam().tls) {
      const testtls::TIdentity identity = authority_.Issue("DNS:localhost,IP:127.0.0.1", -1, 30);
      options.tlsCertificate = testtls::WriteFile(local_ + "/server.pem", identity.certificatePem);
      options.tlsKey = testtls::WriteFile(local_ + "/server.key", identity.keyPem);
      client_.SetTlsPolicy(tpRequired);
      client_.SetTlsCaFile(testtls::WriteFile(local_ + "/ca.pem", authority_.CertificatePem()));
    }
    std::string reason;
    server_ = ftpserver::Server::Start(GetParam().kind, options, reason);
    QS_NEEDS_REAL_PEER(server_ != nullptr, reason);
    client_.SetServerAddress("127.0.0.1");
    client_.SetWsPort(std::to_string(server_->Port()));
    client_.SetUserName(options.user);
    client_.SetPassword(options.password);
    ASSERT_TRUE(client_.LogOn());
    ASSERT_EQ(Next().substr(0, 8), "status 1");
    ASSERT_EQ(Next(), "status 3");
    EXPECT_EQ(client_.TlsDescription().rfind("TLSv1.", 0) == 0, GetParam().tls) << client_.TlsDescription();
  }
  void TearDown() override {
    if (server_) client_.LogOff();
    server_.reset();
    ftpserver::RemoveTree(root_);
    ftpserver::RemoveTree(local_);
  }

  // The next report, or "none" when none came in time.
  std::string Next(int limitMs = 10000) {
    if (!testpump::PumpUntil([&] { return client_.events.size() > seen_; }, limitMs)) return "none";
    return client_.events[seen_++];
  }

  std::string root_, local_;
  testtls::TAuthority authority_{"quillstage test authority"};
  std::unique_ptr<ftpserver::Server> server_;
  TFtpTestClient client_;
  std::size_t seen_ = 0;
};

TEST_P(RealFtp, DirectoriesAndLogOff) {
  ASSERT_TRUE(client_.QueryCurrentDirectory());
  EXPECT_EQ(Next(), "status 5:/");
  ASSERT_TRUE(client_.ChangeDirectory("//ORV_program"));
  EXPECT_EQ(Next(), "status 4");
  ASSERT_TRUE(client_.ChangeDirectory(""));
  EXPECT_EQ(Next(), "status 5:/ORV_program");
  ASSERT_TRUE(client_.ChangeDirectory("missing"));
  EXPECT_EQ(Next().substr(0, 14), "error 550:550 ");
  EXPECT_EQ(client_.FtpState(), fcReady);
  EXPECT_TRUE(client_.LogOff());
  EXPECT_EQ(Next(), "status 2");
  EXPECT_FALSE(client_.Connected());
}

TEST_P(RealFtp, Listings) {
  const struct {
    bool passive;
    bool full;
    const char* path;
  } cases[] = {{true, false, ""}, {false, false, ""}, {true, true, "ORV_program"}, {false, false, "ORV_program"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.passive ? "passive " : "active ") + (c.full ? "LIST " : "NLST ") + c.path);
    client_.SetPassiveMode(c.passive);
    ASSERT_TRUE(client_.ListDirectory(c.path, c.full));
    const std::string report = Next();
    if (std::string(c.path).empty()) {
      EXPECT_NE(report.find("top.txt\r\n"), std::string::npos) << report;
      EXPECT_NE(report.find("ORV_program"), std::string::npos) << report;
    } else {
      EXPECT_NE(report.find("setup.exe\r\n"), std::string::npos) << report;
      EXPECT_NE(report.find("readme.txt\r\n"), std::string::npos) << report;
    }
    EXPECT_EQ(report.substr(0, 9), "status 6:") << ::testing::PrintToString(client_.order);
    EXPECT_EQ(client_.FtpState(), fcReady);
  }
}

TEST_P(RealFtp, RetrievalsInEveryMode) {
  const std::string file = local_ + "/setup.exe";
  const struct {
    const char* name;
    bool passive;
    TRetrieveMode mode;
    std::string before;  // the local file before ("" = missing)
    int restart;
    std::string after;
  } cases[] = {
      {"replace passive, missing file", true, rtReplace, "", 0, kSetup},
      {"replace active, longer old file", false, rtReplace, std::string(300000, 'o'), 0, kSetup},
      {"append", true, rtAppend, std::string(300, 'p'), 0, std::string(300, 'p') + kSetup},
      {"append, missing file", true, rtAppend, "", 0, kSetup},
      {"restart, missing file", false, rtRestart, "", 5000, kSetup},
      {"restart beyond the local size", true, rtRestart, kSetup.substr(0, 1000), 5000, kSetup},
      {"restart active, whole local size", false, rtRestart, kSetup.substr(0, 4096), -1, kSetup},
  };
  ASSERT_TRUE(client_.ChangeDirectory("ORV_program"));
  ASSERT_EQ(Next(), "status 4");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ::unlink(file.c_str());
    if (!c.before.empty()) ftpserver::WriteFile(file, c.before);
    client_.SetPassiveMode(c.passive);
    client_.SetRestartPosition(c.restart);
    ASSERT_TRUE(client_.RetrieveFile("setup.exe", file, c.mode));
    EXPECT_EQ(Next(), "status 8");
    EXPECT_EQ(ftpserver::ReadFile(file) == c.after, true) << "local size " << ftpserver::ReadFile(file).size();
    if (c.mode == rtRestart) {
      EXPECT_EQ(client_.RestartPosition(), static_cast<int>(c.before.size()));
    }
    EXPECT_EQ(client_.BytesTransferred(), static_cast<int>(kSetup.size() - (c.mode == rtRestart ? c.before.size() : 0)));
  }
}

TEST_P(RealFtp, MissingFileReportsTheServersText) {
  client_.SetPassiveMode(true);
  ASSERT_TRUE(client_.RetrieveFile("no-such-file", local_ + "/x", rtReplace));
  const std::string expected = GetParam().kind == Kind::Pyftpdlib ? "error 550:550 No such file or directory.\r\n"
                                                             : "error 550:550 Failed to open file.\r\n";
  EXPECT_EQ(Next(), expected);
  testpump::PumpFor(300);
  EXPECT_EQ(client_.events.size(), seen_);  // one failure, one report
  EXPECT_EQ(client_.FtpState(), fcReady);
}

TEST_P(RealFtp, AbortDuringATransfer) {
  const std::string big = Pattern(48 * 1024 * 1024);
  ftpserver::WriteFile(root_ + "/big.bin", big);
  const std::string file = local_ + "/big.bin";
  client_.SetPassiveMode(true);
  client_.onProgress = [&] {
    if (client_.progress == 1) {
      EXPECT_TRUE(client_.AbortTransfer());
    }
  };
  ASSERT_TRUE(client_.RetrieveFile("big.bin", file, rtReplace));
  const std::string report = Next();
  EXPECT_TRUE(report == "status 8" || report.rfind("error 426", 0) == 0) << report;
  EXPECT_TRUE(testpump::PumpUntil([&] { return client_.FtpState() == fcReady; }));
  testpump::PumpFor(300);
  EXPECT_LT(ftpserver::ReadFile(file).size(), big.size());
  // The connection is still usable.
  ASSERT_TRUE(client_.QueryCurrentDirectory());
  std::string pwd = Next();
  while (pwd.rfind("error", 0) == 0 || pwd == "status 8") pwd = Next();
  EXPECT_EQ(pwd, "status 5:/");
}

INSTANTIATE_TEST_SUITE_P(Servers, RealFtp,
                         ::testing::Values(TRealServer{Kind::Pyftpdlib, false}, TRealServer{Kind::Vsftpd, false},
                                           TRealServer{Kind::Pyftpdlib, true}, TRealServer{Kind::Vsftpd, true}),
                         [](const ::testing::TestParamInfo<TRealServer>& info) {
                           return std::string(info.param.kind == Kind::Pyftpdlib ? "pyftpdlib" : "vsftpd") +
                                  (info.param.tls ? "_tls" : "");
                         });

}  // namespace
