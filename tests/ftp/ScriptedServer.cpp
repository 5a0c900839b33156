// The scripted FTP server over plain blocking sockets.
#include "tests/ftp/ScriptedServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

#include "tests/support/LoopbackPeer.h"

namespace scripted {

Server::Server(std::vector<Step> script) : script_(std::move(script)) {
  listener_ = peer::Listen(port_);
  thread_ = std::thread([this] { Run(); });
}

Server::~Server() {
  stop_ = true;
  thread_.join();
  for (int fd : {listener_, control_, dataListener_, data_, stranger_})
    if (fd >= 0) ::close(fd);
}

std::string Server::Failure() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return failure_;
}

std::vector<std::string> Server::Extra() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return extra_;
}

void Server::Fail(const std::string& why) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (failure_.empty()) failure_ = why;
}

bool Server::ReadLine(std::string& line, int waitMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
  while (true) {
    const std::size_t eol = pending_.find("\r\n");
    if (eol != std::string::npos) {
      line = pending_.substr(0, eol);
      pending_.erase(0, eol + 2);
      return true;
    }
    if (control_ < 0 || stop_ || std::chrono::steady_clock::now() >= end) return false;
    pollfd p{control_, POLLIN, 0};
    if (::poll(&p, 1, 20) <= 0) continue;
    char buf[4096];
    const ssize_t n = ::recv(control_, buf, sizeof buf, 0);
    if (n <= 0) {
      ::close(control_);
      control_ = -1;
      return false;
    }
    pending_.append(buf, static_cast<std::size_t>(n));
  }
}

bool Server::Play(const Step& step) {
  switch (step.kind) {
    case Step::kSend:
      peer::Send(control_, step.text);
      return true;
    case Step::kExpect: {
      std::string line;
      if (!ReadLine(line, 5000)) {
        Fail("no command, expected " + step.text);
        return false;
      }
      if (line.rfind("PORT ", 0) == 0) lastPort_ = line.substr(5);
      if (line.rfind(step.text, 0) != 0) {
        Fail("got \"" + line + "\", expected " + step.text);
        return false;
      }
      return true;
    }
    case Step::kPassive: {
      std::uint16_t port = 0;
      dataListener_ = peer::Listen(port);
      char reply[96];
      std::snprintf(reply, sizeof reply, "227 Entering Passive Mode (127,0,0,1,%d,%d).\r\n", port >> 8, port & 0xFF);
      peer::Send(control_, reply);
      return true;
    }
    case Step::kAcceptData:
      data_ = peer::Accept(dataListener_, 5000);
      if (data_ < 0) Fail("no data connection");
      return data_ >= 0;
    case Step::kConnectActive: {
      const int port = LastPortNumber();
      if (port < 0) return false;
      data_ = peer::Connect(static_cast<std::uint16_t>(port));
      if (data_ < 0) Fail("cannot connect to the client's port");
      return data_ >= 0;
    }
    case Step::kConnectStranger: {
      const int port = LastPortNumber();
      if (port < 0) return false;
      stranger_ = ::socket(AF_INET, SOCK_STREAM, 0);
      sockaddr_in from{};
      from.sin_family = AF_INET;
      from.sin_addr.s_addr = htonl(0x7F000002);  // 127.0.0.2
      sockaddr_in to{};
      to.sin_family = AF_INET;
      to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      to.sin_port = htons(static_cast<std::uint16_t>(port));
      if (::bind(stranger_, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0 ||
          ::connect(stranger_, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        Fail("the stranger cannot connect");
        return false;
      }
      peer::Send(stranger_, step.text);
      return true;
    }
    case Step::kExpectRefused: {
      const int port = LastPortNumber();
      if (port < 0) return false;
      const int fd = peer::Connect(static_cast<std::uint16_t>(port));
      if (fd >= 0) {
        ::close(fd);
        Fail("the client's data port still takes connections");
        return false;
      }
      return true;
    }
    case Step::kCloseListener:
      ::close(dataListener_);
      dataListener_ = -1;
      return true;
    case Step::kDataSend:
      peer::Send(data_, step.text);
      return true;
    case Step::kDataClose:
      peer::Close(data_);
      data_ = -1;
      return true;
    case Step::kDataReset:
      peer::Reset(data_);
      data_ = -1;
      return true;
    case Step::kClose:
      peer::Close(control_);
      control_ = -1;
      return true;
    case Step::kPause:
      std::this_thread::sleep_for(std::chrono::milliseconds(step.ms));
      return true;
  }
  return false;
}

int Server::LastPortNumber() {
  int h1, h2, h3, h4, p1, p2;
  if (std::sscanf(lastPort_.c_str(), "%d,%d,%d,%d,%d,%d", &h1, &h2, &h3, &h4, &p1, &p2) != 6) {
    Fail("bad PORT " + lastPort_);
    return -1;
  }
  return p1 * 256 + p2;
}

void Server::Run() {
  control_ = peer::Accept(listener_, 5000);
  if (control_ < 0) {
    Fail("no control connection");
    finished_ = true;
    return;
  }
  for (const Step& step : script_)
    if (stop_ || !Play(step)) break;
  finished_ = true;
  // Whatever the client sends after the script is recorded until the test ends.
  std::string line;
  while (!stop_ && control_ >= 0) {
    if (!ReadLine(line, 50)) continue;
    std::lock_guard<std::mutex> lock(mutex_);
    extra_.push_back(line);
  }
}

}  // namespace scripted
