// Serial devices as the engine's serial transport expects them of the system: a port named
// "\\.\COMn" opened exclusively, its line-settings record, line-control functions, modem status,
// input count and line errors, purges, an event wait that another thread can cancel, and reads
// and writes that never block a thread beyond a wake-up.
//
// "\\.\COMn" is $QUILLSTAGE_SERIAL_DIR/COMn when that variable is set (a link to any tty, which is
// how pseudo-terminals stand in for ports), otherwise /dev/ttyS(n-1). Failures are the system
// error numbers callers of the serial functions know: 2 or 3 for a port that is not there, 5 for
// one that another program holds, 87 for a setting the device cannot take.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>

#include "platform/Threads.h"

namespace platform {

// System error numbers of the serial functions.
constexpr int kSysErrInvalidFunction = 1;
constexpr int kSysErrFileNotFound = 2;
constexpr int kSysErrPathNotFound = 3;
constexpr int kSysErrAccessDenied = 5;
constexpr int kSysErrInvalidHandle = 6;
constexpr int kSysErrNotEnoughMemory = 8;
constexpr int kSysErrGenFailure = 31;
constexpr int kSysErrInvalidParameter = 87;
constexpr int kSysErrIoDevice = 1117;

// The line-settings record (the device control block): the fields a serial user sets.
struct TCommState {
  std::uint32_t baudRate = 0;
  std::uint32_t flags = 0;
  std::uint16_t xonLim = 0;
  std::uint16_t xoffLim = 0;
  std::uint8_t byteSize = 8;
  std::uint8_t parity = 0;    // 0 none, 1 odd, 2 even, 3 mark, 4 space
  std::uint8_t stopBits = 0;  // 0 one, 1 one and a half, 2 two
  char xonChar = 17;
  char xoffChar = 19;
};

// Flag word bits of the record.
constexpr std::uint32_t kCommOutxCtsFlow = 0x0004;
constexpr std::uint32_t kCommOutxDsrFlow = 0x0008;
constexpr std::uint32_t kCommDtrControlMask = 0x0030;
constexpr std::uint32_t kCommDtrEnable = 0x0010;
constexpr std::uint32_t kCommDtrHandshake = 0x0020;
constexpr std::uint32_t kCommOutX = 0x0100;
constexpr std::uint32_t kCommInX = 0x0200;
constexpr std::uint32_t kCommRtsControlMask = 0x3000;
constexpr std::uint32_t kCommRtsEnable = 0x1000;
constexpr std::uint32_t kCommRtsHandshake = 0x2000;
constexpr std::uint32_t kCommRtsToggle = 0x3000;

// Line-control functions (Escape).
constexpr int kCommSetXoff = 1;
constexpr int kCommSetXon = 2;
constexpr int kCommSetRts = 3;
constexpr int kCommClrRts = 4;
constexpr int kCommSetDtr = 5;
constexpr int kCommClrDtr = 6;
constexpr int kCommResetDev = 7;
constexpr int kCommSetBreak = 8;
constexpr int kCommClrBreak = 9;

// Purge flags.
constexpr int kPurgeTxAbort = 0x1;
constexpr int kPurgeRxAbort = 0x2;
constexpr int kPurgeTxClear = 0x4;
constexpr int kPurgeRxClear = 0x8;

// Events of the event wait.
constexpr std::uint32_t kCommEvRxChar = 0x0001;
constexpr std::uint32_t kCommEvCts = 0x0008;
constexpr std::uint32_t kCommEvDsr = 0x0010;
constexpr std::uint32_t kCommEvRlsd = 0x0020;
constexpr std::uint32_t kCommEvBreak = 0x0040;
constexpr std::uint32_t kCommEvErr = 0x0080;
constexpr std::uint32_t kCommEvRing = 0x0100;

// Line errors (ClearError).
constexpr std::uint32_t kCommErrRxOver = 0x01;
constexpr std::uint32_t kCommErrOverrun = 0x02;
constexpr std::uint32_t kCommErrParity = 0x04;
constexpr std::uint32_t kCommErrFrame = 0x08;
constexpr std::uint32_t kCommErrBreak = 0x10;

// Modem status in the UART layout.
constexpr std::uint8_t kCommCtsOn = 0x10;
constexpr std::uint8_t kCommDsrOn = 0x20;
constexpr std::uint8_t kCommRingOn = 0x40;
constexpr std::uint8_t kCommRlsdOn = 0x80;

// The device path "\\.\COMn" (or "COMn") stands for; empty when name is no port name.
std::string SerialDevicePath(const std::string& name);

// The layer's number (kSysErr...) for an errno value that a device operation failed with.
int SystemErrorOf(int err);

class TSerialDevice {
 public:
  // Write's answer when the cancel event was set before anything went out.
  static constexpr int kWriteCancelled = -2;

  // Opens the port for exclusive use in raw mode; nullptr with systemError set on failure.
  static std::unique_ptr<TSerialDevice> Open(const std::string& name, int& systemError);
  // Takes over the descriptor of a device that someone else opened (closing it is then ours);
  // nullptr with systemError kSysErrNotEnoughMemory when the wait objects cannot be made.
  static std::unique_ptr<TSerialDevice> Adopt(int fd, int& systemError);
  ~TSerialDevice();
  TSerialDevice(const TSerialDevice&) = delete;
  TSerialDevice& operator=(const TSerialDevice&) = delete;

  int Handle() const { return fd_; }
  // Prepares the port for the engine: raw characters, no echo, no line editing, receiver on,
  // modem lines ignored for opening. The queue sizes are advice the line discipline does not need.
  // False with systemError (the layer's numbering) when the device refuses.
  bool Setup(int inSize, int outSize, int& systemError);
  bool IsOpen() const { return !closed_.load(); }
  // Ends every wait and write in progress, then closes the descriptor. False (with systemError)
  // when the system refused; the device is closed for this object all the same.
  bool Close(int& systemError);

  // The record as the device holds it; fields the line discipline has no place for keep the
  // last values set.
  bool GetState(TCommState& state);
  // 0, or the system error of a setting the device refused.
  int SetState(const TCommState& state);
  bool Escape(int func);
  // The port's I/O base address, 0 when the device has none.
  int BaseAddress();
  // A device without modem lines (a pseudo-terminal) reports the lines of a three-wire link with
  // looped handshakes: CTS, DSR and carrier on while the other end is there, all off once it hung up.
  bool ModemStatus(std::uint8_t& status);
  bool HasModemLines() const { return hasModemLines_; }
  // The other end went away (the peer of a pseudo-terminal closed, a modem dropped the line).
  bool HungUp() const { return hungUp_.load(); }
  // The line errors since the last call and the bytes waiting to be read.
  bool ClearError(std::uint32_t& errors, std::uint32_t& inCount);
  // 0 or the system error.
  int Purge(int flags);
  // Bytes the device has not sent yet.
  int OutputQueued();
  // Returns once the device has sent everything or timeoutMs passed; false on time-out.
  bool DrainTransmitter(int timeoutMs);

  // The events the next wait reports; 0 ends a wait in progress (it reports no event).
  bool SetEventMask(std::uint32_t mask);
  // Blocks until an event of the mask happens or the mask becomes 0 (events 0). Received data is
  // reported once per arrival, not while it waits unread. False once the device is closed.
  bool WaitEvent(std::uint32_t& events);

  // Reads what is there without waiting: the count (0 when nothing), -1 on failure.
  int Read(std::uint8_t* buf, int size);
  // Writes at least one byte of buf, waiting for room while cancel is not set: the count,
  // kWriteCancelled, or -1 on failure.
  int Write(const std::uint8_t* buf, int size, TSyncEvent& cancel);

 private:
  TSerialDevice(int fd, bool owned);
  bool MakeWaitObjects();
  void ProbeFeatures();
  std::uint32_t CheckLinesAndCounters();
  std::uint8_t ReadModemLines();
  std::uint32_t TakeCounterErrors();
  std::uint32_t HangUpEvents();

  // Atomic: the output thread reads it for its wait while a close on another thread clears it.
  std::atomic<int> fd_;
  bool owned_;
  int epollFd_ = -1;
  int wakeFd_ = -1;    // SetEventMask wakes the waiter
  int closedFd_ = -1;  // set once at close, never drained
  std::atomic<bool> closed_{false};
  std::atomic<bool> hungUp_{false};
  std::atomic<std::uint32_t> eventMask_{0};
  std::atomic<std::uint32_t> pendingEvents_{0};
  std::shared_mutex useLock_;  // shared by every operation, exclusive by Close
  std::mutex recordLock_;      // the error counts and the kept record
  bool exclusive_ = false;
  bool hasModemLines_ = false;
  bool hasCounters_ = false;
  std::uint8_t lastLines_ = 0;
  struct TCounts {
    int frame = 0, overrun = 0, parity = 0, brk = 0, bufOverrun = 0;
  } counts_;
  std::atomic<std::uint32_t> countedErrors_{0};
  TCommState shadow_;  // what termios cannot hold
};

}  // namespace platform
