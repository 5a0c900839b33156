// Freeing a dispatcher that runs its service threads while a notification pass is under way: from
// the main thread while a handler runs on the dispatch thread, from a window handler that the
// dispatch thread waits for, and from a handler that the dispatch thread itself runs. The free must neither hang nor touch freed memory, and leaves no
// descriptor behind.
#include <gtest/gtest.h>

#include <dirent.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "TestDevice.h"
#include "platform/Threads.h"
#include "tests/support/ProcessProbe.h"
#include "tests/support/Pump.h"

namespace {

using namespace std::chrono_literals;

using testpump::Eventually;

enum class TFreer { kMainWhileHandlerRuns, kWindowHandler, kMethodHandlerOnTheDispatchThread };

struct TCase {
  const char* name;
  TFreer freer;
};

// What the handlers share with the test; outlives the device.
struct TScene {
  TTestDevice* device = nullptr;
  std::atomic<int> calls{0};
  std::atomic<bool> inHandler{false};
  std::atomic<bool> freed{false};
  TFreer freer = TFreer::kMainWhileHandlerRuns;

  void FreeDevice() {
    delete device;
    freed = true;
  }
  // On the dispatch thread.
  void OnMethod(platform::UINT msg, platform::WPARAM, platform::LPARAM) {
    if (msg != DM_DATA) return;
    ++calls;
    if (freer == TFreer::kMethodHandlerOnTheDispatchThread) {
      FreeDevice();  // the pass that runs this handler is the device's own
      return;
    }
    inHandler = true;
    std::this_thread::sleep_for(100ms);  // the main thread frees the device meanwhile
  }
};

TScene* gScene = nullptr;

// On the main thread, called by the dispatch thread's pass.
platform::LRESULT FreeingProc(platform::HWND hwnd, platform::UINT msg, platform::WPARAM w, platform::LPARAM l) {
  if (msg == DM_DATA && gScene != nullptr && !gScene->freed) {
    ++gScene->calls;
    gScene->FreeDevice();
    return 0;
  }
  return platform::DefWindowProc(hwnd, msg, w, l);
}

class FreeDuringAPass : public testing::TestWithParam<TCase> {};

TEST_P(FreeDuringAPass, EndsPromptlyAndLeavesNothingBehind) {
  const int descriptorsBefore = probe::OpenDescriptorCount();
  TScene scene;
  gScene = &scene;
  scene.freer = GetParam().freer;
  scene.device = new TTestDevice(true);
  ASSERT_EQ(OpenTestDevice(*scene.device), 0);
  platform::HWND wnd = 0;
  if (scene.freer == TFreer::kWindowHandler) {
    if (!platform::IsWindowClassRegistered("qsFreeingWindow")) platform::RegisterWindowClass("qsFreeingWindow", FreeingProc);
    wnd = platform::CreateWindowOfClass("qsFreeingWindow");
    scene.device->AddWindowHandler(wnd);
    scene.device->RecomputeHandlerFlags(1);
  } else {
    scene.device->AddMethodHandler(TQsNotifyMethod::Of<&TScene::OnMethod>(&scene));
  }
  scene.device->CreateDataTrigger("!", false);
  scene.device->Feed("!");
  const auto start = std::chrono::steady_clock::now();
  if (scene.freer == TFreer::kMainWhileHandlerRuns) {
    ASSERT_TRUE(Eventually([&] { return scene.inHandler.load(); }));
    scene.FreeDevice();
  }
  ASSERT_TRUE(Eventually([&] { return scene.freed.load(); })) << "the free never happened or hangs";
  // Generous: a free that waited out a blocked send or a thread join would take seconds.
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2000ms);
  EXPECT_EQ(scene.calls.load(), 1);
  if (wnd != 0) platform::DestroyWindow(wnd);
  gScene = nullptr;
  EXPECT_EQ(probe::OpenDescriptorCount(), descriptorsBefore);
}

INSTANTIATE_TEST_SUITE_P(ThreadedDispatcher, FreeDuringAPass,
                         testing::Values(TCase{"FromTheMainThreadWhileAHandlerRuns", TFreer::kMainWhileHandlerRuns},
                                         TCase{"FromAWindowHandlerTheDispatchThreadWaitsFor", TFreer::kWindowHandler},
                                         TCase{"FromAHandlerOnItsOwnDispatchThread", TFreer::kMethodHandlerOnTheDispatchThread}),
                         [](const testing::TestParamInfo<TCase>& info) { return std::string(info.param.name); });

}  // namespace
