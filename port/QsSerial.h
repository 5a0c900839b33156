// The serial dispatcher: the device operations of a dispatcher over a serial port, served by the
// three service threads (event, dispatch and output thread). TQsTAPI32Dispatcher adopts a port
// that someone else has opened already.
#pragma once

#include <memory>
#include <string>

#include "comm/QsDispatch.h"
#include "platform/Serial.h"

class TQsWin32Dispatcher : public TQsBaseDispatcher {
 public:
  explicit TQsWin32Dispatcher(platform::TComponent* port);
  ~TQsWin32Dispatcher() override;

  // name is "\\.\COMn". The handle, or -1 with errno set to the system error (2 or 3: no such
  // port, 5: another program holds it); -8 when the wait objects cannot be made.
  int DeviceOpen(const std::string& name, int inSize, int outSize) override;
  int DeviceClose() override;
  int DeviceEscape(int func) override;
  int DeviceFlush(int queue) override;
  int DeviceStatus(TDeviceStatus& status) override;
  int DeviceReadFailed(int code) override;
  int DeviceGetState(TQsLineSettings& settings) override;
  int DeviceSetState(const TQsLineSettings& settings) override;
  int DeviceRead(std::uint8_t* buf, int size) override;
  int DeviceWrite(const std::uint8_t* buf, int size) override;
  bool DeviceWaitEvent(std::uint32_t& eventMask) override;
  bool DeviceSetup(int inSize, int outSize) override;
  int ServiceOnce() override;
  bool DeviceSetEventMask(std::uint32_t mask) override;
  int DeviceSend(const std::uint8_t* buf, int len, platform::TSyncEvent& flushEvent) override;
  bool DeviceModemStatus(std::uint8_t& status) override;
  int DeviceDrainTransmitter() override;

  // The system error of the last failed open (0 after a successful one).
  int LastError() const { return lastError_; }
  // The other end of the line went away.
  bool PeerGone() const;

 protected:
  // The device once open; kept after close until the dispatcher goes, so that a service thread
  // still inside an operation never meets a freed object.
  std::unique_ptr<platform::TSerialDevice> device_;
  int lastError_ = 0;

 private:
  void CancelServiceWaits();
  // Under the output lock: buf and len are still the pending bytes at the ring's tail.
  bool BlockIsCurrent(const std::uint8_t* buf, int len);
  int WaitForRoom(platform::TSyncEvent& flushEvent);

  platform::TSyncEvent noWait_{platform::TSyncEvent::rmManual, true};
};

class TQsTAPI32Dispatcher : public TQsWin32Dispatcher {
 public:
  // deviceHandle is the descriptor of the already open port (0: none).
  TQsTAPI32Dispatcher(platform::TComponent* port, int deviceHandle);
  ~TQsTAPI32Dispatcher() override;

  // The adopted handle, or -2007 ("device not open") when there is none.
  int DeviceOpen(const std::string& name, int inSize, int outSize) override;
  // The settings telephony left on the device; readable before the opening, which is when the
  // port component takes them over.
  int DeviceGetState(TQsLineSettings& settings) override;

 private:
  // Takes the descriptor over at its first use; false when there is none or it cannot be.
  bool AdoptDevice();

  int adopted_;
};
