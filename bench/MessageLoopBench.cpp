// The message loop's costs: posted messages dispatched per second on one thread, and the round
// trip of a send to a window owned by another thread.
#include <benchmark/benchmark.h>

#include <atomic>
#include <thread>

#include "platform/MessageLoop.h"

using namespace platform;

namespace {

constexpr UINT kMsgWork = WM_USER + 1;
constexpr UINT kMsgStop = WM_USER + 2;

std::uint64_t gCounter = 0;

LRESULT CountingProc(HWND, UINT msg, WPARAM w, LPARAM) {
  if (msg == kMsgWork) gCounter += w;
  if (msg == kMsgStop) PostQuitMessage(0);
  return static_cast<LRESULT>(w);
}

HWND MakeWindow() {
  RegisterWindowClass("BenchWindow", CountingProc);
  return CreateWindowOfClass("BenchWindow");
}

void BM_PostAndDispatch(benchmark::State& state) {
  HWND hwnd = MakeWindow();
  const int batch = static_cast<int>(state.range(0));
  MSG msg;
  for (auto _ : state) {
    for (int i = 0; i < batch; ++i) PostMessage(hwnd, kMsgWork, 1, 0);
    while (PeekMessage(msg, PM_REMOVE)) DispatchMessage(msg);
  }
  state.SetItemsProcessed(state.iterations() * batch);
  DestroyWindow(hwnd);
}
BENCHMARK(BM_PostAndDispatch)->Arg(1)->Arg(64)->Arg(1024);

void BM_CrossThreadSendRoundTrip(benchmark::State& state) {
  std::atomic<HWND> target{0};
  std::thread owner([&] {
    target = MakeWindow();
    MSG msg;
    while (GetMessage(msg)) DispatchMessage(msg);
    DestroyWindow(target);
  });
  while (target == 0) std::this_thread::yield();
  for (auto _ : state) benchmark::DoNotOptimize(SendMessage(target, kMsgWork, 1, 0));
  state.SetItemsProcessed(state.iterations());
  PostMessage(target, kMsgStop, 0, 0);
  owner.join();
}
BENCHMARK(BM_CrossThreadSendRoundTrip)->UseRealTime();

void BM_SameThreadSend(benchmark::State& state) {
  HWND hwnd = MakeWindow();
  for (auto _ : state) benchmark::DoNotOptimize(SendMessage(hwnd, kMsgWork, 1, 0));
  state.SetItemsProcessed(state.iterations());
  DestroyWindow(hwnd);
}
BENCHMARK(BM_SameThreadSend);

}  // namespace

BENCHMARK_MAIN();
