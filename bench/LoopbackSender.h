// A plain loopback connection for the socket benchmarks: a listener, a blocking client, and a
// sender that writes a fixed number of bytes. Kept apart from the socket names of the engine.
#pragma once

#include <cstddef>
#include <cstdint>

namespace benchpeer {

// A listening socket on 127.0.0.1 with a port chosen by the system.
int Listen(std::uint16_t& port);
int Accept(int listener);
int Connect(std::uint16_t port);
// Sends count bytes of a repeating pattern (blocking).
void SendBytes(int fd, std::size_t count);
// Receives until count bytes came or the peer closed, at most readSize (up to 64 KiB) per recv;
// the number received.
std::size_t ReceiveBytes(int fd, std::size_t count, std::size_t readSize = 65536);
void Close(int fd);

}  // namespace benchpeer
