// Plain BSD-socket peers on 127.0.0.1 for tests of the engine's sockets. Kept apart from the
// Winsock names (which clash with the system headers' macros): this header includes neither.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace peer {

// A listening socket on 127.0.0.1 with a port chosen by the system.
int Listen(std::uint16_t& port);
// A blocking connect to 127.0.0.1:port; -1 when refused.
int Connect(std::uint16_t port);
// Waits up to waitMs for a connection; -1 when none came.
int Accept(int listener, int waitMs = 2000);
// Sends all of data (blocking).
void Send(int fd, std::string_view data);
// Reads what arrives within waitMs (stops early once count bytes came, when count > 0).
std::string Receive(int fd, int waitMs, std::size_t count = 0);
// True when the other end closed (a read returns 0) within waitMs.
bool SeesClose(int fd, int waitMs);
void Close(int fd);
// Closes with a reset instead of an orderly shutdown (SO_LINGER 0).
void Reset(int fd);
// A port on which nothing listens (bound once by the system, then released).
std::uint16_t UnusedPort();

}  // namespace peer
