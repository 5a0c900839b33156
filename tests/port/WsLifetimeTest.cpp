// The lifetime matrix of the socket port: for every event the port, the socket port and the socket
// dispatcher deliver, and for the events of a data packet on the port, an application that closes,
// reopens or frees the port (or the packet) from inside that event.
// Whatever it does, nothing crashes, hangs or spins, the next opening works, and no descriptor leaks.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "comm/QsMisc.h"
#include "comm/QsPacket.h"
#include "platform/Application.h"
#include "port/QsWsPort.h"
#include "tests/port/PacketActs.h"
#include "tests/support/LoopbackPeer.h"
#include "tests/support/ProcessProbe.h"
#include "tests/support/Pump.h"

using namespace platform;
using testpump::PumpFor;
using testpump::PumpUntil;

namespace {

enum class TEv {
  Avail,
  TriggerMessage,
  DataTrigger,
  TimerTrigger,
  OutputSent,
  CarrierLost,
  Connect,
  PeerReset,
  Refused,
  PeerClose,
  Accept,
  ClientLeft,
  PortOpened,
  PortClosed,
};
enum class TAct { Close, Reopen, Free, CloseThenWait };

const char* EvName(TEv e) {
  switch (e) {
    case TEv::Avail: return "Avail";
    case TEv::TriggerMessage: return "TriggerMessage";
    case TEv::DataTrigger: return "DataTrigger";
    case TEv::TimerTrigger: return "TimerTrigger";
    case TEv::OutputSent: return "OutputSent";
    case TEv::CarrierLost: return "CarrierLost";
    case TEv::Connect: return "Connect";
    case TEv::PeerReset: return "PeerReset";
    case TEv::Refused: return "Refused";
    case TEv::PeerClose: return "PeerClose";
    case TEv::Accept: return "Accept";
    case TEv::ClientLeft: return "ClientLeft";
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

bool ServerEvent(TEv e) { return e == TEv::Accept || e == TEv::ClientLeft || e == TEv::CarrierLost; }

// What the ports of a case record; kept outside the port, which a case may free.
struct TRecord {
  int connects = 0;
  int accepts = 0;
  int errors = 0;
  std::string received;
};

// A socket port whose every event may run the case's action, once, as the handler's last step.
class LifePort : public TQsCustomWinsockPort {
 public:
  LifePort(TRecord& record, TEv target, std::function<void()> action)
      : TQsCustomWinsockPort(nullptr), record_(record), target_(target), action_(std::move(action)) {
    SetDeviceLayer(dlSocket);
    SetTelnetMode(false);
    OnSocketConnect = TPortNotifyEvent(this, &LifePort::Connected);
    OnSocketDisconnect = TPortNotifyEvent(this, &LifePort::Disconnected);
    OnSocketError = TSocketErrorCodeEvent(this, &LifePort::Failed);
    OnSocketAccept = TSocketAcceptEvent(this, &LifePort::Accepting);
    OnPortOpened = TPortNotifyEvent(this, &LifePort::Opened);
    OnPortClosed = TPortNotifyEvent(this, &LifePort::Closed);
    OnOutputSent = TPortNotifyEvent(this, &LifePort::Sent);
    OnModemStatus = TPortNotifyEvent(this, &LifePort::Modem);
    SetOnDataAvailable(TTriggerAvailEvent(this, &LifePort::Avail));
    SetOnTriggerMessage(TTriggerMessageEvent(this, &LifePort::Message));
    SetOnDataTrigger(TTriggerHandleEvent(this, &LifePort::Data));
    SetOnTimerTrigger(TTriggerHandleEvent(this, &LifePort::Timer));
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
  void Connected(TComponent*) {
    ++record_.connects;
    Hit(TEv::Connect);
  }
  void Disconnected(TComponent*) {
    // Raised by the server's client leaving, and by every close of the port.
    if (State() == psOpen) Hit(TEv::ClientLeft);
    else Hit(TEv::PeerClose);
  }
  void Failed(TComponent*, int code) {
    ++record_.errors;
    Hit(code == 10061 ? TEv::Refused : TEv::PeerReset);
  }
  void Accepting(TComponent*, std::uint32_t, bool& accept) {
    accept = true;
    ++record_.accepts;
    Hit(TEv::Accept);
  }
  void Opened(TComponent*) { Hit(TEv::PortOpened); }
  void Closed(TComponent*) { Hit(TEv::PortClosed); }
  void Sent(TComponent*) { Hit(TEv::OutputSent); }
  void Modem(TComponent*) { Hit(TEv::CarrierLost); }
  void Avail(TComponent*, std::uint16_t count) {
    std::string buf(count, '\0');
    TQsBaseDispatcher* d = CurrentDispatcher();
    if (d != nullptr && d->ReadBlock(buf.data(), count) == count) record_.received += buf;
    Hit(TEv::Avail);
  }
  void Message(TComponent*, UINT msg, std::uint16_t, std::uint16_t) {
    if (msg == DM_AVAIL) Hit(TEv::TriggerMessage);
  }
  void Data(TComponent*, std::uint16_t) { Hit(TEv::DataTrigger); }
  void Timer(TComponent*, std::uint16_t) { Hit(TEv::TimerTrigger); }

  TRecord& record_;
  TEv target_;
  std::function<void()> action_;
  bool fired_ = false;
};

// The process-wide pieces (device socket, its window, the loop's descriptors) are made before any
// count is taken.
void WarmUp() {
  std::uint16_t p = 0;
  const int l = peer::Listen(p);
  TRecord r;
  LifePort warm(r, TEv::Avail, [] {});
  warm.SetServerAddress("127.0.0.1");
  warm.SetWsPort(std::to_string(p));
  warm.SetOpen(true);
  const int s = peer::Accept(l);
  PumpUntil([&] { return r.connects == 1; });
  warm.SetOpen(false);
  peer::Close(s);
  peer::Close(l);
  PumpFor(100);
}

struct TCase {
  TEv ev;
  TAct act;
};

class WsLifetime : public ::testing::TestWithParam<TCase> {
 protected:
  static void SetUpTestSuite() { WarmUp(); }

  void SetUp() override {
    listener_ = peer::Listen(listenPort_);
    serverPort_ = peer::UnusedPort();
    baseline_ = probe::OpenDescriptorCount();
  }
  void TearDown() override {
    port_.reset();
    for (int fd : peers_) peer::Close(fd);
    peer::Close(listener_);
    PumpFor(100);
  }

  // The case's action, run from inside the target event.
  void Act() {
    errorsAtAction_ = record_.errors;
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
        waitCpuMs_ = probe::CpuMilliseconds() - before;
        break;
      }
    }
  }

  void MakePort(TEv target) {
    port_ = std::make_unique<LifePort>(record_, target, [this] { Act(); });
    Aim(*port_, target);
  }

  void Aim(LifePort& port, TEv target) {
    if (ServerEvent(target)) {
      port.SetSocketMode(smServer);
      port.SetWsPort(std::to_string(serverPort_));
    } else {
      port.SetServerAddress("127.0.0.1");
      port.SetWsPort(std::to_string(target == TEv::Refused ? peer::UnusedPort() : listenPort_));
    }
  }

  // Opens and links the port as far as the event needs, then provokes the event.
  void Provoke(TEv ev) {
    port_->SetOpen(true);
    if (!port_) return;  // freed inside OnPortOpened
    if (ev == TEv::PortOpened || ev == TEv::Refused) return;
    if (ServerEvent(ev)) {
      const int client = peer::Connect(serverPort_);
      peers_.push_back(client);
      if (ev == TEv::Accept) return;
      ASSERT_TRUE(PumpUntil([&] { return record_.accepts == 1; }));
      if (ev == TEv::CarrierLost) {
        TQsBaseDispatcher* d = port_->Dispatcher();
        const std::int32_t h = d->CreateStatusTrigger(skModem);
        ASSERT_EQ(d->ArmStatusTrigger(h, 0x8080, true), 0);  // fires when carrier is no longer on
      }
      peer::Close(client);
      peers_.pop_back();
      return;
    }
    const int fd = peer::Accept(listener_);
    ASSERT_GE(fd, 0);
    peers_.push_back(fd);
    if (ev == TEv::Connect) return;
    ASSERT_TRUE(PumpUntil([&] { return record_.connects == 1; }));
    TQsBaseDispatcher* d = port_->Dispatcher();
    switch (ev) {
      case TEv::Avail:
      case TEv::TriggerMessage:
        peer::Send(fd, "hello");
        break;
      case TEv::DataTrigger:
        ASSERT_GT(d->CreateDataTrigger(std::string("END"), false), 0);
        peer::Send(fd, "xxEND");
        break;
      case TEv::TimerTrigger: {
        const std::int32_t h = d->CreateTimerTrigger();
        ASSERT_EQ(d->ArmTimerTrigger(h, 1, true), 0);
        break;
      }
      case TEv::OutputSent: {
        const std::int32_t h = d->CreateStatusTrigger(skOutSent);
        ASSERT_EQ(d->ArmStatusTrigger(h, 0, true), 0);
        port_->PutString("out");
        break;
      }
      case TEv::PeerReset:
        peer::Reset(fd);
        peers_.pop_back();
        break;
      case TEv::PeerClose:
        peer::Close(fd);
        peers_.pop_back();
        break;
      case TEv::PortClosed:
        port_->SetOpen(false);
        break;
      default:
        break;
    }
  }

  // The port links again (a new peer, a new client or a new refusal) and data flows both ways.
  void ExpectWorks(LifePort& port, TEv ev) {
    if (ev == TEv::Refused) {
      ASSERT_TRUE(PumpUntil([&] { return record_.errors > errorsAtAction_; }));
      return;
    }
    int fd = -1;
    if (ServerEvent(ev)) {
      const int accepts = record_.accepts;
      fd = peer::Connect(serverPort_);
      ASSERT_GE(fd, 0);
      peers_.push_back(fd);
      ASSERT_TRUE(PumpUntil([&] { return record_.accepts > accepts; }));
      ASSERT_TRUE(Echoes(fd));
    } else {
      // Connections the port gave up (closed inside an event) may still wait at the listener:
      // the port's live one is the one that hears.
      bool linked = false;
      for (int attempt = 0; attempt < 4 && !linked; ++attempt) {
        fd = peer::Accept(listener_, 2000);
        ASSERT_GE(fd, 0) << "the port never connected";
        peers_.push_back(fd);
        linked = Echoes(fd);
      }
      ASSERT_TRUE(linked);
    }
    port.PutString("pong");
    EXPECT_EQ(peer::Receive(fd, 2000, 4), "pong");
  }

  bool Echoes(int fd) {
    record_.received.clear();
    peer::Send(fd, "ping");
    return PumpUntil([&] { return record_.received.find("ping") != std::string::npos; }, 1500);
  }

  TRecord record_;
  std::unique_ptr<LifePort> port_;
  std::vector<int> peers_;
  int listener_ = -1;
  std::uint16_t listenPort_ = 0;
  std::uint16_t serverPort_ = 0;
  int baseline_ = 0;
  int errorsAtAction_ = 0;
  std::int64_t waitCpuMs_ = -1;  // CPU time the process spent while the handler waited
};

TEST_P(WsLifetime, SurvivesTheActionInsideTheEvent) {
  const TCase c = GetParam();
  MakePort(c.ev);
  LifePort* const raw = port_.get();
  ASSERT_NO_FATAL_FAILURE(Provoke(c.ev));
  ASSERT_TRUE(PumpUntil([&] { return !port_ || raw->Fired(); })) << "the event never came";

  // No spin: once the action is done, an idle port costs next to no CPU time.
  PumpFor(200);
  const std::int64_t cpuBefore = probe::CpuMilliseconds();
  PumpFor(500);
  EXPECT_LT(probe::CpuMilliseconds() - cpuBefore, 150) << "the loop spins";

  switch (c.act) {
    case TAct::CloseThenWait:
      // Generous: a close message posted again and again takes the whole wait.
      EXPECT_GE(waitCpuMs_, 0);
      EXPECT_LT(waitCpuMs_, 150) << "the wait inside the handler spins";
      [[fallthrough]];
    case TAct::Close:
      ASSERT_TRUE(PumpUntil([&] { return port_->State() == psClosed; }, 2000));
      EXPECT_FALSE(port_->Open());
      EXPECT_EQ(port_->PortWindow(), 0u);
      // The next opening works.
      port_->SetOpen(true);
      ASSERT_NO_FATAL_FAILURE(ExpectWorks(*port_, c.ev));
      break;
    case TAct::Reopen:
      ASSERT_TRUE(PumpUntil([&] { return port_->State() == psOpen; }, 2000));
      ASSERT_NO_FATAL_FAILURE(ExpectWorks(*port_, c.ev));
      break;
    case TAct::Free: {
      EXPECT_FALSE(port_);
      // A new port on the same peer works.
      port_ = std::make_unique<LifePort>(record_, c.ev, [] {});
      port_->Disarm();
      Aim(*port_, c.ev == TEv::Refused ? TEv::Refused : c.ev);
      port_->SetOpen(true);
      ASSERT_NO_FATAL_FAILURE(ExpectWorks(*port_, c.ev));
      break;
    }
  }
  port_.reset();
  for (int fd : peers_) peer::Close(fd);
  peers_.clear();
  PumpFor(100);
  EXPECT_EQ(probe::OpenDescriptorCount(), baseline_) << "descriptors leaked";
}

std::vector<TCase> AllCases() {
  std::vector<TCase> cases;
  for (TEv e : {TEv::Avail, TEv::TriggerMessage, TEv::DataTrigger, TEv::TimerTrigger, TEv::OutputSent,
                TEv::CarrierLost, TEv::Connect, TEv::PeerReset, TEv::Refused, TEv::PeerClose, TEv::Accept,
                TEv::ClientLeft, TEv::PortOpened, TEv::PortClosed})
    for (TAct a : {TAct::Close, TAct::Reopen, TAct::Free}) cases.push_back({e, a});
  // A wait after the close, inside a pass.
  for (TEv e : {TEv::Avail, TEv::TimerTrigger}) cases.push_back({e, TAct::CloseThenWait});
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Matrix, WsLifetime, ::testing::ValuesIn(AllCases()),
                         [](const ::testing::TestParamInfo<TCase>& info) {
                           return std::string(EvName(info.param.ev)) + "_" + ActName(info.param.act);
                         });

// ---- Data packets on the socket port ----------------------------------------------------------------

struct TPacketCase {
  const char* name;
  bool stringEvent;
  TPacketAct act;
};

class WsPacketLifetime : public ::testing::TestWithParam<TPacketCase> {
 protected:
  static void SetUpTestSuite() { WarmUp(); }
  void SetUp() override {
    listener_ = peer::Listen(listenPort_);
    baseline_ = probe::OpenDescriptorCount();
  }
  void TearDown() override {
    for (int fd : peers_) peer::Close(fd);
    peer::Close(listener_);
  }

  // A port with one line packet that records the lines, opened and linked to a peer of ours.
  int Make(std::unique_ptr<TQsCustomWinsockPort>& port, std::unique_ptr<TQsDataPacket>& packet,
           std::vector<std::string>& lines) {
    port = std::make_unique<TQsCustomWinsockPort>(nullptr);
    port->SetDeviceLayer(dlSocket);
    port->SetTelnetMode(false);
    port->SetServerAddress("127.0.0.1");
    port->SetWsPort(std::to_string(listenPort_));
    packet = std::make_unique<TQsDataPacket>(nullptr);
    packet->SetStartCond(scAnyData);
    packet->SetEndCond(EndSet({ecString}));
    packet->SetEndString("\r\n");
    packet->SetTimeOut(0);
    packet->SetComPort(port.get());
    packet->OnStringPacket =
        TStringPacketNotifyEvent(&lines, "lines", [&lines](TComponent*, const std::string& s) { lines.push_back(s); });
    packet->SetEnabled(true);
    port->SetOpen(true);
    const int fd = peer::Accept(listener_, 2000);
    if (fd >= 0) peers_.push_back(fd);
    return fd;
  }

  int listener_ = -1;
  std::uint16_t listenPort_ = 0;
  std::vector<int> peers_;
  int baseline_ = 0;
};

TEST_P(WsPacketLifetime, SurvivesTheActionInsideThePacketEvent) {
  const TPacketCase& c = GetParam();
  int reports = 0;
  auto previous = SetExceptionHandler([&](const std::exception&) { ++reports; });
  std::unique_ptr<TQsCustomWinsockPort> port;
  std::unique_ptr<TQsDataPacket> packet;
  std::vector<std::string> lines;
  const int fd = Make(port, packet, lines);
  ASSERT_GE(fd, 0);
  int events = 0;
  auto act = [&] {
    if (++events > 1) return;
    ApplyPacketAct(c.act, port, packet);
  };
  if (c.stringEvent) {
    packet->OnStringPacket = TStringPacketNotifyEvent(&lines, "act", [&](TComponent*, const std::string& s) {
      lines.push_back(s);
      act();
    });
  } else {
    packet->OnPacket = TPacketNotifyEvent(&lines, "act", [&](TComponent*, const std::uint8_t* d, int n) {
      lines.emplace_back(reinterpret_cast<const char*>(d), static_cast<std::size_t>(n));
      act();
    });
  }
  peer::Send(fd, "one\r\ntwo\r\n");
  ASSERT_TRUE(PumpUntil([&] { return events > 0; }, 3000)) << "no packet";
  ASSERT_TRUE(PumpUntil([&] { return !port || port->State() != psClosing; }, 3000)) << "the close never ends";

  PumpFor(100);
  const std::int64_t cpuBefore = probe::CpuMilliseconds();
  PumpFor(300);
  EXPECT_LT(probe::CpuMilliseconds() - cpuBefore, 120) << "the loop spins";
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.front(), "one\r\n");
  packet.reset();
  port.reset();
  for (int p : peers_) peer::Close(p);
  peers_.clear();
  // A connection a reopened port made before it was freed may still wait at the listener.
  for (int stale = peer::Accept(listener_, 50); stale >= 0; stale = peer::Accept(listener_, 50)) peer::Close(stale);
  PumpFor(100);
  EXPECT_EQ(probe::OpenDescriptorCount(), baseline_) << "descriptors leaked";
  EXPECT_EQ(reports, 0);
  SetExceptionHandler(previous);

  // The next port with its packet gets the next line.
  std::vector<std::string> next;
  const int again = Make(port, packet, next);
  ASSERT_GE(again, 0);
  peer::Send(again, "next\r\n");
  EXPECT_TRUE(PumpUntil([&] { return !next.empty(); }, 3000));
  if (!next.empty()) {
    EXPECT_EQ(next.front(), "next\r\n");
  }
  packet.reset();
  port.reset();
}

INSTANTIATE_TEST_SUITE_P(
    Matrix, WsPacketLifetime,
    ::testing::Values(TPacketCase{"PacketClosesPort", false, TPacketAct::ClosePort},
                      TPacketCase{"PacketReopensPort", false, TPacketAct::ReopenPort},
                      TPacketCase{"PacketFreesPort", false, TPacketAct::FreePort},
                      TPacketCase{"PacketFreesPacket", false, TPacketAct::FreePacket},
                      TPacketCase{"StringClosesPort", true, TPacketAct::ClosePort},
                      TPacketCase{"StringReopensPort", true, TPacketAct::ReopenPort},
                      TPacketCase{"StringFreesPort", true, TPacketAct::FreePort},
                      TPacketCase{"StringFreesPacket", true, TPacketAct::FreePacket}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
