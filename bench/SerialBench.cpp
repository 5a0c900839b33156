// Serial receive throughput over a pseudo-terminal pair: a plain read loop on the port end against
// the serial dispatcher delivering the same bytes through avail notifications and ReadBlock; and
// the CPU time an open, idle dispatcher takes over ten seconds.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <stdlib.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/Threads.h"
#include "port/QsSerial.h"

namespace {

constexpr std::size_t kTransfer = 1 << 20;  // bytes per iteration

// A pseudo-terminal pair whose port end is linked as COM1 in a folder QUILLSTAGE_SERIAL_DIR names.
class TBenchLine {
 public:
  TBenchLine() {
    char name[256] = {};
    openpty(&peer_, &port_, name, nullptr, nullptr);
    termios t{};
    tcgetattr(port_, &t);
    cfmakeraw(&t);
    tcsetattr(port_, TCSANOW, &t);
    char pattern[] = "/tmp/qs-serial-bench-XXXXXX";
    folder_ = mkdtemp(pattern);
    std::filesystem::create_symlink(name, folder_ / "COM1");
    setenv("QUILLSTAGE_SERIAL_DIR", folder_.c_str(), 1);
  }
  ~TBenchLine() {
    close(peer_);
    close(port_);
    std::filesystem::remove_all(folder_);
  }
  int Peer() const { return peer_; }
  int Port() const { return port_; }
  // The peer sends n bytes (blocking writes).
  void Send(std::size_t n) const {
    static const std::vector<char> chunk(65536, 'x');
    while (n > 0) {
      const ssize_t w = write(peer_, chunk.data(), std::min(n, chunk.size()));
      if (w <= 0) return;
      n -= static_cast<std::size_t>(w);
    }
  }

 private:
  int peer_ = -1;
  int port_ = -1;
  std::filesystem::path folder_;
};

double ProcessCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

void BM_PlainReadLoop(benchmark::State& state) {
  TBenchLine line;
  std::vector<char> buf(8192);
  for (auto _ : state) {
    std::thread sender([&] { line.Send(kTransfer); });
    std::size_t got = 0;
    while (got < kTransfer) {
      const ssize_t n = read(line.Port(), buf.data(), buf.size());
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
    }
    sender.join();
    benchmark::DoNotOptimize(got);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kTransfer));
}
BENCHMARK(BM_PlainReadLoop)->Unit(benchmark::kMillisecond)->UseRealTime();

// Takes every avail notification's bytes with ReadBlock on the dispatch thread.
struct TReceiver {
  TQsWin32Dispatcher* d = nullptr;
  std::atomic<std::size_t> got{0};
  std::size_t want = 0;
  platform::TSyncEvent done{platform::TSyncEvent::rmAutomatic};
  char buf[8192];
  void On(platform::UINT msg, platform::WPARAM first, platform::LPARAM) {
    if (msg != DM_AVAIL) return;
    int n = static_cast<int>(first);
    while (n > 0) {
      const int chunk = std::min<int>(n, sizeof buf);
      if (d->ReadBlock(buf, chunk) != chunk) return;
      n -= chunk;
      if (got.fetch_add(static_cast<std::size_t>(chunk)) + static_cast<std::size_t>(chunk) >= want) done.Set();
    }
  }
};

void BM_DispatcherReceive(benchmark::State& state) {
  TBenchLine line;
  TQsWin32Dispatcher d(nullptr);
  if (d.OpenPort("\\\\.\\COM1", 115200, 0, 8, 1, 8192, 8192, kOpenDtrOn | kOpenRtsOn) != 0) {
    state.SkipWithError("cannot open the serial dispatcher");
    return;
  }
  TReceiver receiver;
  receiver.d = &d;
  d.SetAvailThreshold(1);
  d.AddMethodHandler(TQsNotifyMethod::Of<&TReceiver::On>(&receiver));
  for (auto _ : state) {
    receiver.got = 0;
    receiver.want = kTransfer;
    std::thread sender([&] { line.Send(kTransfer); });
    while (receiver.got.load() < kTransfer) {
      if (!receiver.done.Wait(10000)) break;
    }
    sender.join();
  }
  d.ClosePort();
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kTransfer));
}
BENCHMARK(BM_DispatcherReceive)->Unit(benchmark::kMillisecond)->UseRealTime();

// CPU seconds the whole process spends over ten idle seconds with one open dispatcher.
void BM_IdleDispatcherCpu(benchmark::State& state) {
  TBenchLine line;
  TQsWin32Dispatcher d(nullptr);
  if (d.OpenPort("\\\\.\\COM1", 115200, 0, 8, 1, 8192, 8192, 0) != 0) {
    state.SkipWithError("cannot open the serial dispatcher");
    return;
  }
  double cpu = 0;
  for (auto _ : state) {
    const double before = ProcessCpuSeconds();
    std::this_thread::sleep_for(std::chrono::seconds(10));
    cpu = ProcessCpuSeconds() - before;
  }
  d.ClosePort();
  state.counters["cpu_ms_per_10s"] = cpu * 1000.0;
}
BENCHMARK(BM_IdleDispatcherCpu)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
