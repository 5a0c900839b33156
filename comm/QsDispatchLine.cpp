// Serial line state on top of the device operations: speed and framing, DTR and RTS, hardware
// and software flow control, modem status, line errors and the RS-485 turn-around.
#include <chrono>
#include <thread>

#include "comm/QsDispatch.h"

namespace {

void SleepMilliseconds(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

}  // namespace

int TQsBaseDispatcher::SetLineSettings(std::uint32_t baud, std::uint8_t parity, std::uint8_t dataBits,
                                       std::uint8_t stopBits) {
  Guard state(stateLock_);
  TQsLineSettings current = lineSettings_;
  DeviceGetState(current);
  const std::uint32_t newBaud = baud == kKeepBaud ? current.baudRate : baud;
  const std::uint8_t newParity = parity == kKeepParity ? current.parity : parity;
  const std::uint8_t newSize = dataBits == kKeepDataBits ? current.byteSize : dataBits;
  std::uint8_t newStop = current.stopBits;
  if (stopBits != kKeepStopBits) {
    const int count = stopBits == 0 ? 1 : (stopBits > 2 ? 2 : stopBits);
    newStop = count == 1 ? 0 : 2;
  }
  if (newSize == 5 && !(dataBits == kKeepDataBits && stopBits == kKeepStopBits)) newStop = 1;
  if (newBaud == current.baudRate && newParity == current.parity && newSize == current.byteSize &&
      newStop == current.stopBits) {
    return 0;
  }
  state.unlock();  // the drain polls the output counts, whose lock comes first
  DrainOutput();
  state.lock();
  DeviceGetState(lineSettings_);
  lineSettings_.baudRate = newBaud;
  lineSettings_.parity = newParity;
  lineSettings_.byteSize = newSize;
  lineSettings_.stopBits = newStop;
  return ApplyState(lineSettings_);
}

void TQsBaseDispatcher::GetLineSettings(std::uint32_t& baud, std::uint8_t& parity, std::uint8_t& stopBits,
                                        std::uint8_t& dataBits) {
  Guard state(stateLock_);
  TQsLineSettings record = lineSettings_;
  DeviceGetState(record);
  baud = TranslateBaudCode(record.baudRate);
  parity = record.parity;
  stopBits = record.stopBits != 0 ? 2 : 1;
  dataBits = record.byteSize;
}

int TQsBaseDispatcher::ApplyState(TQsLineSettings& settings) {
  Guard state(stateLock_);
  if (!dtrByFlow_) settings.flags = (settings.flags & ~kDcbDtrControlMask) | (dtrWanted_ ? kDcbDtrEnable : 0);
  if (!rtsByFlow_) settings.flags = (settings.flags & ~kDcbRtsControlMask) | (rtsWanted_ ? kDcbRtsEnable : 0);
  const int r = DeviceSetState(settings);
  appliedBaud_ = settings.baudRate;
  DriveDTR(dtrWanted_);
  if (!Rs485On()) DriveRTS(rtsWanted_);
  return r;
}

void TQsBaseDispatcher::DrainOutput() {
  for (int i = 0; i < 5000 && OutputCount() > 0; ++i) SleepMilliseconds(2);
  TQsLineSettings record;
  std::uint32_t baud;
  {
    Guard state(stateLock_);
    record = lineSettings_;
    DeviceGetState(record);
    baud = TranslateBaudCode(appliedBaud_);
  }
  if (baud == 0) baud = 115200;  // a device that reports no rate must not divide by zero
  const int bits = record.byteSize + 2 + (record.parity != 0 ? 1 : 0) + (record.stopBits != 0 ? 1 : 0);
  std::uint64_t tenthsOfMicroseconds = static_cast<std::uint64_t>(10'000'000 / baud) * bits * 18;
  if (tenthsOfMicroseconds < 10'000) tenthsOfMicroseconds *= 2;
  SleepMilliseconds(static_cast<int>((tenthsOfMicroseconds + 9'999) / 10'000));
}

int TQsBaseDispatcher::DriveDTR(bool on) {
  Guard state(stateLock_);
  if (dtrByFlow_) return 1;
  const int r = DeviceEscape(on ? kEscSetDtr : kEscClrDtr);
  dtrWanted_ = on;
  return r < 0 ? kErrBadArgument : r;
}

int TQsBaseDispatcher::DriveRTS(bool on) {
  Guard state(stateLock_);
  if (rtsByFlow_) return 1;
  const int r = DeviceEscape(on ? kEscSetRts : kEscClrRts);
  rtsWanted_ = on;
  return r < 0 ? kErrBadArgument : r;
}

int TQsBaseDispatcher::SetHardwareFlow(int bufferFull, int bufferResume, std::uint32_t options) {
  Guard state(stateLock_);
  if (bufferResume < 0 || bufferResume > bufferFull || bufferFull > inSize_) return kErrBadArgument;
  TQsLineSettings& s = lineSettings_;
  s.flags &= ~(kDcbOutxCtsFlow | kDcbOutxDsrFlow | kDcbDtrControlMask | kDcbRtsControlMask);
  dtrByFlow_ = rtsByFlow_ = false;
  if ((options & kHwFlowUseDtr) != 0) {
    s.flags |= kDcbDtrHandshake;
    dtrByFlow_ = true;
  } else if (dtrWanted_) {
    s.flags |= kDcbDtrEnable;
  }
  if ((options & kHwFlowUseRts) != 0) {
    s.flags |= kDcbRtsHandshake;
    rtsByFlow_ = true;
  } else if (rtsWanted_) {
    s.flags |= kDcbRtsEnable;
  }
  s.xoffLim = static_cast<std::uint16_t>(inSize_ - bufferFull);
  s.xonLim = static_cast<std::uint16_t>(bufferResume);
  if ((options & kHwFlowRequireDsr) != 0) s.flags |= kDcbOutxDsrFlow;
  if ((options & kHwFlowRequireCts) != 0) s.flags |= kDcbOutxCtsFlow;
  return ApplyState(s);
}

int TQsBaseDispatcher::SetSoftwareFlow(int bufferFull, int bufferResume, std::uint32_t options) {
  Guard state(stateLock_);
  if (bufferResume < 0 || bufferResume > bufferFull || bufferFull > inSize_) return kErrBadArgument;
  TQsLineSettings& s = lineSettings_;
  if ((options & kSwFlowReceive) != 0) {
    s.flags |= kDcbInX;
    s.xoffLim = static_cast<std::uint16_t>(inSize_ - bufferFull);
    s.xonLim = static_cast<std::uint16_t>(bufferResume);
    s.xonChar = 17;
    s.xoffChar = 19;
  }
  if ((options & kSwFlowTransmit) != 0) {
    s.flags |= kDcbOutX;
    s.xonChar = 17;
    s.xoffChar = 19;
  }
  return ApplyState(s);
}

int TQsBaseDispatcher::ClearSoftwareFlow() {
  Guard state(stateLock_);
  lineSettings_.flags &= ~(kDcbInX | kDcbOutX);
  return ApplyState(lineSettings_);
}

int TQsBaseDispatcher::SetXonXoffChars(char xon, char xoff) {
  Guard state(stateLock_);
  lineSettings_.xonChar = xon;
  lineSettings_.xoffChar = xoff;
  return ApplyState(lineSettings_);
}

TQsFlowOptions TQsBaseDispatcher::ReadFlowOptions() {
  Guard state(stateLock_);
  TQsLineSettings record = lineSettings_;
  TQsFlowOptions options;
  options.result = DeviceGetState(record);
  if ((record.flags & kDcbDtrControlMask) == kDcbDtrHandshake) options.hardware |= kHwFlowUseDtr;
  if ((record.flags & kDcbRtsControlMask) == kDcbRtsHandshake) options.hardware |= kHwFlowUseRts;
  if ((record.flags & kDcbOutxDsrFlow) != 0) options.hardware |= kHwFlowRequireDsr;
  if ((record.flags & kDcbOutxCtsFlow) != 0) options.hardware |= kHwFlowRequireCts;
  if ((record.flags & kDcbOutX) != 0) options.software |= kSwFlowTransmit;
  if ((record.flags & kDcbInX) != 0) options.software |= kSwFlowReceive;
  options.xonChar = record.xonChar;
  options.xoffChar = record.xoffChar;
  return options;
}

std::uint8_t TQsBaseDispatcher::ReadModemBits(std::uint8_t mask) {
  Guard state(stateLock_);
  std::uint8_t status = 0;
  DeviceModemStatus(status);
  auto bits = static_cast<std::uint8_t>((status & 0xF0) | (modemBits_.load() & 0x0F));
  if (ringFlag_.exchange(false)) bits |= kModemRingEnded;
  modemBits_.store(bits & mask);
  return bits;
}

void TQsBaseDispatcher::RefreshModemStatus() {
  Guard state(stateLock_);
  const std::uint8_t old = modemBits_.load();
  ReadModemBits(0xFF);
  const std::uint8_t now = modemBits_.load();
  modemBits_.store(static_cast<std::uint8_t>(now | (((now ^ old) & 0xF0) >> 4)));
}

int TQsBaseDispatcher::TakeLineError() {
  static constexpr struct {
    std::uint32_t bit;
    int code;
  } kOrder[] = {{kLineErrRxOverflow, 1}, {kLineErrOverrun, 2}, {kLineErrParity, 3}, {kLineErrFraming, 4}, {kLineErrBreak, 9}};
  const std::uint32_t errors = lineErrors_.load();
  for (const auto& entry : kOrder) {
    if ((errors & entry.bit) != 0) {
      lineErrors_.fetch_and(~0x0Fu);
      return entry.code;
    }
  }
  return 0;
}

bool TQsBaseDispatcher::TakeLineBreak() { return (lineErrors_.fetch_and(~kLineErrBreak) & kLineErrBreak) != 0; }

void TQsBaseDispatcher::SetRs485(bool on) {
  Guard state(stateLock_);
  rs485On_.store(on);
  if (on) {
    // The device names its base address (or any non-zero token that it can turn the line around).
    const int base = DeviceEscape(kEscGetBaseAddress);
    portBase_ = base > 0 ? static_cast<std::uint16_t>(base) : 0;
  }
  SetServicePriorities();
}
