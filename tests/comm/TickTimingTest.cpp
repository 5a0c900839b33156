// Tick timing: clock calibration, the elapsed rule across a clock wrap, and waiting with and
// without handling messages.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <chrono>
#include <climits>
#include <thread>

#include "comm/QsMisc.h"
#include "platform/Clock.h"
#include "platform/MessageLoop.h"

namespace {

using Clock = std::chrono::steady_clock;

long long MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

long long ProcessCpuMilliseconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000LL + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000;
}

TEST(TickTiming, CountsPerMillisecondAreRoundedFromTheFrequency) {
  struct Case {
    std::uint64_t frequency;
    std::uint64_t counts;
  };
  const Case cases[] = {
      {1'000'000'000, 1'000'000}, {3'579'545, 3'580}, {1'193'182, 1'193}, {1'500, 1}, {1'501, 2},
      {600, 1},                   {500, 0},           {0, 0},             {(1ull << 32) - 1, 4'294'967}, {1ull << 32, 0},
  };
  for (const Case& c : cases) EXPECT_EQ(ClockCountsPerMillisecond(c.frequency), c.counts) << c.frequency;
}

TEST(TickTiming, MillisecondClockFollowsTheMonotonicClock) {
  const std::uint32_t before = MillisecondClock();
  const std::uint64_t reference = platform::MonotonicMilliseconds();
  EXPECT_LE(static_cast<std::uint32_t>(reference) - before, 2u);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const std::uint32_t advanced = MillisecondClock() - before;  // unsigned: right across a wrap too
  EXPECT_GE(advanced, 100u);
  EXPECT_LT(advanced, 1000u);
}

TEST(TickTiming, ElapsedRuleIncludingTheClockWrap) {
  constexpr std::int32_t kWrap = kTicksPerClockWrap;
  struct Case {
    const char* what;
    TickTimer timer;
    std::int32_t now;
    bool elapsed;
  };
  const Case cases[] = {
      {"at the start", {100, 110}, 100, false},
      {"at the expiry", {100, 110}, 110, false},
      {"past the expiry", {100, 110}, 111, true},
      {"zero count, same tick", {100, 100}, 100, false},
      {"zero count, next tick", {100, 100}, 101, true},
      {"negative count", {100, 90}, 100, true},
      {"longest timer, not yet", {0, MaxTicks}, MaxTicks, false},
      {"longest timer, over", {0, MaxTicks}, MaxTicks + 1, true},
      {"expiry before the wrap, clock wrapped", {kWrap - 10, kWrap - 5}, 2, true},
      {"expiry after the wrap, clock just wrapped", {kWrap - 5, kWrap + 5}, 3, false},
      {"expiry after the wrap, reached", {kWrap - 5, kWrap + 5}, 5, false},
      {"expiry after the wrap, passed", {kWrap - 5, kWrap + 5}, 6, true},
      {"long timer across the wrap, half way", {kWrap - 100, kWrap - 100 + MaxTicks}, MaxTicks / 2, false},
      {"long timer across the wrap, passed", {kWrap - 100, kWrap - 100 + MaxTicks}, MaxTicks - 99, true},
  };
  for (const Case& c : cases) EXPECT_EQ(TicksElapsedAt(c.timer, c.now), c.elapsed) << c.what;
}

TEST(TickTiming, StartTicksLimitsTheCount) {
  struct Case {
    int ticks;
    std::int32_t length;
  };
  for (const Case& c : {Case{18, 18}, Case{0, 0}, Case{MaxTicks, MaxTicks}, Case{INT_MAX, MaxTicks}, Case{INT_MIN, -MaxTicks}}) {
    TickTimer timer;
    const std::int32_t before = CurrentTicks();
    StartTicks(timer, c.ticks);
    EXPECT_GE(timer.start, before);
    EXPECT_LE(timer.start, CurrentTicks());
    EXPECT_EQ(timer.expiry - timer.start, c.length) << c.ticks;
  }
  TickTimer shortTimer;
  StartTicks(shortTimer, 1);
  EXPECT_FALSE(TicksElapsed(shortTimer));
  std::this_thread::sleep_for(std::chrono::milliseconds(2 * kTickMilliseconds + 5));
  EXPECT_TRUE(TicksElapsed(shortTimer));
}

// A window that counts the test messages it receives.
constexpr platform::UINT kTestMessage = platform::WM_USER + 7;
int receivedTestMessages = 0;

platform::LRESULT CountingProc(platform::HWND hwnd, platform::UINT msg, platform::WPARAM wParam, platform::LPARAM lParam) {
  if (msg == kTestMessage) {
    ++receivedTestMessages;
    return 0;
  }
  return platform::DefWindowProc(hwnd, msg, wParam, lParam);
}

class WaitTicksTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::RegisterWindowClass("QsTickTimingTestWindow", &CountingProc);
    window_ = platform::CreateWindowOfClass("QsTickTimingTestWindow");
    ASSERT_NE(window_, 0u);
    receivedTestMessages = 0;
  }
  void TearDown() override {
    platform::DestroyWindow(window_);
    // Leave no message behind for the next test.
    platform::MSG msg;
    while (platform::PeekMessage(msg, platform::PM_REMOVE)) {
    }
  }
  platform::HWND window_ = 0;
};

TEST_F(WaitTicksTest, ZeroOrLessReturnsAtOnceWithoutHandlingMessages) {
  ASSERT_TRUE(platform::PostMessage(window_, kTestMessage, 0, 0));
  const auto start = Clock::now();
  EXPECT_EQ(WaitTicks(0, true), 0u);
  EXPECT_EQ(WaitTicks(-5, true), 0u);
  EXPECT_LT(MillisecondsSince(start), 50);
  EXPECT_EQ(receivedTestMessages, 0);
}

TEST_F(WaitTicksTest, EighteenTicksLastAboutASecondWithoutBurningTheProcessor) {
  for (bool pump : {false, true}) {
    SCOPED_TRACE(pump ? "pumping" : "not pumping");
    receivedTestMessages = 0;
    ASSERT_TRUE(platform::PostMessage(window_, kTestMessage, 0, 0));
    const long long cpuBefore = ProcessCpuMilliseconds();
    const auto start = Clock::now();
    EXPECT_EQ(WaitTicks(18, pump), 0u);  // the last pump found nothing
    const long long elapsed = MillisecondsSince(start);
    EXPECT_GE(elapsed, 900);
    EXPECT_LE(elapsed, 1600);
    EXPECT_LT(ProcessCpuMilliseconds() - cpuBefore, 300);
    EXPECT_EQ(receivedTestMessages, pump ? 1 : 0);
    if (!pump) {
      EXPECT_EQ(PumpOneMessage(), kTestMessage);  // it was left queued
    }
  }
}

void PostQuitFromTimer(platform::HWND, platform::UINT, platform::UINT_PTR idEvent, std::uint32_t) {
  platform::KillTimer(0, idEvent);
  platform::PostQuitMessage(7);
}

TEST_F(WaitTicksTest, QuitDuringTheWaitEndsItAndStaysQueued) {
  ASSERT_NE(platform::SetTimer(0, 0, 200, &PostQuitFromTimer), 0u);
  const auto start = Clock::now();
  EXPECT_EQ(WaitTicks(18, true), platform::WM_QUIT);
  EXPECT_LT(MillisecondsSince(start), 800);
  platform::MSG msg;
  EXPECT_FALSE(platform::GetMessage(msg));
  EXPECT_EQ(msg.message, platform::WM_QUIT);
  EXPECT_EQ(msg.wParam, 7u);
}

TEST_F(WaitTicksTest, PumpOneMessageDispatchesOneAndPostsTheQuitAgain) {
  EXPECT_EQ(PumpOneMessage(), 0u);
  ASSERT_TRUE(platform::PostMessage(window_, kTestMessage, 0, 0));
  ASSERT_TRUE(platform::PostMessage(window_, kTestMessage, 0, 0));
  EXPECT_EQ(PumpOneMessage(), kTestMessage);
  EXPECT_EQ(receivedTestMessages, 1);
  platform::PostQuitMessage(3);
  EXPECT_EQ(PumpOneMessage(), kTestMessage);  // posted messages come before the quit
  EXPECT_EQ(PumpOneMessage(), platform::WM_QUIT);
  EXPECT_EQ(PumpOneMessage(), platform::WM_QUIT);
  EXPECT_EQ(receivedTestMessages, 2);
  platform::MSG msg;
  EXPECT_FALSE(platform::GetMessage(msg));
  EXPECT_EQ(msg.wParam, 3u);
}

}  // namespace
