// The line settings of a serial device over termios, its line-control functions, modem status,
// line errors, counts and purges.
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "platform/Serial.h"
#include "platform/SerialTermios.h"

namespace platform {

namespace {

struct TBaud {
  std::uint32_t rate;
  speed_t code;
};

constexpr TBaud kBauds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},         {150, B150},
    {200, B200},         {300, B300},         {600, B600},         {1200, B1200},       {1800, B1800},
    {2400, B2400},       {4800, B4800},       {9600, B9600},       {19200, B19200},     {38400, B38400},
    {57600, B57600},     {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
    {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
};

bool BaudCode(std::uint32_t rate, speed_t& code) {
  for (const TBaud& b : kBauds) {
    if (b.rate == rate) {
      code = b.code;
      return true;
    }
  }
  return false;
}

std::uint32_t BaudRate(speed_t code) {
  for (const TBaud& b : kBauds) {
    if (b.code == code) return b.rate;
  }
  return 0;
}

}  // namespace

int SystemErrorOf(int err) {
  switch (err) {
    case EINVAL: return kSysErrInvalidParameter;
    case EBADF: return kSysErrInvalidHandle;
    case ENOTTY: return kSysErrInvalidFunction;
    case EIO: return kSysErrIoDevice;
    default: return kSysErrGenFailure;
  }
}

bool ValidCommState(const TCommState& s) {
  speed_t code;
  if (!BaudCode(s.baudRate, code)) return false;
  if (s.byteSize < 5 || s.byteSize > 8 || s.parity > 4 || s.stopBits > 2) return false;
  if (s.stopBits == 1 && s.byteSize != 5) return false;
  if (s.stopBits == 2 && s.byteSize == 5) return false;
  if ((s.flags & (kCommOutX | kCommInX)) != 0 && s.xonChar == s.xoffChar) return false;
  return true;
}

namespace {

tcflag_t SizeFlag(std::uint8_t byteSize) {
  switch (byteSize) {
    case 5: return CS5;
    case 6: return CS6;
    case 7: return CS7;
    default: return CS8;
  }
}

std::uint8_t ByteSizeOf(tcflag_t cflag) {
  switch (cflag & CSIZE) {
    case CS5: return 5;
    case CS6: return 6;
    case CS7: return 7;
    default: return 8;
  }
}

}  // namespace

void CommStateToTermios(const TCommState& s, termios& t) {
  t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
  t.c_cflag |= SizeFlag(s.byteSize) | CLOCAL | CREAD;
  if (s.parity != 0) t.c_cflag |= PARENB;
  if (s.parity == 1 || s.parity == 3) t.c_cflag |= PARODD;
  if (s.parity >= 3) t.c_cflag |= CMSPAR;
  if (s.stopBits != 0) t.c_cflag |= CSTOPB;  // with 5-bit characters the UART makes 1.5 of it
  const std::uint32_t rts = s.flags & kCommRtsControlMask;
  if ((s.flags & kCommOutxCtsFlow) != 0 || rts == kCommRtsHandshake) t.c_cflag |= CRTSCTS;
  t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK);
  if ((s.flags & kCommOutX) != 0) t.c_iflag |= IXON;
  if ((s.flags & kCommInX) != 0) t.c_iflag |= IXOFF;
  if (s.parity != 0) t.c_iflag |= INPCK;
  t.c_cc[VSTART] = static_cast<cc_t>(s.xonChar);
  t.c_cc[VSTOP] = static_cast<cc_t>(s.xoffChar);
  speed_t code = B9600;
  BaudCode(s.baudRate, code);
  cfsetispeed(&t, code);
  cfsetospeed(&t, code);
}

void TermiosToCommState(const termios& t, TCommState& s) {
  s.baudRate = BaudRate(cfgetospeed(&t));
  s.byteSize = ByteSizeOf(t.c_cflag);
  if ((t.c_cflag & PARENB) == 0) {
    s.parity = 0;
  } else if ((t.c_cflag & CMSPAR) != 0) {
    s.parity = (t.c_cflag & PARODD) != 0 ? 3 : 4;
  } else {
    s.parity = (t.c_cflag & PARODD) != 0 ? 1 : 2;
  }
  s.stopBits = (t.c_cflag & CSTOPB) == 0 ? 0 : (s.byteSize == 5 ? 1 : 2);
  s.flags &= ~(kCommOutxCtsFlow | kCommOutX | kCommInX);
  const bool hardware = (t.c_cflag & CRTSCTS) != 0;
  const std::uint32_t rts = s.flags & kCommRtsControlMask;
  if (hardware) {
    s.flags |= kCommOutxCtsFlow;
    if (rts != kCommRtsToggle) s.flags = (s.flags & ~kCommRtsControlMask) | kCommRtsHandshake;
  } else if (rts == kCommRtsHandshake) {
    s.flags = (s.flags & ~kCommRtsControlMask) | kCommRtsEnable;
  }
  if ((t.c_iflag & IXON) != 0) s.flags |= kCommOutX;
  if ((t.c_iflag & IXOFF) != 0) s.flags |= kCommInX;
  s.xonChar = static_cast<char>(t.c_cc[VSTART]);
  s.xoffChar = static_cast<char>(t.c_cc[VSTOP]);
}

namespace {

std::uint8_t UartLines(int lines) {
  std::uint8_t status = 0;
  if ((lines & TIOCM_CTS) != 0) status |= kCommCtsOn;
  if ((lines & TIOCM_DSR) != 0) status |= kCommDsrOn;
  if ((lines & TIOCM_RNG) != 0) status |= kCommRingOn;
  if ((lines & TIOCM_CAR) != 0) status |= kCommRlsdOn;
  return status;
}

bool ModemControl(int fd, unsigned long request, int bits) { return ioctl(fd, request, &bits) == 0; }

}  // namespace

bool TSerialDevice::GetState(TCommState& state) {
  std::shared_lock use(useLock_);
  if (closed_.load()) return false;
  termios t{};
  if (tcgetattr(fd_, &t) != 0) return false;
  std::lock_guard record(recordLock_);
  state = shadow_;
  TermiosToCommState(t, state);
  return true;
}

int TSerialDevice::SetState(const TCommState& state) {
  std::shared_lock use(useLock_);
  if (closed_.load()) return kSysErrInvalidHandle;
  if (!ValidCommState(state)) return kSysErrInvalidParameter;
  termios before{};
  if (tcgetattr(fd_, &before) != 0) return SystemErrorOf(errno);
  termios t = before;
  CommStateToTermios(state, t);
  if (tcsetattr(fd_, TCSANOW, &t) != 0) return SystemErrorOf(errno);
  // tcsetattr succeeds when any part was taken: a rate, size or parity the driver kept back (a
  // pseudo-terminal carries 8-bit characters without parity only) is a refusal, and the line
  // goes back to what it was.
  termios now{};
  if (tcgetattr(fd_, &now) != 0) return SystemErrorOf(errno);
  constexpr tcflag_t kFormat = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB;
  if (cfgetospeed(&now) != cfgetospeed(&t) || (now.c_cflag & kFormat) != (t.c_cflag & kFormat)) {
    tcsetattr(fd_, TCSANOW, &before);
    return kSysErrInvalidParameter;
  }
  {
    std::lock_guard record(recordLock_);
    shadow_ = state;
  }
  if (hasModemLines_) {
    const std::uint32_t dtr = state.flags & kCommDtrControlMask;
    ModemControl(fd_, dtr == 0 ? TIOCMBIC : TIOCMBIS, TIOCM_DTR);
    const std::uint32_t rts = state.flags & kCommRtsControlMask;
    const bool rtsOn = rts == kCommRtsEnable || rts == kCommRtsHandshake;
    ModemControl(fd_, rtsOn ? TIOCMBIS : TIOCMBIC, TIOCM_RTS);
  }
  return 0;
}

bool TSerialDevice::Escape(int func) {
  std::shared_lock use(useLock_);
  if (closed_.load()) return false;
  switch (func) {
    case kCommSetXoff: return tcflow(fd_, TCOOFF) == 0;
    case kCommSetXon: return tcflow(fd_, TCOON) == 0;
    case kCommSetRts: return ModemControl(fd_, TIOCMBIS, TIOCM_RTS);
    case kCommClrRts: return ModemControl(fd_, TIOCMBIC, TIOCM_RTS);
    case kCommSetDtr: return ModemControl(fd_, TIOCMBIS, TIOCM_DTR);
    case kCommClrDtr: return ModemControl(fd_, TIOCMBIC, TIOCM_DTR);
    case kCommResetDev: return true;
    case kCommSetBreak: return ioctl(fd_, TIOCSBRK) == 0;
    case kCommClrBreak: return ioctl(fd_, TIOCCBRK) == 0;
    default: return false;
  }
}

int TSerialDevice::BaseAddress() {
  std::shared_lock use(useLock_);
  if (closed_.load()) return 0;
  serial_struct info{};
  if (ioctl(fd_, TIOCGSERIAL, &info) != 0) return 0;
  return static_cast<int>(info.port);
}

void TSerialDevice::ProbeFeatures() {
  int lines = 0;
  hasModemLines_ = ioctl(fd_, TIOCMGET, &lines) == 0;
  if (hasModemLines_) lastLines_ = ReadModemLines();
  serial_icounter_struct counts{};
  hasCounters_ = ioctl(fd_, TIOCGICOUNT, &counts) == 0;
  if (hasCounters_) {
    counts_ = {counts.frame, counts.overrun, counts.parity, counts.brk, counts.buf_overrun};
  }
}

std::uint8_t TSerialDevice::ReadModemLines() {
  int lines = 0;
  return ioctl(fd_, TIOCMGET, &lines) == 0 ? UartLines(lines) : 0;
}

bool TSerialDevice::ModemStatus(std::uint8_t& status) {
  std::shared_lock use(useLock_);
  if (closed_.load()) {
    status = 0;
    return false;
  }
  if (!hasModemLines_) {
    status = hungUp_.load() ? 0 : static_cast<std::uint8_t>(kCommCtsOn | kCommDsrOn | kCommRlsdOn);
    return true;
  }
  int lines = 0;
  if (ioctl(fd_, TIOCMGET, &lines) != 0) {
    status = 0;
    return false;
  }
  status = UartLines(lines);
  return true;
}

std::uint32_t TSerialDevice::TakeCounterErrors() {
  if (!hasCounters_) return 0;
  serial_icounter_struct c{};
  if (ioctl(fd_, TIOCGICOUNT, &c) != 0) return 0;
  std::lock_guard record(recordLock_);
  std::uint32_t errors = 0;
  if (c.buf_overrun != counts_.bufOverrun) errors |= kCommErrRxOver;
  if (c.overrun != counts_.overrun) errors |= kCommErrOverrun;
  if (c.parity != counts_.parity) errors |= kCommErrParity;
  if (c.frame != counts_.frame) errors |= kCommErrFrame;
  if (c.brk != counts_.brk) errors |= kCommErrBreak;
  counts_ = {c.frame, c.overrun, c.parity, c.brk, c.buf_overrun};
  return errors;
}

std::uint32_t TSerialDevice::CheckLinesAndCounters() {
  std::uint32_t events = 0;
  if (hasModemLines_) {
    const std::uint8_t lines = ReadModemLines();
    const std::uint8_t changed = lines ^ lastLines_;
    if ((changed & kCommCtsOn) != 0) events |= kCommEvCts;
    if ((changed & kCommDsrOn) != 0) events |= kCommEvDsr;
    if ((changed & kCommRlsdOn) != 0) events |= kCommEvRlsd;
    if ((changed & lines & kCommRingOn) != 0) events |= kCommEvRing;
    lastLines_ = lines;
  }
  if (const std::uint32_t errors = TakeCounterErrors(); errors != 0) {
    countedErrors_.fetch_or(errors);
    if ((errors & kCommErrBreak) != 0) events |= kCommEvBreak;
    if ((errors & ~kCommErrBreak) != 0) events |= kCommEvErr;
  }
  return events;
}

bool TSerialDevice::ClearError(std::uint32_t& errors, std::uint32_t& inCount) {
  std::shared_lock use(useLock_);
  errors = 0;
  inCount = 0;
  if (closed_.load()) return false;
  int pending = 0;
  const bool ok = ioctl(fd_, FIONREAD, &pending) == 0;
  if (ok && pending > 0) inCount = static_cast<std::uint32_t>(pending);
  errors = countedErrors_.exchange(0) | TakeCounterErrors();
  return ok;
}

int TSerialDevice::Purge(int flags) {
  std::shared_lock use(useLock_);
  if (closed_.load()) return kSysErrInvalidHandle;
  if ((flags & (kPurgeTxAbort | kPurgeTxClear)) != 0 && tcflush(fd_, TCOFLUSH) != 0) return SystemErrorOf(errno);
  if ((flags & (kPurgeRxAbort | kPurgeRxClear)) != 0 && tcflush(fd_, TCIFLUSH) != 0) return SystemErrorOf(errno);
  return 0;
}

int TSerialDevice::OutputQueued() {
  std::shared_lock use(useLock_);
  if (closed_.load()) return 0;
  int queued = 0;
  return ioctl(fd_, TIOCOUTQ, &queued) == 0 ? queued : 0;
}

bool TSerialDevice::DrainTransmitter(int timeoutMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (OutputQueued() > 0) {
    if (closed_.load() || hungUp_.load() || std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

}  // namespace platform
