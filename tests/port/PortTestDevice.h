// A port over the dispatcher tests' device: its own device layer makes a TTestDevice, and a record
// outside the port tells the test what was created, opened and freed.
#pragma once

#include <chrono>
#include <functional>
#include <memory>

#include "comm/QsMisc.h"
#include "port/QsPort.h"
#include "tests/comm/TestDevice.h"

constexpr std::uint8_t kTestLayer = 7;

struct TDeviceRecord {
  // Handed to each new device.
  bool threads = false;
  int openResult = 7;
  int openErrno = 0;
  int initialDeviceId = -1;
  // What happened.
  int created = 0;
  int freed = 0;
  TTestDevice* live = nullptr;
};

class TRecordedDevice : public TTestDevice {
 public:
  TRecordedDevice(TDeviceRecord& record, platform::TComponent* owner)
      : TTestDevice(record.threads, owner), record_(record) {
    openResult = record.openResult;
    openErrno = record.openErrno;
    SetDeviceId(record.initialDeviceId);
    ++record_.created;
    record_.live = this;
  }
  ~TRecordedDevice() override {
    Destroy();
    record_.live = nullptr;
    ++record_.freed;
  }

 private:
  TDeviceRecord& record_;
};

class TTestPort : public TQsCustomComPort {
 public:
  explicit TTestPort(TDeviceRecord& record, platform::TComponent* owner = nullptr)
      : TQsCustomComPort(owner), record_(record) {
    SetDeviceLayer(kTestLayer);
    SetComNumber(1);
  }
  TTestDevice& Device() { return *record_.live; }
  using TQsCustomComPort::CurrentDispatcher;

 protected:
  std::unique_ptr<TQsBaseDispatcher> CreateDispatcher() override {
    if (DeviceLayer() != kTestLayer) return TQsCustomComPort::CreateDispatcher();
    return std::make_unique<TRecordedDevice>(record_, this);
  }

 private:
  TDeviceRecord& record_;
};

// Handles the calling thread's messages until done() or about five seconds have passed.
inline bool PumpUntil(const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!done() && std::chrono::steady_clock::now() < deadline) {
    if (PumpOneMessage() == 0) platform::WaitMessage(1);
  }
  return done();
}
