// The client requiring TLS against servers it must not trust or that do not speak TLS, and a data
// connection cut without TLS's closing message: the log-on or the transfer ends with one error
// that says why, nothing of the account is sent, and nothing is reported complete.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/ftp/FtpTestClient.h"
#include "tests/support/FtpServers.h"
#include "tests/support/Pump.h"
#include "tests/support/RealPeers.h"
#include "tests/support/ScriptServer.h"
#include "tests/support/TlsTestPki.h"

namespace {

enum class TServerTrust { stPlainServer, stWrongName, stExpired, stStranger, stFingerprintMatches, stFingerprintDiffers };

struct TLogOnCase {
  const char* name;
  TServerTrust trust;
  const char* error;  // in the error's text; nullptr: the log-on succeeds
};

class FtpTlsLogOn : public ::testing::TestWithParam<TLogOnCase> {
 protected:
  void TearDown() override {
    server_.reset();
    ftpserver::RemoveTree(root_);
    ftpserver::RemoveTree(certificates_);
  }

  // The reports until the client is Idle again or Ready (or the limit passes).
  void RunLogOn() {
    ASSERT_TRUE(client_.LogOn());
    testpump::PumpUntil([&] { return client_.FtpState() == fcReady || !client_.Connected(); }, 10000);
    testpump::PumpFor(200);  // the reports posted on the way
  }

  std::string root_ = ftpserver::MakeTempDir("ftptls-root");
  std::string certificates_ = ftpserver::MakeTempDir("ftptls-certs");
  testtls::TAuthority authority_{"quillstage test authority"};
  testtls::TAuthority stranger_{"stranger authority"};
  std::unique_ptr<ftpserver::Server> server_;
  TFtpTestClient client_;
};

TEST_P(FtpTlsLogOn, RefusesUntrustedServersBeforeTheAccountIsSent) {
  const TLogOnCase& c = GetParam();
  ftpserver::Options options;
  options.root = root_;
  const testtls::TIdentity identity = c.trust == TServerTrust::stWrongName ? authority_.Issue("DNS:ftp.example.net", -1, 30)
                                      : c.trust == TServerTrust::stExpired  ? authority_.Issue("IP:127.0.0.1", -30, -1)
                                      : c.trust == TServerTrust::stStranger || c.trust == TServerTrust::stFingerprintMatches
                                          ? stranger_.Issue("DNS:other.example", -1, 30)
                                          : authority_.Issue("IP:127.0.0.1", -1, 30);
  if (c.trust != TServerTrust::stPlainServer) {
    options.tlsCertificate = testtls::WriteFile(certificates_ + "/server.pem", identity.certificatePem);
    options.tlsKey = testtls::WriteFile(certificates_ + "/server.key", identity.keyPem);
  }
  std::string reason;
  server_ = ftpserver::Server::Start(ftpserver::Kind::Pyftpdlib, options, reason);
  QS_NEEDS_REAL_PEER(server_ != nullptr, reason);
  client_.SetServerAddress("127.0.0.1");
  client_.SetWsPort(std::to_string(server_->Port()));
  client_.SetUserName(options.user);
  client_.SetPassword(options.password);
  client_.SetTlsPolicy(tpRequired);
  if (c.trust == TServerTrust::stFingerprintMatches) {
    client_.SetTlsFingerprint(testtls::PrintedFingerprint(identity.certificatePem));
  } else if (c.trust == TServerTrust::stFingerprintDiffers) {
    client_.SetTlsFingerprint(testtls::PrintedFingerprint(authority_.CertificatePem()));
  } else {
    client_.SetTlsCaFile(testtls::WriteFile(certificates_ + "/ca.pem", authority_.CertificatePem()));
  }
  RunLogOn();

  const auto errors = std::count_if(client_.events.begin(), client_.events.end(),
                                    [](const std::string& e) { return e.rfind("error ", 0) == 0; });
  if (c.error == nullptr) {
    EXPECT_EQ(client_.FtpState(), fcReady) << ::testing::PrintToString(client_.order);
    EXPECT_EQ(errors, 0);
    return;
  }
  EXPECT_EQ(errors, 1) << ::testing::PrintToString(client_.order);
  const auto error = std::find_if(client_.events.begin(), client_.events.end(),
                                  [](const std::string& e) { return e.rfind("error ", 0) == 0; });
  ASSERT_NE(error, client_.events.end());
  EXPECT_NE(error->find(c.error), std::string::npos) << *error;
  EXPECT_FALSE(client_.Connected());
  // The server never saw the user name: it would have answered 331.
  EXPECT_EQ(std::count(client_.replies.begin(), client_.replies.end(), "331"), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FtpTlsLogOn,
    ::testing::Values(TLogOnCase{"plain_server", TServerTrust::stPlainServer, "error 5"},
                      TLogOnCase{"wrong_name", TServerTrust::stWrongName, "not made out to 127.0.0.1"},
                      TLogOnCase{"expired", TServerTrust::stExpired, "has expired"},
                      TLogOnCase{"untrusted_issuer", TServerTrust::stStranger, "trusted issuer"},
                      TLogOnCase{"fingerprint_matches", TServerTrust::stFingerprintMatches, nullptr},
                      TLogOnCase{"fingerprint_differs", TServerTrust::stFingerprintDiffers, "trusted fingerprint"}),
    [](const auto& info) { return std::string(info.param.name); });

// With the trace and the dispatch log on, the connection's TLS is noted once in the trace and the
// password reaches neither file (the line is there, masked, so the counts still add up).
TEST(FtpTlsDiagnostics, TraceNotesTlsOnceAndNoFileHoldsThePassword) {
  const std::string folder = ftpserver::MakeTempDir("ftptls-diag");
  testtls::TAuthority authority("quillstage test authority");
  const testtls::TIdentity identity = authority.Issue("IP:127.0.0.1", -1, 30);
  ftpserver::Options options;
  options.root = folder;
  options.password = "Zq8secretW";
  options.tlsCertificate = testtls::WriteFile(folder + "/server.pem", identity.certificatePem);
  options.tlsKey = testtls::WriteFile(folder + "/server.key", identity.keyPem);
  std::string reason;
  auto server = ftpserver::Server::Start(ftpserver::Kind::Pyftpdlib, options, reason);
  QS_NEEDS_REAL_PEER(server != nullptr, reason);

  TFtpTestClient client;
  client.SetServerAddress("127.0.0.1");
  client.SetWsPort(std::to_string(server->Port()));
  client.SetUserName(options.user);
  client.SetPassword(options.password);
  client.SetTlsPolicy(tpRequired);
  client.SetTlsCaFile(testtls::WriteFile(folder + "/ca.pem", authority.CertificatePem()));
  client.SetTraceName(folder + "/qs.trc");
  client.SetLogName(folder + "/qs.log");
  client.SetTracing(tlOn);
  client.SetLogging(tlOn);
  ASSERT_TRUE(client.LogOn());
  ASSERT_TRUE(testpump::PumpUntil([&] { return client.FtpState() == fcReady; }, 10000)) << ::testing::PrintToString(client.order);
  const std::string description = client.TlsDescription();
  client.LogOff();  // closing the port writes both files

  const std::string trace = ftpserver::ReadFile(folder + "/qs.trc");
  const std::string log = ftpserver::ReadFile(folder + "/qs.log");
  ASSERT_FALSE(trace.empty());
  ASSERT_FALSE(log.empty());
  // The files show a space as [20] (the port's TraceHex and LogHex are on).
  const auto shown = [](std::string text) {
    for (std::size_t at; (at = text.find(' ')) != std::string::npos;) text.replace(at, 1, "[20]");
    return text;
  };
  const std::string note = "Special-S: " + shown(description);
  ASSERT_EQ(description.rfind("TLSv1.", 0), 0u) << description;
  EXPECT_NE(trace.find(note), std::string::npos) << trace;
  EXPECT_EQ(trace.find("Special-S: ", trace.find(note) + 1), std::string::npos) << trace;
  const std::string masked = shown("PASS " + std::string(options.password.size(), '*') + "[0D][0A]");
  for (const std::string* file : {&trace, &log}) {
    EXPECT_EQ(file->find(options.password), std::string::npos) << *file;
    EXPECT_NE(file->find(masked), std::string::npos) << *file;
  }
  server.reset();
  ftpserver::RemoveTree(folder);
}

// The server goes away as soon as it has asked for the password: the client's PASS goes to a
// closed connection (the write may fail and close the port under it). The run ends once,
// unconnected, and the files written on closing hold the masked line and no password.
TEST(FtpTlsDiagnostics, AServerGoneAtThePasswordEndsOnceAndLeavesNoPassword) {
  const std::string folder = ftpserver::MakeTempDir("ftptls-gone");
  testtls::TAuthority authority("quillstage test authority");
  const testtls::TIdentity identity = authority.Issue("IP:127.0.0.1", -1, 30);
  const std::string cert = testtls::WriteFile(folder + "/server.pem", identity.certificatePem);
  const std::string key = testtls::WriteFile(folder + "/server.key", identity.keyPem);
  const std::string ca = testtls::WriteFile(folder + "/ca.pem", authority.CertificatePem());
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    testsupport::ScriptServer server(
        {"/usr/bin/python3", QS_SOURCE_DIR "/tests/ftp/tls-cut-server.py", cert, key, "0", "gone-after-331"});
    QS_NEEDS_REAL_PEER(server.Port() != 0, "the TLS script server did not start");
    const std::string trace = folder + "/qs" + std::to_string(round) + ".trc";
    const std::string log = folder + "/qs" + std::to_string(round) + ".log";
    TFtpTestClient client;
    client.SetServerAddress("127.0.0.1");
    client.SetWsPort(std::to_string(server.Port()));
    client.SetUserName("user");
    client.SetPassword("Zq8secretW");
    client.SetTlsPolicy(tpRequired);
    client.SetTlsCaFile(ca);
    client.SetTraceName(trace);
    client.SetLogName(log);
    client.SetTracing(tlOn);
    client.SetLogging(tlOn);
    ASSERT_TRUE(client.LogOn());
    EXPECT_TRUE(testpump::PumpUntil([&] { return !client.Connected(); }, 10000)) << ::testing::PrintToString(client.order);
    testpump::PumpFor(200);
    client.LogOff();
    EXPECT_FALSE(client.Connected());
    EXPECT_EQ(std::count(client.replies.begin(), client.replies.end(), "230"), 0);
    const auto errors = std::count_if(client.events.begin(), client.events.end(),
                                      [](const std::string& e) { return e.rfind("error ", 0) == 0; });
    EXPECT_LE(errors, 1) << ::testing::PrintToString(client.order);
    EXPECT_EQ(ftpserver::ReadFile(trace).find("Zq8secretW"), std::string::npos);
    EXPECT_EQ(ftpserver::ReadFile(log).find("Zq8secretW"), std::string::npos);
    EXPECT_NE(ftpserver::ReadFile(trace).find("PASS[20]**********"), std::string::npos);
  }
  ftpserver::RemoveTree(folder);
}

class FtpTlsCut : public ::testing::TestWithParam<std::string> {};

// The server says 226 every time; only a TLS connection closed by TLS's own message makes the
// file complete: not one cut, not one in clear text while PROT P is in force.
TEST_P(FtpTlsCut, ADataConnectionCutWithoutClosingTlsIsNoCompleteFile) {
  const std::string mode = GetParam();
  const bool clean = mode == "clean";
  const std::string folder = ftpserver::MakeTempDir("ftptls-cut");
  testtls::TAuthority authority("quillstage test authority");
  const testtls::TIdentity identity = authority.Issue("IP:127.0.0.1", -1, 30);
  const std::string cert = testtls::WriteFile(folder + "/server.pem", identity.certificatePem);
  const std::string key = testtls::WriteFile(folder + "/server.key", identity.keyPem);
  testsupport::ScriptServer server(
      {"/usr/bin/python3", QS_SOURCE_DIR "/tests/ftp/tls-cut-server.py", cert, key, "300000", mode});
  QS_NEEDS_REAL_PEER(server.Port() != 0, "the TLS script server did not start");

  TFtpTestClient client;
  client.SetServerAddress("127.0.0.1");
  client.SetWsPort(std::to_string(server.Port()));
  client.SetUserName("user");
  client.SetPassword("secret");
  client.SetPassiveMode(true);
  client.SetTlsPolicy(tpRequired);
  client.SetTlsCaFile(testtls::WriteFile(folder + "/ca.pem", authority.CertificatePem()));
  ASSERT_TRUE(client.LogOn());
  ASSERT_TRUE(testpump::PumpUntil([&] { return client.FtpState() == fcReady; }, 10000)) << ::testing::PrintToString(client.order);
  const std::string local = folder + "/setup.exe";
  ASSERT_TRUE(client.RetrieveFile("setup.exe", local, rtReplace));
  testpump::PumpUntil([&] { return client.FtpState() == fcReady; }, 10000);
  testpump::PumpFor(300);

  const bool complete = std::count(client.events.begin(), client.events.end(), "status 8") == 1;
  const auto errors = std::count_if(client.events.begin(), client.events.end(),
                                    [](const std::string& e) { return e.rfind("error ", 0) == 0; });
  if (clean) {
    EXPECT_TRUE(complete) << ::testing::PrintToString(client.order);
    EXPECT_EQ(errors, 0);
    EXPECT_EQ(ftpserver::ReadFile(local).size(), 300000u);
  } else {
    EXPECT_FALSE(complete) << ::testing::PrintToString(client.order);
    EXPECT_EQ(errors, 1) << ::testing::PrintToString(client.order);
  }
  client.LogOff();
  ftpserver::RemoveTree(folder);
}

INSTANTIATE_TEST_SUITE_P(Cases, FtpTlsCut, ::testing::Values("clean", "cut", "plain"),
                         [](const auto& info) { return info.param; });

}  // namespace
