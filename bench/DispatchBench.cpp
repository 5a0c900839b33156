// The dispatcher's costs: the data-trigger scan per received byte with 1, 4 and 16 live triggers
// (patterns whose first byte is rare in the input, frequent, or that follow the input for long),
// filling the input ring and reading it back through a memory device, and one notification pass.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>

#include "comm/QsDispatch.h"

namespace {

// A device that always holds input: a fixed text, handed out from where the last read stopped.
class TMemoryDevice : public TQsBaseDispatcher {
 public:
  TMemoryDevice() : TQsBaseDispatcher(nullptr) {
    for (std::size_t i = 0; i < sizeof text_; ++i) text_[i] = static_cast<std::uint8_t>("some reply text\r\n"[i % 17]);
  }
  ~TMemoryDevice() override { Destroy(); }
  std::uint32_t available = 4096;

  int DeviceEscape(int) override { return 0; }
  int DeviceFlush(int) override { return 0; }
  int DeviceStatus(TDeviceStatus& status) override {
    status.inCount = available;
    status.outCount = 0;
    return 0;
  }
  int DeviceReadFailed(int) override { return 0; }
  int DeviceGetState(TQsLineSettings& s) override {
    s.baudRate = 115200;
    s.byteSize = 8;
    return 0;
  }
  int DeviceRead(std::uint8_t* buf, int size) override {
    const int n = std::min<int>(size, static_cast<int>(available));
    std::memcpy(buf, text_, static_cast<std::size_t>(n));
    return n;
  }
  int DeviceSetState(const TQsLineSettings&) override { return 0; }
  int DeviceWrite(const std::uint8_t*, int size) override { return size; }
  bool DeviceWaitEvent(std::uint32_t& mask) override {
    mask = 0;
    return false;
  }
  bool DeviceSetup(int, int) override { return true; }
  void StartDispatching() override {}
  void StopDispatching() override {}
  int DeviceOpen(const std::string&, int, int) override { return 1; }
  int DeviceClose() override { return 0; }
  int ServiceOnce() override { return 0; }

 private:
  std::uint8_t text_[8192];
};

// Bytes go in, are scanned by N data triggers that never match, and are read out again; the
// triggers' patterns are pattern(i).
template <typename Pattern>
void ScanCost(benchmark::State& state, Pattern pattern) {
  TMemoryDevice d;
  d.OpenPort("mem", 115200, 0, 8, 1, 8192, 64, 0);
  for (int i = 0; i < state.range(0); ++i) d.CreateDataTrigger(pattern(i), i % 2 == 0);
  std::uint8_t buf[4096];
  for (auto _ : state) {
    d.FillInputBuffer();
    while (d.CheckDataTriggers()) {
    }
    d.ReadBlock(buf, 4096);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 4096);
  state.counters["ns_per_byte"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * 4096, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// Patterns whose first byte the input never holds.
void BM_DataTriggerScan(benchmark::State& state) {
  ScanCost(state, [](int i) { return "QUIT" + std::to_string(i); });
}
BENCHMARK(BM_DataTriggerScan)->Arg(0)->Arg(1)->Arg(4)->Arg(16);

// Every pattern starts with 'e', three of every 17 received bytes: each of them starts a partial
// match in every trigger that the next byte ends.
void BM_DataTriggerScanFrequentStarts(benchmark::State& state) {
  ScanCost(state, [](int i) { return "eQUIT" + std::to_string(i); });
}
BENCHMARK(BM_DataTriggerScanFrequentStarts)->Arg(1)->Arg(4)->Arg(16);

// Every pattern is the input's line less its first word, then its own end: each line takes every
// trigger through a partial match of 12 bytes (and the shorter ones its repeated bytes start).
void BM_DataTriggerScanLongPartials(benchmark::State& state) {
  ScanCost(state, [](int i) { return "reply text\r\n#" + std::to_string(i); });
}
BENCHMARK(BM_DataTriggerScanLongPartials)->Arg(1)->Arg(4)->Arg(16);

void BM_FillAndRead(benchmark::State& state) {
  TMemoryDevice d;
  d.OpenPort("mem", 115200, 0, 8, 1, 8192, 64, 0);
  d.available = static_cast<std::uint32_t>(state.range(0));
  std::uint8_t buf[8192];
  for (auto _ : state) {
    d.FillInputBuffer();
    d.ReadBlock(buf, static_cast<int>(state.range(0)));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_FillAndRead)->Arg(64)->Arg(1024)->Arg(4096);

struct TSink {
  std::uint64_t sum = 0;
  void On(platform::UINT msg, platform::WPARAM first, platform::LPARAM second) { sum += msg + first + second; }
};

// One pass over N method handlers for a timer notification.
void BM_NotificationPass(benchmark::State& state) {
  TMemoryDevice d;
  d.OpenPort("mem", 115200, 0, 8, 1, 8192, 64, 0);
  TSink sinks[8];
  for (int i = 0; i < state.range(0); ++i) d.AddMethodHandler(TQsNotifyMethod::Of<&TSink::On>(&sinks[i]));
  const std::int32_t handle = d.CreateTimerTrigger();
  for (auto _ : state) benchmark::DoNotOptimize(d.NotifyHandlers(DM_TIMER, static_cast<platform::WPARAM>(handle), 0));
  benchmark::DoNotOptimize(sinks[0].sum);
}
BENCHMARK(BM_NotificationPass)->Arg(1)->Arg(4);

}  // namespace
BENCHMARK_MAIN();
