// Data packets on a real port component: the packet manager follows the port's opening and
// closing through the port's user registrations.
#include <gtest/gtest.h>

#include "comm/QsPacket.h"
#include "platform/Application.h"
#include "tests/port/PortTestDevice.h"

namespace {

void RunPass(TTestDevice& d) {
  d.FillInputBuffer();
  while (!d.Dispatching() && d.CheckAllTriggers() && !d.ClosePending()) {
  }
}

TEST(PortPacket, LinesArriveThroughThePortAndSurviveAReopening) {
  TDeviceRecord record;
  platform::TComponent owner(nullptr);
  auto* packet = new TQsDataPacket(&owner);
  auto* port = new TTestPort(record, &owner);
  packet->SetStartCond(scAnyData);
  packet->SetEndCond(EndSet({ecString}));
  packet->SetEndString("\r\n");
  packet->SetTimeOut(0);
  packet->BeginLoading();
  packet->Loaded();
  EXPECT_EQ(packet->ComPort(), port) << "a packet read without a port takes the port of its window";
  std::vector<std::string> lines;
  packet->OnStringPacket =
      TStringPacketNotifyEvent(&lines, "lines", [&](platform::TComponent*, const std::string& s) { lines.push_back(s); });
  packet->SetEnabled(true);

  port->SetOpen(true);
  port->Device().Feed("220 ready\r\n");
  RunPass(port->Device());
  EXPECT_EQ(lines, (std::vector<std::string>{"220 ready\r\n"}));

  port->SetOpen(false);
  ASSERT_TRUE(PumpUntil([&] { return port->State() == psClosed; }));
  port->SetOpen(true);
  port->Device().Feed("221 bye\r\n");
  RunPass(port->Device());
  EXPECT_EQ(lines, (std::vector<std::string>{"220 ready\r\n", "221 bye\r\n"}));
  EXPECT_EQ(port->UserCount(), 1) << "one manager registration, however often the port reopened";

  delete packet;
  EXPECT_EQ(port->UserCount(), 0) << "the last packet's manager unregisters";
}

// A handler of a packet on a real port closes the port or frees its own packet: the event keeps its
// bytes, nothing is reported, and a new port with a new packet delivers again. (Freeing the port
// itself inside the pass is the port's and dispatcher's matter, tested with them.)
enum class PortAction { Close, FreePacket };

struct PortLifetimeCase {
  const char* name;
  bool stringEvent;
  PortAction action;
};

class PortPacketLifetime : public testing::TestWithParam<PortLifetimeCase> {};

TEST_P(PortPacketLifetime, AHandlerMayCloseThePortOrFreeItsPacket) {
  const PortLifetimeCase& c = GetParam();
  int reports = 0;
  auto previous = platform::SetExceptionHandler([&](const std::exception&) { ++reports; });
  const std::size_t managersBefore = PacketManagerCount();
  TDeviceRecord record;
  auto* port = new TTestPort(record, nullptr);
  auto* packet = new TQsDataPacket(nullptr);
  packet->SetStartCond(scAnyData);
  packet->SetEndCond(EndSet({ecString}));
  packet->SetEndString("\r\n");
  packet->SetTimeOut(0);
  packet->SetComPort(port);
  std::vector<std::string> seen;
  int events = 0;
  auto act = [&] {
    if (++events > 1) return;
    switch (c.action) {
      case PortAction::Close:
        port->SetOpen(false);
        break;
      case PortAction::FreePacket:
        delete packet;
        packet = nullptr;
        break;
    }
  };
  if (c.stringEvent) {
    packet->OnStringPacket = TStringPacketNotifyEvent(&seen, "act", [&](platform::TComponent*, const std::string& s) {
      seen.push_back(s);
      act();
    });
  } else {
    packet->OnPacket = TPacketNotifyEvent(&seen, "act", [&](platform::TComponent*, const std::uint8_t* d, int n) {
      seen.emplace_back(reinterpret_cast<const char*>(d), static_cast<std::size_t>(n));
      act();
    });
    packet->OnStringPacket = TStringPacketNotifyEvent(&seen, "copy", [&](platform::TComponent*, const std::string& s) {
      seen.push_back(s);
    });
  }
  packet->SetEnabled(true);
  port->SetOpen(true);
  port->Device().Feed("one\r\ntwo\r\n");
  RunPass(port->Device());
  ASSERT_TRUE(PumpUntil([&] { return events > 0; }));
  ASSERT_FALSE(seen.empty());
  for (const std::string& s : seen) EXPECT_EQ(s.substr(0, 1), s == "two\r\n" ? "t" : "o") << "bytes of the stream";
  EXPECT_EQ(seen.front(), "one\r\n");
  ASSERT_TRUE(PumpUntil([&] { return port->State() == psClosed || port->Open(); }));
  delete packet;
  delete port;
  EXPECT_EQ(PacketManagerCount(), managersBefore);
  EXPECT_EQ(reports, 0);

  // A new port with a new packet works.
  TDeviceRecord again;
  TTestPort fresh(again, nullptr);
  TQsDataPacket lines(nullptr);
  lines.SetStartCond(scAnyData);
  lines.SetEndCond(EndSet({ecString}));
  lines.SetEndString("\r\n");
  lines.SetComPort(&fresh);
  std::vector<std::string> got;
  lines.OnStringPacket = TStringPacketNotifyEvent(&got, "got", [&](platform::TComponent*, const std::string& s) { got.push_back(s); });
  lines.SetEnabled(true);
  fresh.SetOpen(true);
  fresh.Device().Feed("next\r\n");
  RunPass(fresh.Device());
  EXPECT_EQ(got, (std::vector<std::string>{"next\r\n"}));
  platform::SetExceptionHandler(previous);
}

INSTANTIATE_TEST_SUITE_P(
    Packets, PortPacketLifetime,
    testing::Values(PortLifetimeCase{"PacketClosesPort", false, PortAction::Close},
                    PortLifetimeCase{"PacketFreesPacket", false, PortAction::FreePacket},
                    PortLifetimeCase{"StringClosesPort", true, PortAction::Close},
                    PortLifetimeCase{"StringFreesPacket", true, PortAction::FreePacket}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
