#include "platform/MessageLoop.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include "platform/Clock.h"
#include "tests/support/Pump.h"

using namespace platform;
using testpump::PumpFor;
using testpump::PumpUntil;

namespace {

constexpr UINT kMsgRecord = WM_USER + 1;
constexpr UINT kMsgSendBack = WM_USER + 2;
constexpr UINT kMsgInnerPump = WM_USER + 3;

// Each test window forwards its messages to a std::function held in the window's user data.
using Handler = std::function<LRESULT(HWND, UINT, WPARAM, LPARAM)>;

LRESULT CALLBACK_Forward(HWND hwnd, UINT msg, WPARAM w, LPARAM l) {
  auto* handler = reinterpret_cast<Handler*>(GetWindowLongPtr(hwnd, GWLP_USERDATA));
  return handler && *handler ? (*handler)(hwnd, msg, w, l) : DefWindowProc(hwnd, msg, w, l);
}

struct TestWindow {
  Handler handler;
  HWND hwnd = 0;
  explicit TestWindow(Handler h = {}) : handler(std::move(h)) {
    RegisterWindowClass("TestWindow", CALLBACK_Forward);
    hwnd = CreateWindowOfClass("TestWindow");
    SetWindowLongPtr(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&handler));
  }
  ~TestWindow() {
    if (IsWindow(hwnd)) DestroyWindow(hwnd);
  }
};

void DrainQueue() {
  MSG msg;
  while (PeekMessage(msg, PM_REMOVE))
    if (msg.message != WM_QUIT) DispatchMessage(msg);
}

bool DescriptorReadable(int fd) {
  pollfd pfd{fd, POLLIN, 0};
  return poll(&pfd, 1, 0) > 0;
}

class MessageLoopTest : public ::testing::Test {
 protected:
  void TearDown() override { DrainQueue(); }
};

TEST_F(MessageLoopTest, PostedMessagesArriveInOrderAcrossWindowsAndThreadMessages) {
  std::vector<WPARAM> seen;
  Handler record = [&](HWND, UINT msg, WPARAM w, LPARAM) -> LRESULT {
    if (msg == kMsgRecord) seen.push_back(w);
    return 0;
  };
  TestWindow a(record), b(record);
  std::vector<WPARAM> expected;
  for (WPARAM i = 0; i < 300; ++i) {
    HWND target = i % 3 == 0 ? a.hwnd : i % 3 == 1 ? b.hwnd : 0;
    ASSERT_TRUE(PostMessage(target, kMsgRecord, i, 0));
    if (target != 0) expected.push_back(i);
  }
  std::vector<WPARAM> threadMessages;
  MSG msg;
  while (PeekMessage(msg, PM_REMOVE)) {
    if (msg.hwnd == 0) threadMessages.push_back(msg.wParam);
    DispatchMessage(msg);
  }
  EXPECT_EQ(seen, expected);
  ASSERT_EQ(threadMessages.size(), 100u);
  for (std::size_t i = 0; i < threadMessages.size(); ++i) EXPECT_EQ(threadMessages[i], 3 * i + 2);
}

TEST_F(MessageLoopTest, PeekWithoutRemoveLeavesTheMessage) {
  ASSERT_TRUE(PostMessage(0, kMsgRecord, 41, 0));
  MSG first, second;
  ASSERT_TRUE(PeekMessage(first, PM_NOREMOVE));
  ASSERT_TRUE(PeekMessage(second, PM_REMOVE));
  EXPECT_EQ(first.wParam, 41u);
  EXPECT_EQ(second.wParam, 41u);
  EXPECT_FALSE(PeekMessage(second, PM_REMOVE));
}

TEST_F(MessageLoopTest, SendFromWorkerIsAnsweredByTheOwnerWhilePumping) {
  std::thread::id handledOn;
  TestWindow window([&](HWND, UINT msg, WPARAM w, LPARAM l) -> LRESULT {
    if (msg != kMsgSendBack) return 0;
    handledOn = std::this_thread::get_id();
    return static_cast<LRESULT>(w * 1000 + static_cast<WPARAM>(l));
  });
  std::atomic<LRESULT> answer{-1};
  std::thread worker([&] { answer = SendMessage(window.hwnd, kMsgSendBack, 7, 42); });
  EXPECT_TRUE(PumpUntil([&] { return answer.load() != -1; }));
  worker.join();
  EXPECT_EQ(answer.load(), 7042);
  EXPECT_EQ(handledOn, std::this_thread::get_id());
}

TEST_F(MessageLoopTest, SendWithTimeOutGivesUpAndTheMessageIsNeverHandled) {
  std::atomic<int> handled{0};
  TestWindow window([&](HWND, UINT msg, WPARAM, LPARAM) -> LRESULT {
    if (msg == kMsgSendBack) ++handled;
    return 5;
  });
  bool delivered = true;
  std::uint64_t took = 0;
  std::thread worker([&] {
    std::uint64_t start = MonotonicMilliseconds();
    LRESULT result = 0;
    delivered = SendMessageTimeout(window.hwnd, kMsgSendBack, 0, 0, 150, &result);
    took = MonotonicMilliseconds() - start;
  });
  worker.join();  // the owner does not pump meanwhile
  EXPECT_FALSE(delivered);
  EXPECT_GE(took, 140u);
  PumpFor(50);
  EXPECT_EQ(handled.load(), 0);

  // Answered in time when the owner pumps.
  LRESULT result = 0;
  std::atomic<bool> done{false};
  std::thread second([&] {
    delivered = SendMessageTimeout(window.hwnd, kMsgSendBack, 0, 0, 3000, &result);
    done = true;
  });
  EXPECT_TRUE(PumpUntil([&] { return done.load(); }));
  second.join();
  EXPECT_TRUE(delivered);
  EXPECT_EQ(result, 5);
  EXPECT_EQ(handled.load(), 1);
}

TEST_F(MessageLoopTest, ThreadsSendingToEachOtherDoNotDeadlock) {
  // The worker owns a window and sends to the main thread; the main thread's handler sends back
  // to the worker's window while the worker is still blocked in its own send.
  std::atomic<HWND> workerWindow{0};
  std::atomic<bool> finished{false};
  LRESULT workerResult = 0;
  TestWindow mainWindow([&](HWND, UINT msg, WPARAM, LPARAM) -> LRESULT {
    if (msg != kMsgSendBack) return 0;
    return SendMessage(workerWindow, kMsgSendBack, 0, 0) + 1;
  });
  std::thread worker([&] {
    TestWindow own([](HWND, UINT msg, WPARAM, LPARAM) -> LRESULT { return msg == kMsgSendBack ? 100 : 0; });
    workerWindow = own.hwnd;
    workerResult = SendMessage(mainWindow.hwnd, kMsgSendBack, 0, 0);
    finished = true;
  });
  EXPECT_TRUE(PumpUntil([&] { return finished.load(); }));
  worker.join();
  EXPECT_EQ(workerResult, 101);
}

TEST_F(MessageLoopTest, SendsToAWindowThatGoesAwayAreReleased) {
  // A window destroyed with a send pending, and a thread that ends with one pending.
  TestWindow window;
  std::atomic<bool> released{false};
  LRESULT result = -1;
  std::thread sender([&] {
    result = SendMessage(window.hwnd, kMsgSendBack, 0, 0);
    released = true;
  });
  while (!released) {
    DestroyWindow(window.hwnd);
    DrainQueue();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  sender.join();
  EXPECT_EQ(result, 0);

  std::atomic<HWND> doomed{0};
  std::atomic<bool> go{false};
  std::thread owner([&] {
    TestWindow own;
    doomed = own.hwnd;
    while (!go) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // let the send queue up, never pump
  });
  while (!doomed) std::this_thread::yield();
  go = true;
  EXPECT_EQ(SendMessage(doomed, kMsgSendBack, 0, 0), 0);
  owner.join();
}

TEST_F(MessageLoopTest, DestroyedWindowLosesItsQueuedMessages) {
  int seen = 0;
  auto window = std::make_unique<TestWindow>([&](HWND, UINT msg, WPARAM, LPARAM) -> LRESULT {
    if (msg == kMsgRecord) ++seen;
    return 0;
  });
  HWND hwnd = window->hwnd;
  PostMessage(hwnd, kMsgRecord, 0, 0);
  window.reset();
  DrainQueue();
  EXPECT_EQ(seen, 0);
  EXPECT_FALSE(IsWindow(hwnd));
  EXPECT_FALSE(PostMessage(hwnd, kMsgRecord, 0, 0));
  EXPECT_EQ(SendMessage(hwnd, kMsgRecord, 0, 0), 0);
}

TEST_F(MessageLoopTest, RemovePostedMessagesPurgesMatchingOnly) {
  for (WPARAM i = 0; i < 10; ++i) PostMessage(0, kMsgRecord, i, 0);
  EXPECT_EQ(RemovePostedMessages([](const MSG& m) { return m.wParam % 2 == 0; }), 5);
  std::vector<WPARAM> left;
  MSG msg;
  while (PeekMessage(msg, PM_REMOVE)) left.push_back(msg.wParam);
  EXPECT_EQ(left, (std::vector<WPARAM>{1, 3, 5, 7, 9}));
}

struct TimerCase {
  const char* name;
  bool withWindow;
  UINT periodMs;
};

class TimerTest : public MessageLoopTest, public ::testing::WithParamInterface<TimerCase> {};

std::atomic<int> gProcTicks{0};
void CountingTimerProc(HWND, UINT, UINT_PTR, std::uint32_t) { ++gProcTicks; }

TEST_P(TimerTest, FiresAtItsPeriodAndStopsWhenKilled) {
  const TimerCase& c = GetParam();
  int windowTicks = 0;
  TestWindow window([&](HWND, UINT msg, WPARAM w, LPARAM) -> LRESULT {
    if (msg == WM_TIMER && w == 9) ++windowTicks;
    return 0;
  });
  gProcTicks = 0;
  HWND owner = c.withWindow ? window.hwnd : 0;
  UINT_PTR id = SetTimer(owner, 9, c.periodMs, c.withWindow ? nullptr : CountingTimerProc);
  ASSERT_NE(id, 0u);
  const int runMs = 600;
  PumpFor(runMs);
  int ticks = c.withWindow ? windowTicks : gProcTicks.load();
  int expected = runMs / static_cast<int>(c.periodMs);
  // Loose bounds: a loaded machine may lose ticks, but a timer never fires faster than its period.
  EXPECT_LE(ticks, expected);
  EXPECT_GE(ticks, expected / 2);
  ASSERT_TRUE(KillTimer(owner, id));
  int before = c.withWindow ? windowTicks : gProcTicks.load();
  PumpFor(3 * static_cast<int>(c.periodMs));
  EXPECT_EQ(c.withWindow ? windowTicks : gProcTicks.load(), before);
  EXPECT_FALSE(KillTimer(owner, id));
}

INSTANTIATE_TEST_SUITE_P(Timers, TimerTest,
                         ::testing::Values(TimerCase{"Window50ms", true, 50}, TimerCase{"Window20ms", true, 20},
                                           TimerCase{"Procedure40ms", false, 40}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(MessageLoopTest, TimerMessagesYieldToPostedMessages) {
  TestWindow window;
  UINT_PTR id = SetTimer(window.hwnd, 1, 10);
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  PostMessage(window.hwnd, kMsgRecord, 0, 0);
  MSG msg;
  ASSERT_TRUE(PeekMessage(msg, PM_REMOVE));
  EXPECT_EQ(msg.message, kMsgRecord);
  ASSERT_TRUE(PeekMessage(msg, PM_REMOVE));
  EXPECT_EQ(msg.message, WM_TIMER);
  EXPECT_FALSE(PeekMessage(msg, PM_REMOVE)) << "one tick per period, however long it was overdue";
  KillTimer(window.hwnd, id);
}

TEST_F(MessageLoopTest, QuitRepostedByAnInnerPumpEndsTheOuterLoop) {
  int innerSawQuit = 0;
  TestWindow window([&](HWND, UINT msg, WPARAM, LPARAM) -> LRESULT {
    if (msg != kMsgInnerPump) return 0;
    MSG inner;
    while (PeekMessage(inner, PM_REMOVE)) {
      if (inner.message == WM_QUIT) {
        ++innerSawQuit;
        PostQuitMessage(static_cast<int>(inner.wParam));  // leave it for the outer loop
        break;
      }
      DispatchMessage(inner);
    }
    return 0;
  });
  PostMessage(window.hwnd, kMsgInnerPump, 0, 0);
  PostQuitMessage(7);
  MSG msg;
  int dispatched = 0;
  while (GetMessage(msg)) {
    DispatchMessage(msg);
    ++dispatched;
  }
  EXPECT_EQ(msg.message, WM_QUIT);
  EXPECT_EQ(msg.wParam, 7u);
  EXPECT_EQ(innerSawQuit, 1);
  EXPECT_EQ(dispatched, 1);
}

TEST_F(MessageLoopTest, RunOnMainThreadRunsThereWhileTheMainThreadPumps) {
  ASSERT_TRUE(IsMainThread());
  std::thread::id ranOn;
  std::atomic<bool> done{false};
  std::thread worker([&] {
    EXPECT_FALSE(IsMainThread());
    RunOnMainThread([&] { ranOn = std::this_thread::get_id(); });
    done = true;
  });
  EXPECT_TRUE(PumpUntil([&] { return done.load(); }));
  worker.join();
  EXPECT_EQ(ranOn, std::this_thread::get_id());
}

TEST_F(MessageLoopTest, LoopDescriptorIsReadableExactlyWhileWorkIsPending) {
  int fd = MessageLoopDescriptor();
  DrainQueue();
  EXPECT_FALSE(DescriptorReadable(fd));
  PostMessage(0, kMsgRecord, 0, 0);
  EXPECT_TRUE(DescriptorReadable(fd));
  DrainQueue();
  EXPECT_FALSE(DescriptorReadable(fd));

  // A cross-thread send wakes the descriptor too.
  TestWindow window([](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return 3; });
  std::atomic<bool> done{false};
  std::thread worker([&] {
    SendMessage(window.hwnd, kMsgSendBack, 0, 0);
    done = true;
  });
  pollfd pfd{fd, POLLIN, 0};
  EXPECT_EQ(poll(&pfd, 1, 2000), 1);
  EXPECT_TRUE(PumpUntil([&] { return done.load(); }));
  worker.join();

  // A timer turns it readable when due, not before.
  UINT_PTR id = SetTimer(window.hwnd, 4, 60);
  DrainQueue();
  EXPECT_FALSE(DescriptorReadable(fd));
  std::uint64_t start = MonotonicMilliseconds();
  EXPECT_EQ(poll(&pfd, 1, 2000), 1);
  EXPECT_GE(MonotonicMilliseconds() - start, 40u);
  KillTimer(window.hwnd, id);
  DrainQueue();
}

// Every kind of wake-up turns the loop descriptor readable, and does so again after the loop has
// drained it: a wake-up that the loop already had pending may be saved, one after a drain never.
struct WakeCase {
  const char* name;
  std::function<void(HWND)> wake;  // makes work for the calling (main) thread; may block on it
};

void PrintTo(const WakeCase& c, std::ostream* os) { *os << c.name; }

class LoopWake : public ::testing::TestWithParam<WakeCase> {};

TEST_P(LoopWake, TurnsTheDescriptorReadableAfterEveryDrain) {
  const int fd = MessageLoopDescriptor();
  TestWindow window([](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return 0; });
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    DrainQueue();
    ASSERT_FALSE(DescriptorReadable(fd));
    std::atomic<bool> done{false};
    std::thread worker([&] {
      GetParam().wake(window.hwnd);
      done = true;
    });
    pollfd pfd{fd, POLLIN, 0};
    EXPECT_EQ(poll(&pfd, 1, 5000), 1);
    EXPECT_TRUE(PumpUntil([&] { return done.load(); }));
    worker.join();
    DrainQueue();
    EXPECT_FALSE(DescriptorReadable(fd));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Sources, LoopWake,
    ::testing::Values(WakeCase{"post_from_another_thread", [](HWND w) { PostMessage(w, kMsgRecord, 1, 0); }},
                      WakeCase{"two_posts_from_another_thread",
                               [](HWND w) {
                                 PostMessage(w, kMsgRecord, 1, 0);
                                 PostMessage(w, kMsgRecord, 2, 0);
                               }},
                      WakeCase{"send_from_another_thread", [](HWND w) { SendMessage(w, kMsgRecord, 1, 0); }},
                      WakeCase{"run_on_the_main_thread", [](HWND) { RunOnMainThread([] {}); }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(MessageLoopTest, APostFromTheOwnThreadKeepsTheDescriptorReadableUntilHandled) {
  const int fd = MessageLoopDescriptor();
  for (int round = 0; round < 3; ++round) {
    DrainQueue();
    ASSERT_FALSE(DescriptorReadable(fd));
    PostMessage(0, kMsgRecord, 1, 0);
    EXPECT_TRUE(DescriptorReadable(fd));
    // Taken by the fast path (no drain): posting again must not leave the next drain stranded.
    MSG msg;
    ASSERT_TRUE(PeekMessage(msg, PM_REMOVE));
    PostMessage(0, kMsgRecord, 2, 0);
    EXPECT_TRUE(DescriptorReadable(fd));
    ASSERT_TRUE(PeekMessage(msg, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 2u);
  }
}

// A worker posts each message the moment the loop has handled the one before, so the post often
// falls between the loop's last look at its queue and its sleep. A lost wake-up shows as a wait
// that runs out while a message is queued.
TEST_F(MessageLoopTest, APostWhileTheLoopGoesToSleepAlwaysWakesIt) {
  constexpr int kRounds = 50000;
  std::atomic<int> handled{0};
  std::atomic<bool> stop{false};
  TestWindow window([&](HWND, UINT msg, WPARAM, LPARAM) -> LRESULT {
    if (msg == kMsgRecord) handled.fetch_add(1);
    return 0;
  });
  std::thread worker([&] {
    for (int i = 0; i < kRounds; ++i) {
      while (handled.load() < i)
        if (stop.load()) return;
      // A delay that varies from round to round, so that posts land all over the loop's way
      // from its last look at the queue into its sleep.
      [[maybe_unused]] volatile int sink = 0;
      for (int spin = 0; spin < (i * 7) % 400; ++spin) sink = spin;
      PostMessage(window.hwnd, kMsgRecord, static_cast<WPARAM>(i), 0);
    }
  });
  int timeouts = 0;
  MSG msg;
  while (handled.load() < kRounds && timeouts == 0) {
    if (PeekMessage(msg, PM_REMOVE))
      DispatchMessage(msg);
    else if (!WaitMessage(5000))
      ++timeouts;
  }
  stop = true;
  worker.join();
  EXPECT_EQ(timeouts, 0);
  EXPECT_EQ(handled.load(), kRounds);
}

// The main thread is told apart per thread and the answer kept; a forked child's only thread is
// its main thread, whichever thread forked and whatever it was told before.
struct ForkCase {
  const char* name;
  bool fromWorker;
  bool askedBefore;
};

void PrintTo(const ForkCase& c, std::ostream* os) { *os << c.name; }

class MainThreadAfterFork : public ::testing::TestWithParam<ForkCase> {};

TEST_P(MainThreadAfterFork, IsTheForkingThreadInTheChild) {
  const ForkCase c = GetParam();
  auto forkAndAsk = [&c](bool expectedBefore) {
    if (c.askedBefore) {
      EXPECT_EQ(IsMainThread(), expectedBefore);
    }
    const pid_t child = fork();
    if (child == 0) _exit(IsMainThread() ? 0 : 1);
    int status = -1;
    EXPECT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    EXPECT_EQ(IsMainThread(), expectedBefore);  // the parent's answer is unchanged
  };
  if (c.fromWorker) {
    std::thread worker([&] { forkAndAsk(false); });
    worker.join();
  } else {
    forkAndAsk(true);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, MainThreadAfterFork,
                         ::testing::Values(ForkCase{"main_thread", false, true},
                                           ForkCase{"worker_that_asked_before", true, true},
                                           ForkCase{"worker_that_never_asked", true, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(MessageLoopTest, WatchedDescriptorsCallBackUntilPausedOrUnwatched) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  int calls = 0;
  ASSERT_TRUE(WatchDescriptor(fds[0], EPOLLIN, [&](int fd, std::uint32_t events) {
    ++calls;
    EXPECT_TRUE(events & EPOLLIN);
    char c;
    EXPECT_EQ(read(fd, &c, 1), 1);
  }));
  EXPECT_FALSE(WatchDescriptor(fds[0], EPOLLIN, [](int, std::uint32_t) {})) << "one watch per descriptor";
  ASSERT_EQ(write(fds[1], "ab", 2), 2);
  EXPECT_TRUE(PumpUntil([&] { return calls == 2; }, 1000));

  ASSERT_TRUE(ModifyDescriptorWatch(fds[0], 0));
  ASSERT_EQ(write(fds[1], "c", 1), 1);
  close(fds[1]);  // a hang-up is not reported while paused either
  PumpFor(30);
  EXPECT_EQ(calls, 2);
  ASSERT_TRUE(ModifyDescriptorWatch(fds[0], EPOLLIN));
  EXPECT_TRUE(PumpUntil([&] { return calls == 3; }, 1000));
  EXPECT_TRUE(UnwatchDescriptor(fds[0]));
  EXPECT_FALSE(UnwatchDescriptor(fds[0]));
  close(fds[0]);
}

TEST_F(MessageLoopTest, WindowsAndClassesHaveTheirRules) {
  EXPECT_EQ(CreateWindowOfClass("NoSuchClass"), 0u);
  EXPECT_FALSE(RegisterWindowClass("Nil", nullptr));
  TestWindow a, b;
  EXPECT_NE(a.hwnd, b.hwnd);
  EXPECT_FALSE(RegisterWindowClass("TestWindow", CALLBACK_Forward)) << "already registered";
  HWND old = a.hwnd;
  DestroyWindow(old);
  TestWindow c;
  EXPECT_NE(c.hwnd, old) << "handles are not reused";
  std::atomic<bool> refused{false};
  std::thread other([&] { refused = !DestroyWindow(c.hwnd) && SetTimer(c.hwnd, 1, 10) == 0; });
  other.join();
  EXPECT_TRUE(refused) << "only the owner thread destroys its window or sets its timers";
  EXPECT_TRUE(IsWindow(c.hwnd));
}

}  // namespace
