// Bytes received through a socket port, read with ReadBlock from its avail handler, against a
// plain recv loop on the same loopback in the same run. The figure is their ratio, printed last.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <thread>

#include "bench/LoopbackSender.h"
#include "port/QsWsPort.h"

namespace {

constexpr std::size_t kBytesPerRound = 8u << 20;

class TBenchPort : public TQsCustomWinsockPort {
 public:
  explicit TBenchPort(bool telnet) : TQsCustomWinsockPort(nullptr) {
    SetDeviceLayer(dlSocket);
    SetTelnetMode(telnet);
    SetInBufferSize(8192);
    OnSocketConnect = TPortNotifyEvent(this, &TBenchPort::Connected);
    SetOnDataAvailable(TTriggerAvailEvent(this, &TBenchPort::Avail));
  }
  bool connected = false;
  std::size_t received = 0;

 private:
  void Connected(platform::TComponent*) { connected = true; }
  void Avail(platform::TComponent*, std::uint16_t count) {
    if (Dispatcher()->ReadBlock(buffer_, count) == count) received += count;
  }
  char buffer_[65536];
};

void PumpUntil(const std::function<bool()>& done) {
  platform::MSG msg;
  while (!done()) {
    if (platform::PeekMessage(msg, platform::PM_REMOVE))
      platform::DispatchMessage(msg);
    else
      platform::WaitMessage(5);
  }
}

void BM_SocketPortReadBlock(benchmark::State& state) {
  std::uint16_t listenPort = 0;
  const int listener = benchpeer::Listen(listenPort);
  TBenchPort port(state.range(0) != 0);
  port.SetServerAddress("127.0.0.1");
  port.SetWsPort(std::to_string(listenPort));
  port.SetOpen(true);
  const int peer = benchpeer::Accept(listener);
  PumpUntil([&] { return port.connected; });
  for (auto _ : state) {
    port.received = 0;
    std::thread sender([peer] { benchpeer::SendBytes(peer, kBytesPerRound); });
    PumpUntil([&] { return port.received >= kBytesPerRound; });
    sender.join();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBytesPerRound));
  port.SetOpen(false);
  benchpeer::Close(peer);
  benchpeer::Close(listener);
}
// The sender's bytes hold no 255 and no 13, so the telnet filter delivers them all.
BENCHMARK(BM_SocketPortReadBlock)->Arg(0)->Arg(1)->ArgName("telnet")->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PlainRecv(benchmark::State& state) {
  std::uint16_t listenPort = 0;
  const int listener = benchpeer::Listen(listenPort);
  const int client = benchpeer::Connect(listenPort);
  const int peer = benchpeer::Accept(listener);
  for (auto _ : state) {
    std::thread sender([peer] { benchpeer::SendBytes(peer, kBytesPerRound); });
    benchmark::DoNotOptimize(benchpeer::ReceiveBytes(client, kBytesPerRound));
    sender.join();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBytesPerRound));
  benchpeer::Close(client);
  benchpeer::Close(peer);
  benchpeer::Close(listener);
}
BENCHMARK(BM_PlainRecv)->Unit(benchmark::kMillisecond)->UseRealTime();

// Keeps each run's bytes per second, to print the ratio once all have run.
class TRatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      auto it = run.counters.find("bytes_per_second");
      if (it != run.counters.end() && run.run_type == Run::RT_Iteration) rates[run.benchmark_name()] = it->second.value;
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> rates;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  TRatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const auto plain = reporter.rates.find("BM_PlainRecv/real_time");
  if (plain != reporter.rates.end() && plain->second > 0) {
    for (const auto& [name, rate] : reporter.rates) {
      if (name.rfind("BM_SocketPortReadBlock", 0) == 0)
        std::printf("%s / plain recv = %.3f\n", name.c_str(), rate / plain->second);
    }
  }
  benchmark::Shutdown();
  return 0;
}
