// Opening and closing a serial device, its event wait and its reads and writes.
#include "platform/Serial.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>

namespace platform {

namespace {

// How often a device with modem lines or error counters is looked at while a wait runs: the
// kernel tells descriptor waits nothing about line changes.
constexpr int kLineCheckMs = 100;

bool IsDirectory(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

int OpenError(int err, const std::string& path) {
  switch (err) {
    case ENOENT: {
      const auto slash = path.rfind('/');
      const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
      return IsDirectory(folder) ? kSysErrFileNotFound : kSysErrPathNotFound;
    }
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
      return kSysErrPathNotFound;
    case EACCES:
    case EPERM:
    case EBUSY:
      return kSysErrAccessDenied;
    case ENXIO:
    case ENODEV:
    case EIO:  // a serial port name without a UART behind it
      return kSysErrFileNotFound;
    case ENOMEM:
    case EMFILE:
    case ENFILE:
      return kSysErrNotEnoughMemory;
    default:
      return kSysErrGenFailure;
  }
}

void Signal(int eventFd) {
  const std::uint64_t one = 1;
  [[maybe_unused]] ssize_t r = write(eventFd, &one, sizeof one);
}

void Drain(int eventFd) {
  std::uint64_t count = 0;
  [[maybe_unused]] ssize_t r = read(eventFd, &count, sizeof count);
}

}  // namespace

std::string SerialDevicePath(const std::string& name) {
  std::string_view n = name;
  if (n.starts_with("\\\\.\\")) n.remove_prefix(4);
  if (n.size() < 4 || n.size() > 9) return {};
  for (int i = 0; i < 3; ++i) {
    if (std::toupper(static_cast<unsigned char>(n[i])) != "COM"[i]) return {};
  }
  int number = 0;
  for (char c : n.substr(3)) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return {};
    number = number * 10 + (c - '0');
  }
  if (number < 1) return {};
  if (const char* folder = std::getenv("QUILLSTAGE_SERIAL_DIR"); folder != nullptr && *folder != '\0') {
    return std::string(folder) + "/COM" + std::to_string(number);
  }
  return "/dev/ttyS" + std::to_string(number - 1);
}

TSerialDevice::TSerialDevice(int fd, bool owned) : fd_(fd), owned_(owned) {
  // What termios cannot hold starts as a freshly opened port has it.
  shadow_.flags = kCommDtrEnable | kCommRtsEnable;
  shadow_.xonLim = 2048;
  shadow_.xoffLim = 512;
}

TSerialDevice::~TSerialDevice() {
  if (!closed_.load()) {
    int ignored = 0;
    Close(ignored);
  }
  for (int fd : {epollFd_, wakeFd_, closedFd_}) {
    if (fd >= 0) close(fd);
  }
}

std::unique_ptr<TSerialDevice> TSerialDevice::Open(const std::string& name, int& systemError) {
  const std::string path = SerialDevicePath(name);
  if (path.empty()) {
    systemError = kSysErrFileNotFound;
    return nullptr;
  }
  // Non-blocking, so that a port waiting for carrier does not hold the caller.
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    systemError = OpenError(errno, path);
    return nullptr;
  }
  if (!isatty(fd)) {
    close(fd);
    systemError = kSysErrFileNotFound;
    return nullptr;
  }
  // The lock keeps out every other open, also a privileged one that TIOCEXCL would let through.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int err = errno;
    close(fd);
    systemError = err == EWOULDBLOCK ? kSysErrAccessDenied : OpenError(err, path);
    return nullptr;
  }
  std::unique_ptr<TSerialDevice> device(new TSerialDevice(fd, true));
  device->exclusive_ = ioctl(fd, TIOCEXCL) == 0;
  if (!device->MakeWaitObjects()) {
    systemError = kSysErrNotEnoughMemory;
    return nullptr;
  }
  device->ProbeFeatures();
  systemError = 0;
  return device;
}

std::unique_ptr<TSerialDevice> TSerialDevice::Adopt(int fd, int& systemError) {
  std::unique_ptr<TSerialDevice> device(new TSerialDevice(fd, true));
  if (!device->MakeWaitObjects()) {
    device->owned_ = false;  // the descriptor stays with whoever gave it
    systemError = kSysErrNotEnoughMemory;
    return nullptr;
  }
  // Our reads must not block; the rest of the device's settings stay as its opener made them.
  const int fl = fcntl(fd, F_GETFL);
  if (fl >= 0) fcntl(fd, F_SETFL, fl | O_NONBLOCK);
  device->ProbeFeatures();
  systemError = 0;
  return device;
}

bool TSerialDevice::MakeWaitObjects() {
  epollFd_ = epoll_create1(EPOLL_CLOEXEC);
  wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  closedFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (epollFd_ < 0 || wakeFd_ < 0 || closedFd_ < 0) return false;
  epoll_event ev{};
  ev.events = EPOLLIN;
  ev.data.fd = wakeFd_;
  if (epoll_ctl(epollFd_, EPOLL_CTL_ADD, wakeFd_, &ev) != 0) return false;
  ev.data.fd = closedFd_;
  if (epoll_ctl(epollFd_, EPOLL_CTL_ADD, closedFd_, &ev) != 0) return false;
  // Edge-triggered: data is reported when it arrives, not again while it waits unread (a full
  // input ring must not turn the wait into a spin).
  ev.events = EPOLLIN | EPOLLET;
  ev.data.fd = fd_;
  // A descriptor that cannot be watched still opens: its waits then end only by mask or close.
  epoll_ctl(epollFd_, EPOLL_CTL_ADD, fd_, &ev);
  return true;
}

bool TSerialDevice::Setup(int /*inSize*/, int /*outSize*/, int& systemError) {
  std::shared_lock use(useLock_);
  systemError = kSysErrInvalidHandle;
  if (closed_.load()) return false;
  termios t{};
  if (tcgetattr(fd_, &t) != 0) {
    systemError = SystemErrorOf(errno);
    return false;
  }
  cfmakeraw(&t);
  t.c_cflag |= CLOCAL | CREAD;
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  if (tcsetattr(fd_, TCSANOW, &t) != 0) {
    systemError = SystemErrorOf(errno);
    return false;
  }
  systemError = 0;
  return true;
}

bool TSerialDevice::Close(int& systemError) {
  if (closed_.exchange(true)) {
    systemError = kSysErrInvalidHandle;
    return false;
  }
  Signal(closedFd_);  // ends the waits and writes in progress, which hold the use lock
  std::unique_lock use(useLock_);
  if (exclusive_) ioctl(fd_, TIOCNXCL);  // the flag outlives our descriptor on a pseudo-terminal
  const int r = owned_ ? close(fd_) : 0;
  const int err = errno;
  fd_ = -1;
  if (r != 0 && err != EINTR) {  // after EINTR the descriptor is closed all the same
    systemError = err == EBADF ? kSysErrInvalidHandle : kSysErrGenFailure;
    return false;
  }
  systemError = 0;
  return true;
}

bool TSerialDevice::SetEventMask(std::uint32_t mask) {
  if (closed_.load()) return false;
  eventMask_.store(mask);
  Signal(wakeFd_);
  return true;
}

std::uint32_t TSerialDevice::HangUpEvents() {
  if (hungUp_.exchange(true)) return 0;
  // A hung-up tty stays readable for ever: stop watching it.
  epoll_ctl(epollFd_, EPOLL_CTL_DEL, fd_, nullptr);
  return kCommEvRlsd | kCommEvCts | kCommEvDsr;
}

bool TSerialDevice::WaitEvent(std::uint32_t& events) {
  std::shared_lock use(useLock_);
  events = 0;
  for (;;) {
    if (closed_.load()) return false;
    const std::uint32_t mask = eventMask_.load();
    if (mask == 0) return true;
    if (const std::uint32_t found = pendingEvents_.exchange(0) & mask; found != 0) {
      events = found;
      return true;
    }
    epoll_event ready[3];
    const int timeout = (hasModemLines_ || hasCounters_) ? kLineCheckMs : -1;
    const int n = epoll_wait(epollFd_, ready, 3, timeout);
    if (n < 0 && errno != EINTR) return false;
    std::uint32_t found = 0;
    for (int i = 0; i < n; ++i) {
      if (ready[i].data.fd == closedFd_) return false;
      if (ready[i].data.fd == wakeFd_) {
        Drain(wakeFd_);
        continue;
      }
      if ((ready[i].events & (EPOLLHUP | EPOLLERR)) != 0) found |= HangUpEvents();
      if ((ready[i].events & EPOLLIN) != 0) found |= kCommEvRxChar;
    }
    if (hasModemLines_ || hasCounters_) found |= CheckLinesAndCounters();
    pendingEvents_.fetch_or(found);
  }
}

int TSerialDevice::Read(std::uint8_t* buf, int size) {
  std::shared_lock use(useLock_);
  if (closed_.load() || size <= 0) return closed_.load() ? -1 : 0;
  for (;;) {
    const ssize_t n = read(fd_, buf, static_cast<std::size_t>(size));
    if (n >= 0) return static_cast<int>(n);
    if (errno == EINTR) continue;
    return errno == EAGAIN ? 0 : -1;
  }
}

int TSerialDevice::Write(const std::uint8_t* buf, int size, TSyncEvent& cancel) {
  std::shared_lock use(useLock_);
  if (size <= 0) return 0;
  for (;;) {
    if (closed_.load()) return -1;
    const ssize_t n = write(fd_, buf, static_cast<std::size_t>(size));
    if (n > 0) return static_cast<int>(n);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) return -1;
    pollfd fds[3] = {{fd_, POLLOUT, 0}, {cancel.Descriptor(), POLLIN, 0}, {closedFd_, POLLIN, 0}};
    if (poll(fds, 3, -1) < 0 && errno != EINTR) return -1;
    if ((fds[1].revents & POLLIN) != 0) return kWriteCancelled;
    if ((fds[2].revents & POLLIN) != 0) return -1;
    if ((fds[0].revents & (POLLERR | POLLNVAL)) != 0) return -1;
  }
}

}  // namespace platform
