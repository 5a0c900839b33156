#include "port/QsSerial.h"

#include <poll.h>

#include <cerrno>
#include <thread>

using platform::TSerialDevice;

namespace {

// The transmitter-empty wait of an RS-485 line turn-around gives up after this long.
constexpr int kDrainTimeoutMs = 10000;

platform::TCommState ToCommState(const TQsLineSettings& s) {
  platform::TCommState c;
  c.baudRate = s.baudRate;
  c.flags = s.flags;
  c.xonLim = s.xonLim;
  c.xoffLim = s.xoffLim;
  c.byteSize = s.byteSize;
  c.parity = s.parity;
  c.stopBits = s.stopBits;
  c.xonChar = s.xonChar;
  c.xoffChar = s.xoffChar;
  return c;
}

TQsLineSettings FromCommState(const platform::TCommState& c) {
  return TQsLineSettings{c.baudRate, c.flags, c.xonLim, c.xoffLim, c.byteSize, c.parity, c.stopBits, c.xonChar, c.xoffChar};
}

}  // namespace

TQsWin32Dispatcher::TQsWin32Dispatcher(platform::TComponent* port) : TQsBaseDispatcher(port) {}

TQsWin32Dispatcher::~TQsWin32Dispatcher() { Destroy(); }

int TQsWin32Dispatcher::DeviceOpen(const std::string& name, int /*inSize*/, int /*outSize*/) {
  int error = 0;
  device_ = TSerialDevice::Open(name, error);
  lastError_ = error;
  if (!device_) {
    if (error == platform::kSysErrNotEnoughMemory) return -8;
    errno = error;  // the opener reports the system error
    return -1;
  }
  return device_->Handle();
}

void TQsWin32Dispatcher::CancelServiceWaits() {
  SetStopRequested(true);
  if (device_) device_->SetEventMask(0);
  if (platform::TSyncEvent* passDone = PassDoneEvent()) passDone->Set();
  if (platform::TSyncEvent* ack = AckEvent()) ack->Reset();
}

int TQsWin32Dispatcher::DeviceClose() {
  if (Started()) CancelServiceWaits();
  if (!device_) return -1;
  int error = 0;
  if (!device_->Close(error)) {
    errno = error;
    return -1;
  }
  SetDeviceId(-1);
  return 0;
}

int TQsWin32Dispatcher::DeviceEscape(int func) {
  if (!device_) return 0;
  if (func == kEscGetBaseAddress) return device_->BaseAddress();
  device_->Escape(func);
  return 0;
}

int TQsWin32Dispatcher::DeviceFlush(int queue) {
  if (!device_) return -platform::kSysErrInvalidHandle;
  if (queue == 1) return -device_->Purge(platform::kPurgeRxAbort | platform::kPurgeRxClear);
  if (OutputThreadRunning() && FlushEvent() != nullptr && AckEvent() != nullptr) {
    // The ring is handed back only after the output thread let go of it. A stale acknowledgement
    // must not count, and an output thread that ends meanwhile never answers.
    AckEvent()->Reset();
    FlushEvent()->Set();
    while (!AckEvent()->Wait(kDispatchWaitMs)) {
      if (!OutputThreadRunning()) break;
    }
  }
  // Emptied and purged in one step under the lock, so that no send falls between the two.
  Guard out(OutputLock());
  if (OutRing().Allocated()) OutRing().Clear();
  return -device_->Purge(platform::kPurgeTxAbort | platform::kPurgeTxClear);
}

int TQsWin32Dispatcher::DeviceStatus(TDeviceStatus& status) {
  std::uint32_t errors = 0;
  std::uint32_t inCount = 0;
  if (!device_ || !device_->ClearError(errors, inCount)) {
    errors = 0;
    inCount = 0;
  }
  status.inCount = inCount;
  Guard out(OutputLock());
  status.outCount = OutRing().Allocated() ? static_cast<std::uint32_t>(OutRing().Pending()) : 0;
  return static_cast<int>(errors);
}

int TQsWin32Dispatcher::DeviceReadFailed(int /*code*/) { return 0; }

int TQsWin32Dispatcher::DeviceGetState(TQsLineSettings& settings) {
  platform::TCommState state;
  if (!device_ || !device_->GetState(state)) return -1;
  settings = FromCommState(state);
  return 0;
}

int TQsWin32Dispatcher::DeviceSetState(const TQsLineSettings& settings) {
  if (!device_) return -platform::kSysErrInvalidHandle;
  return -device_->SetState(ToCommState(settings));
}

int TQsWin32Dispatcher::DeviceRead(std::uint8_t* buf, int size) {
  if (!device_) return 0;
  const int n = device_->Read(buf, size);
  return n > 0 ? n : 0;  // a failed read is no data
}

int TQsWin32Dispatcher::DeviceWrite(const std::uint8_t* buf, int size) {
  {
    Guard out(OutputLock());
    OutRing().Append(buf, size);
  }
  if (platform::TSyncEvent* output = OutputEvent()) output->Set();
  return size;
}

bool TQsWin32Dispatcher::DeviceWaitEvent(std::uint32_t& eventMask) {
  return device_ && device_->WaitEvent(eventMask);
}

bool TQsWin32Dispatcher::DeviceSetup(int inSize, int outSize) {
  int error = platform::kSysErrInvalidHandle;
  if (device_ && device_->Setup(inSize, outSize, error)) return true;
  lastError_ = error;
  errno = error;  // the opener reports the system error, in the layer's numbering as DeviceOpen does
  return false;
}

int TQsWin32Dispatcher::ServiceOnce() {
  std::this_thread::yield();
  return 0;
}

bool TQsWin32Dispatcher::DeviceSetEventMask(std::uint32_t mask) { return device_ && device_->SetEventMask(mask); }

// The output thread took its block from the ring before it called here; a flush (or an append
// that made the ring contiguous again) may have changed the ring since. Each write therefore
// happens under the output lock and only while the block is still what waits at the ring's tail,
// so that bytes a flush discarded never go out after it. A stale block is handed back unsent, and
// the output thread is woken to take the current one.
int TQsWin32Dispatcher::DeviceSend(const std::uint8_t* buf, int len, platform::TSyncEvent& flushEvent) {
  if (!device_) return -1;
  for (;;) {
    int n = 0;
    {
      Guard out(OutputLock());
      if (!BlockIsCurrent(buf, len)) {
        if (platform::TSyncEvent* output = OutputEvent()) output->Set();
        return kDeviceSendFlushed;
      }
      n = device_->Write(buf, len, noWait_);  // one attempt: noWait_ is always set
    }
    if (n != TSerialDevice::kWriteCancelled) return n > 0 ? n : -1;
    const int room = WaitForRoom(flushEvent);
    if (room < 0) return -1;
    if (room == 0) return kDeviceSendFlushed;
  }
}

bool TQsWin32Dispatcher::BlockIsCurrent(const std::uint8_t* buf, int len) {
  if (!OutRing().Allocated()) return false;
  const std::uint8_t* current = nullptr;
  int pending = 0;
  OutRing().NextBlock(current, pending);
  return current == buf && pending >= len;
}

// 1 when the device takes output again, 0 when a flush was asked, -1 when the device is gone.
// The wait looks again every kDispatchWaitMs, so that a device closed meanwhile ends it.
int TQsWin32Dispatcher::WaitForRoom(platform::TSyncEvent& flushEvent) {
  for (;;) {
    if (!device_->IsOpen() || StopRequested()) return -1;
    pollfd fds[2] = {{device_->Handle(), POLLOUT, 0}, {flushEvent.Descriptor(), POLLIN, 0}};
    const int r = poll(fds, 2, kDispatchWaitMs);
    if (r < 0 && errno != EINTR) return -1;
    if ((fds[1].revents & POLLIN) != 0) return 0;
    if ((fds[0].revents & (POLLERR | POLLNVAL)) != 0) return -1;
    if ((fds[0].revents & (POLLOUT | POLLHUP)) != 0) return 1;
  }
}

bool TQsWin32Dispatcher::DeviceModemStatus(std::uint8_t& status) {
  status = 0;
  return device_ && device_->ModemStatus(status);
}

int TQsWin32Dispatcher::DeviceDrainTransmitter() {
  return device_ && device_->DrainTransmitter(kDrainTimeoutMs) ? 0 : -1;
}

bool TQsWin32Dispatcher::PeerGone() const { return device_ && device_->HungUp(); }

// ---- An adopted port ------------------------------------------------------------------------------

TQsTAPI32Dispatcher::TQsTAPI32Dispatcher(platform::TComponent* port, int deviceHandle)
    : TQsWin32Dispatcher(port), adopted_(deviceHandle) {
  SetDeviceId(deviceHandle);
}

TQsTAPI32Dispatcher::~TQsTAPI32Dispatcher() { Destroy(); }

int TQsTAPI32Dispatcher::DeviceOpen(const std::string& /*name*/, int /*inSize*/, int /*outSize*/) {
  // Checked before adopting: descriptor 0 is a real descriptor here, but names no port.
  if (adopted_ <= 0) {
    lastError_ = -kErrCommNotOpen;
    errno = lastError_;
    return kErrCommNotOpen;
  }
  if (!AdoptDevice()) {
    const int error = lastError_;
    DeviceClose();
    errno = error;
    return -1;
  }
  return adopted_;
}

int TQsTAPI32Dispatcher::DeviceGetState(TQsLineSettings& settings) {
  AdoptDevice();
  return TQsWin32Dispatcher::DeviceGetState(settings);
}

bool TQsTAPI32Dispatcher::AdoptDevice() {
  if (device_) {
    if (device_->IsOpen()) return true;
    lastError_ = platform::kSysErrInvalidHandle;  // adopted once and closed since
    return false;
  }
  if (adopted_ <= 0) return false;
  int error = 0;
  device_ = TSerialDevice::Adopt(adopted_, error);
  lastError_ = error;
  return device_ != nullptr;
}
