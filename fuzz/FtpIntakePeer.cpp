#include "fuzz/FtpIntakePeer.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>

namespace fuzzpeer {

namespace {

struct TListener {
  int fd = -1;
  std::uint16_t port = 0;
  TListener() {
    fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 || listen(fd, 16) != 0) std::abort();
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
  }
};

TListener& Listener() {
  static auto* listener = new TListener;
  return *listener;
}

}  // namespace

std::uint16_t ListenerPort() { return Listener().port; }

int AcceptWaiting() {
  pollfd p{Listener().fd, POLLIN, 0};
  if (poll(&p, 1, 0) != 1) return -1;
  const int fd = accept4(Listener().fd, nullptr, nullptr, SOCK_CLOEXEC);
  if (fd >= 0) {
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  }
  return fd;
}

void Send(int fd, const char* bytes, std::size_t count) { (void)send(fd, bytes, count, MSG_NOSIGNAL); }

void Drain(int fd) {
  char scratch[4096];
  while (recv(fd, scratch, sizeof scratch, MSG_DONTWAIT) > 0) {
  }
}

void Close(int fd) { close(fd); }

}  // namespace fuzzpeer
