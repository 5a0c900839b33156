// The lifetime matrix of the port component on its serial layer, over a pseudo-terminal: for every
// event the port delivers there, an application that closes, reopens or frees the port from inside
// that event, or closes it and then waits inside the same event; and the same for the events of a
// data packet on that port, which the dispatch thread hands to the main thread. Whatever it does:
// no crash, no hang, no spin, the next opening works, and no descriptor is left behind.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "comm/QsMisc.h"
#include "comm/QsPacket.h"
#include "platform/Application.h"
#include "port/QsPort.h"
#include "tests/port/PacketActs.h"
#include "tests/support/ProcessProbe.h"
#include "tests/support/PtyPair.h"
#include "tests/support/Pump.h"

namespace {

using namespace std::chrono_literals;
using testpump::PumpFor;
using testpump::PumpUntil;
using testsupport::TPtyPair;
using testsupport::TSerialFolder;

enum class TEv { Avail, TriggerMessage, DataTrigger, TimerTrigger, StatusTrigger, OutputSent, OutputFree, OutputUsed, PortOpened, PortClosed };
enum class TAct { Close, Reopen, Free, CloseThenWait };

const char* EvName(TEv e) {
  switch (e) {
    case TEv::Avail: return "Avail";
    case TEv::TriggerMessage: return "TriggerMessage";
    case TEv::DataTrigger: return "DataTrigger";
    case TEv::TimerTrigger: return "TimerTrigger";
    case TEv::StatusTrigger: return "StatusTrigger";
    case TEv::OutputSent: return "OutputSent";
    case TEv::OutputFree: return "OutputFree";
    case TEv::OutputUsed: return "OutputUsed";
    case TEv::PortOpened: return "PortOpened";
    case TEv::PortClosed: return "PortClosed";
  }
  return "?";
}
const char* ActName(TAct a) {
  switch (a) {
    case TAct::Close: return "Close";
    case TAct::Reopen: return "Reopen";
    case TAct::Free: return "Free";
    case TAct::CloseThenWait: return "CloseThenWait";
  }
  return "?";
}

// Kept outside the port, which a case may free.
struct TRecord {
  std::string received;
  std::int64_t waitCpuMs = -1;  // CPU time the process spent while the handler waited
};

// A serial port whose every event may run the case's action, once, as the handler's last step.
class LifePort : public TQsCustomComPort {
 public:
  LifePort(TRecord& record, TEv target, std::function<void()> action)
      : TQsCustomComPort(nullptr), record_(record), target_(target), action_(std::move(action)) {
    SetComNumber(1);
    SetBaudRate(9600);
    OnPortOpened = TPortNotifyEvent(this, "opened", [this](platform::TComponent*) { Hit(TEv::PortOpened); });
    OnPortClosed = TPortNotifyEvent(this, "closed", [this](platform::TComponent*) { Hit(TEv::PortClosed); });
    OnOutputSent = TPortNotifyEvent(this, "sent", [this](platform::TComponent*) { Hit(TEv::OutputSent); });
    OnOutputFree = TPortNotifyEvent(this, "free", [this](platform::TComponent*) { Hit(TEv::OutputFree); });
    OnOutputUsed = TPortNotifyEvent(this, "used", [this](platform::TComponent*) { Hit(TEv::OutputUsed); });
    SetOnDataAvailable(TTriggerAvailEvent(this, "avail", [this](platform::TComponent*, std::uint16_t count) {
      std::string buf(count, '\0');
      TQsBaseDispatcher* d = LinkDispatcher();
      if (d != nullptr && d->ReadBlock(buf.data(), count) == count) record_.received += buf;
      Hit(TEv::Avail);
    }));
    SetOnTriggerMessage(TTriggerMessageEvent(this, "message", [this](platform::TComponent*, platform::UINT msg, std::uint16_t, std::uint16_t) {
      if (msg == DM_AVAIL) Hit(TEv::TriggerMessage);
    }));
    SetOnDataTrigger(TTriggerHandleEvent(this, "data", [this](platform::TComponent*, std::uint16_t) { Hit(TEv::DataTrigger); }));
    SetOnTimerTrigger(TTriggerHandleEvent(this, "timer", [this](platform::TComponent*, std::uint16_t) { Hit(TEv::TimerTrigger); }));
    SetOnStatusTrigger(TTriggerHandleEvent(this, "status", [this](platform::TComponent*, std::uint16_t) { Hit(TEv::StatusTrigger); }));
  }

  void Disarm() { fired_ = true; }
  bool Fired() const { return fired_; }

 private:
  // Runs the action for the target event, once. May free this port: nothing follows it.
  void Hit(TEv e) {
    if (e != target_ || fired_) return;
    fired_ = true;
    action_();
  }

  TRecord& record_;
  TEv target_;
  std::function<void()> action_;
  bool fired_ = false;
};

struct TCase {
  TEv ev;
  TAct act;
};

class SerialPortLifetime : public testing::TestWithParam<TCase> {
 protected:
  static void SetUpTestSuite() {
    // The process-wide pieces (the loop's descriptors, the port window class) exist before any
    // count is taken.
    TSerialFolder folder;
    TPtyPair pty;
    folder.Link(1, pty.PortPath());
    TRecord r;
    LifePort warm(r, TEv::Avail, [] {});
    warm.Disarm();
    warm.SetOpen(true);
    ASSERT_TRUE(pty.Send("warm"));
    PumpUntil([&] { return r.received.size() >= 4; });
    warm.SetOpen(false);
    PumpFor(50);
  }

  void SetUp() override {
    folder_.Link(1, pty_.PortPath());
    baseline_ = probe::OpenDescriptorCount();
  }
  void TearDown() override { port_.reset(); }

  // The case's action, run from inside the target event.
  void Act() {
    switch (GetParam().act) {
      case TAct::Close:
        port_->SetOpen(false);
        break;
      case TAct::Reopen:
        port_->SetOpen(false);
        port_->SetOpen(true);
        break;
      case TAct::Free:
        port_.reset();
        break;
      case TAct::CloseThenWait: {
        port_->SetOpen(false);
        const std::int64_t before = probe::CpuMilliseconds();
        WaitTicks(6, true);  // about a third of a second, handling messages meanwhile
        record_.waitCpuMs = probe::CpuMilliseconds() - before;
        break;
      }
    }
  }

  // Opens the port and provokes the event.
  void Provoke(TEv ev) {
    port_->SetOpen(true);
    if (!port_ || ev == TEv::PortOpened) return;
    TQsBaseDispatcher* d = port_->Dispatcher();
    switch (ev) {
      case TEv::Avail:
      case TEv::TriggerMessage:
        ASSERT_TRUE(pty_.Send("hello"));
        break;
      case TEv::DataTrigger:
        ASSERT_GT(d->CreateDataTrigger(std::string("END"), false), 0);
        ASSERT_TRUE(pty_.Send("xxEND"));
        break;
      case TEv::TimerTrigger:
        ASSERT_EQ(d->ArmTimerTrigger(d->CreateTimerTrigger(), 1, true), 0);
        break;
      case TEv::StatusTrigger:
      case TEv::OutputSent:
        ASSERT_EQ(d->ArmStatusTrigger(d->CreateStatusTrigger(skOutSent), 0, true), 0);
        port_->PutString("out");
        break;
      case TEv::OutputFree:
        ASSERT_EQ(d->ArmStatusTrigger(d->CreateStatusTrigger(skOutFree), 1, true), 0);
        break;
      case TEv::OutputUsed:
        ASSERT_EQ(d->ArmStatusTrigger(d->CreateStatusTrigger(skOutUsed), 4096, true), 0);
        break;
      case TEv::PortClosed:
        port_->SetOpen(false);
        break;
      default:
        break;
    }
  }

  // Data flows both ways through the port.
  void ExpectWorks(LifePort& port) {
    pty_.Discard();
    record_.received.clear();
    ASSERT_TRUE(pty_.Send("ping"));
    ASSERT_TRUE(PumpUntil([&] { return record_.received.find("ping") != std::string::npos; }, 3000)) << "no input";
    port.PutString("pong");
    EXPECT_EQ(pty_.Receive(4, 3000ms), "pong");
  }

  TSerialFolder folder_;
  TPtyPair pty_;
  TRecord record_;
  std::unique_ptr<LifePort> port_;
  int baseline_ = 0;
};

TEST_P(SerialPortLifetime, SurvivesTheActionInsideTheEvent) {
  const TCase c = GetParam();
  port_ = std::make_unique<LifePort>(record_, c.ev, [this] { Act(); });
  LifePort* const raw = port_.get();
  ASSERT_NO_FATAL_FAILURE(Provoke(c.ev));
  ASSERT_TRUE(PumpUntil([&] { return !port_ || raw->Fired(); })) << "the event never came";

  // No spin: once the action is done, an idle port costs next to no CPU time.
  PumpFor(50);
  const std::int64_t cpuBefore = probe::CpuMilliseconds();
  PumpFor(300);
  EXPECT_LT(probe::CpuMilliseconds() - cpuBefore, 120) << "something spins";

  switch (c.act) {
    case TAct::CloseThenWait:
      // Generous: a close message posted again and again takes the whole wait.
      EXPECT_GE(record_.waitCpuMs, 0);
      EXPECT_LT(record_.waitCpuMs, 150) << "the wait inside the handler spins";
      [[fallthrough]];
    case TAct::Close:
      ASSERT_TRUE(PumpUntil([&] { return port_->State() == psClosed; }, 3000)) << "the close never ends";
      EXPECT_FALSE(port_->Open());
      EXPECT_EQ(port_->PortWindow(), 0u);
      port_->SetOpen(true);
      ASSERT_NO_FATAL_FAILURE(ExpectWorks(*port_));
      break;
    case TAct::Reopen:
      ASSERT_TRUE(PumpUntil([&] { return port_->State() == psOpen; }, 3000));
      ASSERT_NO_FATAL_FAILURE(ExpectWorks(*port_));
      break;
    case TAct::Free:
      EXPECT_FALSE(port_);
      port_ = std::make_unique<LifePort>(record_, c.ev, [] {});
      port_->Disarm();
      port_->SetOpen(true);
      ASSERT_NO_FATAL_FAILURE(ExpectWorks(*port_));
      break;
  }
  port_.reset();
  PumpFor(20);
  EXPECT_EQ(probe::OpenDescriptorCount(), baseline_) << "descriptors leaked";
}

std::vector<TCase> AllCases() {
  std::vector<TCase> cases;
  for (TEv e : {TEv::Avail, TEv::TriggerMessage, TEv::DataTrigger, TEv::TimerTrigger, TEv::StatusTrigger,
                TEv::OutputSent, TEv::OutputFree, TEv::OutputUsed, TEv::PortOpened, TEv::PortClosed})
    for (TAct a : {TAct::Close, TAct::Reopen, TAct::Free}) cases.push_back({e, a});
  // A wait after the close: inside a pass of each kind, and outside any pass.
  for (TEv e : {TEv::DataTrigger, TEv::TimerTrigger, TEv::OutputSent, TEv::PortOpened}) cases.push_back({e, TAct::CloseThenWait});
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Matrix, SerialPortLifetime, testing::ValuesIn(AllCases()),
                         [](const testing::TestParamInfo<TCase>& info) {
                           return std::string(EvName(info.param.ev)) + "_" + ActName(info.param.act);
                         });

// ---- Data packets on the serial port --------------------------------------------------------------

struct TPacketCase {
  const char* name;
  bool stringEvent;
  TPacketAct act;
};

class SerialPacketLifetime : public testing::TestWithParam<TPacketCase> {
 protected:
  void SetUp() override {
    folder_.Link(1, pty_.PortPath());
    baseline_ = probe::OpenDescriptorCount();
  }

  // A port with one line packet whose handlers record the lines.
  void Make(std::unique_ptr<TQsCustomComPort>& port, std::unique_ptr<TQsDataPacket>& packet, std::vector<std::string>& lines) {
    port = std::make_unique<TQsCustomComPort>(nullptr);
    port->SetComNumber(1);
    port->SetBaudRate(9600);
    packet = std::make_unique<TQsDataPacket>(nullptr);
    packet->SetStartCond(scAnyData);
    packet->SetEndCond(EndSet({ecString}));
    packet->SetEndString("\r\n");
    packet->SetTimeOut(0);
    packet->SetComPort(port.get());
    packet->OnStringPacket =
        TStringPacketNotifyEvent(&lines, "lines", [&lines](platform::TComponent*, const std::string& s) { lines.push_back(s); });
    packet->SetEnabled(true);
  }

  TSerialFolder folder_;
  TPtyPair pty_;
  int baseline_ = 0;
};

TEST_P(SerialPacketLifetime, SurvivesTheActionInsideThePacketEvent) {
  const TPacketCase& c = GetParam();
  int reports = 0;
  auto previous = platform::SetExceptionHandler([&](const std::exception&) { ++reports; });
  std::unique_ptr<TQsCustomComPort> port;
  std::unique_ptr<TQsDataPacket> packet;
  std::vector<std::string> lines;
  Make(port, packet, lines);
  int events = 0;
  auto act = [&] {
    if (++events > 1) return;
    ApplyPacketAct(c.act, port, packet);
  };
  if (c.stringEvent) {
    packet->OnStringPacket = TStringPacketNotifyEvent(&lines, "act", [&](platform::TComponent*, const std::string& s) {
      lines.push_back(s);
      act();
    });
  } else {
    packet->OnPacket = TPacketNotifyEvent(&lines, "act", [&](platform::TComponent*, const std::uint8_t* d, int n) {
      lines.emplace_back(reinterpret_cast<const char*>(d), static_cast<std::size_t>(n));
      act();
    });
  }
  port->SetOpen(true);
  ASSERT_TRUE(pty_.Send("one\r\ntwo\r\n"));
  ASSERT_TRUE(PumpUntil([&] { return events > 0; }, 3000)) << "no packet";
  ASSERT_TRUE(PumpUntil([&] { return !port || port->State() != psClosing; }, 3000)) << "the close never ends";

  PumpFor(100);
  const std::int64_t cpuBefore = probe::CpuMilliseconds();
  PumpFor(300);
  EXPECT_LT(probe::CpuMilliseconds() - cpuBefore, 120) << "something spins";
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.front(), "one\r\n");
  packet.reset();
  port.reset();
  PumpFor(20);
  EXPECT_EQ(probe::OpenDescriptorCount(), baseline_) << "descriptors leaked";
  EXPECT_EQ(reports, 0);
  platform::SetExceptionHandler(previous);

  // The next port with its packet gets the next line.
  std::vector<std::string> next;
  Make(port, packet, next);
  port->SetOpen(true);
  pty_.Discard();
  ASSERT_TRUE(pty_.Send("next\r\n"));
  EXPECT_TRUE(PumpUntil([&] { return !next.empty(); }, 3000));
  if (!next.empty()) {
    EXPECT_EQ(next.front(), "next\r\n");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Matrix, SerialPacketLifetime,
    testing::Values(TPacketCase{"PacketClosesPort", false, TPacketAct::ClosePort},
                    TPacketCase{"PacketReopensPort", false, TPacketAct::ReopenPort},
                    TPacketCase{"PacketFreesPort", false, TPacketAct::FreePort},
                    TPacketCase{"PacketFreesPacket", false, TPacketAct::FreePacket},
                    TPacketCase{"StringClosesPort", true, TPacketAct::ClosePort},
                    TPacketCase{"StringReopensPort", true, TPacketAct::ReopenPort},
                    TPacketCase{"StringFreesPort", true, TPacketAct::FreePort},
                    TPacketCase{"StringFreesPacket", true, TPacketAct::FreePacket}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
