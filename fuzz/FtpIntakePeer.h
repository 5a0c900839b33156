// The loopback peer of the FTP intake fuzz target, apart from the engine's Winsock names: one
// listener for the whole run, and the connection of the current input.
#pragma once

#include <cstddef>
#include <cstdint>

namespace fuzzpeer {

std::uint16_t ListenerPort();
// The next waiting connection (TCP_NODELAY), or -1 when none waits.
int AcceptWaiting();
void Send(int fd, const char* bytes, std::size_t count);
// Reads and drops what the client sent.
void Drain(int fd);
void Close(int fd);

}  // namespace fuzzpeer
