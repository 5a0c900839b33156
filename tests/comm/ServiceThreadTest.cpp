// The serial service threads over the test device: input and triggers on the dispatch thread,
// output on the output thread, start and stop, deferred release, flush, priorities.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>

#include "TestDevice.h"
#include "comm/QsDispatchThreads.h"
#include "comm/QsExcept.h"
#include "platform/Threads.h"
#include "tests/support/Pump.h"

namespace {

using namespace std::chrono_literals;

using testpump::Eventually;

class ServiceThreads : public testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(OpenTestDevice(d), 0); }
  TTestDevice d{true};
};

TEST_F(ServiceThreads, StartRunsThreeThreadsAndStopEndsThem) {
  EXPECT_TRUE(d.Started());
  EXPECT_EQ(d.ActiveThreads(), 3);
  EXPECT_TRUE(d.ComThreadRunning() && d.DispThreadRunning() && d.OutputThreadRunning());
  try {
    d.StartDispatching();
    ADD_FAILURE() << "a second start must raise";
  } catch (const EQsException& e) {
    EXPECT_STREQ(e.what(), "Dispatcher already started");
  }
  EXPECT_EQ(d.ActiveThreads(), 3) << "the running threads are untouched";
  d.StopDispatching();
  EXPECT_FALSE(d.Started());
  EXPECT_EQ(d.ActiveThreads(), 0);
  EXPECT_EQ(d.ComEvent(), nullptr) << "the events are closed";
}

// Counts data notifications and remembers the thread they came on.
struct TDataCounter {
  std::atomic<int> count{0};
  std::atomic<bool> onTestThread{false};
  std::thread::id testThread = std::this_thread::get_id();
  void On(platform::UINT msg, platform::WPARAM, platform::LPARAM) {
    if (msg != DM_DATA) return;
    if (std::this_thread::get_id() == testThread) onTestThread = true;
    ++count;
  }
};

TEST_F(ServiceThreads, InputFiresTriggersOnTheDispatchThread) {
  TDataCounter counter;
  d.AddMethodHandler(TQsNotifyMethod::Of<&TDataCounter::On>(&counter));
  d.CreateDataTrigger("\r\n", false);
  d.Feed("220 ready\r\n331 pass");
  EXPECT_TRUE(Eventually([&] { return counter.count.load() == 1; }));
  d.Feed("word\r\n");
  EXPECT_TRUE(Eventually([&] { return counter.count.load() == 2; }));
  EXPECT_FALSE(counter.onTestThread.load());
  EXPECT_EQ(d.InputCount(), 25);
}

TEST_F(ServiceThreads, OutputGoesOutThroughTheOutputThread) {
  const std::string text(3000, 'o');
  for (int i = 0; i < 10; ++i) {
    ASSERT_TRUE(Eventually([&] { return d.OutputFree() >= 3000; }));
    ASSERT_EQ(d.WriteBlock(text.data(), 3000), 0);
  }
  EXPECT_TRUE(Eventually([&] { return d.Sent().size() == 30000; }));
  EXPECT_EQ(d.Sent(), std::string(30000, 'o'));
  EXPECT_EQ(d.OutPending(), 0);
}

std::atomic<int> gWindowDataCount{0};
platform::LRESULT CountingProc(platform::HWND hwnd, platform::UINT msg, platform::WPARAM w, platform::LPARAM l) {
  if (msg == DM_DATA) {
    ++gWindowDataCount;
    return 0;
  }
  return platform::DefWindowProc(hwnd, msg, w, l);
}

TEST_F(ServiceThreads, WindowHandlersRunOnTheirThreadAndStopWaitsWithoutDeadlock) {
  platform::RegisterWindowClass("qsTestPortWindow", CountingProc);
  const platform::HWND wnd = platform::CreateWindowOfClass("qsTestPortWindow");
  gWindowDataCount = 0;
  d.AddWindowHandler(wnd);
  d.RecomputeHandlerFlags(1);
  d.CreateDataTrigger("!", false);
  d.Feed("!!!");
  EXPECT_TRUE(Eventually([] { return gWindowDataCount.load() == 3; }));
  ASSERT_TRUE(Eventually([&] { return !d.Dispatching(); }));
  // The dispatch thread is sending to this thread's window when the stop starts: the stop's wait
  // handles the message, so both finish.
  d.Feed("!");
  // Waits without pumping, so that the message is still unhandled when the stop starts.
  for (int i = 0; i < 5000 && !d.Dispatching(); ++i) std::this_thread::sleep_for(1ms);
  ASSERT_TRUE(d.Dispatching());
  d.StopDispatching();
  EXPECT_FALSE(d.Started());
  EXPECT_EQ(gWindowDataCount.load(), 4);
  platform::DestroyWindow(wnd);
}

struct TClosingHandler {
  TTestDevice* device;
  std::atomic<int> calls{0};
  std::atomic<bool> buffersKept{false};
  void On(platform::UINT msg, platform::WPARAM, platform::LPARAM) {
    if (msg != DM_DATA) return;
    ++calls;
    device->ClosePort();
    buffersKept = device->InRingAllocated();
  }
};

TEST_F(ServiceThreads, CloseFromAHandlerReleasesOnceWhenTheDispatchThreadEnds) {
  TClosingHandler handler{&d};
  d.AddMethodHandler(TQsNotifyMethod::Of<&TClosingHandler::On>(&handler));
  d.CreateDataTrigger("bye", false);
  d.Feed("bye bye");
  EXPECT_TRUE(Eventually([&] { return !d.Started(); }));
  EXPECT_EQ(handler.calls.load(), 1) << "the pass ends at the close";
  EXPECT_TRUE(handler.buffersKept.load());
  EXPECT_FALSE(d.InRingAllocated());
  EXPECT_EQ(d.releaseCalls.load(), 1);
  EXPECT_EQ(d.ActiveThreads(), 0);
  d.Destroy();
  EXPECT_EQ(d.releaseCalls.load(), 1) << "nothing left to release";
}

TEST_F(ServiceThreads, FlushDuringAWriteMakesTheOutputThreadAcknowledge) {
  d.holdSends = true;
  ASSERT_EQ(d.WriteBlock("stuck", 5), 0);
  ASSERT_TRUE(Eventually([&] { return d.SendWaiting(); }));
  d.AckEvent()->Reset();
  d.FlushEvent()->Set();
  EXPECT_TRUE(d.AckEvent()->Wait(3000)) << "the abandoned write is acknowledged";
  d.holdSends = false;
  EXPECT_TRUE(d.OutputThreadRunning());
  ASSERT_EQ(d.FlushOutput(), 0);
  ASSERT_EQ(d.WriteBlock("next", 4), 0);
  EXPECT_TRUE(Eventually([&] { return d.Sent() == "next"; }));
}

TEST_F(ServiceThreads, TimersFireWithoutDeviceEvents) {
  std::atomic<int> fired{0};
  struct TTimerCounter {
    std::atomic<int>* fired;
    void On(platform::UINT msg, platform::WPARAM, platform::LPARAM) {
      if (msg == DM_TIMER) ++*fired;
    }
  } counter{&fired};
  d.AddMethodHandler(TQsNotifyMethod::Of<&TTimerCounter::On>(&counter));
  const std::int32_t h = d.CreateTimerTrigger();
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(d.ArmTimerTrigger(h, 2, true), 0);  // 110 ms
  ASSERT_TRUE(Eventually([&] { return fired.load() == 1; }));
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_GE(elapsed, 50ms);
  EXPECT_LT(elapsed, 1000ms) << "generous: ticks plus the 50 ms pass";
}

TEST_F(ServiceThreads, ModemChangesFireStatusTriggersAndAccumulateDeltas) {
  std::atomic<int> fired{0};
  struct TStatusCounter {
    std::atomic<int>* fired;
    void On(platform::UINT msg, platform::WPARAM, platform::LPARAM) {
      if (msg == DM_STATUS) ++*fired;
    }
  } counter{&fired};
  d.AddMethodHandler(TQsNotifyMethod::Of<&TStatusCounter::On>(&counter));
  const std::int32_t h = d.CreateStatusTrigger(skModem);
  ASSERT_EQ(d.ArmStatusTrigger(h, kModemCts << 8, true), 0);
  d.ChangeModemLines(kModemCts);
  ASSERT_TRUE(Eventually([&] { return fired.load() == 1; }));
  d.ChangeModemLines(0);
  ASSERT_TRUE(Eventually([&] { return (d.ModemBits() & kModemCts) == 0; }));
  EXPECT_EQ(d.ModemBits() & kModemDeltaCts, kModemDeltaCts) << "the CTS change stays recorded";
}

// A modem-line change that data follows at once: the event thread reports the two as separate
// events, and the pass that runs after both must still see the line change. The pause before each
// change lets the 50 ms passes run meanwhile, as they do on a quiet line.
TEST_F(ServiceThreads, AModemChangeFollowedByDataIsNotLost) {
  constexpr int kChanges = 40;
  std::uint8_t lines = 0;
  int lost = 0;
  for (int i = 0; i < kChanges; ++i) {
    std::this_thread::sleep_for(70ms);
    lines ^= kModemCts;
    d.ChangeModemLines(lines);
    d.Feed("x");
    ASSERT_TRUE(Eventually([&] { return d.InputCount() == i + 1; })) << "change " << i;
    // The pass that took the byte ran; a lost change leaves the old line state for good.
    if (!Eventually([&] { return (d.ModemBits() & kModemCts) == lines; }, 300ms)) {
      ++lost;
      d.ChangeModemLines(lines);  // the next change starts from the right state
      ASSERT_TRUE(Eventually([&] { return (d.ModemBits() & kModemCts) == lines; }));
    }
  }
  EXPECT_EQ(lost, 0) << "of " << kChanges << " changes";
}

TEST_F(ServiceThreads, PriorityBoostNeverFails) {
  const pid_t out = d.OutThreadId();
  ASSERT_NE(out, 0);
  const int before = platform::ThreadNiceValue(out);
  d.SetPriorityBoost(2);
  EXPECT_EQ(d.PriorityBoost(), 2);
  const int after = platform::ThreadNiceValue(out);
  EXPECT_LE(after, before) << "raised as far as allowed, never lowered";
  EXPECT_GE(after, platform::NiceValueForPriority(5));
}

TEST(ThreadPriority, SevenLevelsMapOntoNiceValues) {
  const int expected[] = {19, 10, 5, 0, -5, -10, -20};
  for (int level = 0; level < 7; ++level) EXPECT_EQ(platform::NiceValueForPriority(level), expected[level]);
  EXPECT_EQ(platform::NiceValueForPriority(9), -20);
  EXPECT_EQ(platform::NiceValueForPriority(-1), 19);
}

TEST(MainThreadCall, RunsOnTheMainThreadWhileTheCallerWaits) {
  std::thread::id ranOn;
  std::thread worker([&] { TQsBaseDispatcher::RunInMainThread([&] { ranOn = std::this_thread::get_id(); }); });
  const std::thread::id main = std::this_thread::get_id();
  ASSERT_TRUE(Eventually([&] { return ranOn == main; }));
  worker.join();
}

TEST(SyncEvents, AutomaticReleasesOneWaitManualStaysSet) {
  platform::TSyncEvent autoEvent(platform::TSyncEvent::rmAutomatic);
  platform::TSyncEvent manual(platform::TSyncEvent::rmManual);
  EXPECT_EQ(platform::WaitForAnyEvent({&autoEvent, &manual}, 10), platform::kWaitTimeout);
  autoEvent.Set();
  EXPECT_TRUE(autoEvent.Wait(0));
  EXPECT_FALSE(autoEvent.Wait(0)) << "taken by the first wait";
  manual.Set();
  EXPECT_EQ(platform::WaitForAnyEvent({&autoEvent, &manual}, 10), 1);
  EXPECT_TRUE(manual.Wait(0)) << "still set";
  manual.Reset();
  EXPECT_FALSE(manual.Wait(0));
}

TEST(SyncEvents, PumpingWaitHandlesPostedMessagesAndLeavesTheQuit) {
  static int handled;
  handled = 0;
  platform::RegisterWindowClass("qsTestPumped", [](platform::HWND h, platform::UINT m, platform::WPARAM w,
                                                   platform::LPARAM l) -> platform::LRESULT {
    if (m == platform::WM_USER + 7) ++handled;
    return platform::DefWindowProc(h, m, w, l);
  });
  const platform::HWND wnd = platform::CreateWindowOfClass("qsTestPumped");
  platform::TSyncEvent event(platform::TSyncEvent::rmAutomatic);
  platform::PostMessage(wnd, platform::WM_USER + 7, 0, 0);
  platform::PostQuitMessage(3);
  std::thread setter([&] {
    std::this_thread::sleep_for(50ms);
    event.Set();
  });
  EXPECT_EQ(platform::WaitForAnyEventPumping({&event}, 3000), 0);
  setter.join();
  EXPECT_EQ(handled, 1);
  platform::MSG msg;
  ASSERT_TRUE(platform::PeekMessage(msg, platform::PM_REMOVE));
  EXPECT_EQ(msg.message, platform::WM_QUIT);
  EXPECT_EQ(msg.wParam, 3u);
  platform::DestroyWindow(wnd);
}

}  // namespace
