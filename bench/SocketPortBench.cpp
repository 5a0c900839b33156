// Bytes received through a socket port, read with ReadBlock from its avail handler, against a
// plain recv loop on the same loopback. The cases run in interleaved rounds, so that a change of
// the machine's load meets every case alike; each round gives each port case its ratio to that
// round's plain loop, and the figures are the medians and the spread of those ratios.
//   socket_bench [rounds] [MiB per case and round] [only the cases whose name holds this]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "bench/LoopbackSender.h"
#include "port/QsWsPort.h"

namespace {

class TBenchPort : public TQsCustomWinsockPort {
 public:
  TBenchPort(bool telnet, std::uint16_t inBufferSize) : TQsCustomWinsockPort(nullptr) {
    SetDeviceLayer(dlSocket);
    SetTelnetMode(telnet);
    SetInBufferSize(inBufferSize);
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

double ThreadCpu() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

double Seconds(const std::function<void()>& run, double& cpu) {
  const auto start = std::chrono::steady_clock::now();
  const double cpuStart = ThreadCpu();
  run();
  cpu = ThreadCpu() - cpuStart;
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// One loopback connection with a peer that sends; receive(bytes) takes them in.
struct TCase {
  explicit TCase(std::string caseName) : name(std::move(caseName)) {}
  std::string name;
  int peer = -1;
  std::function<void(std::size_t)> receive;
  std::vector<double> seconds;
  std::vector<double> cpuSeconds;  // of the receiving thread

  double Round(std::size_t bytes) {
    std::thread sender([this, bytes] { benchpeer::SendBytes(peer, bytes); });
    double cpu = 0;
    const double s = Seconds([&] { receive(bytes); }, cpu);
    sender.join();
    seconds.push_back(s);
    cpuSeconds.push_back(cpu);
    return s;
  }
};

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 9;
  const std::size_t bytes = (argc > 2 ? std::max(1, std::atoi(argv[2])) : 16) * std::size_t{1} << 20;
  std::uint16_t listenPort = 0;
  const int listener = benchpeer::Listen(listenPort);

  TCase plain("plain recv");
  const int client = benchpeer::Connect(listenPort);
  plain.peer = benchpeer::Accept(listener);
  plain.receive = [client](std::size_t n) { benchpeer::ReceiveBytes(client, n); };

  // For reference: plain loops whose reads are no larger than the port's receive ring (its
  // InBufferSize), the most one of its receives can take.
  std::vector<TCase> cases;
  std::vector<int> clients{client};
  std::vector<int> peers;
  for (const std::size_t readSize : {std::size_t{4096}, std::size_t{8192}}) {
    const int fd = benchpeer::Connect(listenPort);
    clients.push_back(fd);
    TCase c("plain recv, " + std::to_string(readSize) + "-byte reads");
    c.peer = benchpeer::Accept(listener);
    peers.push_back(c.peer);
    c.receive = [fd, readSize](std::size_t n) { benchpeer::ReceiveBytes(fd, n, readSize); };
    cases.push_back(std::move(c));
  }

  // The sender's bytes hold no 255 and no 13, so the telnet filter delivers them all. 4096 is
  // the port's default InBufferSize.
  std::vector<std::unique_ptr<TBenchPort>> ports;
  for (const std::uint16_t size : {std::uint16_t{4096}, std::uint16_t{8192}, std::uint16_t{65535}}) {
    for (const bool telnet : {false, true}) {
      auto port = std::make_unique<TBenchPort>(telnet, size);
      port->SetServerAddress("127.0.0.1");
      port->SetWsPort(std::to_string(listenPort));
      port->SetOpen(true);
      TCase c("port, telnet " + std::string(telnet ? "on " : "off") + ", InBufferSize " + std::to_string(size));
      c.peer = benchpeer::Accept(listener);
      peers.push_back(c.peer);
      TBenchPort* p = port.get();
      PumpUntil([p] { return p->connected; });
      c.receive = [p](std::size_t n) {
        p->received = 0;
        PumpUntil([p, n] { return p->received >= n; });
      };
      ports.push_back(std::move(port));
      cases.push_back(std::move(c));
    }
  }

  if (argc > 3) std::erase_if(cases, [&](const TCase& c) { return c.name.find(argv[3]) == std::string::npos; });
  std::vector<std::vector<double>> ratios(cases.size());
  for (int r = 0; r < rounds; ++r) {
    const double base = plain.Round(bytes);
    for (std::size_t k = 0; k < cases.size(); ++k) ratios[k].push_back(base / cases[k].Round(bytes));
  }

  const double mib = static_cast<double>(bytes) / (1 << 20);
  std::printf("%d rounds of %.0f MiB per case\n", rounds, mib);
  // The receiving thread's CPU time tells the cost apart from waiting on a loaded machine.
  std::printf("%-40s %8s %14s  %s\n", "case", "MiB/s", "recv CPU us/MiB", "/ plain recv: median (min-max)");
  std::printf("%-40s %8.0f %14.0f\n", plain.name.c_str(), mib / Median(plain.seconds),
              Median(plain.cpuSeconds) * 1e6 / mib);
  for (std::size_t k = 0; k < cases.size(); ++k) {
    const auto [lo, hi] = std::minmax_element(ratios[k].begin(), ratios[k].end());
    std::printf("%-40s %8.0f %14.0f  %.3f (%.3f-%.3f)\n", cases[k].name.c_str(), mib / Median(cases[k].seconds),
                Median(cases[k].cpuSeconds) * 1e6 / mib, Median(ratios[k]), *lo, *hi);
  }
  for (auto& port : ports) port->SetOpen(false);
  for (const int fd : peers) benchpeer::Close(fd);
  benchpeer::Close(plain.peer);
  for (const int fd : clients) benchpeer::Close(fd);
  benchpeer::Close(listener);
  return 0;
}
