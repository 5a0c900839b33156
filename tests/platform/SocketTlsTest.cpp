// TLS on sockets of the socket library, driven by their notices as the engine drives them: a
// retrieval from the real servers in their TLS-only configuration, read in small and large
// pieces (plain text the TLS layer holds must be told of, the descriptor cannot show it), and a
// failed handshake that must not let through what was sent while it ran.
#include "platform/SocketTls.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>

#include "ftp/QsFtpText.h"
#include "platform/MessageLoop.h"
#include "tests/support/FtpServers.h"
#include "tests/support/LoopbackPeer.h"
#include "tests/support/Pump.h"
#include "tests/support/RealPeers.h"
#include "tests/support/TlsTestPki.h"

using namespace platform;
using namespace platform::ws;

namespace {

constexpr UINT kSocketMessage = 2901;

// One selected connection and what its notices brought.
struct TConnection {
  SOCKET s = INVALID_SOCKET;
  int readSize = 4096;
  std::string in;
  bool ended = false;  // recv gave 0: the peer closed (TLS properly, when it runs)
  int error = 0;       // recv's error, once
  int reads = 0;
};

std::map<SOCKET, TConnection*> gConnections;

int ReadOnce(TConnection& c) {
  std::string buffer(static_cast<std::size_t>(c.readSize), '\0');
  const int n = recv(c.s, buffer.data(), c.readSize, 0);
  ++c.reads;
  if (n > 0) c.in.append(buffer.data(), static_cast<std::size_t>(n));
  if (n == 0) c.ended = true;
  if (n < 0 && WSAGetLastError() != WSAEWOULDBLOCK && c.error == 0) c.error = WSAGetLastError();
  return n;
}

LRESULT OnNotice(HWND hwnd, UINT msg, WPARAM w, LPARAM l) {
  if (msg != kSocketMessage) return DefWindowProc(hwnd, msg, w, l);
  auto it = gConnections.find(static_cast<SOCKET>(w));
  if (it == gConnections.end()) return 0;
  TConnection& c = *it->second;
  const long event = static_cast<long>(l & 0xFFFF);
  if (event == FD_READ) ReadOnce(c);
  if (event == FD_CLOSE) {
    // Unread data stays readable after the close notice: take all of it.
    while (ReadOnce(c) > 0) {
    }
  }
  return 0;
}

class TlsSocket : public ::testing::Test {
 protected:
  void SetUp() override {
    WSADATA data;
    ASSERT_EQ(WSAStartup(0x0101, &data), 0);
    RegisterWindowClass("TlsNotices", OnNotice);
    window_ = CreateWindowOfClass("TlsNotices");
  }
  void TearDown() override {
    for (auto& [s, c] : gConnections) closesocket(s);
    gConnections.clear();
    DestroyWindow(window_);
    WSACleanup();
  }

  TConnection& Open(std::uint16_t port, int readSize) {
    auto connection = std::make_unique<TConnection>();
    connection->s = socket(AF_INET, SOCK_STREAM, 0);
    connection->readSize = readSize;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(0x7F000001);
    EXPECT_EQ(connect(connection->s, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    EXPECT_EQ(WSAAsyncSelect(connection->s, window_, kSocketMessage, FD_READ | FD_CLOSE), 0);
    gConnections[connection->s] = connection.get();
    owned_.push_back(std::move(connection));
    return *owned_.back();
  }

  static void Send(TConnection& c, const std::string& text) {
    EXPECT_EQ(send(c.s, text.data(), static_cast<int>(text.size()), 0), static_cast<int>(text.size()));
  }

  // The next whole reply on a control connection ("" when none comes).
  static std::string Reply(TConnection& c) {
    std::size_t end = std::string::npos;
    testpump::PumpUntil([&] {
      for (std::size_t at = 0; at < c.in.size();) {
        const std::size_t eol = c.in.find("\r\n", at);
        if (eol == std::string::npos) break;
        if (eol - at >= 4 && c.in.compare(at, 3, c.in, 0, 3) == 0 && c.in[at + 3] == ' ') {
          end = eol + 2;
          return true;
        }
        at = eol + 2;
      }
      return c.ended || c.error != 0;
    });
    if (end == std::string::npos) return "";
    std::string reply = c.in.substr(0, end);
    c.in.erase(0, end);
    return reply;
  }

  HWND window_ = 0;
  std::vector<std::unique_ptr<TConnection>> owned_;
};

struct TRetrieveCase {
  ftpserver::Kind kind;
  int readSize;
};

class TlsSocketRetrieval : public TlsSocket, public ::testing::WithParamInterface<TRetrieveCase> {};

TEST_P(TlsSocketRetrieval, EveryByteArrivesThroughTheNoticesAndTheEndIsAProperClose) {
  const std::string folder = ftpserver::MakeTempDir("qs-tls-socket");
  testtls::TAuthority authority("quillstage test authority");
  const testtls::TIdentity identity = authority.Issue("DNS:localhost,IP:127.0.0.1", -1, 30);
  ftpserver::Options options;
  options.root = ftpserver::MakeTempDir("qs-tls-socket-root");
  options.tlsCertificate = testtls::WriteFile(folder + "/server.pem", identity.certificatePem);
  options.tlsKey = testtls::WriteFile(folder + "/server.key", identity.keyPem);
  const std::string content = ftpserver::PatternBytes(2 * 1024 * 1024 + 5, 9);
  ftpserver::WriteFile(options.root + "/setup.exe", content);
  std::string reason;
  auto server = ftpserver::Server::Start(GetParam().kind, options, reason);
  QS_NEEDS_REAL_PEER(server != nullptr, reason);
  auto context = std::make_shared<tls::TClientContext>(tls::TTrust{testtls::WriteFile(folder + "/ca.pem", authority.CertificatePem()), ""});

  TConnection& control = Open(server->Port(), 4096);
  ASSERT_EQ(Reply(control).substr(0, 3), "220");
  Send(control, "AUTH TLS\r\n");
  ASSERT_EQ(Reply(control).substr(0, 3), "234");
  ASSERT_EQ(StartTls(control.s, context, "127.0.0.1"), 0);
  Send(control, "USER " + options.user + "\r\n");  // held until the handshake has ended
  EXPECT_EQ(Reply(control).substr(0, 3), "331") << TlsStatus(control.s).error;
  for (const std::string& command : {"PASS " + options.password, std::string("PBSZ 0"), std::string("PROT P"),
                                     std::string("TYPE I")}) {
    Send(control, command + "\r\n");
    const std::string reply = Reply(control);
    ASSERT_EQ(reply[0], '2') << command << ": " << reply;
  }
  EXPECT_EQ(TlsStatus(control.s).state, tls::TState::tsOpen);
  EXPECT_FALSE(TlsStatus(control.s).version.empty());
  Send(control, "PASV\r\n");
  ftptext::TPassiveTarget target;
  ASSERT_TRUE(ftptext::ParsePassiveReply(Reply(control), target));

  TConnection& data = Open(target.port, GetParam().readSize);
  Send(control, "RETR setup.exe\r\n");
  // TLS starts once the server says the transfer starts: pyftpdlib may drop a data connection
  // whose handshake comes before it is ready for it.
  EXPECT_EQ(Reply(control)[0], '1');
  ASSERT_EQ(StartTls(data.s, context, "127.0.0.1", control.s), 0);
  EXPECT_TRUE(testpump::PumpUntil([&] { return data.ended || data.error != 0; }, 20000));
  EXPECT_EQ(data.error, 0) << TlsStatus(data.s).error;
  EXPECT_TRUE(data.in == content) << data.in.size() << " of " << content.size() << " bytes";
  EXPECT_TRUE(TlsStatus(data.s).resumed);
  shutdown(data.s, SD_SEND);  // TLS's close goes first: the server waits for it
  EXPECT_EQ(Reply(control).substr(0, 3), "226");

  server.reset();
  ftpserver::RemoveTree(options.root);
  ftpserver::RemoveTree(folder);
}

INSTANTIATE_TEST_SUITE_P(Servers, TlsSocketRetrieval,
                         ::testing::Values(TRetrieveCase{ftpserver::Kind::Pyftpdlib, 1000},
                                           TRetrieveCase{ftpserver::Kind::Pyftpdlib, 256 * 1024},
                                           TRetrieveCase{ftpserver::Kind::Vsftpd, 1000},
                                           TRetrieveCase{ftpserver::Kind::Vsftpd, 256 * 1024}),
                         [](const auto& info) {
                           return std::string(info.param.kind == ftpserver::Kind::Pyftpdlib ? "pyftpdlib" : "vsftpd") +
                                  "_reads_of_" + std::to_string(info.param.readSize);
                         });

TEST_F(TlsSocket, WhatWasSentDuringAFailedHandshakeNeverLeaves) {
  std::uint16_t port = 0;
  const int listener = peer::Listen(port);
  TConnection& client = Open(port, 4096);
  const int far = peer::Accept(listener);
  auto context = std::make_shared<tls::TClientContext>(tls::TTrust{"", std::string(64, 'a')});
  ASSERT_EQ(StartTls(client.s, context, "127.0.0.1"), 0);
  Send(client, "PASS secret\r\n");
  const std::string hello = peer::Receive(far, 300);
  ASSERT_FALSE(hello.empty());
  EXPECT_EQ(static_cast<unsigned char>(hello[0]), 0x16) << "a TLS handshake record comes first";
  peer::Send(far, "220 not TLS at all\r\n");

  EXPECT_TRUE(testpump::PumpUntil([&] { return client.error != 0; }));
  EXPECT_EQ(client.error, kTlsFailedError);
  EXPECT_NE(TlsStatus(client.s).error.find("handshake failed"), std::string::npos) << TlsStatus(client.s).error;
  EXPECT_EQ(send(client.s, "more\r\n", 6, 0), SOCKET_ERROR);
  closesocket(client.s);
  gConnections.erase(client.s);
  const std::string after = peer::Receive(far, 500);
  EXPECT_EQ((hello + after).find("secret"), std::string::npos);
  peer::Close(far);
  peer::Close(listener);
}

}  // namespace
