#include "bench/LoopbackSender.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

namespace benchpeer {
namespace {

sockaddr_in Loopback(std::uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

}  // namespace

int Listen(std::uint16_t& port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a = Loopback(0);
  bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  listen(fd, 4);
  socklen_t len = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  port = ntohs(a.sin_port);
  return fd;
}

int Accept(int listener) { return accept(listener, nullptr, nullptr); }

int Connect(std::uint16_t port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a = Loopback(port);
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

void SendBytes(int fd, std::size_t count) {
  static const std::vector<char> block = [] {
    std::vector<char> b(65536);
    for (std::size_t i = 0; i < b.size(); ++i) b[i] = static_cast<char>('a' + i % 23);
    return b;
  }();
  while (count > 0) {
    const ssize_t n = send(fd, block.data(), std::min(count, block.size()), MSG_NOSIGNAL);
    if (n <= 0) return;
    count -= static_cast<std::size_t>(n);
  }
}

std::size_t ReceiveBytes(int fd, std::size_t count, std::size_t readSize) {
  char buf[65536];
  readSize = std::clamp<std::size_t>(readSize, 1, sizeof buf);
  std::size_t got = 0;
  while (got < count) {
    const ssize_t n = recv(fd, buf, std::min(readSize, count - got), 0);
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  return got;
}

void Close(int fd) { close(fd); }

}  // namespace benchpeer
