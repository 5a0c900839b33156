// One Winsock connection: its sockets, the receive ring with the telnet receive filter, and the send
// ring with telnet escaping. Everything runs on the GUI thread.
#include <algorithm>
#include <cstring>

#include "port/QsWsDispatch.h"

namespace {

namespace ws = platform::ws;

// A ring smaller than the longest telnet command (IAC, command, option) could hold an incomplete
// sequence for ever: the receive ring never goes below this.
constexpr std::size_t kMinReceiveRing = 16;
constexpr std::size_t kSendRingExtra = 4096;
constexpr std::uint8_t kLogTypeTelnet = 10;

std::uint64_t NextSerial() {
  static std::uint64_t serial = 0;
  return ++serial;
}

}  // namespace

TWsConnection::TWsConnection(TQsDeviceSocket& owner, int inSize, int outSize)
    : platform::TComponent(&owner),
      socket_(owner),
      serial_(NextSerial()),
      receiveRing_(std::max<std::size_t>(static_cast<std::size_t>(std::max(inSize, 0)), kMinReceiveRing)),
      sendRing_(static_cast<std::size_t>(std::max(outSize, 0)) + kSendRingExtra) {
  mainSocket_ = owner.CreateSocket();
  owner.AddConnection(this);
}

TWsConnection::~TWsConnection() {
  if (ownerDispatcher_ != nullptr) ownerDispatcher_->ConnectionGone(this);
  socket_.RemoveConnection(this);
}

void TWsConnection::Dispose() {
  if (!clientMode_ && dataSocket_ != ws::INVALID_SOCKET && dataSocket_ != mainSocket_) socket_.CloseSocket(dataSocket_);
  socket_.CloseSocket(mainSocket_);
  // The numbers may soon name other sockets: a running data path must not use them.
  dataSocket_ = mainSocket_ = ws::INVALID_SOCKET;
  socket_.RemoveConnection(this);
  ownerDispatcher_ = nullptr;
  disposed_ = true;
  if (busy_ == 0) delete this;
}

void TWsConnection::SetLinkUp(bool up) {
  if (linkUp_ == up) return;
  linkUp_ = up;
  if (ownerDispatcher_ == nullptr) return;
  const std::uint8_t bits = ownerDispatcher_->ModemBits();
  ownerDispatcher_->SetModemBits(up ? static_cast<std::uint8_t>(bits | kWsCarrierBit)
                                    : static_cast<std::uint8_t>(bits & ~kWsCarrierBit));
}

// ---- Receiving ------------------------------------------------------------------------------

void TWsConnection::ReceiveIntoRing(bool allowSecondPart) {
  if (receiveRing_.Full() || dataSocket_ == ws::INVALID_SOCKET || atEnd_) return;
  // An empty ring starts over at its beginning: one receive can then fill all of it, where free
  // space split at the ring's end would take two.
  if (receiveRing_.Empty()) receiveRing_.Clear();
  const std::size_t room = receiveRing_.ContiguousFree();
  // The free space is split when it runs past the ring's end and on from its start.
  const bool split = receiveRing_.WritePos() >= receiveRing_.ReadPos() && receiveRing_.ReadPos() > 0;
  int n = socket_.ReceiveSocket(dataSocket_, receiveRing_.WriteCursor(), static_cast<int>(room), 0);
  if (n == 0 || (n < 0 && peerClosed_)) atEnd_ = true;  // after a reset nothing more will come either
  if (n <= 0) return;
  receiveRing_.CommitWrite(static_cast<std::size_t>(n));
  if (!split || static_cast<std::size_t>(n) != room || !allowSecondPart || receiveRing_.Full()) return;
  n = socket_.ReceiveSocket(dataSocket_, receiveRing_.WriteCursor(), static_cast<int>(receiveRing_.ContiguousFree()), 0);
  if (n > 0) receiveRing_.CommitWrite(static_cast<std::size_t>(n));
}

int TWsConnection::DeliverPlain(std::uint8_t* buf, int size) {
  std::size_t left = std::min(receiveRing_.Count(), static_cast<std::size_t>(size));
  std::size_t done = 0;
  while (left > 0) {
    const std::size_t part = std::min(left, receiveRing_.ContiguousHeld());
    std::memcpy(buf + done, receiveRing_.ReadCursor(), part);
    receiveRing_.Consume(part);
    done += part;
    left -= part;
  }
  return static_cast<int>(done);
}

int TWsConnection::DeliverTelnet(std::uint8_t* buf, int size) {
  const telnet::TFilterResult r = telnet_.FilterInput(Held(), buf, static_cast<std::size_t>(size), receiveRing_.Full(),
                                                      *this, socket_.TerminalType());
  receiveRing_.Consume(r.consumed);
  return static_cast<int>(r.delivered);
}

telnet::THeldBytes TWsConnection::Held() const {
  return {receiveRing_.Data(), receiveRing_.Capacity(), receiveRing_.ReadPos(), receiveRing_.Count()};
}

bool TWsConnection::HoldsWholeRequest(int size) const {
  if (size <= 0 || receiveRing_.Count() < static_cast<std::size_t>(size)) return false;
  return !useTelnet_ || telnet_.PassesUnchanged(Held(), static_cast<std::size_t>(size));
}

int TWsConnection::Read(std::uint8_t* buf, int size) {
  TBusy busy(*this);
  // When the ring already holds what the whole request delivers, a receive first could not change
  // what is delivered; topping up a ring that a delivery has partly emptied would only split the
  // socket's stream into ever smaller receives. The next status count receives instead.
  if (!HoldsWholeRequest(size)) ReceiveIntoRing(size > 0);
  if (size <= 0) return 0;
  return useTelnet_ ? DeliverTelnet(buf, size) : DeliverPlain(buf, size);
}

std::uint32_t TWsConnection::ReceiveCount() {
  TBusy busy(*this);
  if (!receiveRing_.Full() && linkUp_) ReceiveIntoRing(false);
  return static_cast<std::uint32_t>(receiveRing_.Count());
}

// ---- Sending --------------------------------------------------------------------------------

bool TWsConnection::SendPart(std::size_t count) {
  const int n = socket_.SendSocket(dataSocket_, sendRing_.ReadCursor(), static_cast<int>(count), 0);
  if (n != ws::SOCKET_ERROR && n > 0) sendRing_.Consume(static_cast<std::size_t>(n));
  // A failure may have closed the connection (its port closed on the error notice).
  return !disposed_ && n >= 0 && static_cast<std::size_t>(n) == count;
}

void TWsConnection::SendAttempt() {
  if (sendRing_.Empty() || disposed_) return;
  if (dataSocket_ == ws::INVALID_SOCKET) {
    // Nothing to send on yet: reported as a send on no socket is, to this connection's own port.
    socket_.ReportError(mainSocket_, ws::WSAENOTSOCK);
    return;
  }
  const std::size_t first = sendRing_.ContiguousHeld();
  const bool wraps = sendRing_.Count() > first;
  if (SendPart(first) && wraps) SendPart(sendRing_.ContiguousHeld());
}

int TWsConnection::Write(const std::uint8_t* buf, int size) {
  TBusy busy(*this);
  sendPending_ += static_cast<std::uint32_t>(std::max(size, 0));
  // An empty ring starts over at its beginning, as the receive ring does: a block written across
  // the ring's end would go out as two sends, and a peer that delays its acknowledgements then
  // holds the second part back (Nagle's rule) for its whole delay, about 40 ms on Linux.
  if (sendRing_.Empty()) sendRing_.Clear();
  std::size_t taken = 0;
  const auto count = static_cast<std::size_t>(std::max(size, 0));
  if (!useTelnet_) {
    while (taken < count && !sendRing_.Full()) {
      const std::size_t part = std::min(count - taken, sendRing_.ContiguousFree());
      std::memcpy(sendRing_.WriteCursor(), buf + taken, part);
      sendRing_.CommitWrite(part);
      taken += part;
    }
  } else {
    for (; taken < count; ++taken) {
      std::uint8_t form[2];
      const std::size_t n = telnet_.EscapeOutput(buf, taken, count, form);
      if (n > sendRing_.FreeSpace()) break;  // a two-byte form goes in whole or not at all
      for (std::size_t k = 0; k < n; ++k) sendRing_.Put(form[k]);
    }
  }
  SendAttempt();
  return static_cast<int>(taken);
}

std::uint32_t TWsConnection::SendCount() {
  TBusy busy(*this);
  if (!linkUp_) return sendPending_;
  if (sendRing_.Empty()) {
    sendPending_ = 0;
    return 0;
  }
  SendAttempt();
  return sendPending_;
}

// ---- Telnet answers and log entries -------------------------------------------------------------

void TWsConnection::SendAnswer(const std::uint8_t* bytes, std::size_t count) {
  if (dataSocket_ == ws::INVALID_SOCKET) return;
  socket_.SendSocket(dataSocket_, bytes, static_cast<int>(count), 0);  // not retried: a blocked answer is lost
}

void TWsConnection::LogTelnet(telnet::TTelnetLogSubtype subtype, std::uint32_t value, const std::string& data) {
  if (ownerDispatcher_ == nullptr || !ownerDispatcher_->LogRecording()) return;
  ownerDispatcher_->AddLogEntry(kLogTypeTelnet, static_cast<std::uint8_t>(subtype), value, data.data(),
                                static_cast<std::uint32_t>(data.size()));
}
