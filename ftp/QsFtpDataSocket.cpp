// The data connection's notices and reads: accepting an active connection, reading listing text
// and file blocks, and the end of a transfer taken from the connection's close.
#include "ftp/QsFtp.h"

#include "platform/FileWriter.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

namespace ws = platform::ws;

namespace {

// Room a listing read asks for at least; the buffer grows by doubling until it has it.
constexpr std::size_t kListingReadRoom = 64 * 1024;
constexpr std::int32_t kListingTooLongCode = platform::ws::WSAENOBUFS;

}  // namespace

bool TQsCustomFtpClient::IsDataSocket(TSocket socket) const {
  return socket != ws::INVALID_SOCKET && socket == dataSocket_;
}

int TQsCustomFtpClient::ReadOnce() {
  if (dataSocket_ == ws::INVALID_SOCKET) return 0;
  return state_ == fcRetrieving ? ReadRetrieved() : ReadListing();
}

// The block comes from the file writer, at the offset within a page that its bytes take in the
// file, which is also theirs in the server's file when the server sends it from a page boundary.
// The kernel's copies (socket to block, block to the file's pages) then run between equal page
// offsets: on some processors (AMD EPYC here) copies between offsets a little apart ran 2 to 10
// times slower, and which offsets a transfer met changed from one run to the next.
int TQsCustomFtpClient::ReadRetrieved() {
  if (!localFileOpen_ || aborting_) return 0;
  RearmTransferTimer();
  std::uint8_t* block = fileWriter_->NextBlock();
  if (block == nullptr) return FailWrite(fileWriter_->Error());
  const int count = dataSocketObject_->ReceiveSocket(dataSocket_, block, static_cast<int>(kFtpRetrieveBlockSize), 0);
  if (count <= 0) return count;
  bytesTransferred_ += count;
  fileWriter_->Submit(static_cast<std::size_t>(count));
  if (const int error = fileWriter_->Error(); error != 0) return FailWrite(error);
  PostStatus(fsProgress, nullptr);
  return count;
}

// The listing text stays NUL-terminated: the byte after the last one read is always 0. It grows
// up to kFtpListingLimit; one byte more fails the listing, which is never delivered cut.
int TQsCustomFtpClient::ReadListing() {
  if (!listing_) return 0;
  const auto used = static_cast<std::size_t>(bytesTransferred_);
  if (listingRoom_ - used - 1 < kListingReadRoom && listingRoom_ < kFtpListingLimit + 2) {
    const std::size_t grown = std::min(std::max(listingRoom_ * 2, used + 1 + kListingReadRoom), kFtpListingLimit + 2);
    // No zero fill: the byte after the last one read is always 0, and untouched room costs no memory.
    char* moved = static_cast<char*>(std::realloc(listing_.get(), grown));
    if (moved == nullptr) throw std::bad_alloc();
    (void)listing_.release();
    listing_.reset(moved);
    listingRoom_ = grown;
  }
  const std::size_t room = listingRoom_ - used - 1;
  if (room == 0) return 0;
  const int count = dataSocketObject_->ReceiveSocket(dataSocket_, listing_.get() + used,
                                                     static_cast<int>(std::min<std::size_t>(room, 1 << 30)), 0);
  if (count <= 0) return count;
  bytesTransferred_ += count;
  listing_.get()[used + static_cast<std::size_t>(count)] = 0;
  if (static_cast<std::size_t>(bytesTransferred_) > kFtpListingLimit) {
    const std::string text = "The listing is longer than " + std::to_string(kFtpListingLimit >> 20) + " MiB";
    FailTransfer(kListingTooLongCode, text.c_str());
    return -1;
  }
  return count;
}

// A short file must never pass for a complete one: the transfer ends with an error.
int TQsCustomFtpClient::FailWrite(int error) {
  CloseLocalFile();
  if (writeError_ != 0) error = writeError_;
  const std::string text = "Cannot write file \"" + localFileName_ + "\". " + std::strerror(error);
  FailTransfer(error, text.c_str());
  return -1;
}

// Active mode takes one data connection, and only from the server's address: anyone else on the
// network could otherwise connect first and have their bytes saved as the file. The listener is
// closed once the server's connection is in.
void TQsCustomFtpClient::DataAccept(TQsSocket* /*sender*/, TSocket socket) {
  if (socket != listenSocket_ || listenSocket_ == ws::INVALID_SOCKET || dataSocket_ != ws::INVALID_SOCKET) return;
  const TSocket accepted = dataSocketObject_->AcceptSocket(listenSocket_, peerAddress_);
  if (accepted == ws::INVALID_SOCKET) return;
  TSockAddrIn server{};
  if (!PeerAddressOfControl(server) || server.sin_addr.s_addr != peerAddress_.sin_addr.s_addr) {
    closingData_ = true;
    try {
      dataSocketObject_->CloseSocket(accepted);
    } catch (const std::exception&) {
    }
    closingData_ = false;
    return;
  }
  dataSocket_ = accepted;
  dataConnected_ = true;
  MaybeStartDataTls();
  const TSocket listener = listenSocket_;
  listenSocket_ = ws::INVALID_SOCKET;
  closingData_ = true;
  try {
    dataSocketObject_->CloseSocket(listener);
  } catch (const std::exception&) {
  }
  closingData_ = false;
}

void TQsCustomFtpClient::DataRead(TQsSocket* /*sender*/, TSocket socket) {
  if (IsDataSocket(socket) && Transferring()) ReadOnce();
}

// The data connection's close: every byte still waiting is read (and written), the connection
// and the local file are closed; the transfer is complete only when the server's final reply
// says so too.
void TQsCustomFtpClient::DataDisconnect(TQsSocket* /*sender*/, TSocket socket) {
  if (!IsDataSocket(socket) || !Transferring() || transferFailed_) return;
  CloseDataConnection(true);
  if (!Transferring() || transferFailed_) return;  // a read or write failed while draining
  // A write that failed on the writer's thread is known once the file is closed.
  if (writeError_ != 0) {
    FailWrite(writeError_);
    return;
  }
  dataClosed_ = true;
  TryCompleteTransfer();
}

void TQsCustomFtpClient::TryCompleteTransfer() {
  if (!Transferring() || !dataClosed_ || !replyOk_ || transferFailed_ || aborting_) return;
  if (state_ == fcListing)
    PostListing();
  else
    PostStatus(fsTransferComplete, nullptr);
}

// The one report of a failed transfer; its data connection and local file are closed, and what
// the server still owes for it is consumed when it comes.
void TQsCustomFtpClient::FailTransfer(std::int32_t code, const char* text) {
  if (transferFailed_) return;
  transferFailed_ = true;
  heldError_ = 0;
  KillHoldTimer();
  PostError(code, text);
}

// A data connection that fails while the server's final reply is due: the reply, when it comes
// (within kFtpHoldMilliseconds), says best what went wrong; only without one is the socket's
// error reported.
void TQsCustomFtpClient::HoldDataError(std::int32_t code) {
  heldError_ = code;
  CloseDataSockets();
  CloseLocalFile();
  platform::SetTimer(window_, kFtpHoldTimerId, kFtpHoldMilliseconds);
}

void TQsCustomFtpClient::HoldTimerFired() {
  KillHoldTimer();
  if (heldError_ != 0 && Transferring()) FailTransfer(heldError_, nullptr);
  heldError_ = 0;
}

void TQsCustomFtpClient::DataError(TQsSocket* sender, TSocket socket, std::int32_t code) {
  if (closingData_ || aborting_ || !Transferring() || transferFailed_ || heldError_ != 0) return;
  if (DataTlsClosed(socket)) {
    // Everything came, closed by TLS's own message: a reset after it (the server had gone when
    // the client answered that message) loses nothing.
    DataDisconnect(sender, socket);
    return;
  }
  if (!dataTlsError_.empty()) {
    // TLS refused the connection or found it cut: that, not the server's reply, says what went wrong.
    const std::string why = dataTlsError_;
    CloseDataSockets();
    CloseLocalFile();
    FailTransfer(code, why.c_str());
    return;
  }
  if (owedReplies_ > staleReplies_ && !replyOk_) {
    HoldDataError(code);
    return;
  }
  FailTransfer(code, nullptr);
}

// The data connection is up (an accepted one is up at once).
void TQsCustomFtpClient::DataWrite(TQsSocket* /*sender*/, TSocket socket) {
  if (!IsDataSocket(socket)) return;
  dataConnected_ = true;
  MaybeStartDataTls();
}
