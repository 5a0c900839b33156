// The port component on its serial layer, end to end over pseudo-terminal pairs linked as COMn:
// data both ways through the buffers, every trigger event on the main thread, a close from inside
// a data-trigger event of a notification pass, a flush with output pending, held, missing and
// refused ports, the peer going away, a change of ComNumber while open, and an adopted device.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <typeinfo>
#include <vector>

#include "comm/QsExcept.h"
#include "platform/SysUtils.h"
#include "port/QsPort.h"
#include "port/QsSerial.h"
#include "tests/support/PtyPair.h"
#include "tests/support/Pump.h"

namespace {

using namespace std::chrono_literals;
using testpump::PumpUntil;
using testsupport::TPtyPair;
using testsupport::TSerialFolder;

// Runs call on another thread; false when it has not returned within limit (a hang).
template <typename Call>
bool FinishesWithin(Call call, std::chrono::milliseconds limit = 10000ms) {
  auto done = std::async(std::launch::async, call);
  return done.wait_for(limit) == std::future_status::ready;
}

// Which events came, and whether each came on the test's (main) thread.
struct TEventLog {
  std::thread::id mainThread = std::this_thread::get_id();
  std::vector<std::string> names;
  bool offMainThread = false;
  void Add(const std::string& name) {
    names.push_back(name);
    if (std::this_thread::get_id() != mainThread) offMainThread = true;
  }
  int Count(const std::string& name) const {
    int n = 0;
    for (const std::string& e : names) n += e == name ? 1 : 0;
    return n;
  }
};

class SerialPort : public testing::Test {
 protected:
  void SetUp() override {
    folder.Link(1, pty.PortPath());
    port.SetComNumber(1);
    port.SetBaudRate(9600);
  }
  void TearDown() override { port.SetOpen(false); }

  void RecordEvents() {
    port.SetOnTriggerMessage(TTriggerMessageEvent(&log, "message", [this](platform::TComponent*, platform::UINT, std::uint16_t, std::uint16_t) {
      log.Add("message");
    }));
    port.SetOnDataAvailable(TTriggerAvailEvent(&log, "avail", [this](platform::TComponent*, std::uint16_t) { log.Add("avail"); }));
    port.SetOnDataTrigger(TTriggerHandleEvent(&log, "data", [this](platform::TComponent*, std::uint16_t h) {
      log.Add("data");
      dataHandles.push_back(h);
    }));
    port.SetOnTimerTrigger(TTriggerHandleEvent(&log, "timer", [this](platform::TComponent*, std::uint16_t) { log.Add("timer"); }));
    port.SetOnStatusTrigger(TTriggerHandleEvent(&log, "status", [this](platform::TComponent*, std::uint16_t) { log.Add("status"); }));
    port.OnOutputFree = TPortNotifyEvent(&log, "free", [this](platform::TComponent*) { log.Add("free"); });
    port.OnOutputUsed = TPortNotifyEvent(&log, "used", [this](platform::TComponent*) { log.Add("used"); });
    port.OnOutputSent = TPortNotifyEvent(&log, "sent", [this](platform::TComponent*) { log.Add("sent"); });
    port.OnModemStatus = TPortNotifyEvent(&log, "modem", [this](platform::TComponent*) { log.Add("modem"); });
  }

  // Reads want bytes from the port's input buffer once they are there.
  std::string ReadPort(int want) {
    if (!PumpUntil([&] { return port.Dispatcher()->InputCount() >= want; })) return "(timed out)";
    std::string got(static_cast<std::size_t>(want), '\0');
    return port.Dispatcher()->ReadBlock(got.data(), want) == want ? got : "(ReadBlock failed)";
  }

  // Writes through the port until the line is full and output stays pending in its buffer.
  bool FillLine() {
    const std::string block(1000, 'p');
    for (int i = 0; i < 500; ++i) {
      if (port.Dispatcher()->OutputFree() >= 1000) {
        port.PutString(block);
        continue;
      }
      std::this_thread::sleep_for(100ms);
      if (port.Dispatcher()->OutputFree() < 1000) return true;
    }
    return false;
  }

  TSerialFolder folder;
  TPtyPair pty;
  TQsCustomComPort port{nullptr};
  TEventLog log;
  std::vector<std::uint16_t> dataHandles;
};

TEST_F(SerialPort, ExchangesDataWithThePeerAndRaisesEveryTriggerEventOnTheMainThread) {
  RecordEvents();
  port.SetOpen(true);
  ASSERT_EQ(port.State(), psOpen);
  EXPECT_NE(dynamic_cast<TQsWin32Dispatcher*>(port.Dispatcher()), nullptr);
  termios t{};
  ASSERT_EQ(tcgetattr(pty.PortFd(), &t), 0);
  EXPECT_EQ(cfgetospeed(&t), B9600) << "the port's settings reached the device";

  TQsBaseDispatcher& d = *port.Dispatcher();
  const std::int32_t crlf = d.CreateDataTrigger("\r\n", false);
  ASSERT_TRUE(pty.Send("220 ready\r\n"));
  ASSERT_TRUE(PumpUntil([&] { return log.Count("data") == 1 && log.Count("avail") >= 1; }));
  EXPECT_EQ(dataHandles.at(0), static_cast<std::uint16_t>(crlf));
  EXPECT_EQ(ReadPort(11), "220 ready\r\n");

  port.PutString("USER me\r\n");
  EXPECT_EQ(pty.Receive(9, 3000ms), "USER me\r\n");

  const std::int32_t timer = d.CreateTimerTrigger();
  ASSERT_EQ(d.ArmTimerTrigger(timer, 2, true), 0);
  ASSERT_TRUE(PumpUntil([&] { return log.Count("timer") == 1; }));

  const std::int32_t sent = d.CreateStatusTrigger(skOutSent);
  ASSERT_EQ(d.ArmStatusTrigger(sent, 0, true), 0);
  port.PutString("ping");
  EXPECT_EQ(pty.Receive(4, 3000ms), "ping");
  ASSERT_TRUE(PumpUntil([&] { return log.Count("sent") == 1; }));

  // Output the peer does not read waits in the buffer; once it drains, used falls to 0 and the
  // whole buffer is free again.
  ASSERT_TRUE(FillLine());
  const std::int32_t used = d.CreateStatusTrigger(skOutUsed);
  const std::int32_t freeRoom = d.CreateStatusTrigger(skOutFree);
  ASSERT_EQ(d.ArmStatusTrigger(used, 0, true), 0);
  ASSERT_EQ(d.ArmStatusTrigger(freeRoom, port.OutBufferSize(), true), 0);
  EXPECT_EQ(log.Count("used") + log.Count("free"), 0);
  auto drained = std::async(std::launch::async, [&] {
    for (int i = 0; i < 300; ++i) {
      pty.Discard();
      std::this_thread::sleep_for(10ms);
    }
  });
  EXPECT_TRUE(PumpUntil([&] { return log.Count("used") == 1 && log.Count("free") == 1; }, 10000));
  drained.get();

  EXPECT_GE(log.Count("message"), log.Count("data") + log.Count("timer") + log.Count("status"))
      << "every notification raises the message event too";
  EXPECT_EQ(log.Count("status"), log.Count("sent") + log.Count("used") + log.Count("free"));
  EXPECT_FALSE(log.offMainThread);
}

TEST_F(SerialPort, ACloseFromADataTriggerEventIsFinishedOnceTheDispatchThreadHasStopped) {
  struct Case {
    const char* what;
    bool reopenInBetween;
  };
  for (const Case& c : {Case{"close", false}, Case{"close, then open again at once", true}}) {
    SCOPED_TRACE(c.what);
    bool duringPass = false;
    TPortState stateAfterClose = psOpen;
    port.SetOnDataTrigger(TTriggerHandleEvent(&log, "closer", [&](platform::TComponent*, std::uint16_t) {
      duringPass = port.ValidDispatcher()->Dispatching();
      port.SetOpen(false);
      stateAfterClose = port.State();
      if (c.reopenInBetween) port.SetOpen(true);
    }));
    port.SetOpen(true);
    port.Dispatcher()->CreateDataTrigger("bye", false);
    ASSERT_TRUE(pty.Send("bye"));
    ASSERT_TRUE(PumpUntil([&] { return stateAfterClose != psOpen; }));
    EXPECT_TRUE(duringPass) << "the event ran inside the dispatch thread's notification pass";
    EXPECT_EQ(stateAfterClose, psClosing);
    const TPortState settled = c.reopenInBetween ? psOpen : psClosed;
    ASSERT_TRUE(PumpUntil([&] { return port.State() == settled; }));
    if (c.reopenInBetween) {
      // The trigger set came along: the same pattern closes the reopened port again.
      EXPECT_TRUE(port.Dispatcher()->Started());
      port.SetOnDataTrigger(TTriggerHandleEvent());
      port.PutString("again");
      EXPECT_EQ(pty.Receive(5, 3000ms), "again");
      port.SetOpen(false);
    }
    EXPECT_EQ(port.State(), psClosed);
    // The device is free for the next opener.
    TQsWin32Dispatcher next(nullptr);
    EXPECT_EQ(next.OpenPort(TSerialFolder::PortName(1), 9600, 0, 8, 1, 1024, 1024, 0), 0);
  }
}

TEST_F(SerialPort, AFlushWithOutputPendingEmptiesTheBufferAndTheLineGoesOn) {
  port.SetOpen(true);
  ASSERT_TRUE(FillLine());
  ASSERT_GT(port.Dispatcher()->OutputCount(), 0);
  EXPECT_TRUE(FinishesWithin([&] { EXPECT_EQ(port.Dispatcher()->FlushOutput(), 0); }));
  EXPECT_EQ(port.Dispatcher()->OutputCount(), 0);
  pty.Discard();
  port.PutString("after");
  EXPECT_EQ(pty.Receive(5, 3000ms), "after");
  EXPECT_EQ(pty.Receive(1, 300ms), "") << "nothing the flush discarded comes after";
  // Closing with the line full again never hangs either.
  ASSERT_TRUE(FillLine());
  EXPECT_TRUE(FinishesWithin([&] { port.SetOpen(false); }));
  EXPECT_EQ(port.State(), psClosed);
}

TEST_F(SerialPort, HeldMissingAndRefusedPortsFailToOpenWithTheirErrors) {
  TQsWin32Dispatcher holder(nullptr);
  ASSERT_EQ(holder.OpenPort(TSerialFolder::PortName(1), 9600, 0, 8, 1, 1024, 1024, 0), 0);
  struct Case {
    const char* what;
    std::uint16_t comNumber;
    std::uint32_t baud;
    int code;  // EQsException's code, or the negated I/O error
    const std::type_info& type;
    const char* text;
  };
  const Case cases[] = {
      {"held by another open", 1, 9600, kErrAlreadyOpen, typeid(EAlreadyOpen), "ie_Open - device already open"},
      {"missing", 7, 9600, kErrBadId, typeid(EBadId), "ie_BadId - Specified comport doesn't exist"},
      {"a rate the device refuses", 2, 14400, -platform::kSysErrInvalidParameter, typeid(platform::EInOutError),
       "The parameter is incorrect."},
  };
  TPtyPair second;
  folder.Link(2, second.PortPath());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TQsCustomComPort p(nullptr);
    p.SetComNumber(c.comNumber);
    p.SetBaudRate(c.baud);
    try {
      p.SetOpen(true);
      ADD_FAILURE() << "opened";
    } catch (const std::exception& e) {
      EXPECT_EQ(typeid(e), c.type) << e.what();
      if (const auto* qs = dynamic_cast<const EQsException*>(&e)) {
        EXPECT_EQ(qs->Code(), c.code);
      }
      if (const auto* io = dynamic_cast<const platform::EInOutError*>(&e)) {
        EXPECT_EQ(-io->ErrorCode(), c.code);
      }
      if (c.text != nullptr) {
        EXPECT_STREQ(e.what(), c.text);
      }
    }
    EXPECT_EQ(p.State(), psClosed);
    EXPECT_FALSE(p.Open());
    EXPECT_EQ(p.PortWindow(), 0u);
  }
  // The refused rate left the second port free.
  TQsWin32Dispatcher again(nullptr);
  EXPECT_EQ(again.OpenPort(TSerialFolder::PortName(2), 9600, 0, 8, 1, 1024, 1024, 0), 0);
}

TEST_F(SerialPort, ThePeerGoingAwayIsSeenByTheApplicationAndThePortClosesCleanly) {
  RecordEvents();
  port.SetOpen(true);
  TQsBaseDispatcher& d = *port.Dispatcher();
  const std::int32_t carrier = d.CreateStatusTrigger(skModem);
  ASSERT_EQ(d.ArmStatusTrigger(carrier, static_cast<std::uint16_t>((kModemDcd << 8) | kModemDcd), true), 0);
  ASSERT_TRUE(pty.Send("last words"));
  EXPECT_EQ(ReadPort(10), "last words");
  EXPECT_EQ(log.Count("modem"), 0) << "carrier is on while the peer is there";
  pty.ClosePeer();
  ASSERT_TRUE(PumpUntil([&] { return log.Count("modem") == 1; }));
  EXPECT_EQ(log.Count("status"), 1);
  EXPECT_EQ(d.ModemBits() & kModemDcd, 0);
  EXPECT_TRUE(static_cast<TQsWin32Dispatcher&>(d).PeerGone());
  EXPECT_FALSE(log.offMainThread);
  EXPECT_TRUE(FinishesWithin([&] { port.SetOpen(false); }));
  // The dispatch thread may still be ending the modem pass: the close then completes through the
  // port's window.
  EXPECT_TRUE(PumpUntil([&] { return port.State() == psClosed; }));
}

TEST_F(SerialPort, ChangingComNumberWhileOpenMovesThePortWithItsTriggers) {
  TPtyPair second;
  folder.Link(2, second.PortPath());
  RecordEvents();
  port.SetOpen(true);
  const std::int32_t hash = port.Dispatcher()->CreateDataTrigger("#", false);
  port.SetComNumber(2);
  ASSERT_EQ(port.State(), psOpen);
  ASSERT_TRUE(second.Send("on two#"));
  ASSERT_TRUE(PumpUntil([&] { return log.Count("data") == 1; }));
  EXPECT_EQ(dataHandles.at(0), static_cast<std::uint16_t>(hash)) << "the trigger came along";
  EXPECT_EQ(ReadPort(7), "on two#");
  port.PutString("hi two");
  EXPECT_EQ(second.Receive(6, 3000ms), "hi two");
  // The first port was let go.
  TQsWin32Dispatcher first(nullptr);
  EXPECT_EQ(first.OpenPort(TSerialFolder::PortName(1), 9600, 0, 8, 1, 1024, 1024, 0), 0);
}

TEST_F(SerialPort, TapiModeAdoptsTheHandleAndTakesOverItsLineSettings) {
  // Telephony left the line at 2400 baud with two stop bits and XON/XOFF flow control on what
  // it transmits, with characters of its own (a pseudo-terminal keeps no other size or parity).
  const int handle = dup(pty.PortFd());
  ASSERT_GT(handle, 0);
  termios t{};
  ASSERT_EQ(tcgetattr(handle, &t), 0);
  cfsetspeed(&t, B2400);
  t.c_cflag |= CSTOPB;
  t.c_iflag = (t.c_iflag & ~static_cast<tcflag_t>(IXOFF)) | IXON;
  t.c_cc[VSTART] = 0x05;
  t.c_cc[VSTOP] = 0x06;
  ASSERT_EQ(tcsetattr(handle, TCSANOW, &t), 0);

  TQsCustomComPort adopted(nullptr);
  adopted.SetTapiMode(2);
  adopted.SetTapiHandle(static_cast<std::uint16_t>(handle));
  adopted.SetAskForPort(false);  // no port number is needed in this mode
  adopted.SetOpen(true);
  ASSERT_EQ(adopted.State(), psOpen);
  EXPECT_NE(dynamic_cast<TQsTAPI32Dispatcher*>(adopted.Dispatcher()), nullptr);
  EXPECT_EQ(adopted.BaudRate(), 2400u);
  EXPECT_EQ(adopted.DataBits(), 8);
  EXPECT_EQ(adopted.Parity(), 0);
  EXPECT_EQ(adopted.StopBits(), 2);
  EXPECT_EQ(adopted.SoftwareFlow(), sfTransmit);
  EXPECT_EQ(adopted.XOnChar(), 0x05);
  EXPECT_EQ(adopted.XOffChar(), 0x06);
  ASSERT_TRUE(pty.Send("tapi"));
  ASSERT_TRUE(PumpUntil([&] { return adopted.Dispatcher()->InputCount() == 4; }));
  adopted.SetOpen(false);
  EXPECT_EQ(fcntl(handle, F_GETFD), -1) << "the adopted handle was closed with the port";

  TQsCustomComPort none(nullptr);
  none.SetTapiMode(2);
  EXPECT_THROW(none.SetOpen(true), ENotOpenedByTapi);
  EXPECT_EQ(none.State(), psClosed);
}

}  // namespace
