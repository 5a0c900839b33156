#include "port/QsSocket.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "comm/QsExcept.h"
#include "platform/Application.h"
#include "platform/Clock.h"
#include "port/QsWsUtil.h"
#include "tests/support/LoopbackPeer.h"
#include "tests/support/Pump.h"

using namespace platform;
namespace ws = platform::ws;
using testpump::PumpUntil;

namespace {

TSockAddrIn Loopback(std::uint16_t port) {
  TSockAddrIn a{};
  a.sin_family = ws::AF_INET;
  a.sin_port = ws::htons(port);
  a.sin_addr.s_addr = ws::htonl(0x7F000001);
  return a;
}

// ---- Start-up failures, through libraries registered in place of the real one ------------------

int StartupVersionTwo(std::uint16_t version, ws::WSADATA* data) {
  int rc = ws::WSAStartup(version, data);
  data->wVersion = 0x0002;
  return rc;
}
int StartupUnusable(std::uint16_t, ws::WSADATA*) { return 10091; }

struct StartupCase {
  const char* name;
  std::function<void(std::vector<LibraryExport>&)> breakIt;
  int startupError;
  bool window;
  const char* firstUseMessage;
};

class SocketStartup : public ::testing::TestWithParam<StartupCase> {
 protected:
  void SetUp() override {
    ReleaseSocketLibrary();
    ws::EnsureWsock32Registered();  // the once-only registration must not bring it back later
    std::vector<LibraryExport> exports = ws::Wsock32Exports();
    GetParam().breakIt(exports);
    if (exports.empty())
      UnregisterLibrary(ws::kLibraryName);  // no library of that name at all
    else
      RegisterLibrary(ws::kLibraryName, exports);
  }
  void TearDown() override {
    ReleaseSocketLibrary();
    UnregisterLibrary(ws::kLibraryName);
    ws::RegisterWsock32();
  }
};

void Replace(std::vector<LibraryExport>& exports, const char* name, void* address) {
  for (LibraryExport& e : exports)
    if (e.name == name) e.address = address;
}

TEST_P(SocketStartup, IsRecordedAndRaisedOnFirstUse) {
  const StartupCase& c = GetParam();
  TQsSocket socket(nullptr);
  EXPECT_EQ(socket.StartupError(), c.startupError);
  EXPECT_EQ(socket.WindowHandle() != 0, c.window);
  try {
    socket.CreateSocket();
    FAIL() << "no exception";
  } catch (const EQsSocketException& e) {
    EXPECT_EQ(e.Code(), c.startupError);
    EXPECT_EQ(e.Message(), c.firstUseMessage);
  }
  EXPECT_THROW(socket.TextToAddress("1.2.3.4"), EQsSocketException) << "every operation is guarded";
}

INSTANTIATE_TEST_SUITE_P(
    Socket, SocketStartup,
    ::testing::Values(
        StartupCase{"MissingLibrary", [](auto& e) { e.clear(); }, 9002, false,
                    "Winsock not initialized - Error loading Winsock DLL"},
        StartupCase{"MissingEntryPoint",
                    [](auto& e) {
                      std::erase_if(e, [](const LibraryExport& x) { return x.name == "WSACancelAsyncRequest"; });
                    },
                    9002, false, "Winsock not initialized - Error loading Winsock DLL"},
        StartupCase{"VersionTwo",
                    [](auto& e) { Replace(e, "WSAStartup", reinterpret_cast<void*>(&StartupVersionTwo)); }, 9003,
                    true, "Winsock not initialized - Incorrect version of Winsock"},
        StartupCase{"StartupFails",
                    [](auto& e) { Replace(e, "WSAStartup", reinterpret_cast<void*>(&StartupUnusable)); }, 10091,
                    false, "Winsock not initialized - Network subsystem unusable"}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- A started socket object -----------------------------------------------------------------

class SocketObject : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(socket_.StartupError(), 0);
    socket_.OnError = TSocketErrorEvent(this, "record", [this](TQsSocket* sender, TSocket s, std::int32_t code) {
      EXPECT_EQ(sender, &socket_);
      errors_.push_back({s, code});
    });
  }
  void TearDown() override {
    for (TSocket s : open_) socket_.CloseSocket(s);
  }
  TSocket Create() {
    TSocket s = socket_.CreateSocket();
    open_.push_back(s);
    return s;
  }

  TQsSocket socket_{nullptr};
  std::vector<std::pair<TSocket, int>> errors_;
  std::vector<TSocket> open_;
};

TEST_F(SocketObject, AddressAndServiceConversions) {
  struct Case {
    const char* text;
    std::uint32_t address;
  } cases[] = {
      {"192.168.1.20", ws::htonl(0xC0A80114)},
      {"ftp.example.com", ws::INADDR_NONE},
      {"192.168.100.2001234", ws::htonl(0xC0A864C8)},  // only the first 15 characters count
  };
  for (const Case& c : cases) EXPECT_EQ(socket_.TextToAddress(c.text), c.address) << c.text;
  EXPECT_EQ(socket_.AddressToText(ws::htonl(0xC0A80114)), "192.168.1.20");
  EXPECT_EQ(socket_.ResolveService("ftp"), 21);
  EXPECT_EQ(socket_.ResolveService("no-such-service"), 0);
  EXPECT_EQ(socket_.ResolveHost("localhost"), ws::htonl(0x7F000001));
  EXPECT_EQ(socket_.ResolveHost(std::string(300, 'h')), 0u);
  EXPECT_EQ(socket_.HostToNetPort(21), ws::htons(21));
}

TEST_F(SocketObject, AnErrorNotificationCallsOnlyTheErrorHandler) {
  int reads = 0;
  socket_.OnRead = TSocketNotifyEvent(this, "read", [&](TQsSocket*, TSocket) { ++reads; });
  SendMessage(socket_.WindowHandle(), SocketMessage, 77, ws::FD_READ | (10061 << 16));
  ASSERT_EQ(errors_.size(), 1u);
  EXPECT_EQ(errors_[0], std::make_pair(TSocket{77}, 10061));
  EXPECT_EQ(reads, 0);
  SendMessage(socket_.WindowHandle(), SocketMessage, 77, ws::FD_READ);
  EXPECT_EQ(reads, 1);
}

TEST_F(SocketObject, ReportedFailuresRaiseWithoutAnErrorHandler) {
  std::uint16_t port;
  int taken = peer::Listen(port);
  TSockAddrIn address = Loopback(port);

  TSocket s = Create();
  EXPECT_EQ(socket_.BindSocket(s, address), ws::SOCKET_ERROR);
  ASSERT_EQ(errors_.size(), 1u);
  EXPECT_EQ(errors_[0].second, ws::WSAEADDRINUSE);

  socket_.OnError = {};
  try {
    socket_.BindSocket(s, address);
    FAIL() << "no exception";
  } catch (const EQsSocketException& e) {
    EXPECT_EQ(e.Code(), ws::WSAEADDRINUSE);
    EXPECT_EQ(e.Message(), "The address is already in use for this operation");
  }
  peer::Close(taken);
}

TEST_F(SocketObject, AnExceptionEscapingAHandlerGoesToTheApplicationsHandler) {
  socket_.OnError = {};
  std::string shown;
  ExceptionHandler previous = SetExceptionHandler([&](const std::exception& e) { shown = e.what(); });
  LRESULT result = SendMessage(socket_.WindowHandle(), SocketMessage, 5, ws::FD_CONNECT | (10061 << 16));
  SetExceptionHandler(previous);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(shown, "The attempt to connect was forcibly refused");
}

TEST_F(SocketObject, ConnectsReadsAndSeesTheDisconnectThroughEvents) {
  std::uint16_t port;
  int listener = peer::Listen(port);
  std::vector<std::string> seen;
  std::string received;
  socket_.OnConnect = TSocketNotifyEvent(this, "c", [&](TQsSocket*, TSocket) { seen.push_back("connect"); });
  socket_.OnWrite = TSocketNotifyEvent(this, "w", [&](TQsSocket*, TSocket) { seen.push_back("write"); });
  socket_.OnRead = TSocketNotifyEvent(this, "r", [&](TQsSocket* sender, TSocket s) {
    char buf[64];
    int n = sender->ReceiveSocket(s, buf, sizeof buf, 0);
    if (n > 0) received.append(buf, static_cast<std::size_t>(n));
  });
  socket_.OnDisconnect = TSocketNotifyEvent(this, "d", [&](TQsSocket*, TSocket) { seen.push_back("disconnect"); });

  TSocket s = Create();
  ASSERT_EQ(socket_.SelectEvents(s, 59), 0);
  EXPECT_EQ(socket_.ConnectSocket(s, Loopback(port)), ws::SOCKET_ERROR);
  EXPECT_TRUE(errors_.empty()) << "would-block is not reported";
  int server = peer::Accept(listener);
  ASSERT_TRUE(PumpUntil([&] { return seen.size() == 2; }));
  EXPECT_EQ(seen, (std::vector<std::string>{"connect", "write"}));

  const char hello[] = "USER kwmoro\r\n";
  EXPECT_EQ(socket_.SendSocket(s, hello, sizeof hello - 1, 0), static_cast<int>(sizeof hello - 1));
  EXPECT_EQ(peer::Receive(server, 1000, sizeof hello - 1), "USER kwmoro\r\n");
  peer::Send(server, "331 Password required\r\n");
  peer::Close(server);
  ASSERT_TRUE(PumpUntil([&] { return seen.size() == 3 && received.size() == 23; }));
  EXPECT_EQ(received, "331 Password required\r\n");
  EXPECT_EQ(seen.back(), "disconnect");
  peer::Close(listener);
}

TEST_F(SocketObject, AcceptsAClientOfItsListeningSocket) {
  TSocket listener = Create();
  ASSERT_EQ(socket_.SelectEvents(listener, 43), 0);
  ASSERT_EQ(socket_.BindSocket(listener, Loopback(0)), 0);
  ASSERT_EQ(socket_.ListenSocket(listener, 1), 0);
  TSockAddrIn bound{};
  int len = sizeof bound;
  ASSERT_EQ(SocketFunctions().getsockname(listener, reinterpret_cast<ws::sockaddr*>(&bound), &len), 0);

  TSocket accepted = ws::INVALID_SOCKET;
  TSockAddrIn from{};
  socket_.OnAccept = TSocketNotifyEvent(this, "a", [&](TQsSocket* sender, TSocket s) {
    accepted = sender->AcceptSocket(s, from);
  });
  int client = peer::Connect(socket_.NetToHostPort(bound.sin_port));
  ASSERT_TRUE(PumpUntil([&] { return accepted != ws::INVALID_SOCKET; }));
  open_.push_back(accepted);
  EXPECT_EQ(socket_.AddressToText(from.sin_addr.s_addr), "127.0.0.1");
  peer::Close(client);
}

}  // namespace
