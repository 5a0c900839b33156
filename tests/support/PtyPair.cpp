#include "tests/support/PtyPair.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace testsupport {

TPtyPair::TPtyPair() {
  char name[256] = {};
  if (openpty(&peerFd_, &portFd_, name, nullptr, nullptr) != 0) throw std::runtime_error("openpty failed");
  portPath_ = name;
  fcntl(peerFd_, F_SETFL, fcntl(peerFd_, F_GETFL) | O_NONBLOCK);
  fcntl(peerFd_, F_SETFD, FD_CLOEXEC);
  fcntl(portFd_, F_SETFD, FD_CLOEXEC);
  // A raw line from the start, so that nothing the peer sends is edited or echoed before the
  // port end takes its own settings.
  termios t{};
  tcgetattr(portFd_, &t);
  cfmakeraw(&t);
  tcsetattr(portFd_, TCSANOW, &t);
}

TPtyPair::~TPtyPair() {
  if (peerFd_ >= 0) close(peerFd_);
  if (portFd_ >= 0) close(portFd_);
}

bool TPtyPair::Send(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = write(peerFd_, bytes.data(), bytes.size());
    if (n > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
    pollfd p{peerFd_, POLLOUT, 0};
    if (poll(&p, 1, 5000) <= 0) return false;
  }
  return true;
}

std::string TPtyPair::Receive(std::size_t want, std::chrono::milliseconds timeout) {
  std::string got;
  const auto end = std::chrono::steady_clock::now() + timeout;
  char buf[4096];
  while (got.size() < want) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd p{peerFd_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
    const ssize_t n = read(peerFd_, buf, sizeof buf);
    if (n <= 0) break;
    got.append(buf, static_cast<std::size_t>(n));
  }
  return got;
}

std::size_t TPtyPair::Discard() {
  std::size_t total = 0;
  char buf[4096];
  for (;;) {
    const ssize_t n = read(peerFd_, buf, sizeof buf);
    if (n <= 0) return total;
    total += static_cast<std::size_t>(n);
  }
}

void TPtyPair::ClosePeer() {
  if (peerFd_ >= 0) close(peerFd_);
  peerFd_ = -1;
}

TSerialFolder::TSerialFolder() {
  char pattern[] = "/tmp/qs-serial-XXXXXX";
  if (mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
  if (const char* old = getenv("QUILLSTAGE_SERIAL_DIR")) {
    previous_ = old;
    hadPrevious_ = true;
  }
  setenv("QUILLSTAGE_SERIAL_DIR", path_.c_str(), 1);
}

TSerialFolder::~TSerialFolder() {
  if (hadPrevious_) {
    setenv("QUILLSTAGE_SERIAL_DIR", previous_.c_str(), 1);
  } else {
    unsetenv("QUILLSTAGE_SERIAL_DIR");
  }
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

void TSerialFolder::Link(int number, const std::string& target) {
  std::filesystem::create_symlink(target, path_ / ("COM" + std::to_string(number)));
}

std::string TSerialFolder::PortName(int number) { return "\\\\.\\COM" + std::to_string(number); }

}  // namespace testsupport
