#include "port/QsTelnet.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace telnet {
namespace {

// The answer to a received command for an option, as a simple client gives it.
std::uint8_t AnswerFor(std::uint8_t command, std::uint8_t option) {
  switch (command) {
    case WILL: return option == OptBinary || option == OptEcho || option == OptSuppressGoAhead ? DO : DONT;
    case WONT: return DONT;
    case DO: return option == OptBinary || option == OptTerminalType ? WILL : WONT;
    default: return WONT;  // DON'T
  }
}

TTelnetLogSubtype ReceivedSubtype(std::uint8_t command) {
  return static_cast<TTelnetLogSubtype>(tlsRecvWill + (command - WILL));
}

TTelnetLogSubtype SentSubtype(std::uint8_t command) {
  return static_cast<TTelnetLogSubtype>(tlsSentWill + (command - WILL));
}

// Index just past the IAC SE that ends a subnegotiation starting at from, or 0 when it has not
// arrived yet.
std::size_t SubnegotiationEnd(const THeldBytes& held, std::size_t from) {
  for (std::size_t i = from; i + 1 < held.count; ++i)
    if (held[i] == IAC && held[i + 1] == SE) return i + 2;
  return 0;
}

// Copies the ordinary bytes from held[from] on, up to the next IAC (or CR when it is special), the
// end of what is held or the room, in one piece per contiguous part of the ring; returns their
// number (at least 1: held[from] itself is ordinary).
std::size_t CopyOrdinaryRun(const THeldBytes& held, std::size_t from, std::uint8_t* out, std::size_t room,
                            bool crSpecial) {
  std::size_t copied = 0;
  std::size_t want = std::min(held.count - from, room);
  while (copied < want) {
    const std::size_t pos = (held.start + from + copied) % held.capacity;
    const std::uint8_t* run = held.ring + pos;
    const std::size_t piece = std::min(want - copied, held.capacity - pos);
    std::size_t n = piece;
    if (const void* iac = std::memchr(run, IAC, n)) n = static_cast<std::size_t>(static_cast<const std::uint8_t*>(iac) - run);
    if (crSpecial) {
      if (const void* cr = std::memchr(run, CR, n)) n = static_cast<std::size_t>(static_cast<const std::uint8_t*>(cr) - run);
    }
    std::memcpy(out + copied, run, n);
    copied += n;
    if (n < piece) break;
  }
  return copied;
}

}  // namespace

void TTelnetState::Negotiate(std::uint8_t command, std::uint8_t option, TTelnetSink& sink) {
  sink.LogTelnet(ReceivedSubtype(command), option, {});
  std::uint8_t answer = AnswerFor(command, option);
  if (option == OptBinary) binaryMode_ = answer == DO || answer == WILL;
  const std::uint8_t bytes[3] = {IAC, answer, option};
  sink.SendAnswer(bytes, sizeof bytes);
  sink.LogTelnet(SentSubtype(answer), option, {});
}

void TTelnetState::AnswerTerminalType(TTelnetSink& sink, const std::string& terminalType) {
  std::vector<std::uint8_t> bytes = {IAC, SB, OptTerminalType, 0};
  bytes.insert(bytes.end(), terminalType.begin(), terminalType.end());
  bytes.push_back(IAC);
  bytes.push_back(SE);
  sink.SendAnswer(bytes.data(), bytes.size());
  sink.LogTelnet(tlsSentTerm, 0, terminalType);
}

TFilterResult TTelnetState::FilterInput(const THeldBytes& held, std::uint8_t* out, std::size_t room, bool ringFull,
                                        TTelnetSink& sink, const std::string& terminalType) {
  std::size_t i = 0, delivered = 0;
  if (droppingSubnegotiation_) {
    std::size_t end = SubnegotiationEnd(held, 0);
    if (end == 0) {
      // Keep a trailing IAC: it may be the start of the closing IAC SE.
      std::size_t keep = held.count > 0 && held[held.count - 1] == IAC ? 1 : 0;
      return {held.count - keep, 0};
    }
    droppingSubnegotiation_ = false;
    i = end;
  }
  while (i < held.count && delivered < room) {
    std::uint8_t b = held[i];
    std::size_t left = held.count - i;
    if (b == IAC) {
      if (left < 2) break;
      std::uint8_t command = held[i + 1];
      if (command == IAC) {
        out[delivered++] = IAC;
        i += 2;
      } else if (command >= WILL) {
        if (left < 3) break;
        Negotiate(command, held[i + 2], sink);
        i += 3;
      } else if (command == SB) {
        std::size_t end = SubnegotiationEnd(held, i + 2);
        if (end == 0) {
          if (i == 0 && ringFull) {
            // It fills the whole ring and can never complete there: drop it as it streams in.
            if (left > 2 && held[i + 2] == OptTerminalType) AnswerTerminalType(sink, terminalType);
            droppingSubnegotiation_ = true;
            std::size_t keep = held[held.count - 1] == IAC ? 1 : 0;
            return {held.count - keep, 0};
          }
          break;
        }
        if (held[i + 2] == OptTerminalType) AnswerTerminalType(sink, terminalType);
        i = end;
      } else {
        sink.LogTelnet(tlsCommand, command, {});
        i += 2;
      }
    } else if (b == CR && !binaryMode_) {
      if (left < 2) break;
      out[delivered++] = CR;
      i += held[i + 1] == NUL ? 2 : 1;
    } else {
      const std::size_t n = CopyOrdinaryRun(held, i, out + delivered, room - delivered, !binaryMode_);
      delivered += n;
      i += n;
    }
  }
  return {i, delivered};
}

bool TTelnetState::PassesUnchanged(const THeldBytes& held, std::size_t n) const {
  if (droppingSubnegotiation_) return false;
  for (std::size_t done = 0; done < n;) {
    const std::size_t pos = (held.start + done) % held.capacity;
    const std::size_t piece = std::min(n - done, held.capacity - pos);
    const std::uint8_t* run = held.ring + pos;
    if (std::memchr(run, IAC, piece) != nullptr) return false;
    if (!binaryMode_ && std::memchr(run, CR, piece) != nullptr) return false;
    done += piece;
  }
  return true;
}

std::size_t TTelnetState::EscapeOutput(const std::uint8_t* source, std::size_t i, std::size_t count,
                                       std::uint8_t form[2]) const {
  std::uint8_t b = source[i];
  form[0] = b;
  if (b == IAC) {
    form[1] = IAC;
    return 2;
  }
  if (b == CR && !binaryMode_ && (i + 1 >= count || source[i + 1] != LF)) {
    form[1] = NUL;
    return 2;
  }
  return 1;
}

}  // namespace telnet
