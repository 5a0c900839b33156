// The TLS layer against a server over memory buffers, with certificates the tests make: which
// certificates a client accepts and why it refuses the others, that nothing of the application is
// sent to a refused server, that every byte arrives however it is cut, how a connection's end is
// told apart from a cut, and taking up an earlier session.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <random>
#include <string>
#include <vector>

#include "platform/SysUtils.h"
#include "platform/Tls.h"
#include "tests/support/TlsTestPki.h"

namespace {

using platform::tls::TClientContext;
using platform::tls::TSession;
using platform::tls::TState;
using platform::tls::TTrust;
using testtls::TAuthority;
using testtls::TIdentity;
using testtls::TMemoryServer;

const std::string kNames = "DNS:localhost,IP:127.0.0.1";

class Tls : public ::testing::Test {
 protected:
  void SetUp() override {
    char folder[] = "/tmp/qs-tls-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    folder_ = folder;
    caFile_ = testtls::WriteFile(folder_ + "/ca.pem", authority_.CertificatePem());
  }
  void TearDown() override { std::system(("rm -rf " + folder_).c_str()); }

  TTrust TrustOwnAuthority() const { return TTrust{caFile_, ""}; }

  // Everything the client can read now.
  static std::string ReadAvailable(TSession& client, long* last = nullptr) {
    std::string text;
    char buffer[1000];
    long n;
    while ((n = client.Read(buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<std::size_t>(n));
    if (last != nullptr) *last = n;
    return text;
  }

  TAuthority authority_{"quillstage test authority"};
  TAuthority stranger_{"stranger authority"};
  std::string folder_;
  std::string caFile_;
};

enum class TTrustKind { tkCaFile, tkSystem, tkOwnFingerprint, tkOtherFingerprint };
enum class TCertKind { ckGood, ckExpired, ckNotYet, ckStranger };

struct TTrustCase {
  const char* name;
  TTrustKind trust;
  TCertKind certificate;
  const char* host;
  const char* refusal;  // nullptr: the connection opens
};

class TlsTrust : public Tls, public ::testing::WithParamInterface<TTrustCase> {};

TEST_P(TlsTrust, OpensOnlyForTrustedCertificatesAndSaysWhyNot) {
  const TTrustCase& c = GetParam();
  const TIdentity identity = c.certificate == TCertKind::ckExpired  ? authority_.Issue(kNames, -30, -1)
                             : c.certificate == TCertKind::ckNotYet  ? authority_.Issue(kNames, 2, 30)
                             : c.certificate == TCertKind::ckStranger ? stranger_.Issue("DNS:other.example", -1, 30)
                                                                       : authority_.Issue(kNames, -1, 30);
  TTrust trust;
  if (c.trust == TTrustKind::tkCaFile) trust = TrustOwnAuthority();
  if (c.trust == TTrustKind::tkOwnFingerprint) trust.fingerprint = testtls::PrintedFingerprint(identity.certificatePem);
  if (c.trust == TTrustKind::tkOtherFingerprint) {
    trust.fingerprint = testtls::PrintedFingerprint(authority_.Issue(kNames, -1, 30).certificatePem);
  }
  TClientContext context(trust);
  TMemoryServer server(identity);
  TSession client(context, c.host);
  testtls::Pump(client, server);

  if (c.refusal == nullptr) {
    ASSERT_EQ(client.State(), TState::tsOpen) << client.ErrorText();
    EXPECT_EQ(client.PeerFingerprint(), platform::tls::NormalFingerprint(testtls::PrintedFingerprint(identity.certificatePem)));
    EXPECT_EQ(client.Version().rfind("TLSv1.", 0), 0u) << client.Version();
    EXPECT_FALSE(client.Cipher().empty());
    ASSERT_EQ(client.Write("USER anonymous\r\n", 16), 16);
    testtls::Pump(client, server);
    EXPECT_EQ(server.ReadAll(), "USER anonymous\r\n");
  } else {
    ASSERT_EQ(client.State(), TState::tsFailed);
    EXPECT_NE(client.ErrorText().find(c.refusal), std::string::npos) << client.ErrorText();
    EXPECT_EQ(client.Write("PASS secret\r\n", 13), platform::tls::kFailed);
    testtls::Pump(client, server);
    EXPECT_EQ(server.ReadAll(), "");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TlsTrust,
    ::testing::Values(
        TTrustCase{"name", TTrustKind::tkCaFile, TCertKind::ckGood, "localhost", nullptr},
        TTrustCase{"address", TTrustKind::tkCaFile, TCertKind::ckGood, "127.0.0.1", nullptr},
        TTrustCase{"wrong_name", TTrustKind::tkCaFile, TCertKind::ckGood, "ftp.example.net", "not made out to ftp.example.net"},
        TTrustCase{"wrong_address", TTrustKind::tkCaFile, TCertKind::ckGood, "127.0.0.2", "not made out to 127.0.0.2"},
        TTrustCase{"expired", TTrustKind::tkCaFile, TCertKind::ckExpired, "localhost", "has expired"},
        TTrustCase{"not_yet_valid", TTrustKind::tkCaFile, TCertKind::ckNotYet, "localhost", "not valid yet"},
        TTrustCase{"untrusted_issuer", TTrustKind::tkCaFile, TCertKind::ckStranger, "other.example", "trusted issuer"},
        TTrustCase{"system_store", TTrustKind::tkSystem, TCertKind::ckGood, "localhost", "trusted issuer"},
        TTrustCase{"fingerprint_decides_alone", TTrustKind::tkOwnFingerprint, TCertKind::ckStranger, "localhost", nullptr},
        TTrustCase{"fingerprint_of_expired", TTrustKind::tkOwnFingerprint, TCertKind::ckExpired, "localhost", nullptr},
        TTrustCase{"fingerprint_differs", TTrustKind::tkOtherFingerprint, TCertKind::ckGood, "localhost",
                   "does not match the trusted fingerprint"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Tls, EveryByteArrivesHoweverTheCiphertextIsCut) {
  TClientContext context(TrustOwnAuthority());
  TMemoryServer server(authority_.Issue(kNames, -1, 30));
  TSession client(context, "localhost");
  testtls::Pump(client, server);
  ASSERT_EQ(client.State(), TState::tsOpen) << client.ErrorText();

  std::mt19937 random(7);
  std::string sent;
  for (int i = 0; i < 200; ++i) {
    std::string block(random() % 40000, '\0');
    for (char& b : block) b = static_cast<char>(random());
    server.Write(block);
    sent += block;
  }
  std::string ciphertext(sent.size() * 2, '\0');
  ciphertext.resize(server.TakeOutput(ciphertext.data(), ciphertext.size()));
  std::string got;
  std::vector<char> buffer(70000);
  for (std::size_t at = 0; at < ciphertext.size();) {
    const std::size_t n = std::min<std::size_t>(1 + random() % 20000, ciphertext.size() - at);
    client.Received(ciphertext.data() + at, n);
    at += n;
    for (long r; (r = client.Read(buffer.data(), 1 + random() % buffer.size())) > 0;) got.append(buffer.data(), r);
  }
  EXPECT_TRUE(got == sent) << got.size() << " of " << sent.size() << " bytes";

  const std::string upload(1 << 20, 'u');
  ASSERT_EQ(client.Write(upload.data(), upload.size()), static_cast<long>(upload.size()));
  testtls::Pump(client, server);
  EXPECT_TRUE(server.ReadAll() == upload);
}

enum class TEnding { teClosed, teCut, teCutInRecord, teCutInHandshake };

std::string EndingName(TEnding ending) {
  static const char* const kEndings[] = {"closed", "cut", "cut_in_record", "cut_in_handshake"};
  return kEndings[static_cast<int>(ending)];
}

class TlsEnding : public Tls, public ::testing::WithParamInterface<TEnding> {};

// A file is complete only when the server closed TLS itself: a connection that merely ends may
// have been cut by anyone in between.
TEST_P(TlsEnding, OnlyAProperCloseEndsCleanly) {
  TClientContext context(TrustOwnAuthority());
  TMemoryServer server(authority_.Issue(kNames, -1, 30));
  TSession client(context, "localhost");
  if (GetParam() == TEnding::teCutInHandshake) {
    client.Advance();
    client.PeerEnded();
    EXPECT_EQ(client.Advance(), TState::tsFailed);
    EXPECT_NE(client.ErrorText().find("during the TLS handshake"), std::string::npos) << client.ErrorText();
    return;
  }
  testtls::Pump(client, server);
  ASSERT_EQ(client.State(), TState::tsOpen) << client.ErrorText();
  server.Write("first part");
  if (GetParam() == TEnding::teClosed) server.Close();
  testtls::Pump(client, server);
  if (GetParam() == TEnding::teCutInRecord) {
    server.Write("second part");
    char partial[8];
    client.Received(partial, server.TakeOutput(partial, sizeof partial));
  }
  if (GetParam() != TEnding::teClosed) client.PeerEnded();

  long last = 0;
  EXPECT_EQ(ReadAvailable(client, &last), "first part");
  if (GetParam() == TEnding::teClosed) {
    EXPECT_EQ(last, 0);
    EXPECT_EQ(client.State(), TState::tsClosed);
  } else {
    EXPECT_EQ(last, platform::tls::kFailed);
    EXPECT_NE(client.ErrorText().find("without closing TLS"), std::string::npos) << client.ErrorText();
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, TlsEnding,
                         ::testing::Values(TEnding::teClosed, TEnding::teCut, TEnding::teCutInRecord,
                                           TEnding::teCutInHandshake),
                         [](const auto& info) { return EndingName(info.param); });

TEST_F(Tls, ADataConnectionTakesUpItsControlConnectionsSession) {
  TClientContext context(TrustOwnAuthority());
  TMemoryServer server(authority_.Issue(kNames, -1, 30));
  TSession control(context, "localhost");
  testtls::Pump(control, server);
  server.Write("230 Logged on\r\n");
  testtls::Pump(control, server);
  ASSERT_EQ(ReadAvailable(control), "230 Logged on\r\n");  // reading takes the session tickets too
  EXPECT_FALSE(control.Resumed());

  for (const bool resume : {true, false}) {
    server.NewConnection();
    TSession data(context, "localhost", resume ? &control : nullptr);
    testtls::Pump(data, server);
    ASSERT_EQ(data.State(), TState::tsOpen) << data.ErrorText();
    EXPECT_EQ(data.Resumed(), resume);
    EXPECT_EQ(server.Resumed(), resume);
  }
}

TEST_F(Tls, APeerThatDoesNotSpeakTlsFailsTheHandshake) {
  TClientContext context(TrustOwnAuthority());
  TSession client(context, "localhost");
  client.Advance();
  const std::string plain = "150 Opening BINARY mode data connection\r\n";
  client.Received(plain.data(), plain.size());
  EXPECT_EQ(client.Advance(), TState::tsFailed);
  EXPECT_NE(client.ErrorText().find("TLS handshake failed"), std::string::npos) << client.ErrorText();
  char buffer[100];
  EXPECT_EQ(client.Read(buffer, sizeof buffer), platform::tls::kFailed);
}

TEST_F(Tls, UnusableTrustIsRefusedWhenTheContextIsMade) {
  EXPECT_THROW(TClientContext(TTrust{"", "AB:CD"}), platform::Exception);
  EXPECT_THROW(TClientContext(TTrust{folder_ + "/missing.pem", ""}), platform::Exception);
  const std::string notPem = testtls::WriteFile(folder_ + "/empty.pem", "no certificates here\n");
  EXPECT_THROW(TClientContext(TTrust{notPem, ""}), platform::Exception);

  const std::string printed = testtls::PrintedFingerprint(authority_.CertificatePem());
  std::string lower;
  for (char c : printed) {
    if (c != ':') lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  EXPECT_EQ(platform::tls::NormalFingerprint(printed), lower);
  EXPECT_EQ(platform::tls::NormalFingerprint(lower), lower);
  EXPECT_EQ(platform::tls::NormalFingerprint(lower.substr(1)), "");
  EXPECT_EQ(platform::tls::NormalFingerprint(lower.substr(1) + "g"), "");
}

}  // namespace
