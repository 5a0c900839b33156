// The data side's operations: listings, retrievals into a local file and abort, and opening and
// closing the data connection in passive or active mode.
#include "ftp/QsFtp.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

#include "ftp/QsFtpText.h"
#include "platform/FileWriter.h"
#include "platform/SocketTls.h"
#include "port/QsWsUtil.h"
#include "platform/SysUtils.h"

namespace ws = platform::ws;

namespace {

constexpr long kPassiveEvents = ws::FD_READ | ws::FD_WRITE | ws::FD_CLOSE;                    // 35
constexpr long kActiveEvents = ws::FD_READ | ws::FD_WRITE | ws::FD_ACCEPT | ws::FD_CLOSE;    // 43

[[noreturn]] void RaiseFileError(const std::string& path) {
  const int error = errno;
  throw platform::EInOutError("Cannot open file \"" + path + "\". " + std::strerror(error), error);
}

}  // namespace

// ---- Operations ---------------------------------------------------------------------------------

bool TQsCustomFtpClient::ListDirectory(const std::string& path, bool fullList) {
  if (state_ != fcReady) return false;
  CheckArgument(path);
  ChangeState(fcListing);
  StartTransfer();
  PushCommand(std::string(fullList ? "LIST" : "NLST") + (path.empty() ? "" : " " + path));
  listing_.reset(static_cast<char*>(std::calloc(kFtpDataBufferSize, 1)));
  if (!listing_) throw std::bad_alloc();
  listingRoom_ = kFtpDataBufferSize;
  bytesTransferred_ = 0;
  if (passiveMode_) PushCommand("PASV");
  PushCommand("TYPE A");
  return OpenDataConnection();
}

bool TQsCustomFtpClient::RetrieveFile(const std::string& remoteName, const std::string& localName,
                                      TRetrieveMode mode) {
  if (state_ != fcReady || remoteName.empty() || localName.empty()) return false;
  CheckArgument(remoteName);
  ChangeState(fcRetrieving);
  StartTransfer();
  PushCommand("RETR " + remoteName);
  remoteFileName_ = remoteName;
  localFileName_ = localName;
  try {
    OpenLocalFile(mode);
  } catch (...) {
    // Nothing was sent: back to Ready with an empty stack.
    CloseLocalFile();
    commands_.clear();
    state_ = fcReady;
    throw;
  }
  bytesTransferred_ = 0;
  if (passiveMode_) PushCommand("PASV");
  PushCommand(fileType_ == ftAscii ? "TYPE A" : "TYPE I");
  return OpenDataConnection();
}

bool TQsCustomFtpClient::AbortTransfer() {
  if (!Busy()) return false;
  aborting_ = true;
  SendCommand("ABOR");
  // A server that reads commands only between transfers (vsftpd) would otherwise wait for ever
  // on a data connection nobody reads any more; dropping it ends the transfer on its side too.
  if (Transferring()) {
    CloseDataSockets();
    CloseLocalFile();
  }
  PostLog(lcAborted);
  return true;
}

// Each transfer starts clean: its end is decided by its own data connection and its own reply.
void TQsCustomFtpClient::StartTransfer() {
  aborting_ = false;
  dataClosed_ = false;
  replyOk_ = false;
  transferFailed_ = false;
  heldError_ = 0;
  dataPreliminary_ = false;
  writeError_ = 0;
  KillHoldTimer();
}

void TQsCustomFtpClient::OpenLocalFile(TRetrieveMode mode) {
  CloseLocalFile();
  // A missing file is created empty by the same open that opens it: one call where creating,
  // closing and opening again took three (and a look whether it exists, a fourth), for the same file.
  if (mode == rtReplace) {
    // A longer old file is cut, so that the result is exactly what was received.
    const int file = ::open(localFileName_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (file < 0) RaiseFileError(localFileName_);
    StartWriter(file, 0);
    PostLog(lcDownloading);
    return;
  }
  const int file = ::open(localFileName_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (file < 0) RaiseFileError(localFileName_);
  const off_t size = ::lseek(file, 0, SEEK_END);
  if (mode == rtAppend) {
    StartWriter(file, size > 0 ? size : 0);
    PostLog(lcDownloading);
    return;
  }
  if (size < 0) {
    const int error = errno;
    ::close(file);
    errno = error;
    RaiseFileError(localFileName_);
  }
  if (restartPosition_ < 0 || size < restartPosition_) restartPosition_ = size;
  // Writing anywhere but at the restart position would pass a wrong file for a resumed one.
  if (::lseek(file, static_cast<off_t>(restartPosition_), SEEK_SET) < 0) {
    const int error = errno;
    ::close(file);
    errno = error;
    RaiseFileError(localFileName_);
  }
  StartWriter(file, restartPosition_);
  PushCommand("REST " + std::to_string(restartPosition_));
  PostLog(lcRestarting);
}

void TQsCustomFtpClient::StartWriter(int file, std::int64_t position) {
  fileWriter_->Start(file, position);
  localFileOpen_ = true;
  writeError_ = 0;
}

void TQsCustomFtpClient::CloseLocalFile() {
  if (!localFileOpen_) return;
  localFileOpen_ = false;
  const int error = fileWriter_->Finish();
  if (writeError_ == 0) writeError_ = error;
}

// ---- Opening the data connection ----------------------------------------------------------------

bool TQsCustomFtpClient::OpenDataConnection() {
  bool opened = false;
  try {
    opened = passiveMode_ ? OpenPassive() : OpenActive();
  } catch (const std::exception&) {
    opened = false;
  }
  if (!opened && Transferring()) {
    // Nothing more will happen on this operation: leave no half-open sockets or pushed commands.
    CloseDataSockets();
    CloseLocalFile();
    commands_.clear();
    state_ = fcReady;
  }
  return opened;
}

bool TQsCustomFtpClient::OpenPassive() {
  dataSocket_ = dataSocketObject_->CreateSocket();
  dataSocketObject_->SelectEvents(dataSocket_, kPassiveEvents);
  SendNextCommand();
  return true;
}

bool TQsCustomFtpClient::OpenActive() {
  TQsBaseDispatcher* dispatcher = CurrentDispatcher();
  if (dispatcher == nullptr) return false;
  TSockAddrIn address{};
  int length = sizeof address;
  if (SocketFunctions().getsockname(static_cast<TSocket>(dispatcher->DeviceId()),
                                    reinterpret_cast<ws::sockaddr*>(&address), &length) != 0)
    return false;
  if (listenSocket_ == ws::INVALID_SOCKET) {
    listenSocket_ = dataSocketObject_->CreateSocket();
    if (listenSocket_ == ws::INVALID_SOCKET) return false;
  }
  dataSocketObject_->SelectEvents(listenSocket_, kActiveEvents);
  localAddress_ = address;
  localAddress_.sin_port = dataSocketObject_->HostToNetPort(0);
  if (dataSocketObject_->BindSocket(listenSocket_, localAddress_) != 0) return false;
  length = sizeof localAddress_;
  if (SocketFunctions().getsockname(listenSocket_, reinterpret_cast<ws::sockaddr*>(&localAddress_), &length) != 0)
    return false;
  // Listening before the PORT goes out: a server may connect as soon as it reads it.
  if (dataSocketObject_->ListenSocket(listenSocket_, 5) != 0) return false;
  const std::string dotted = dataSocketObject_->AddressToText(localAddress_.sin_addr.s_addr);
  SendCommand("PORT " + ftptext::PortArgument(dotted, dataSocketObject_->NetToHostPort(localAddress_.sin_port)));
  return true;
}

bool TQsCustomFtpClient::PeerAddressOfControl(TSockAddrIn& address) {
  TQsBaseDispatcher* dispatcher = CurrentDispatcher();
  if (dispatcher == nullptr) return false;
  int length = sizeof address;
  return SocketFunctions().getpeername(static_cast<TSocket>(dispatcher->DeviceId()),
                                       reinterpret_cast<ws::sockaddr*>(&address), &length) == 0;
}

void TQsCustomFtpClient::ConnectPassive(const std::string& replyText) {
  ftptext::TPassiveTarget target;
  if (dataSocket_ == ws::INVALID_SOCKET || !ftptext::ParsePassiveReply(replyText, target)) return;
  TSockAddrIn address{};
  address.sin_family = ws::AF_INET;
  address.sin_addr.s_addr = dataSocketObject_->TextToAddress(target.address);
  address.sin_port = dataSocketObject_->HostToNetPort(target.port);
  dataSocketObject_->ConnectSocket(dataSocket_, address);
}

// ---- Closing it ---------------------------------------------------------------------------------

void TQsCustomFtpClient::CloseDataConnection(bool drain) {
  if (dataSocket_ != ws::INVALID_SOCKET) {
    // Failures of a connection being closed are no news to anyone.
    closingData_ = true;
    try {
      dataSocketObject_->SelectEvents(dataSocket_, 0);
      dataSocketObject_->ShutdownSocket(dataSocket_, 1);
      if (drain && Transferring())
        while (ReadOnce() > 0) {
        }
      dataSocketObject_->ShutdownSocket(dataSocket_, 2);
    } catch (const std::exception&) {
    }
    closingData_ = false;
  }
  const bool cut = drain && Transferring() && !aborting_ && !transferFailed_ && !DataTlsEndedProperly();
  CloseDataSockets();
  CloseLocalFile();
  if (cut) FailTransfer(platform::ws::kTlsFailedError, dataTlsError_.c_str());
}

void TQsCustomFtpClient::CloseDataSockets() {
  closingData_ = true;
  for (TSocket* socket : {&dataSocket_, &listenSocket_}) {
    if (*socket == ws::INVALID_SOCKET) continue;
    try {
      dataSocketObject_->CloseSocket(*socket);
    } catch (const std::exception&) {
    }
    *socket = ws::INVALID_SOCKET;
  }
  dataTlsStarted_ = false;
  dataConnected_ = false;
  closingData_ = false;
}
