// The serial dispatcher's lifetime matrix: an application that closes, reopens or frees the
// dispatcher from inside each of its events (data, avail, timer, status), handled by a window of
// the main thread while the dispatch thread's pass waits for it. Whatever it does: no crash, no
// hang, no spin; the port can be opened again afterwards and no descriptor is left behind.
#include <gtest/gtest.h>

#include <dirent.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "platform/MessageLoop.h"
#include "platform/Threads.h"
#include "port/QsSerial.h"
#include "tests/support/PtyPair.h"
#include "tests/support/ProcessProbe.h"
#include "tests/support/Pump.h"

namespace {

using namespace std::chrono_literals;
using testsupport::TPtyPair;
using testsupport::TSerialFolder;

using testpump::Eventually;

double ProcessCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

int Open(TQsWin32Dispatcher& d) {
  return d.OpenPort(TSerialFolder::PortName(1), 9600, 0, 8, 1, 4096, 4096, kOpenDtrOn | kOpenRtsOn);
}

enum class TAction { kClose, kReopen, kFree };

struct TCase {
  const char* name;
  platform::UINT event;
  TAction action;
};

// What the window handler shares with the test.
struct TScene {
  std::unique_ptr<TQsWin32Dispatcher> dispatcher;
  platform::UINT event = 0;
  TAction action = TAction::kClose;
  std::atomic<int> calls{0};
  std::atomic<bool> acted{false};
  int reopenResult = 1;
};

TScene* gScene = nullptr;

platform::LRESULT ActingProc(platform::HWND hwnd, platform::UINT msg, platform::WPARAM w, platform::LPARAM l) {
  TScene* scene = gScene;
  if (scene == nullptr || msg != scene->event || scene->acted) return platform::DefWindowProc(hwnd, msg, w, l);
  ++scene->calls;
  scene->acted = true;
  switch (scene->action) {
    case TAction::kClose:
      scene->dispatcher->ClosePort();
      break;
    case TAction::kReopen:
      scene->dispatcher->ClosePort();
      scene->reopenResult = Open(*scene->dispatcher);
      break;
    case TAction::kFree:
      scene->dispatcher.reset();
      break;
  }
  return 0;
}

// Arms the trigger whose event the case is about; the input or output that fires it follows.
void ArmFor(TQsWin32Dispatcher& d, platform::UINT event) {
  switch (event) {
    case DM_DATA:
      d.CreateDataTrigger("!", false);
      break;
    case DM_AVAIL:
      d.SetAvailThreshold(3);
      break;
    case DM_TIMER:
      d.ArmTimerTrigger(d.CreateTimerTrigger(), 1, true);
      break;
    case DM_STATUS:
      d.ArmStatusTrigger(d.CreateStatusTrigger(skOutSent), 0, true);
      d.WriteBlock("out", 3);
      break;
  }
}

class SerialLifetime : public testing::TestWithParam<TCase> {
 protected:
  void SetUp() override {
    if (!platform::IsWindowClassRegistered("qsActingWindow")) platform::RegisterWindowClass("qsActingWindow", ActingProc);
  }
  TSerialFolder folder;
};

TEST_P(SerialLifetime, ActingInsideAnEventLeavesAWorkingPort) {
  const TCase& c = GetParam();
  TPtyPair pty;
  folder.Link(1, pty.PortPath());
  const int descriptorsBefore = probe::OpenDescriptorCount();
  {
    TScene scene;
    scene.event = c.event;
    scene.action = c.action;
    gScene = &scene;
    scene.dispatcher = std::make_unique<TQsWin32Dispatcher>(nullptr);
    ASSERT_EQ(Open(*scene.dispatcher), 0);
    const platform::HWND wnd = platform::CreateWindowOfClass("qsActingWindow");
    scene.dispatcher->AddWindowHandler(wnd);
    scene.dispatcher->RecomputeHandlerFlags(1);
    ArmFor(*scene.dispatcher, c.event);
    ASSERT_TRUE(pty.Send("ab!cd"));
    ASSERT_TRUE(Eventually([&] { return scene.acted.load(); })) << "the event never came";
    EXPECT_EQ(scene.calls.load(), 1);
    TQsWin32Dispatcher* d = scene.dispatcher.get();
    switch (c.action) {
      case TAction::kClose:
        EXPECT_TRUE(Eventually([&] { return !d->Started() && !d->InRingAllocated(); }, 3000ms)) << "the close never ends";
        EXPECT_EQ(d->DeviceId(), -1);
        break;
      case TAction::kReopen:
        EXPECT_EQ(scene.reopenResult, 0);
        EXPECT_TRUE(Eventually([&] { return d->Started() && d->ActiveThreads() == 3; }, 3000ms));
        pty.Discard();
        ASSERT_TRUE(pty.Send("again"));
        EXPECT_TRUE(Eventually([&] { return d->InputCount() >= 5; }, 3000ms)) << "the reopened port takes input";
        break;
      case TAction::kFree:
        EXPECT_EQ(d, nullptr);
        break;
    }
    const double cpuBefore = ProcessCpuSeconds();
    std::this_thread::sleep_for(300ms);
    EXPECT_LT(ProcessCpuSeconds() - cpuBefore, 0.15) << "generous: a spinning thread takes the whole 300 ms";
    scene.dispatcher.reset();
    platform::DestroyWindow(wnd);
    gScene = nullptr;
  }
  EXPECT_EQ(probe::OpenDescriptorCount(), descriptorsBefore);
  // The next opener gets the port and its data.
  TQsWin32Dispatcher next(nullptr);
  ASSERT_EQ(Open(next), 0);
  ASSERT_TRUE(pty.Send("next"));
  EXPECT_TRUE(Eventually([&] { return next.InputCount() >= 4; }, 3000ms));
}

std::vector<TCase> Cases() {
  struct TEvent {
    const char* name;
    platform::UINT msg;
  };
  struct TDoing {
    const char* name;
    TAction action;
  };
  static const TEvent events[] = {{"Data", DM_DATA}, {"Avail", DM_AVAIL}, {"Timer", DM_TIMER}, {"Status", DM_STATUS}};
  static const TDoing doings[] = {{"Close", TAction::kClose}, {"Reopen", TAction::kReopen}, {"Free", TAction::kFree}};
  static std::vector<std::string> names;
  std::vector<TCase> cases;
  names.reserve(16);
  for (const TEvent& e : events) {
    for (const TDoing& a : doings) {
      names.push_back(std::string(a.name) + "InsideItsOwn" + e.name + "Event");
      cases.push_back({names.back().c_str(), e.msg, a.action});
    }
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(SerialDispatcher, SerialLifetime, testing::ValuesIn(Cases()),
                         [](const testing::TestParamInfo<TCase>& info) { return std::string(info.param.name); });

}  // namespace
