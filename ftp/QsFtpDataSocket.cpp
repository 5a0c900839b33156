// The data connection's notices and reads: accepting an active connection, reading listing text
// and file blocks, and the end of a transfer taken from the connection's close.
#include "ftp/QsFtp.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

namespace ws = platform::ws;

namespace {

// Listing text stays NUL-terminated: one byte of the buffer is never filled.
constexpr int kListingCapacity = static_cast<int>(kFtpDataBufferSize) - 1;
constexpr std::size_t kPageSize = 4096;

}  // namespace

bool TQsCustomFtpClient::IsDataSocket(TSocket socket) const {
  return socket != ws::INVALID_SOCKET && socket == dataSocket_;
}

int TQsCustomFtpClient::ReadOnce() {
  if (dataSocket_ == ws::INVALID_SOCKET) return 0;
  return state_ == fcRetrieving ? ReadRetrieved() : ReadListing();
}

void TQsCustomFtpClient::TFreeBlock::operator()(std::uint8_t* block) const { std::free(block); }

int TQsCustomFtpClient::ReadRetrieved() {
  if (localFile_ < 0 || aborting_) return 0;
  RearmTransferTimer();
  if (!retrieveBuffer_) {
    void* buffer = std::aligned_alloc(kPageSize, kFtpRetrieveBlockSize + kPageSize);
    if (buffer == nullptr) throw std::bad_alloc();
    retrieveBuffer_.reset(static_cast<std::uint8_t*>(buffer));
  }
  // The block sits at the offset within a page that its bytes take in the file, which is also
  // theirs in the server's file when the server sends it from a page boundary. The kernel's copies
  // (socket to block, block to the file's pages) then run between equal page offsets: on some
  // processors (AMD EPYC here) copies between offsets a little apart ran 2 to 10 times slower,
  // and which offsets a transfer met changed from one run to the next.
  std::uint8_t* block = retrieveBuffer_.get() + localPosition_ % static_cast<std::int64_t>(kPageSize);
  const int count = dataSocketObject_->ReceiveSocket(dataSocket_, block, static_cast<int>(kFtpRetrieveBlockSize), 0);
  if (count <= 0) return count;
  bytesTransferred_ += count;
  if (!WriteLocal(block, count)) return -1;
  PostStatus(fsProgress, nullptr);
  return count;
}

int TQsCustomFtpClient::ReadListing() {
  if (bytesTransferred_ >= kListingCapacity) {
    // The buffer is full: take the rest off the socket and drop it, so that read notices stop.
    return dataSocketObject_->ReceiveSocket(dataSocket_, discard_.data(), static_cast<int>(discard_.size()), 0);
  }
  const int count = dataSocketObject_->ReceiveSocket(dataSocket_, dataBuffer_.data() + bytesTransferred_,
                                                     static_cast<int>(kListingCapacity - bytesTransferred_), 0);
  if (count > 0) bytesTransferred_ += count;
  return count;
}

bool TQsCustomFtpClient::WriteLocal(const std::uint8_t* data, int count) {
  while (count > 0) {
    const ssize_t written = ::write(localFile_, data, static_cast<std::size_t>(count));
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      const int error = written < 0 ? errno : ENOSPC;
      // A short file must never pass for a complete one: the transfer ends with an error.
      CloseLocalFile();
      aborting_ = true;
      failureReported_ = true;
      const std::string text = "Cannot write file \"" + localFileName_ + "\". " + std::strerror(error);
      PostError(error, text.c_str());
      return false;
    }
    data += written;
    count -= static_cast<int>(written);
    localPosition_ += written;
  }
  return true;
}

void TQsCustomFtpClient::DataAccept(TQsSocket* /*sender*/, TSocket socket) {
  if (socket != listenSocket_ || listenSocket_ == ws::INVALID_SOCKET) return;
  const TSocket accepted = dataSocketObject_->AcceptSocket(listenSocket_, peerAddress_);
  if (accepted != ws::INVALID_SOCKET) dataSocket_ = accepted;
}

void TQsCustomFtpClient::DataRead(TQsSocket* /*sender*/, TSocket socket) {
  if (IsDataSocket(socket) && Transferring()) ReadOnce();
}

void TQsCustomFtpClient::DataDisconnect(TQsSocket* /*sender*/, TSocket socket) {
  if (!IsDataSocket(socket)) return;
  if (state_ == fcListing) {
    while (ReadOnce() > 0) {
    }
    PostStatus(fsDataAvailable, reinterpret_cast<const char*>(dataBuffer_.data()));
  } else if (state_ == fcRetrieving) {
    PostStatus(fsTransferComplete, nullptr);
  }
}

void TQsCustomFtpClient::DataError(TQsSocket* /*sender*/, TSocket /*socket*/, std::int32_t code) {
  if (closingData_) return;
  // The server's error reply for this operation may have been reported already.
  const bool alreadyReported = failureReported_ && !Transferring();
  if (!aborting_ && !alreadyReported) {
    if (Transferring()) failureReported_ = true;
    PostError(code, nullptr);
  }
  aborting_ = true;
}

void TQsCustomFtpClient::DataWrite(TQsSocket* /*sender*/, TSocket /*socket*/) {}
