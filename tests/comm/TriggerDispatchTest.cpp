// Triggers and the notification pass over the test device, driven by hand on the test's thread.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "TestDevice.h"
#include "comm/QsExcept.h"

namespace {

struct Note {
  platform::UINT msg;
  platform::WPARAM first;
  platform::LPARAM second;
  bool operator==(const Note&) const = default;
};

// A method handler that records every notification and reads as told.
class TRecorder {
 public:
  TRecorder(TQsBaseDispatcher& d, std::function<int(const Note&)> readHow = nullptr) : d_(d), readHow_(readHow) {}
  void OnTrigger(platform::UINT msg, platform::WPARAM first, platform::LPARAM second) {
    notes.push_back(Note{msg, first, second});
    int len = readHow_ ? readHow_(notes.back()) : 0;
    if (len > 0) {
      std::string bytes(static_cast<std::size_t>(len), '\0');
      if (d_.ReadBlock(bytes.data(), len) == len) reads.push_back(bytes);
    }
    if (action) action();
  }
  void OnOther(platform::UINT, platform::WPARAM, platform::LPARAM) { ++others; }
  TQsNotifyMethod Method() { return TQsNotifyMethod::Of<&TRecorder::OnTrigger>(this); }

  std::vector<Note> notes;
  std::vector<std::string> reads;
  std::function<void()> action;
  int others = 0;

 private:
  TQsBaseDispatcher& d_;
  std::function<int(const Note&)> readHow_;
};

// The service's trigger loop for one pass.
void RunPass(TTestDevice& d) {
  d.FillInputBuffer();
  while (!d.Dispatching() && d.CheckAllTriggers() && !d.ClosePending()) {
  }
}

platform::LPARAM Second(TQsBaseDispatcher& d, int data) { return d.Handle() * 65536 + data; }

class TriggerDispatch : public testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(OpenTestDevice(d), 0); }
  TTestDevice d;
};

TEST_F(TriggerDispatch, AvailPassReturnsWhetherTheHandlersTookEverything) {
  struct Case {
    int readLen;
    bool passResult;
    int leftAfter;
  };
  for (const Case c : {Case{25, true, 0}, Case{20, false, 5}}) {
    SCOPED_TRACE(c.readLen);
    TTestDevice dev;
    ASSERT_EQ(OpenTestDevice(dev), 0);
    TRecorder r(dev, [&](const Note&) { return c.readLen; });
    dev.AddMethodHandler(r.Method());
    dev.SetAvailThreshold(10);
    dev.Feed(std::string(25, 'z'));
    dev.FillInputBuffer();
    EXPECT_EQ(dev.CheckDataTriggers(), c.passResult);
    ASSERT_EQ(r.notes.size(), 1u);
    EXPECT_EQ(r.notes[0], (Note{DM_AVAIL, 25, Second(dev, 0)}));
    EXPECT_EQ(dev.InputCount(), c.leftAfter);
    EXPECT_FALSE(dev.CheckDataTriggers()) << "no second avail until more bytes arrive";
    dev.Feed("yyyyy");
    RunPass(dev);
    ASSERT_EQ(r.notes.size(), c.passResult ? 1u : 2u) << "5 new bytes reach the threshold only with the 5 left";
    if (!c.passResult) {
      EXPECT_EQ(r.notes[1].first, 10u);
    }
  }
}

TEST_F(TriggerDispatch, HandlersOfOnePassReadTheSameBytesAndTheTailTakesTheLargest) {
  TRecorder first(d, [](const Note&) { return 5; });
  TRecorder second(d, [](const Note&) { return 8; });
  d.AddMethodHandler(first.Method());
  d.AddMethodHandler(TQsNotifyMethod(
      [](void* o, platform::UINT m, platform::WPARAM f, platform::LPARAM s) { static_cast<TRecorder*>(o)->OnTrigger(m, f, s); },
      &second));
  d.SetAvailThreshold(1);
  d.Feed("0123456789");
  RunPass(d);
  ASSERT_EQ(first.reads.size(), 1u);
  ASSERT_EQ(second.reads.size(), 1u);
  EXPECT_EQ(first.reads[0], "01234");
  EXPECT_EQ(second.reads[0], "01234567");
  EXPECT_EQ(d.InputCount(), 2);
  EXPECT_FALSE(d.InNotification());
}

// Feeds each chunk as its own device read and service pass; returns every notification.
std::vector<Note> FeedInPasses(TTestDevice& d, TRecorder& r, const std::vector<std::string>& chunks) {
  for (const std::string& chunk : chunks) {
    d.Feed(chunk);
    RunPass(d);
  }
  return r.notes;
}

TEST_F(TriggerDispatch, DataNotificationsInEveryArrangement) {
  struct Case {
    const char* what;
    std::vector<std::string> patterns;
    std::uint32_t threshold;
    std::vector<std::string> chunks;
    // (message, index of the pattern or avail count) in order
    std::vector<std::pair<platform::UINT, int>> expected;
  };
  const Case cases[] = {
      {"overlapping: two equal letters in three", {"AA"}, 0, {"AAA"}, {{DM_DATA, 0}, {DM_DATA, 0}}},
      {"a pattern split over two reads", {"HELLO"}, 0, {"xHE", "LLOx"}, {{DM_DATA, 0}}},
      {"avail for the bytes in front of the match first", {"\r\n"}, 1, {"abc\r\n"}, {{DM_AVAIL, 3}, {DM_DATA, 0}}},
      {"two completing on one byte: the last created first", {"OK", "K"}, 0, {"OK"}, {{DM_DATA, 1}, {DM_DATA, 0}}},
      {"avail threshold above the bytes in front", {"\r\n"}, 4, {"abc\r\n"}, {{DM_DATA, 0}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TTestDevice dev;
    ASSERT_EQ(OpenTestDevice(dev), 0);
    // Reads what it is offered: the bytes in front, or as many bytes as the pattern has.
    TRecorder r(dev, [&](const Note& n) {
      return n.msg == DM_AVAIL ? static_cast<int>(n.first) : static_cast<int>(n.second & 0xFFFF);
    });
    dev.AddMethodHandler(r.Method());
    std::vector<std::int32_t> handles;
    for (const std::string& p : c.patterns) handles.push_back(dev.CreateDataTrigger(p, false));
    dev.SetAvailThreshold(c.threshold);
    const std::vector<Note> notes = FeedInPasses(dev, r, c.chunks);
    std::vector<std::pair<platform::UINT, int>> got;
    for (const Note& n : notes) {
      if (n.msg == DM_DATA) {
        int index = -1;
        for (std::size_t i = 0; i < handles.size(); ++i)
          if (static_cast<platform::WPARAM>(handles[i]) == n.first) index = static_cast<int>(i);
        EXPECT_EQ(n.second, Second(dev, static_cast<int>(c.patterns[index].size())));
        got.emplace_back(n.msg, index);
      } else {
        got.emplace_back(n.msg, static_cast<int>(n.first));
      }
    }
    EXPECT_EQ(got, c.expected);
  }
}

TEST_F(TriggerDispatch, CaseInsensitivePatternsMatchEitherCase) {
  TRecorder r(d);
  d.AddMethodHandler(r.Method());
  const std::int32_t h = d.CreateDataTrigger("Login:", true);
  d.Feed("LOGIN: login: LoGiN:");
  RunPass(d);
  ASSERT_EQ(r.notes.size(), 3u);
  for (const Note& n : r.notes) EXPECT_EQ(n.first, static_cast<platform::WPARAM>(h));
}

TEST_F(TriggerDispatch, TriggerArgumentsAreChecked) {
  EXPECT_EQ(d.DeleteTrigger(1), 0);
  EXPECT_EQ(d.DeleteTrigger(0), kErrBadTriggerHandle);
  EXPECT_EQ(d.DeleteTrigger(-5), kErrBadTriggerHandle);
  EXPECT_EQ(d.DeleteTrigger(4096), kErrBadTriggerHandle);
  EXPECT_EQ(d.CreateDataTrigger(std::string(23, 'x'), false), kErrTriggerTooLong);
  EXPECT_EQ(d.CreateDataTrigger(std::string(), false), kErrBadArgument);
  EXPECT_GT(d.CreateDataTrigger(std::string(22, 'x'), false), 0);
  EXPECT_EQ(d.CreateStatusTrigger(0), kErrBadArgument);
  EXPECT_EQ(d.CreateStatusTrigger(6), kErrBadArgument);
  const std::int32_t timer = d.CreateTimerTrigger();
  const std::int32_t status = d.CreateStatusTrigger(skOutSent);
  EXPECT_EQ(status & 7, skOutSent);
  EXPECT_EQ(d.ArmTimerTrigger(status, 1, true), kErrBadTriggerHandle) << "not a timer";
  EXPECT_EQ(d.ArmTimerTrigger(timer, -1, true), kErrBadArgument);
  EXPECT_EQ(d.ArmStatusTrigger(timer, 1, true), kErrBadTriggerHandle) << "not a status trigger";
  EXPECT_EQ(d.DeleteTrigger(timer), 0);
  EXPECT_EQ(d.DeleteTrigger(timer), kErrBadTriggerHandle);
}

TEST_F(TriggerDispatch, DeletingTheAvailTriggerStopsAvailNotifications) {
  TRecorder r(d, [](const Note& n) { return static_cast<int>(n.first); });
  d.AddMethodHandler(r.Method());
  d.SetAvailThreshold(1);
  EXPECT_EQ(d.DeleteTrigger(kAvailTriggerHandle), 0);
  d.Feed("abc");
  RunPass(d);
  EXPECT_TRUE(r.notes.empty());
}

TEST_F(TriggerDispatch, TheSearchedHandleAfter4095IsFreeEvenAfterDeletions) {
  std::vector<std::int32_t> handles;
  for (int i = 0; i < 4095; ++i) handles.push_back(i % 2 ? d.CreateTimerTrigger() : d.CreateDataTrigger("q", false));
  EXPECT_EQ(handles.back(), 32760);
  ASSERT_EQ(d.DeleteTrigger(handles[10]), 0);
  EXPECT_EQ(d.CreateTimerTrigger(), handles[10]) << "the lowest multiple of 8 not in use";
  EXPECT_EQ(d.CreateTimerTrigger(), 32768);
}

TEST_F(TriggerDispatch, TimerWithZeroTicksFiresOnceAfterTheNextTick) {
  TRecorder r(d);
  d.AddMethodHandler(r.Method());
  const std::int32_t h = d.CreateTimerTrigger();
  ASSERT_EQ(d.ArmTimerTrigger(h, 0, true), 0);
  const auto start = std::chrono::steady_clock::now();
  while (r.notes.empty() && std::chrono::steady_clock::now() - start < std::chrono::seconds(2)) {
    d.CheckTimerTriggers();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  ASSERT_EQ(r.notes.size(), 1u);
  EXPECT_EQ(r.notes[0], (Note{DM_TIMER, static_cast<platform::WPARAM>(h), Second(d, 0)}));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
  EXPECT_FALSE(d.CheckTimerTriggers()) << "one-shot";
  ASSERT_EQ(d.ArmTimerTrigger(h, 5, false), 0);
}

TEST_F(TriggerDispatch, StatusTriggersFireOncePerArming) {
  TRecorder r(d);
  d.AddMethodHandler(r.Method());
  const std::int32_t sent = d.CreateStatusTrigger(skOutSent);
  const std::int32_t line = d.CreateStatusTrigger(skLine);
  const std::int32_t modem = d.CreateStatusTrigger(skModem);
  const std::int32_t freeRoom = d.CreateStatusTrigger(skOutFree);
  ASSERT_EQ(d.ArmStatusTrigger(sent, 0, true), 0);
  ASSERT_EQ(d.ArmStatusTrigger(line, kLineErrParity | kLineErrBreak, true), 0);
  ASSERT_EQ(d.ArmStatusTrigger(modem, (kModemCts << 8) | 0, true), 0);  // fires when CTS differs from off
  ASSERT_EQ(d.ArmStatusTrigger(freeRoom, 4000, true), 0);
  EXPECT_TRUE(d.CheckStatusTriggers());
  ASSERT_EQ(r.notes.size(), 1u);
  EXPECT_EQ(r.notes[0], (Note{DM_STATUS, static_cast<platform::WPARAM>(freeRoom), Second(d, 4096)}));
  EXPECT_FALSE(d.CheckStatusTriggers());
  ASSERT_EQ(d.WriteBlock("ab", 2), 0);
  d.lineErrorBits = kLineErrBreak;
  d.RefreshLineErrors();
  d.modemLines = kModemCts;
  d.RefreshModemStatus();
  EXPECT_TRUE(d.CheckStatusTriggers());
  EXPECT_TRUE(d.CheckStatusTriggers());
  EXPECT_TRUE(d.CheckStatusTriggers());
  EXPECT_FALSE(d.CheckStatusTriggers());
  ASSERT_EQ(r.notes.size(), 4u);
  EXPECT_EQ(r.notes[1].first, static_cast<platform::WPARAM>(sent));
  EXPECT_FALSE(d.OutputSent()) << "the output-sent check takes the flag";
  EXPECT_EQ(r.notes[2].first, static_cast<platform::WPARAM>(line));
  EXPECT_EQ(r.notes[3].first, static_cast<platform::WPARAM>(modem));
  {
    std::lock_guard guard(d.StateLock());
    EXPECT_EQ(d.Triggers().FindStatus(line)->value, kLineErrBreak) << "the line trigger receives the errors";
  }
  EXPECT_TRUE(d.StatusHit());
  d.ClearStatusHits();
  EXPECT_FALSE(d.StatusHit());
}

TEST_F(TriggerDispatch, ClosingFromAHandlerDefersTheReleaseToTheEndOfThePass) {
  TRecorder first(d);
  TRecorder second(d);
  bool buffersDuringHandler = false;
  first.action = [&] {
    d.ClosePort();
    buffersDuringHandler = d.InRingAllocated();
  };
  d.AddMethodHandler(first.Method());
  d.AddMethodHandler(TQsNotifyMethod::Of<&TRecorder::OnOther>(&second));
  d.CreateDataTrigger("!", false);
  d.Feed("!");
  d.FillInputBuffer();
  EXPECT_FALSE(d.CheckDataTriggers()) << "a close ends the pass with False";
  EXPECT_TRUE(buffersDuringHandler);
  EXPECT_EQ(second.others, 0) << "later handlers are not called";
  EXPECT_TRUE(d.ClosePending());
  EXPECT_FALSE(d.Dispatching());
  EXPECT_EQ(d.releaseCalls.load(), 0);
  d.Destroy();  // as the port does once the pass has ended
  EXPECT_FALSE(d.InRingAllocated());
  EXPECT_EQ(d.releaseCalls.load(), 1) << "released exactly once";
}

TEST_F(TriggerDispatch, HandlersRemovedDuringAPassArePurgedAfterIt) {
  TRecorder a(d);
  TRecorder b(d);
  a.action = [&] {
    d.RemoveMethodHandler(TQsNotifyMethod::Of<&TRecorder::OnOther>(&b));
    EXPECT_TRUE(d.HandlersActive());
  };
  d.AddMethodHandler(a.Method());
  d.AddMethodHandler(TQsNotifyMethod::Of<&TRecorder::OnOther>(&b));
  d.CreateDataTrigger("x", false);
  d.Feed("x");
  RunPass(d);
  EXPECT_EQ(b.others, 0) << "marked deleted: not called";
  d.RemoveMethodHandler(a.Method());
  EXPECT_FALSE(d.HandlersActive()) << "both gone after the pass";
  d.Feed("x");
  RunPass(d);
  EXPECT_EQ(a.notes.size(), 1u);
}

TEST_F(TriggerDispatch, AThrowingHandlerLeavesNoFlagOrLockBehind) {
  TRecorder r(d, [](const Note&) { return 2; });
  r.action = [] { throw std::runtime_error("handler failed"); };
  d.AddMethodHandler(r.Method());
  d.SetAvailThreshold(1);
  d.Feed("abcd");
  d.FillInputBuffer();
  EXPECT_THROW(d.CheckDataTriggers(), std::runtime_error);
  EXPECT_FALSE(d.Dispatching());
  EXPECT_FALSE(d.InNotification());
  EXPECT_EQ(d.InputCount(), 4) << "a failed pass consumes nothing";
  bool locksFree = false;
  std::thread other([&] {
    locksFree = d.InputLock().try_lock() && d.OutputLock().try_lock() && d.StateLock().try_lock();
    if (locksFree) {
      d.InputLock().unlock();
      d.OutputLock().unlock();
      d.StateLock().unlock();
    }
  });
  other.join();
  EXPECT_TRUE(locksFree);
}

// ---- Window handlers ----

std::vector<Note> gWindowNotes;
platform::LRESULT RecordingProc(platform::HWND hwnd, platform::UINT msg, platform::WPARAM w, platform::LPARAM l) {
  if (msg >= DM_AVAIL && msg <= DM_STATUS) {
    gWindowNotes.push_back(Note{msg, w, l});
    return 0;
  }
  return platform::DefWindowProc(hwnd, msg, w, l);
}

TEST_F(TriggerDispatch, AlonePortWindowHearsOnlyWhenThePortHasTriggerEvents) {
  platform::RegisterWindowClass("qsTestHandler", RecordingProc);
  const platform::HWND wnd = platform::CreateWindowOfClass("qsTestHandler");
  gWindowNotes.clear();
  d.AddWindowHandler(wnd);
  const std::int32_t h = d.CreateDataTrigger("#", false);
  d.Feed("#");
  RunPass(d);
  EXPECT_TRUE(gWindowNotes.empty()) << "the port's own window without trigger events is skipped";
  d.RecomputeHandlerFlags(1);
  d.Feed("#");
  RunPass(d);
  ASSERT_EQ(gWindowNotes.size(), 1u);
  EXPECT_EQ(gWindowNotes[0], (Note{DM_DATA, static_cast<platform::WPARAM>(h), Second(d, 1)}));
  d.RecomputeHandlerFlags(2);
  EXPECT_FALSE(d.HandlersActive()) << "the port's own window alone, without trigger events";
  d.RemoveWindowHandler(wnd);
  EXPECT_FALSE(d.HandlersActive());
  platform::DestroyWindow(wnd);
}

TEST_F(TriggerDispatch, SavedTriggersComeBackWithTheirHandlesAndNewOnesStayUnique) {
  const std::int32_t data = d.CreateDataTrigger("end", false);
  const std::int32_t timer = d.CreateTimerTrigger();
  const std::int32_t status = d.CreateStatusTrigger(skModem);
  d.SetAvailThreshold(7);
  TQsTriggerSave save;
  d.SaveTriggers(save);
  EXPECT_TRUE(save.held);
  TTestDevice reopened;
  ASSERT_EQ(OpenTestDevice(reopened), 0);
  reopened.RestoreTriggers(save);
  EXPECT_EQ(reopened.AvailThreshold(), 7u);
  {
    std::lock_guard guard(reopened.StateLock());
    EXPECT_NE(reopened.Triggers().FindData(data), nullptr);
    EXPECT_NE(reopened.Triggers().FindTimer(timer), nullptr);
    EXPECT_NE(reopened.Triggers().FindStatus(status), nullptr);
  }
  const std::int32_t fresh = reopened.CreateTimerTrigger();
  EXPECT_NE(fresh & ~7, data & ~7);
  EXPECT_NE(fresh & ~7, timer & ~7);
  EXPECT_NE(fresh & ~7, status & ~7);
  TQsBaseDispatcher::DiscardTriggerSave(save);
  EXPECT_FALSE(save.held);
  EXPECT_TRUE(save.data.empty());
  TRecorder r(reopened);
  reopened.AddMethodHandler(r.Method());
  reopened.Feed("the end");
  RunPass(reopened);
  EXPECT_TRUE(std::any_of(r.notes.begin(), r.notes.end(), [data](const Note& n) {
    return n.msg == DM_DATA && n.first == static_cast<platform::WPARAM>(data);
  }));
}

TEST_F(TriggerDispatch, FlushInsideAHandlerSkipsTheFlushedBytes) {
  TRecorder r(d);
  r.action = [&] {
    if (r.notes.size() == 1) d.FlushInput();
  };
  d.AddMethodHandler(r.Method());
  const std::int32_t h = d.CreateDataTrigger("A", false);
  d.Feed("AAAA");
  RunPass(d);
  EXPECT_EQ(r.notes.size(), 1u) << "the flushed A's fire nothing";
  EXPECT_EQ(r.notes[0].first, static_cast<platform::WPARAM>(h));
  EXPECT_EQ(d.InputCount(), 0);
  d.Feed("A");
  RunPass(d);
  EXPECT_EQ(r.notes.size(), 2u);
}

}  // namespace
