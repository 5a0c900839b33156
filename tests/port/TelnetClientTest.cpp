// Debian's telnet client, driven through a pseudo-terminal, talks to a server-mode Winsock port.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <iostream>
#include <sstream>
#include <string>

#include "platform/Clock.h"
#include "port/QsWsPort.h"
#include "tests/port/PtyProcess.h"
#include "tests/support/LoopbackPeer.h"
#include "tests/support/RealPeers.h"

using namespace platform;

namespace {

constexpr char kTelnet[] = "/usr/bin/telnet";
constexpr char kEscape = 0x1D;  // ^]

using TelnetClient = TPtyProcess;

bool PumpUntil(TelnetClient& client, const std::function<bool()>& done, int limitMs = 5000) {
  const std::uint64_t end = MonotonicMilliseconds() + static_cast<std::uint64_t>(limitMs);
  MSG msg;
  for (;;) {
    client.Drain();
    if (done()) return true;
    if (MonotonicMilliseconds() > end) return false;
    if (PeekMessage(msg, PM_REMOVE))
      DispatchMessage(msg);
    else
      WaitMessage(10);
  }
}

class ServerPort : public TQsCustomWinsockPort {
 public:
  ServerPort() : TQsCustomWinsockPort(nullptr) {
    SetDeviceLayer(dlSocket);
    SetSocketMode(smServer);
    OnSocketAccept = TSocketAcceptEvent(this, &ServerPort::Accepting);
    OnSocketDisconnect = TPortNotifyEvent(this, &ServerPort::Left);
    SetOnDataAvailable(TTriggerAvailEvent(this, &ServerPort::Avail));
  }
  int callers = 0, left = 0;
  std::string received;

 private:
  void Accepting(TComponent*, std::uint32_t, bool& accept) {
    ++callers;
    accept = true;
  }
  void Left(TComponent*) { ++left; }
  void Avail(TComponent*, std::uint16_t count) {
    std::string buf(count, '\0');
    if (Dispatcher()->ReadBlock(buf.data(), count) == count) received += buf;
  }
};

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(TelnetClient, DebianTelnetTalksToAServerPort) {
  QS_NEEDS_REAL_PEER(access(kTelnet, X_OK) == 0, kTelnet << " is not installed (package telnet)");
  ServerPort port;
  const std::uint16_t p = peer::UnusedPort();
  port.SetWsPort(std::to_string(p));
  port.SetLogSize(100000);
  port.SetOpen(true);
  port.SetLogging(tlOn);
  TelnetClient client(kTelnet, {"telnet", "127.0.0.1", std::to_string(p)});
  ASSERT_TRUE(client.Started());
  ASSERT_TRUE(PumpUntil(client, [&] { return port.callers == 1 && Contains(client.Screen(), "Escape character"); }))
      << client.Screen();

  port.PutString("welcome\r\n");
  EXPECT_TRUE(PumpUntil(client, [&] { return Contains(client.Screen(), "welcome"); })) << client.Screen();

  client.Type("hello\r");
  EXPECT_TRUE(PumpUntil(client, [&] { return Contains(port.received, "hello\r\n"); })) << port.received;

  // A telnet command from the client's prompt is consumed, never delivered as data.
  client.Type(std::string(1, kEscape));
  EXPECT_TRUE(PumpUntil(client, [&] { return Contains(client.Screen(), "telnet>"); })) << client.Screen();
  client.Type("send ayt\r");
  client.Type("after\r");
  EXPECT_TRUE(PumpUntil(client, [&] { return Contains(port.received, "after"); })) << port.received;
  EXPECT_EQ(port.received.find('\xFF'), std::string::npos);

  // Character mode makes the client negotiate; the port answers as a simple client would.
  client.Type(std::string(1, kEscape));
  client.Type("toggle options\r");
  client.Type(std::string(1, kEscape));
  client.Type("mode character\r");
  EXPECT_TRUE(PumpUntil(client, [&] { return Contains(client.Screen(), "RCVD WONT SUPPRESS GO AHEAD"); }, 3000))
      << client.Screen();
  // Refused both, the client goes back to line by line, but it resets its terminal only after it has
  // printed the refusals: a line typed before that goes out key by key and ends in CR NUL.
  EXPECT_TRUE(PumpUntil(client, [&] { return client.LineByLine(); })) << client.Screen();
  // Line by line, a line still arrives whole.
  client.Type("last line\r");
  EXPECT_TRUE(PumpUntil(client, [&] { return Contains(port.received, "last line\r\n"); })) << port.received;

  const std::string logFile = ::testing::TempDir() + "telnet_client.log";
  ASSERT_EQ(port.Dispatcher()->DumpLog(logFile, true, false), 0);
  std::ifstream in(logFile);
  std::stringstream log;
  log << in.rdbuf();
  std::remove(logFile.c_str());
  EXPECT_TRUE(Contains(log.str(), "Command")) << log.str();  // the AYT
  EXPECT_TRUE(Contains(log.str(), "Recv DO       00000003")) << log.str();
  EXPECT_TRUE(Contains(log.str(), "Sent WON'T    00000003")) << log.str();

  client.Type(std::string(1, kEscape));
  client.Type("quit\r");
  EXPECT_TRUE(PumpUntil(client, [&] { return port.left == 1; }));
  EXPECT_EQ(port.State(), psOpen);

  // What the client showed and what the port logged, for whoever reads the test's output.
  std::cout << "---- telnet client screen ----\n" << client.Screen() << "\n---- port dispatch log ----\n"
            << log.str() << "\n----\n";
}

}  // namespace
