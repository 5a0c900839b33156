// The serial dispatcher on one end of a pseudo-terminal pair, the test on the other: data both
// ways through the buffers and triggers, notifications to a window of the main thread, closes
// from a handler, flushes with output pending, held and missing ports, refused settings, the peer
// going away, stops that never hang, an adopted device, and the port probe.
#include <gtest/gtest.h>

#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "comm/QsDispatchThreads.h"
#include "comm/QsExcept.h"
#include "platform/MessageLoop.h"
#include "platform/Threads.h"
#include "port/QsSelPort.h"
#include "port/QsSerial.h"
#include "tests/support/PtyPair.h"
#include "tests/support/Pump.h"

namespace {

using namespace std::chrono_literals;
using testsupport::TPtyPair;
using testsupport::TSerialFolder;

using testpump::Eventually;

// Runs call on another thread; false when it has not returned within limit (a hang).
template <typename Call>
bool FinishesWithin(Call call, std::chrono::milliseconds limit = 10000ms) {
  auto done = std::async(std::launch::async, call);
  return done.wait_for(limit) == std::future_status::ready;
}

double ProcessCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// Writes until the peer's side of the line is full and output stays pending in the ring.
bool FillLine(TQsWin32Dispatcher& d) {
  const std::string block(4000, 'p');
  for (int i = 0; i < 500; ++i) {
    if (d.OutputFree() >= 4000) {
      if (d.WriteBlock(block.data(), 4000) != 0) return false;
      std::this_thread::sleep_for(5ms);
      continue;
    }
    std::this_thread::sleep_for(100ms);
    if (d.OutputFree() < 4000) return true;
  }
  return false;
}

int Open(TQsWin32Dispatcher& d, int number, std::uint32_t baud = 9600, std::uint8_t dataBits = 8) {
  return d.OpenPort(TSerialFolder::PortName(number), baud, 0, dataBits, 1, 4096, 4096, kOpenDtrOn | kOpenRtsOn);
}

// Records notifications with the thread they came on.
struct TRecorder {
  struct Entry {
    platform::UINT msg;
    platform::WPARAM first;
    platform::LPARAM second;
    bool onTestThread;
  };
  std::thread::id testThread = std::this_thread::get_id();
  std::mutex lock;
  std::vector<Entry> entries;
  void On(platform::UINT msg, platform::WPARAM first, platform::LPARAM second) {
    std::lock_guard guard(lock);
    entries.push_back({msg, first, second, std::this_thread::get_id() == testThread});
  }
  int Count(platform::UINT msg) {
    std::lock_guard guard(lock);
    int n = 0;
    for (const Entry& e : entries) n += e.msg == msg ? 1 : 0;
    return n;
  }
  std::vector<Entry> Of(platform::UINT msg) {
    std::lock_guard guard(lock);
    std::vector<Entry> found;
    for (const Entry& e : entries)
      if (e.msg == msg) found.push_back(e);
    return found;
  }
};

class SerialDispatcher : public testing::Test {
 protected:
  void SetUp() override {
    folder.Link(1, pty.PortPath());
    ASSERT_EQ(Open(d, 1), 0);
    d.AddMethodHandler(TQsNotifyMethod::Of<&TRecorder::On>(&recorder));
  }
  // Reads what the ring holds once it holds want bytes.
  std::string ReadRing(int want) {
    if (!Eventually([&] { return d.InputCount() >= want; })) return "(only " + std::to_string(d.InputCount()) + ")";
    std::string got(static_cast<std::size_t>(want), '\0');
    if (d.ReadBlock(got.data(), want) != want) return "(ReadBlock failed)";
    return got;
  }

  TSerialFolder folder;
  TPtyPair pty;
  TRecorder recorder;
  TQsWin32Dispatcher d{nullptr};
};

TEST_F(SerialDispatcher, OpeningAppliesTheLineAndStartsTheThreeThreads) {
  EXPECT_TRUE(d.Started());
  EXPECT_EQ(d.ActiveThreads(), 3);
  EXPECT_GE(d.DeviceId(), 0);
  termios t{};
  ASSERT_EQ(tcgetattr(pty.PortFd(), &t), 0);
  EXPECT_EQ(cfgetospeed(&t), B9600);
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(t.c_lflag & ICANON, 0u);
  ASSERT_EQ(d.SetLineSettings(115200, 0, 8, 2), 0);
  std::uint32_t baud = 0;
  std::uint8_t parity = 9, stop = 0, bits = 0;
  d.GetLineSettings(baud, parity, stop, bits);
  EXPECT_EQ(baud, 115200u);
  EXPECT_EQ(parity, 0);
  EXPECT_EQ(stop, 2);
  EXPECT_EQ(bits, 8);
  ASSERT_EQ(tcgetattr(pty.PortFd(), &t), 0);
  EXPECT_EQ(cfgetospeed(&t), B115200);
  EXPECT_NE(t.c_cflag & CSTOPB, 0u);
}

TEST_F(SerialDispatcher, DataBothWaysThroughTriggersAndBuffers) {
  d.SetAvailThreshold(5);
  const std::int32_t crlf = d.CreateDataTrigger("\r\n", false);
  ASSERT_GT(crlf, 0);
  ASSERT_TRUE(pty.Send("220 ready\r\n"));
  ASSERT_TRUE(Eventually([&] { return recorder.Count(DM_DATA) == 1 && recorder.Count(DM_AVAIL) >= 1; }));
  const auto data = recorder.Of(DM_DATA);
  EXPECT_EQ(data[0].first, static_cast<platform::WPARAM>(crlf));
  EXPECT_EQ(static_cast<int>(data[0].second >> 16), d.Handle());
  EXPECT_FALSE(data[0].onTestThread) << "method handlers run on the dispatch thread";
  // This thread is no handler: while a pass runs, its reads would count as the handler's.
  ASSERT_TRUE(Eventually([&] { return !d.Dispatching(); }));
  EXPECT_EQ(ReadRing(11), "220 ready\r\n");
  d.SetAvailThreshold(0);

  // A block larger than the pseudo-terminal takes at once, in both directions.
  std::string big;
  for (int i = 0; i < 20000; ++i) big.push_back(static_cast<char>('a' + i % 26));
  auto sent = std::async(std::launch::async, [&] { return pty.Send(big); });
  std::string got;
  ASSERT_TRUE(Eventually([&] {
    char buf[4096];
    const int n = std::min<int>(d.InputCount(), sizeof buf);
    if (n > 0 && d.ReadBlock(buf, n) == n) got.append(buf, static_cast<std::size_t>(n));
    return got.size() >= big.size();
  }));
  EXPECT_TRUE(sent.get());
  EXPECT_EQ(got, big);

  auto received = std::async(std::launch::async, [&] { return pty.Receive(big.size(), 10000ms); });
  for (std::size_t off = 0; off < big.size(); off += 2000) {
    ASSERT_TRUE(Eventually([&] { return d.OutputFree() >= 2000; }));
    ASSERT_EQ(d.WriteBlock(big.data() + off, 2000), 0);
  }
  EXPECT_EQ(received.get(), big);
}

TEST_F(SerialDispatcher, TimerAndOutputStatusTriggersFire) {
  const std::int32_t timer = d.CreateTimerTrigger();
  ASSERT_EQ(d.ArmTimerTrigger(timer, 2, true), 0);
  const std::int32_t sent = d.CreateStatusTrigger(skOutSent);
  const std::int32_t used = d.CreateStatusTrigger(skOutUsed);
  const std::int32_t freeRoom = d.CreateStatusTrigger(skOutFree);
  ASSERT_EQ(d.ArmStatusTrigger(sent, 0, true), 0);
  ASSERT_TRUE(Eventually([&] { return recorder.Count(DM_TIMER) == 1; }));
  EXPECT_EQ(recorder.Count(DM_STATUS), 0) << "nothing was written yet";

  ASSERT_EQ(d.WriteBlock("ping", 4), 0);
  EXPECT_EQ(pty.Receive(4, 3000ms), "ping");
  ASSERT_TRUE(Eventually([&] { return recorder.Count(DM_STATUS) == 1; }));
  EXPECT_EQ(recorder.Of(DM_STATUS)[0].first, static_cast<platform::WPARAM>(sent));

  // Output the peer does not read piles up in the ring: used stays above 0 until it drains.
  ASSERT_TRUE(FillLine(d));
  ASSERT_EQ(d.ArmStatusTrigger(used, 0, true), 0);
  ASSERT_EQ(d.ArmStatusTrigger(freeRoom, 4096, true), 0);
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(recorder.Count(DM_STATUS), 1) << "still pending: neither empty nor all free";
  auto drained = std::async(std::launch::async, [&] {
    std::size_t total = 0;
    for (int i = 0; i < 200; ++i) {
      total += pty.Discard();
      std::this_thread::sleep_for(10ms);
    }
    return total;
  });
  ASSERT_TRUE(Eventually([&] { return recorder.Count(DM_STATUS) == 3; }, 10000ms));
  std::vector<platform::WPARAM> fired;
  for (const auto& e : recorder.Of(DM_STATUS)) fired.push_back(e.first);
  EXPECT_NE(std::find(fired.begin(), fired.end(), static_cast<platform::WPARAM>(used)), fired.end());
  EXPECT_NE(std::find(fired.begin(), fired.end(), static_cast<platform::WPARAM>(freeRoom)), fired.end());
  drained.get();
}

std::atomic<int> gWindowData{0};
std::atomic<bool> gWindowOffThread{false};
std::thread::id gMainThread;
platform::LRESULT WindowProc(platform::HWND hwnd, platform::UINT msg, platform::WPARAM w, platform::LPARAM l) {
  if (msg == DM_DATA) {
    if (std::this_thread::get_id() != gMainThread) gWindowOffThread = true;
    ++gWindowData;
    return 0;
  }
  return platform::DefWindowProc(hwnd, msg, w, l);
}

TEST_F(SerialDispatcher, WindowHandlersGetTheirNotificationsOnTheirOwnThread) {
  gMainThread = std::this_thread::get_id();
  gWindowData = 0;
  gWindowOffThread = false;
  platform::RegisterWindowClass("qsSerialTestWindow", WindowProc);
  const platform::HWND wnd = platform::CreateWindowOfClass("qsSerialTestWindow");
  d.AddWindowHandler(wnd);
  d.RecomputeHandlerFlags(1);  // the window is the port's, as a port component registers it
  d.CreateDataTrigger("#", false);
  ASSERT_TRUE(pty.Send("a#b#c#"));
  EXPECT_TRUE(Eventually([] { return gWindowData.load() == 3; }));
  EXPECT_FALSE(gWindowOffThread.load());
  // Closing while the dispatch thread may be sending to the window completes: a close during a
  // pass is finished by the dispatch thread once this thread has handled the message.
  ASSERT_TRUE(pty.Send("#"));
  std::this_thread::sleep_for(10ms);
  d.ClosePort();
  EXPECT_TRUE(Eventually([&] { return !d.Started(); }));
  EXPECT_EQ(d.DeviceId(), -1);
  d.RemoveWindowHandler(wnd);
  platform::DestroyWindow(wnd);
}

struct TClosingHandler {
  TQsWin32Dispatcher* d;
  std::atomic<int> calls{0};
  std::atomic<bool> onDispatchThread{false};
  void On(platform::UINT msg, platform::WPARAM, platform::LPARAM) {
    if (msg != DM_DATA) return;
    ++calls;
    onDispatchThread = d->DispThreadId() == platform::CurrentThreadId();
    d->ClosePort();
  }
};

TEST_F(SerialDispatcher, CloseFromADataHandlerEndsTheServiceAndFreesThePort) {
  TClosingHandler closer{&d};
  d.AddMethodHandler(TQsNotifyMethod::Of<&TClosingHandler::On>(&closer));
  d.CreateDataTrigger("bye", false);
  ASSERT_TRUE(pty.Send("bye bye"));
  ASSERT_TRUE(Eventually([&] { return !d.Started(); }));
  EXPECT_EQ(closer.calls.load(), 1);
  EXPECT_TRUE(closer.onDispatchThread.load());
  EXPECT_EQ(d.ActiveThreads(), 0);
  EXPECT_EQ(d.DeviceId(), -1);
  EXPECT_FALSE(d.InRingAllocated());
  // The port is free again for the next opener.
  TQsWin32Dispatcher next(nullptr);
  EXPECT_EQ(Open(next, 1), 0);
}

TEST_F(SerialDispatcher, FlushWithOutputPendingEmptiesTheRingAndTheLineKeepsWorking) {
  ASSERT_TRUE(FillLine(d));
  ASSERT_TRUE(d.OutputThreadRunning());
  ASSERT_TRUE(FinishesWithin([&] { EXPECT_EQ(d.FlushOutput(), 0); }));
  EXPECT_EQ(d.OutPending(), 0);
  EXPECT_EQ(d.OutputCount(), 0);
  pty.Discard();
  ASSERT_EQ(d.WriteBlock("after", 5), 0);
  EXPECT_EQ(pty.Receive(5, 3000ms), "after");
}

TEST_F(SerialDispatcher, StopNeverHangsWhileTheOutputThreadWaitsForRoom) {
  ASSERT_TRUE(FillLine(d));
  EXPECT_TRUE(FinishesWithin([&] { d.ClosePort(); }));
  EXPECT_FALSE(d.Started());
  EXPECT_EQ(d.DeviceId(), -1);
}

TEST_F(SerialDispatcher, ThePeerGoingAwayIsVisibleAndCostsNoSpin) {
  const std::int32_t carrier = d.CreateStatusTrigger(skModem);
  ASSERT_EQ(d.ArmStatusTrigger(carrier, static_cast<std::uint16_t>((kModemDcd << 8) | kModemDcd), true), 0);
  ASSERT_TRUE(pty.Send("last words"));
  ASSERT_EQ(ReadRing(10), "last words");
  EXPECT_EQ(recorder.Count(DM_STATUS), 0) << "carrier is on while the peer is there";
  pty.ClosePeer();
  ASSERT_TRUE(Eventually([&] { return recorder.Count(DM_STATUS) == 1; }));
  EXPECT_TRUE(d.PeerGone());
  EXPECT_EQ(d.ModemBits() & kModemDcd, 0);
  EXPECT_NE(d.ModemBits() & kModemDeltaDcd, 0) << "the carrier change stays recorded";
  const double before = ProcessCpuSeconds();
  std::this_thread::sleep_for(1000ms);
  EXPECT_LT(ProcessCpuSeconds() - before, 0.3) << "generous: a spinning thread would take a whole second";
  EXPECT_EQ(d.InputCount(), 0);
  EXPECT_TRUE(FinishesWithin([&] { d.ClosePort(); }));
  EXPECT_FALSE(d.Started());
}

TEST_F(SerialDispatcher, ARefusedSettingGivesTheNegatedSystemError) {
  EXPECT_EQ(d.SetLineSettings(0, kKeepParity, 4, kKeepStopBits), -platform::kSysErrInvalidParameter);
  EXPECT_EQ(d.SetLineSettings(14400, kKeepParity, kKeepDataBits, kKeepStopBits), -platform::kSysErrInvalidParameter);
  std::uint32_t baud = 0;
  std::uint8_t parity = 0, stop = 0, bits = 0;
  d.GetLineSettings(baud, parity, stop, bits);
  EXPECT_EQ(baud, 9600u) << "the line keeps its settings";
  EXPECT_EQ(bits, 8);
}

TEST(SerialDispatcherOpen, HeldMissingAndRefusedPortsFailWithTheirErrors) {
  TSerialFolder folder;
  TPtyPair pty;
  folder.Link(1, pty.PortPath());
  TQsWin32Dispatcher holder(nullptr);
  ASSERT_EQ(Open(holder, 1), 0);
  struct Case {
    const char* what;
    int number;
    std::uint32_t baud;
    int result;
  };
  const Case cases[] = {
      {"held by another open", 1, 9600, -platform::kSysErrAccessDenied},
      {"missing", 7, 9600, -platform::kSysErrFileNotFound},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TQsWin32Dispatcher d(nullptr);
    EXPECT_EQ(Open(d, c.number, c.baud), c.result);
    EXPECT_FALSE(d.Started());
    EXPECT_EQ(d.DeviceId(), -1);
    EXPECT_EQ(d.LastError(), -c.result);
  }
  holder.ClosePort();
  // A rate the line cannot make: the open fails and leaves the port free.
  {
    TQsWin32Dispatcher d(nullptr);
    EXPECT_EQ(Open(d, 1, 14400), -platform::kSysErrInvalidParameter);
    EXPECT_FALSE(d.Started());
  }
  TQsWin32Dispatcher again(nullptr);
  EXPECT_EQ(Open(again, 1), 0);
}

TEST(SerialTapiDispatcher, AdoptsAnOpenDeviceAndRefusesNone) {
  TPtyPair pty;
  TQsTAPI32Dispatcher d(nullptr, dup(pty.PortFd()));
  ASSERT_EQ(d.OpenPort("", 9600, 0, 8, 1, 4096, 4096, 0), 0);
  EXPECT_TRUE(d.Started());
  ASSERT_TRUE(pty.Send("tapi"));
  ASSERT_TRUE(Eventually([&] { return d.InputCount() == 4; }));
  ASSERT_EQ(d.WriteBlock("ok", 2), 0);
  EXPECT_EQ(pty.Receive(2, 3000ms), "ok");
  d.ClosePort();
  EXPECT_EQ(d.DeviceId(), -1);

  TQsTAPI32Dispatcher none(nullptr, 0);
  EXPECT_EQ(none.OpenPort("", 9600, 0, 8, 1, 4096, 4096, 0), kErrCommNotOpen);
  EXPECT_FALSE(none.Started());
}

// A device that refuses to be set up is reported in the serial layer's numbering, with its text:
// not the errno value read as that numbering (EIO is 5, which reads "File access denied").
TEST(SerialTapiDispatcher, ASetupTheDeviceRefusesReportsTheLayersNumberAndText) {
  struct Case {
    const char* name;
    std::function<int(TPtyPair&)> descriptor;  // what the dispatcher adopts
    int code;
    const char* text;
  };
  const Case cases[] = {
      {"hung-up line", [](TPtyPair& pty) { pty.ClosePeer(); return dup(pty.PortFd()); },
       -platform::kSysErrIoDevice, "The request could not be performed because of an I/O device error."},
      {"not a terminal", [](TPtyPair&) {
         int fds[2];
         if (pipe(fds) != 0) return -1;
         close(fds[1]);
         return fds[0];
       },
       -platform::kSysErrInvalidFunction, "Incorrect function."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TPtyPair pty;
    const int fd = c.descriptor(pty);
    ASSERT_GE(fd, 0);
    TQsTAPI32Dispatcher d(nullptr, fd);
    const int code = d.OpenPort("", 9600, 0, 8, 1, 4096, 4096, 0);
    EXPECT_EQ(code, c.code);
    EXPECT_EQ(MessageForCode(code), c.text);
    EXPECT_FALSE(d.Started());
  }
}

TEST(SerialTapiDispatcher, AHandleTheSystemRefusesToCloseKeepsItsId) {
  constexpr int kNoSuchDescriptor = 1 << 20;
  TQsTAPI32Dispatcher d(nullptr, kNoSuchDescriptor);
  ASSERT_EQ(d.DeviceOpen("", 64, 64), kNoSuchDescriptor);
  EXPECT_EQ(d.DeviceClose(), -1);
  EXPECT_EQ(d.DeviceId(), kNoSuchDescriptor);
}

TEST(SerialPortProbe, FreeAndHeldPortsAreAvailableMissingOnesAreNot) {
  TSerialFolder folder;
  TPtyPair free1, held2;
  folder.Link(1, free1.PortPath());
  folder.Link(2, held2.PortPath());
  folder.Link(4, (folder.Path() / "nothing").string());
  TQsWin32Dispatcher holder(nullptr);
  ASSERT_EQ(Open(holder, 2), 0);
  struct Case {
    int number;
    bool available;
  };
  for (const Case& c : {Case{1, true}, Case{2, true}, Case{3, false}, Case{4, false}, Case{0, false}, Case{-1, false}}) {
    SCOPED_TRACE(c.number);
    EXPECT_EQ(IsPortAvailable(c.number), c.available);
  }
  // The probe leaves nothing behind: the free port opens, the held one keeps working.
  TQsWin32Dispatcher user(nullptr);
  EXPECT_EQ(Open(user, 1), 0);
  ASSERT_TRUE(held2.Send("still"));
  EXPECT_TRUE(Eventually([&] { return holder.InputCount() == 5; }));
}

TEST(SerialPortSelection, WithoutADialogTheSelectionIsCancelled) {
  auto previous = SetPortSelectionDialog(nullptr);
  int port = 5;
  EXPECT_EQ(ShowPortSelection(port), kSelectionCancel);
  EXPECT_EQ(port, 5);
  SetPortSelectionDialog([](int& chosen) {
    chosen = 12;
    return kSelectionOk;
  });
  EXPECT_EQ(ShowPortSelection(port), kSelectionOk);
  EXPECT_EQ(port, 12);
  SetPortSelectionDialog(previous);
}

}  // namespace
