// Telnet handling of a Winsock connection: the receive filter that removes telnet commands and
// answers option negotiation as a simple client, and the escaping of sent bytes. Pure byte
// processing; the connection supplies the held bytes and a sink for answers and log entries.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace telnet {

constexpr std::uint8_t IAC = 255, SE = 240, SB = 250, WILL = 251, WONT = 252, DO = 253, DONT = 254;
constexpr std::uint8_t OptBinary = 0, OptEcho = 1, OptSuppressGoAhead = 3, OptTerminalType = 24;
constexpr std::uint8_t CR = 13, LF = 10, NUL = 0;

// Log sub-types of the dispatch log's "Telnet" entries.
enum TTelnetLogSubtype : int {
  tlsSentWill = 20, tlsSentWont = 21, tlsSentDo = 22, tlsSentDont = 23,
  tlsRecvWill = 24, tlsRecvWont = 25, tlsRecvDo = 26, tlsRecvDont = 27,
  tlsCommand = 28, tlsSentTerm = 29,
};

// What the filter needs from its connection.
class TTelnetSink {
 public:
  virtual ~TTelnetSink() = default;
  // Sends an answer at once on the data socket (not through the send ring; not retried).
  virtual void SendAnswer(const std::uint8_t* bytes, std::size_t count) = 0;
  // Records a dispatch-log entry (the sink decides whether the log is on).
  virtual void LogTelnet(TTelnetLogSubtype subtype, std::uint32_t value, const std::string& data) = 0;
};

// The held bytes of a ring: count bytes starting at a read position, wrapping at the ring's end.
struct THeldBytes {
  const std::uint8_t* ring;
  std::size_t capacity;
  std::size_t start;
  std::size_t count;
  std::uint8_t operator[](std::size_t i) const { return ring[(start + i) % capacity]; }
};

struct TFilterResult {
  std::size_t consumed = 0;   // bytes to remove from the ring (delivered or swallowed)
  std::size_t delivered = 0;  // bytes placed in the output
};

// Per-connection telnet state.
class TTelnetState {
 public:
  bool BinaryMode() const { return binaryMode_; }

  // Filters held bytes into out (at most room bytes). An incomplete sequence at the end stays held.
  // A subnegotiation that never ends cannot block the connection: once it fills the whole ring
  // (ringFull), its bytes are dropped until its end arrives.
  TFilterResult FilterInput(const THeldBytes& held, std::uint8_t* out, std::size_t room, bool ringFull,
                            TTelnetSink& sink, const std::string& terminalType);

  // True when the first n held bytes (n <= held.count) are ordinary ones that the filter delivers
  // as they are: no command, no CR while binary mode is off, no subnegotiation being dropped.
  bool PassesUnchanged(const THeldBytes& held, std::size_t n) const;

  // The stored form of source byte i of count: 1 or 2 bytes into form; returns their number.
  // While binary mode is off, a 13 that ends the source is sent as 13 0 (its next byte is unknown).
  std::size_t EscapeOutput(const std::uint8_t* source, std::size_t i, std::size_t count, std::uint8_t form[2]) const;

 private:
  void Negotiate(std::uint8_t command, std::uint8_t option, TTelnetSink& sink);
  void AnswerTerminalType(TTelnetSink& sink, const std::string& terminalType);

  bool binaryMode_ = false;
  bool droppingSubnegotiation_ = false;
};

}  // namespace telnet
