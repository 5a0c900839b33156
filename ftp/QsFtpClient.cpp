// The FTP client's life: construction with its reply packet, data socket object and message
// window, destruction, the properties by name, the link to a history log, and the reports posted
// to its own window and delivered from there.
#include "ftp/QsFtp.h"

#include <cstdlib>

#include "comm/QsPacket.h"
#include "platform/FileWriter.h"
#include "platform/Application.h"

namespace ws = platform::ws;

namespace {

void RegisterClientWindowClass(platform::WNDPROC proc) {
  static const bool registered = platform::RegisterWindowClass(kFtpWindowClass, proc);
  (void)registered;
}

}  // namespace

TQsCustomFtpClient::TQsCustomFtpClient(platform::TComponent* owner)
    : TQsCustomWinsockPort(owner),
      dataSocket_(ws::INVALID_SOCKET),
      listenSocket_(ws::INVALID_SOCKET) {
  SetDeviceLayer(dlSocket);
  SetSocketMode(smClient);
  SetWsPort("ftp");
  SetOpenOnDemand(false);
  replyBuffer_.assign(kFtpReplyBufferSize, '\0');

  RegisterClientWindowClass(&TQsCustomFtpClient::WindowProc);
  window_ = platform::CreateWindowOfClass(kFtpWindowClass, "qsFtpClient");
  platform::SetWindowLongPtr(window_, platform::GWLP_USERDATA, reinterpret_cast<platform::LONG_PTR>(this));

  dataSocketObject_ = new TQsSocket(this);
  dataSocketObject_->OnAccept = TSocketNotifyEvent(this, &TQsCustomFtpClient::DataAccept);
  dataSocketObject_->OnDisconnect = TSocketNotifyEvent(this, &TQsCustomFtpClient::DataDisconnect);
  dataSocketObject_->OnError = TSocketErrorEvent(this, &TQsCustomFtpClient::DataError);
  dataSocketObject_->OnRead = TSocketNotifyEvent(this, &TQsCustomFtpClient::DataRead);
  dataSocketObject_->OnWrite = TSocketNotifyEvent(this, &TQsCustomFtpClient::DataWrite);

  fileWriter_ = std::make_unique<platform::TFileWriter>();
  replyPacket_ = new TQsDataPacket(this);
  replyPacket_->SetComPort(this);
  replyPacket_->SetStartCond(scAnyData);
  // A bare LF ends a line too (some servers send no CR); a CR before it stays part of the line.
  replyPacket_->SetEndString("\n");
  replyPacket_->SetEndCond(EndSet({ecString}));
  replyPacket_->SetTimeOut(0);
  replyPacket_->OnStringPacket = TStringPacketNotifyEvent(this, &TQsCustomFtpClient::ReplyLine);
  replyPacket_->SetEnabled(false);
}

TQsCustomFtpClient::~TQsCustomFtpClient() {
  destroying_ = true;
  KillConnectTimer();
  KillHoldTimer();
  CloseDataSockets();
  CloseLocalFile();
  SetOpen(false);
  if (ftpLog_ != nullptr && ftpLog_->FtpClient() == this) ftpLog_->SetFtpClient(nullptr);
  platform::DestroyWindow(window_);
  window_ = 0;
  delete dataSocketObject_;
  dataSocketObject_ = nullptr;
  delete replyPacket_;
  replyPacket_ = nullptr;
}

const platform::PropertyTable& TQsCustomFtpClient::Properties() const {
  using P = TQsCustomFtpClient;
  static const platform::PropertyTable table =
      platform::PropertyTable(&TQsCustomWinsockPort::Properties())
          .Property("UserName", &P::UserName, &P::SetUserName)
          .Property("Password", &P::Password, &P::SetPassword)
          .Property("Account", &P::Account, &P::SetAccount)
          .Property("PassiveMode", &P::PassiveMode, &P::SetPassiveMode)
          .Enumeration("FileType", &P::FileType, &P::SetFileType,
                       std::vector<std::pair<std::string, TFtpFileType>>{{"ftAscii", ftAscii}, {"ftBinary", ftBinary}})
          .Property("TransferTimeout", &P::TransferTimeout, &P::SetTransferTimeout)
          .Property("ConnectTimeout", &P::ConnectTimeout, &P::SetConnectTimeout)
          .Enumeration("TlsPolicy", &P::TlsPolicy, &P::SetTlsPolicy,
                       std::vector<std::pair<std::string, TFtpTlsPolicy>>{{"tpOff", tpOff}, {"tpRequired", tpRequired}})
          .Property("TlsCaFile", &P::TlsCaFile, &P::SetTlsCaFile)
          .Property("TlsFingerprint", &P::TlsFingerprint, &P::SetTlsFingerprint);
  return table;
}

// ---- The history log link -----------------------------------------------------------------------

void TQsCustomFtpClient::SetFtpLog(TQsFtpLog* log) {
  ftpLog_ = log;
  if (log != nullptr) log->SetFtpClient(this);
}

void TQsCustomFtpClient::Notification(platform::TComponent* component, platform::TOperation operation) {
  TQsCustomWinsockPort::Notification(component, operation);
  if (operation == platform::opRemove) {
    if (component == ftpLog_) ftpLog_ = nullptr;
    return;
  }
  if (ftpLog_ != nullptr || component == this || component->Owner() != Owner()) return;
  if (auto* log = dynamic_cast<TQsFtpLog*>(component); log != nullptr && log->FtpClient() == nullptr) SetFtpLog(log);
}

// ---- Reports ------------------------------------------------------------------------------------

void TQsCustomFtpClient::TFreeText::operator()(char* text) const { std::free(text); }

void TQsCustomFtpClient::Post(platform::UINT msg, std::int32_t code, const char* text, TOwnedText owned) {
  const platform::LPARAM id = nextPostId_++;
  TPosted& posted = posted_[id];
  posted.code = code;
  posted.hasText = text != nullptr || owned != nullptr;
  if (text != nullptr) posted.text = text;
  posted.owned = std::move(owned);
  posted.opening = openings_;
  if (!platform::PostMessage(window_, msg, 0, id)) posted_.erase(id);
}

bool TQsCustomFtpClient::TakePosted(platform::LPARAM id, TPosted& posted) {
  auto it = posted_.find(id);
  if (it == posted_.end()) return false;
  posted = std::move(it->second);
  posted_.erase(it);
  return true;
}

void TQsCustomFtpClient::PostStatus(TFtpStatusCode code, const char* text) {
  if (code > fsLoggedIn && code != fsProgress) ChangeState(fcReady);
  if (!destroying_) Post(kFtpStatusMessage, code, text);
}

void TQsCustomFtpClient::PostListing() {
  ChangeState(fcReady);
  if (destroying_) return;
  listingRoom_ = 0;
  Post(kFtpStatusMessage, fsDataAvailable, nullptr, std::move(listing_));
}

void TQsCustomFtpClient::PostError(std::int32_t code, const char* text) {
  if (Busy()) ChangeState(fcReady);
  if (!destroying_) Post(kFtpErrorMessage, code, text);
}

void TQsCustomFtpClient::PostLog(TFtpLogCode code) { Post(kFtpLogMessage, code, nullptr); }

void TQsCustomFtpClient::DeliverLog(TFtpLogCode code) {
  if (ftpLog_ != nullptr)
    ftpLog_->UpdateLog(code);
  else if (OnFtpLog)
    OnFtpLog(this, code);
}

platform::LRESULT TQsCustomFtpClient::WindowProc(platform::HWND hwnd, platform::UINT msg, platform::WPARAM wParam,
                                                 platform::LPARAM lParam) {
  auto* self = reinterpret_cast<TQsCustomFtpClient*>(platform::GetWindowLongPtr(hwnd, platform::GWLP_USERDATA));
  if (self != nullptr) platform::GuardHandler([&] { self->HandleClientMessage(msg, wParam, lParam); });
  return 0;
}

void TQsCustomFtpClient::HandleClientMessage(platform::UINT msg, platform::WPARAM wParam, platform::LPARAM lParam) {
  if (msg == platform::WM_TIMER) {
    if (wParam == kFtpConnectTimerId) ConnectTimerFired();
    if (wParam == kFtpHoldTimerId) HoldTimerFired();
    return;
  }
  if (msg == kFtpTimeoutMessage) {
    TransferTimedOut();
    return;
  }
  if (msg < kFtpErrorMessage || msg > kFtpStatusMessage) return;
  TPosted posted;
  if (!TakePosted(lParam, posted)) return;
  const char* text = posted.owned ? posted.owned.get() : posted.hasText ? posted.text.c_str() : nullptr;
  switch (msg) {
    case kFtpErrorMessage:
      if (OnFtpError) OnFtpError(this, posted.code, text);
      break;
    case kFtpLogMessage:
      DeliverLog(static_cast<TFtpLogCode>(posted.code));
      break;
    case kFtpReplyMessage:
      // A reply still queued from a connection that was closed and replaced meanwhile would be
      // taken as the new server's answer (a PASS sent before the new greeting): it is dropped.
      if (posted.opening != openings_) break;
      ProcessReply(posted.code, posted.text);
      if (!destroying_ && OnFtpReply) OnFtpReply(this, posted.code, posted.text.c_str());
      break;
    case kFtpStatusMessage:
      if (OnFtpStatus) OnFtpStatus(this, static_cast<TFtpStatusCode>(posted.code), text);
      break;
    default:
      break;
  }
}
