// Data packets through a dispatcher, with any definitions, any stream cut anywhere, and handlers
// that enable, disable and redefine packets: nothing crashes, every delivery is bytes of the
// stream in their order, a refusal is only ever EInvalidProperty, and a bad definition is not
// reported to the application over and over.
#include <memory>
#include <string>
#include <vector>

#include "comm/QsPacket.h"
#include "fuzz/FuzzInput.h"
#include "platform/Application.h"
#include "tests/comm/TestDevice.h"

namespace {

class TPort : public platform::TComponent, public TQsPortLink {
 public:
  explicit TPort(TTestDevice& device) : platform::TComponent(nullptr), device_(device) {}
  TQsBaseDispatcher* LinkDispatcher() const override { return &device_; }
  bool LinkOpen() const override { return true; }
  bool LinkLoading() const override { return false; }
  platform::TComponent* LinkComponent() override { return this; }
  void RegisterLinkUser(const TQsPortLinkCallback& callback) override { users_.push_back(callback); }
  void UnregisterLinkUser(const TQsPortLinkCallback& callback) override { std::erase(users_, callback); }

 private:
  TTestDevice& device_;
  std::vector<TQsPortLinkCallback> users_;
};

struct TWorld {
  TTestDevice device;
  std::unique_ptr<TPort> port;
  TWorld() {
    OpenTestDevice(device);
    device.SetAvailThreshold(1);
    port = std::make_unique<TPort>(device);
  }
};

TWorld& World() {
  static auto* world = new TWorld;
  return *world;
}

void Define(TQsDataPacket& p, fuzz::TInput& in) {
  p.SetStartCond(in.Bool() ? scAnyData : scString);
  p.SetEndCond(static_cast<TPacketEndSet>(in.Byte() & 3));
  p.SetStartString(in.Text(6));
  p.SetEndString(in.Text(6));
  p.SetIgnoreCase(in.Bool());
  p.SetIncludeStrings(in.Bool());
  p.SetPacketSize(static_cast<int>(in.Upto(40)) - 4);
  p.SetAutoEnable(in.Bool());
  p.SetTimeOut(0);
}

int enableAttempts = 0;

void TryEnable(TQsDataPacket& p, bool value) {
  ++enableAttempts;
  try {
    p.SetEnabled(value);
  } catch (const EInvalidProperty&) {
    FUZZ_CHECK(!p.Enabled());
  }
}

}  // namespace

// Longer inputs are turned away (they only slow the run down).
FUZZ_LONGEST_INPUT(2000);

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > kLongestInput) return 0;
  TWorld& world = World();
  fuzz::TInput in(data, size);
  int reports = 0;
  auto previous = platform::SetExceptionHandler([&](const std::exception& e) {
    FUZZ_CHECK(dynamic_cast<const EInvalidProperty*>(&e) != nullptr);
    ++reports;
  });
  enableAttempts = 0;
  world.device.FlushInput();  // nothing of the last input carries over
  std::string stream;
  {
    // Declared first: freeing a collecting packet may still deliver to the others.
    std::vector<std::string> delivered;
    std::vector<std::unique_ptr<TQsDataPacket>> packets;
    const std::size_t count = 1 + in.Byte() % 3;
    for (std::size_t k = 0; k < count; ++k) {
      packets.push_back(std::make_unique<TQsDataPacket>(nullptr));
      Define(*packets.back(), in);
      packets.back()->SetComPort(world.port.get());
    }
    // What each packet's handler does to another packet: nothing, enable, disable or redefine it.
    std::vector<std::uint8_t> actions;
    for (std::size_t k = 0; k < count; ++k) actions.push_back(in.Byte());
    for (std::size_t k = 0; k < count; ++k) {
      TQsDataPacket& p = *packets[k];
      p.OnStringPacket = TStringPacketNotifyEvent(&p, "fuzz", [&, k](platform::TComponent*, const std::string& s) {
        delivered.push_back(s);
        TQsDataPacket& other = *packets[actions[k] % count];
        switch ((actions[k] >> 4) % 4) {
          case 1: TryEnable(other, true); break;
          case 2: TryEnable(other, false); break;
          case 3: other.SetStartString(s.substr(0, 2)); TryEnable(other, true); break;
          default: break;
        }
      });
      TryEnable(p, true);
    }
    while (!in.Empty()) {
      const std::string chunk = in.Text(64);
      stream += chunk;
      world.device.Feed(chunk);
      world.device.FillInputBuffer();
      while (!world.device.Dispatching() && world.device.CheckAllTriggers()) {
      }
    }
    for (const std::string& s : delivered) FUZZ_CHECK(stream.find(s) != std::string::npos);
    FUZZ_CHECK(reports <= enableAttempts + static_cast<int>(count) * 2);
    // Freeing a collecting packet may still deliver to the others: their handlers go first.
    for (auto& p : packets) p->OnStringPacket = TStringPacketNotifyEvent();
    packets.clear();
  }
  FUZZ_CHECK(PacketManagerCount() == 0);
  platform::SetExceptionHandler(previous);
  return 0;
}
