#include "tests/support/LoopbackPeer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace peer {
namespace {

sockaddr_in Loopback(std::uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

bool WaitReadable(int fd, int waitMs) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, waitMs) > 0;
}

}  // namespace

int Listen(std::uint16_t& port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a = Loopback(0);
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd, 8) != 0)
    throw std::runtime_error("peer: cannot listen");
  socklen_t len = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  port = ntohs(a.sin_port);
  return fd;
}

int Connect(std::uint16_t port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a = Loopback(port);
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

int Accept(int listener, int waitMs) {
  if (!WaitReadable(listener, waitMs)) return -1;
  return accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
}

void Send(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t n = send(fd, data.data(), data.size(), MSG_NOSIGNAL);
    if (n <= 0) throw std::runtime_error("peer: send failed");
    data.remove_prefix(static_cast<std::size_t>(n));
  }
}

std::string Receive(int fd, int waitMs, std::size_t count) {
  std::string got;
  char buf[65536];
  while ((count == 0 || got.size() < count) && WaitReadable(fd, waitMs)) {
    ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n <= 0) break;
    got.append(buf, static_cast<std::size_t>(n));
  }
  return got;
}

bool SeesClose(int fd, int waitMs) {
  char buf[4096];
  while (WaitReadable(fd, waitMs)) {
    ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n <= 0) return true;
  }
  return false;
}

void Close(int fd) { close(fd); }

void Reset(int fd) {
  linger l{1, 0};
  setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
  close(fd);
}

std::uint16_t UnusedPort() {
  std::uint16_t port = 0;
  close(Listen(port));
  return port;
}

}  // namespace peer
