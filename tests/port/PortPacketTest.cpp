// Data packets on a real port component: the packet manager follows the port's opening and
// closing through the port's user registrations.
#include <gtest/gtest.h>

#include "comm/QsPacket.h"
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

}  // namespace
