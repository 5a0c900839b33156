// The TLS layer against the real FTP servers in their TLS-only configuration: AUTH TLS on the
// control connection, PBSZ and PROT P, and a retrieval over a TLS data connection that takes up the
// control connection's session (vsftpd refuses one that does not). Plain blocking sockets move the
// bytes, so these cases check the layer and the servers' ways, not the FTP client.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "ftp/QsFtpText.h"
#include "platform/Tls.h"
#include "tests/support/FtpServers.h"
#include "tests/support/RealPeers.h"
#include "tests/support/TlsTestPki.h"

namespace {

using platform::tls::TClientContext;
using platform::tls::TSession;
using platform::tls::TState;

// One connection, plain until TLS starts on it.
class TWire {
 public:
  explicit TWire(std::uint16_t port) : fd_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  ~TWire() { close(fd_); }
  bool Connected() const { return connected_; }

  TState StartTls(TSession& session) {
    tls_ = &session;
    while (session.Advance() == TState::tsHandshaking) {
      Flush();
      if (!ReceiveSome()) session.PeerEnded();
    }
    Flush();
    return session.State();
  }

  void CloseTls() {
    if (tls_ == nullptr) return;
    tls_->Close();
    Flush();
    shutdown(fd_, SHUT_WR);
  }

  void Send(const std::string& text) {
    if (tls_ == nullptr) {
      ::send(fd_, text.data(), text.size(), MSG_NOSIGNAL);
      return;
    }
    tls_->Write(text.data(), text.size());
    Flush();
  }

  // One whole reply, its lines joined; when the connection ends first, a text that says so.
  std::string Reply() {
    for (;;) {
      const std::size_t end = ReplyEnd();
      if (end != std::string::npos) {
        std::string reply = pending_.substr(0, end);
        pending_.erase(0, end);
        return reply;
      }
      if (!ReadMore()) return "(ended: " + (tls_ != nullptr ? tls_->ErrorText() : "") + ") " + pending_;
    }
  }

  // Everything until the peer ends; *cleanly tells whether it closed TLS properly.
  std::string ReadToEnd(bool* cleanly) {
    while (ReadMore()) {
    }
    *cleanly = tls_ != nullptr && tls_->State() == TState::tsClosed;
    return std::move(pending_);
  }

 private:
  std::size_t ReplyEnd() const {
    for (std::size_t at = 0; at < pending_.size();) {
      const std::size_t eol = pending_.find("\r\n", at);
      if (eol == std::string::npos) return std::string::npos;
      if (eol - at >= 4 && pending_.compare(at, 3, pending_, 0, 3) == 0 && pending_[at + 3] == ' ') return eol + 2;
      at = eol + 2;
    }
    return std::string::npos;
  }

  bool ReadMore() {
    if (tls_ == nullptr) return ReceiveSome();
    char buffer[65536];
    for (;;) {
      const long n = tls_->Read(buffer, sizeof buffer);
      if (n > 0) {
        pending_.append(buffer, static_cast<std::size_t>(n));
        return true;
      }
      Flush();  // a read may answer the peer (TLS 1.3 key updates)
      if (n != platform::tls::kWouldBlock) return false;
      if (!ReceiveSome()) tls_->PeerEnded();
    }
  }

  // Waits (at most 10 s) for bytes; false when the connection ended.
  bool ReceiveSome() {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, 10000) != 1) return false;
    char buffer[65536];
    const ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
    if (n <= 0) return false;
    if (tls_ != nullptr) {
      tls_->Received(buffer, static_cast<std::size_t>(n));
    } else {
      pending_.append(buffer, static_cast<std::size_t>(n));
    }
    return true;
  }

  void Flush() {
    char buffer[65536];
    for (std::size_t n; (n = tls_->TakeOutput(buffer, sizeof buffer)) > 0;) ::send(fd_, buffer, n, MSG_NOSIGNAL);
  }

  int fd_;
  bool connected_ = false;
  TSession* tls_ = nullptr;
  std::string pending_;
};

struct TServerCase {
  ftpserver::Kind kind;
  bool resume;  // the data connection takes up the control connection's session
};

class TlsFtpServer : public ::testing::TestWithParam<TServerCase> {};

TEST_P(TlsFtpServer, RetrievesOverTlsOnlyWithTheControlConnectionsSession) {
  const TServerCase& c = GetParam();
  const std::string folder = ftpserver::MakeTempDir("qs-tls-ftp");
  testtls::TAuthority authority("quillstage test authority");
  const testtls::TIdentity identity = authority.Issue("DNS:localhost,IP:127.0.0.1", -1, 30);
  ftpserver::Options options;
  options.root = ftpserver::MakeTempDir("qs-tls-ftp-root");  // the server's user must reach it
  options.tlsCertificate = testtls::WriteFile(folder + "/server.pem", identity.certificatePem);
  options.tlsKey = testtls::WriteFile(folder + "/server.key", identity.keyPem);
  const std::string content = ftpserver::PatternBytes(3 * 1024 * 1024 + 17, 5);
  ftpserver::WriteFile(options.root + "/setup.exe", content);
  std::string reason;
  auto server = ftpserver::Server::Start(c.kind, options, reason);
  QS_NEEDS_REAL_PEER(server != nullptr, reason);

  {
    TWire clear(server->Port());
    ASSERT_EQ(clear.Reply().substr(0, 3), "220");
    clear.Send("USER " + options.user + "\r\n");
    EXPECT_EQ(clear.Reply().substr(0, 1), "5") << "the server must refuse a log-on in clear text";
  }
  TWire control(server->Port());
  ASSERT_TRUE(control.Connected());
  ASSERT_EQ(control.Reply().substr(0, 3), "220");
  control.Send("AUTH TLS\r\n");
  ASSERT_EQ(control.Reply().substr(0, 3), "234");
  TClientContext context(platform::tls::TTrust{testtls::WriteFile(folder + "/ca.pem", authority.CertificatePem()), ""});
  TSession controlTls(context, "127.0.0.1");
  ASSERT_EQ(control.StartTls(controlTls), TState::tsOpen) << controlTls.ErrorText();
  for (const std::string& command : {"USER " + options.user, "PASS " + options.password, std::string("PBSZ 0"),
                                     std::string("PROT P"), std::string("TYPE I")}) {
    control.Send(command + "\r\n");
    const std::string reply = control.Reply();
    ASSERT_TRUE(reply[0] == '2' || reply[0] == '3') << command << ": " << reply;
  }
  control.Send("PASV\r\n");
  ftptext::TPassiveTarget target;
  ASSERT_TRUE(ftptext::ParsePassiveReply(control.Reply(), target));

  TWire data(target.port);
  ASSERT_TRUE(data.Connected());
  control.Send("RETR setup.exe\r\n");
  std::string replies = control.Reply();  // TLS on the data connection once the transfer starts
  ASSERT_EQ(replies[0], '1') << replies;
  TSession dataTls(context, "127.0.0.1", c.resume ? &controlTls : nullptr);
  const TState opened = data.StartTls(dataTls);
  bool cleanly = false;
  const std::string received = opened == TState::tsOpen ? data.ReadToEnd(&cleanly) : "";
  data.CloseTls();  // vsftpd reports the transfer only once the client has closed TLS too
  replies += control.Reply();

  if (c.resume) {
    EXPECT_EQ(opened, TState::tsOpen) << dataTls.ErrorText();
    EXPECT_TRUE(dataTls.Resumed());
    EXPECT_TRUE(received == content) << received.size() << " of " << content.size() << " bytes";
    EXPECT_TRUE(cleanly) << "the server ended the data connection without closing TLS: " << dataTls.ErrorText();
    EXPECT_NE(replies.find("226"), std::string::npos) << replies;
  } else {
    EXPECT_FALSE(received == content && cleanly);
    EXPECT_NE(replies.find("522"), std::string::npos) << replies;  // "session reuse required"
  }
  server.reset();
  ftpserver::RemoveTree(options.root);
  ftpserver::RemoveTree(folder);
}

INSTANTIATE_TEST_SUITE_P(Servers, TlsFtpServer,
                         ::testing::Values(TServerCase{ftpserver::Kind::Pyftpdlib, true},
                                           TServerCase{ftpserver::Kind::Vsftpd, true},
                                           TServerCase{ftpserver::Kind::Vsftpd, false}),
                         [](const auto& info) {
                           return std::string(info.param.kind == ftpserver::Kind::Pyftpdlib ? "pyftpdlib" : "vsftpd") +
                                  (info.param.resume ? "_resumed" : "_fresh_session");
                         });

}  // namespace
