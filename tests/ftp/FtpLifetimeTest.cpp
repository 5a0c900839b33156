// The FTP client's lifetime matrix against a real server (pyftpdlib): for every report the client
// delivers, an application that closes the connection, logs on again, or frees the client from
// inside that report. Nothing crashes, hangs or spins, the next log-on works, nothing leaks. The
// reports around TLS's start run again against the same server requiring TLS, where the
// connection's TLS (and its callbacks into the client) may still be under way.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "ftp/QsFtp.h"
#include "tests/support/FtpServers.h"
#include "tests/support/LoopbackPeer.h"
#include "tests/support/ProcessProbe.h"
#include "tests/support/Pump.h"
#include "tests/support/TlsTestPki.h"

using testpump::PumpFor;
using testpump::PumpUntil;

namespace {

enum class TFtpEv {
  Reply,
  Connected,
  LoggedIn,
  CurrentDirectory,
  DataAvailable,
  Progress,
  TransferComplete,
  Error,
  LoggedOut,
  Log,
  Encrypted,  // the history entry of TLS's start
  SocketConnect,  // the socket port's events, which the client's own handling wraps
  SocketError,
};
enum class TFtpAct { Close, LogOnAgain, Free };

const char* EvName(TFtpEv e) {
  switch (e) {
    case TFtpEv::Reply: return "Reply";
    case TFtpEv::Connected: return "Connected";
    case TFtpEv::LoggedIn: return "LoggedIn";
    case TFtpEv::CurrentDirectory: return "CurrentDirectory";
    case TFtpEv::DataAvailable: return "DataAvailable";
    case TFtpEv::Progress: return "Progress";
    case TFtpEv::TransferComplete: return "TransferComplete";
    case TFtpEv::Error: return "Error";
    case TFtpEv::LoggedOut: return "LoggedOut";
    case TFtpEv::Log: return "Log";
    case TFtpEv::Encrypted: return "Encrypted";
    case TFtpEv::SocketConnect: return "SocketConnect";
    case TFtpEv::SocketError: return "SocketError";
  }
  return "?";
}
const char* ActName(TFtpAct a) {
  return a == TFtpAct::Close ? "Close" : a == TFtpAct::LogOnAgain ? "LogOnAgain" : "Free";
}

struct TFtpRecord {
  int loggedIn = 0;
};

class LifeFtp : public TQsFtpClient {
 public:
  LifeFtp(TFtpRecord& record, TFtpEv target, std::function<void()> action)
      : TQsFtpClient(nullptr), record_(record), target_(target), action_(std::move(action)) {
    OnFtpStatus = TFtpStatusEvent(this, &LifeFtp::Status);
    OnFtpError = TFtpErrorEvent(this, &LifeFtp::Error);
    OnFtpReply = TFtpReplyEvent(this, &LifeFtp::Reply);
    OnFtpLog = TFtpLogEvent(this, &LifeFtp::Log);
    OnSocketConnect = TPortNotifyEvent(this, &LifeFtp::SocketConnected);
    OnSocketError = TSocketErrorCodeEvent(this, &LifeFtp::SocketFailed);
  }
  bool Fired() const { return fired_; }
  void Disarm() { fired_ = true; }

 private:
  void Hit(TFtpEv e) {
    if (e != target_ || fired_) return;
    fired_ = true;
    action_();  // may free this client: nothing follows
  }
  void Status(platform::TComponent*, TFtpStatusCode code, const char*) {
    switch (code) {
      case fsConnected: Hit(TFtpEv::Connected); break;
      case fsLoggedIn:
        ++record_.loggedIn;
        Hit(TFtpEv::LoggedIn);
        break;
      case fsCurrentDirectory: Hit(TFtpEv::CurrentDirectory); break;
      case fsDataAvailable: Hit(TFtpEv::DataAvailable); break;
      case fsProgress: Hit(TFtpEv::Progress); break;
      case fsTransferComplete: Hit(TFtpEv::TransferComplete); break;
      case fsLoggedOut: Hit(TFtpEv::LoggedOut); break;
      default: break;
    }
  }
  void Error(platform::TComponent*, std::int32_t, const char*) { Hit(TFtpEv::Error); }
  void Reply(platform::TComponent*, std::int32_t, const char*) { Hit(TFtpEv::Reply); }
  void Log(platform::TComponent*, TFtpLogCode code) { Hit(code == lcEncrypted ? TFtpEv::Encrypted : TFtpEv::Log); }
  void SocketConnected(platform::TComponent*) { Hit(TFtpEv::SocketConnect); }
  void SocketFailed(platform::TComponent*, int) { Hit(TFtpEv::SocketError); }

  TFtpRecord& record_;
  TFtpEv target_;
  std::function<void()> action_;
  bool fired_ = false;
};

struct TFtpCase {
  TFtpEv ev;
  TFtpAct act;
  bool tls = false;
};

const ftpserver::Options& ServerOptions() {
  static ftpserver::Options options;
  return options;
}

class FtpLifetime : public ::testing::TestWithParam<TFtpCase> {
 protected:
  static void SetUpTestSuite() {
    root_ = ftpserver::MakeTempDir("ftplife");
    local_ = ftpserver::MakeTempDir("ftplifelocal");
    ftpserver::WriteFile(root_ + "/big.bin", ftpserver::PatternBytes(3 * 1024 * 1024, 7));
    ftpserver::WriteFile(root_ + "/small.txt", "small\n");
    ftpserver::Options options = ServerOptions();
    options.root = root_;
    server_ = ftpserver::Server::Start(ftpserver::Kind::Pyftpdlib, options, reason_).release();
    const testtls::TAuthority authority("quillstage lifetime authority");
    const testtls::TIdentity identity = authority.Issue("IP:127.0.0.1", -1, 30);
    caFile_ = testtls::WriteFile(local_ + "/ca.pem", authority.CertificatePem());
    options.tlsCertificate = testtls::WriteFile(local_ + "/server.pem", identity.certificatePem);
    options.tlsKey = testtls::WriteFile(local_ + "/server.key", identity.keyPem);
    tlsServer_ = ftpserver::Server::Start(ftpserver::Kind::Pyftpdlib, options, reason_).release();
  }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
    delete tlsServer_;
    tlsServer_ = nullptr;
    ftpserver::RemoveTree(root_);
    ftpserver::RemoveTree(local_);
  }

  void SetUp() override {
    if (server_ == nullptr || tlsServer_ == nullptr) GTEST_SKIP() << reason_;
    Warm(false);
    Warm(true);
    baseline_ = probe::OpenDescriptorCount();
  }

  // The process-wide pieces exist before the count: one log-on and log-off, in clear and in TLS.
  static void Warm(bool tls) {
    static bool warmed[2] = {false, false};
    if (warmed[tls]) return;
    warmed[tls] = true;
    TFtpRecord r;
    LifeFtp c(r, TFtpEv::Reply, [] {});
    c.Disarm();
    Aim(c, tls);
    c.LogOn();
    PumpUntil([&] { return r.loggedIn == 1; }, 10000);
    c.LogOff();
    PumpFor(100);
  }

  static void Aim(LifeFtp& c, bool tls) {
    c.SetServerAddress("127.0.0.1");
    c.SetWsPort(std::to_string((tls ? tlsServer_ : server_)->Port()));
    if (tls) {
      c.SetTlsPolicy(tpRequired);
      c.SetTlsCaFile(caFile_);
    }
    c.SetUserName(ServerOptions().user);
    c.SetPassword(ServerOptions().password);
    c.SetPassiveMode(true);
    c.SetFileType(ftBinary);
  }

  void Act() {
    loggedInAtAction_ = record_.loggedIn;
    switch (GetParam().act) {
      case TFtpAct::Close:
        client_->SetOpen(false);
        break;
      case TFtpAct::LogOnAgain:
        client_->SetOpen(false);
        Aim(*client_, GetParam().tls);  // a refused client tries the server this time
        client_->LogOn();
        break;
      case TFtpAct::Free:
        client_.reset();
        break;
    }
  }

  // Logs on and starts what produces the event.
  void Provoke(TFtpEv ev) {
    if (ev == TFtpEv::SocketError) client_->SetWsPort(std::to_string(peer::UnusedPort()));
    ASSERT_TRUE(client_->LogOn());
    if (ev == TFtpEv::Reply || ev == TFtpEv::Connected || ev == TFtpEv::LoggedIn || ev == TFtpEv::Encrypted ||
        ev == TFtpEv::SocketConnect || ev == TFtpEv::SocketError)
      return;
    ASSERT_TRUE(PumpUntil([&] { return record_.loggedIn == 1; }, 10000));
    switch (ev) {
      case TFtpEv::CurrentDirectory:
        ASSERT_TRUE(client_->QueryCurrentDirectory());
        break;
      case TFtpEv::DataAvailable:
        ASSERT_TRUE(client_->ListDirectory("", true));
        break;
      case TFtpEv::Log:  // the download's history entry
      case TFtpEv::Progress:
      case TFtpEv::TransferComplete:
        ASSERT_TRUE(client_->RetrieveFile("big.bin", local_ + "/big.bin", rtReplace));
        break;
      case TFtpEv::Error:
        ASSERT_TRUE(client_->RetrieveFile("missing.bin", local_ + "/missing.bin", rtReplace));
        break;
      case TFtpEv::LoggedOut:
        client_->LogOff();
        break;
      default:
        break;
    }
  }

  static inline ftpserver::Server* server_ = nullptr;
  static inline ftpserver::Server* tlsServer_ = nullptr;
  static inline std::string caFile_;
  static inline std::string reason_;
  static inline std::string root_;
  static inline std::string local_;
  TFtpRecord record_;
  std::unique_ptr<LifeFtp> client_;
  int baseline_ = 0;
  int loggedInAtAction_ = 0;
};

TEST_P(FtpLifetime, SurvivesTheActionInsideTheReport) {
  const TFtpCase c = GetParam();
  client_ = std::make_unique<LifeFtp>(record_, c.ev, [this] { Act(); });
  Aim(*client_, c.tls);
  LifeFtp* const raw = client_.get();
  ASSERT_NO_FATAL_FAILURE(Provoke(c.ev));
  ASSERT_TRUE(PumpUntil([&] { return !client_ || raw->Fired(); }, 15000)) << "the report never came";

  PumpFor(300);
  const std::int64_t cpuBefore = probe::CpuMilliseconds();
  PumpFor(500);
  EXPECT_LT(probe::CpuMilliseconds() - cpuBefore, 150) << "the loop spins";

  switch (c.act) {
    case TFtpAct::Close:
      ASSERT_TRUE(PumpUntil([&] { return client_->State() == psClosed; }, 3000));
      Aim(*client_, c.tls);
      ASSERT_TRUE(client_->LogOn());
      break;
    case TFtpAct::LogOnAgain:
      break;
    case TFtpAct::Free:
      EXPECT_FALSE(client_);
      client_ = std::make_unique<LifeFtp>(record_, c.ev, [] {});
      client_->Disarm();
      Aim(*client_, c.tls);
      ASSERT_TRUE(client_->LogOn());
      break;
  }
  // The next log-on works.
  EXPECT_TRUE(PumpUntil([&] { return record_.loggedIn > loggedInAtAction_; }, 10000)) << "no log-on after";
  client_->LogOff();
  client_.reset();
  PumpFor(200);
  EXPECT_EQ(probe::OpenDescriptorCount(), baseline_) << "descriptors leaked";
}

std::vector<TFtpCase> AllCases() {
  std::vector<TFtpCase> cases;
  for (TFtpEv e : {TFtpEv::Reply, TFtpEv::Connected, TFtpEv::LoggedIn, TFtpEv::CurrentDirectory,
                   TFtpEv::DataAvailable, TFtpEv::Progress, TFtpEv::TransferComplete, TFtpEv::Error,
                   TFtpEv::LoggedOut, TFtpEv::Log, TFtpEv::SocketConnect, TFtpEv::SocketError})
    for (TFtpAct a : {TFtpAct::Close, TFtpAct::LogOnAgain, TFtpAct::Free}) cases.push_back({e, a});
  for (TFtpEv e : {TFtpEv::Reply, TFtpEv::Connected, TFtpEv::Encrypted, TFtpEv::LoggedIn, TFtpEv::DataAvailable,
                   TFtpEv::Progress})
    for (TFtpAct a : {TFtpAct::Close, TFtpAct::LogOnAgain, TFtpAct::Free}) cases.push_back({e, a, true});
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Matrix, FtpLifetime, ::testing::ValuesIn(AllCases()),
                         [](const ::testing::TestParamInfo<TFtpCase>& info) {
                           return std::string(info.param.tls ? "Tls_" : "") + EvName(info.param.ev) + "_" +
                                  ActName(info.param.act);
                         });

}  // namespace
