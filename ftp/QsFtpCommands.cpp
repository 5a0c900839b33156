// The control connection: logging on and off, the directory commands, the command stack, the
// client states, the transfer and connect timers, and the Winsock port's connection notices.
#include "ftp/QsFtp.h"

#include "comm/QsDispatchDefs.h"
#include "comm/QsPacket.h"
#include "platform/SocketTls.h"
#include "platform/SysUtils.h"

namespace ws = platform::ws;

namespace {

bool IsConnectionLost(int code) {
  return code == ws::WSAENETRESET || code == ws::WSAECONNABORTED || code == ws::WSAECONNRESET;
}

}  // namespace

// ---- Operations ---------------------------------------------------------------------------------

void TQsCustomFtpClient::CheckArgument(const std::string& text) {
  if (text.find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
    throw platform::Exception("An FTP command may not hold a line break or a NUL character");
}

bool TQsCustomFtpClient::LogOn() {
  if (state_ == fcReady || Busy()) return false;
  CheckArgument(userName_);
  CheckArgument(password_);
  CheckArgument(account_);
  // Only a connection still to be made is timed: a timer left running on a connection that has
  // been made would later end the session that this log-on starts.
  if (connectTimeout_ > 0 && !controlUp_)
    platform::SetTimer(window_, kFtpConnectTimerId, static_cast<platform::UINT>(connectTimeout_) * kTickMilliseconds);
  bool result = true;
  if (state_ == fcIdle) {
    connectError_ = 0;
    controlUp_ = false;
    ResetReplyState();
    ++openings_;
    SetOpen(true);
    result = Open();
  } else if (controlUp_) {
    SendCommand("USER " + userName_);
  }
  // Still connecting: the greeting, when it comes, sends the user name.
  ChangeState(fcLoggingOn);
  return result;
}

bool TQsCustomFtpClient::LogOff() {
  const bool wasOpen = Open();
  if (wasOpen) SendCommand("QUIT");
  // Long enough for the server's 221 to be handled in the usual case.
  const std::shared_ptr<bool> alive = AliveToken();
  WaitTicks(5, true);
  if (!*alive) return wasOpen;  // a report handled meanwhile freed the client
  SetOpen(false);
  return wasOpen;
}

bool TQsCustomFtpClient::ChangeDirectory(const std::string& path) {
  if (state_ != fcReady) return false;
  CheckArgument(path);
  ChangeState(fcQuerying);
  SendCommand(path.empty() ? std::string("PWD") : "CWD " + path);
  return true;
}

bool TQsCustomFtpClient::QueryCurrentDirectory() {
  if (state_ != fcReady) return false;
  ChangeState(fcQuerying);
  SendCommand("PWD");
  return true;
}

// ---- The command stack --------------------------------------------------------------------------

void TQsCustomFtpClient::SendCommand(const std::string& text) {
  StartTransferTimer();
  ++owedReplies_;
  PutString(text + "\r\n");
}

void TQsCustomFtpClient::PushCommand(const std::string& text) {
  if (commands_.size() >= static_cast<std::size_t>(kFtpCommandStackSize)) {
    commands_.clear();
    throw platform::Exception("FTP Command stack full");
  }
  commands_.push_back(text);
}

void TQsCustomFtpClient::SendNextCommand() {
  if (commands_.empty()) return;
  const std::string text = commands_.back();
  commands_.pop_back();
  SendCommand(text);
}

// ---- States -------------------------------------------------------------------------------------

void TQsCustomFtpClient::ChangeState(TFtpClientState newState) {
  if (newState == fcIdle) {
    StopTransferTimer();
    ResetTls();
    CloseDataSockets();
    CloseLocalFile();
    // Closing an open port comes back here through NotifyDisconnect; that inner call reports the
    // transition from the state as it was, this one then finds Idle.
    SetOpen(false);
    ResetReplyState();
    if (state_ == fcReady || Busy()) {
      PostStatus(fsLoggedOut, nullptr);
      PostLog(lcLoggedOut);
    } else {
      PostStatus(fsDisconnected, nullptr);
    }
    state_ = fcIdle;
    return;
  }
  if (newState == fcReady) {
    CloseDataConnection(true);
    KillHoldTimer();
    // Whatever the server still owes belongs to the operation that ends here.
    if (Busy()) staleReplies_ = owedReplies_;
  }
  state_ = newState;
}

// A connection that ends, or a transfer that timed out, leaves nothing of its replies behind: no
// half-gathered multi-line reply, no pushed commands, no replies counted as owed.
void TQsCustomFtpClient::ResetReplyState() {
  multiLine_ = false;
  multiLineTerminator_.clear();
  replyLength_ = 0;
  replyBuffer_[0] = '\0';
  commands_.clear();
  owedReplies_ = 0;
  staleReplies_ = 0;
  heldError_ = 0;
  KillHoldTimer();
}

// ---- Timers -------------------------------------------------------------------------------------

TQsNotifyMethod TQsCustomFtpClient::HandlerMethod() { return TQsNotifyMethod::Of<&TQsCustomFtpClient::TriggerHandler>(this); }

void TQsCustomFtpClient::StopTransferTimer() {
  TQsBaseDispatcher* dispatcher = CurrentDispatcher();
  if (transferTimer_ > 0 && dispatcher != nullptr) {
    dispatcher->ArmTimerTrigger(transferTimer_, 0, false);
    dispatcher->DeleteTrigger(transferTimer_);
  }
  transferTimer_ = 0;
}

void TQsCustomFtpClient::StartTransferTimer() {
  StopTransferTimer();
  TQsBaseDispatcher* dispatcher = CurrentDispatcher();
  if (transferTimeout_ <= 0 || dispatcher == nullptr) return;
  const std::int32_t handle = dispatcher->CreateTimerTrigger();
  if (handle <= 0) return;
  transferTimer_ = handle;
  dispatcher->ArmTimerTrigger(handle, transferTimeout_, true);
}

void TQsCustomFtpClient::RearmTransferTimer() {
  TQsBaseDispatcher* dispatcher = CurrentDispatcher();
  if (transferTimer_ > 0 && dispatcher != nullptr) dispatcher->ArmTimerTrigger(transferTimer_, transferTimeout_, true);
}

void TQsCustomFtpClient::TriggerHandler(platform::UINT msg, platform::WPARAM first, platform::LPARAM /*second*/) {
  if (msg != DM_TIMER || transferTimer_ <= 0 || static_cast<std::int32_t>(first) != transferTimer_) return;
  StopTransferTimer();
  if (state_ != fcReady) platform::PostMessage(window_, kFtpTimeoutMessage, 0, 0);
}

void TQsCustomFtpClient::TransferTimedOut() {
  aborting_ = true;
  commands_.clear();
  multiLine_ = false;
  heldError_ = 0;
  ChangeState(state_ == fcIdle || state_ == fcLoggingOn ? fcIdle : fcReady);
  if (!destroying_ && OnFtpStatus) OnFtpStatus(this, fsTimedOut, nullptr);
}

void TQsCustomFtpClient::KillConnectTimer() {
  if (window_ != 0) platform::KillTimer(window_, kFtpConnectTimerId);
}

void TQsCustomFtpClient::KillHoldTimer() {
  if (window_ != 0) platform::KillTimer(window_, kFtpHoldTimerId);
}

void TQsCustomFtpClient::ConnectTimerFired() {
  ChangeState(fcIdle);
  KillConnectTimer();
  if (!destroying_ && OnFtpError) OnFtpError(this, -1, nullptr);
}

// ---- The control connection's notices -----------------------------------------------------------

void TQsCustomFtpClient::NotifyConnect() {
  KillConnectTimer();
  controlUp_ = true;
  ResetTls();
  controlTlsError_.clear();
  replyPacket_->SetEnabled(true);
  if (TQsBaseDispatcher* dispatcher = CurrentDispatcher()) dispatcher->AddMethodHandler(HandlerMethod());
  state_ = fcLoggingOn;
  TQsCustomWinsockPort::NotifyConnect();
}

void TQsCustomFtpClient::NotifyDisconnect() {
  KillConnectTimer();
  StopTransferTimer();
  if (TQsBaseDispatcher* dispatcher = CurrentDispatcher()) dispatcher->RemoveMethodHandler(HandlerMethod());
  replyPacket_->SetEnabled(false);
  controlUp_ = false;
  // A connection that never came up is an error of the log-on, reported before the Idle statuses.
  const std::int32_t connectError = connectError_;
  connectError_ = 0;
  if (connectError != 0 && !destroying_) Post(kFtpErrorMessage, connectError, nullptr);
  ReportControlTlsFailure(ws::kTlsFailedError);
  ChangeState(fcIdle);
  TQsCustomWinsockPort::NotifyDisconnect();
}

void TQsCustomFtpClient::NotifyError(int errorCode) {
  ReportControlTlsFailure(errorCode);
  const std::shared_ptr<bool> alive = AliveToken();
  TQsCustomWinsockPort::NotifyError(errorCode);
  if (!*alive) return;  // the application freed the client in its socket error event
  // A refused or failed connection attempt would otherwise leave the client logging on for ever
  // (without a connect time-out): close the port, outside the dispatcher's call, and report it.
  if (!controlUp_ && state_ == fcLoggingOn && !IsConnectionLost(errorCode) && connectError_ == 0 && State() == psOpen) {
    connectError_ = errorCode;
    platform::PostMessage(PortWindow(), ClosePortMessage, 0, 0);
  }
}
