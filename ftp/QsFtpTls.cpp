// FTP over TLS (explicit: AUTH TLS after the greeting). The control connection is encrypted
// before the user name goes out; after the log-on, PBSZ 0 and PROT P protect every data
// connection, each taking up the control connection's TLS session. TLS itself runs inside the
// socket library, so the connections keep their notices and the client its rules.
#include "ftp/QsFtp.h"

#include "platform/SocketTls.h"
#include "platform/SysUtils.h"

namespace ws = platform::ws;

namespace {
// The trace's kind for the connection's TLS version and cipher ("Special-S: " in the file).
constexpr char kTlsTraceKind = 'S';
}  // namespace

void TQsCustomFtpClient::BeginTls() {
  tlsStep_ = TTlsStep::tsAuthSent;
  SendCommand("AUTH TLS");
}

// The replies to AUTH TLS, PBSZ and PROT. Any refusal ends the session: going on would send the
// password, or the files, in clear text.
bool TQsCustomFtpClient::ReactTls(int code) {
  switch (tlsStep_) {
    case TTlsStep::tsAuthSent:
      if (code != 234) break;
      if (!StartControlTls()) return true;
      tlsStep_ = TTlsStep::tsControl;
      SendCommand("USER " + userName_);  // held by the TLS layer until the handshake has ended
      return true;
    case TTlsStep::tsPbszSent:
      if (code < 200 || code > 299) break;
      tlsStep_ = TTlsStep::tsProtSent;
      SendCommand("PROT P");
      return true;
    case TTlsStep::tsProtSent:
      if (code < 200 || code > 299) break;
      tlsStep_ = TTlsStep::tsOn;
      ChangeState(fcReady);
      PostStatus(fsLoggedIn, nullptr);
      return true;
    default:
      return false;
  }
  if (code < 200) return true;  // a preliminary reply: the answer is still to come
  RefuseTls(code, ReplyText());
  return true;
}

void TQsCustomFtpClient::RefuseTls(std::int32_t code, const char* text) {
  commands_.clear();
  PostError(code, text);
  ChangeState(fcIdle);
}

bool TQsCustomFtpClient::StartControlTls() {
  TQsBaseDispatcher* dispatcher = CurrentDispatcher();
  try {
    tlsContext_ = std::make_shared<platform::tls::TClientContext>(platform::tls::TTrust{tlsCaFile_, tlsFingerprint_});
  } catch (const platform::Exception& e) {
    RefuseTls(ws::kTlsFailedError, e.Message().c_str());
    return false;
  }
  if (dispatcher == nullptr) return false;
  ws::TTlsWatch watch;
  // Both are told from inside the socket's read: only recorded here, acted on afterwards.
  watch.opened = [this](const std::string& version, const std::string& cipher) {
    tlsDescription_ = version + " " + cipher;
    PostLog(lcEncrypted);  // posted: the history log is written after the socket's read
    // The trace notes it where it happened, between the bytes sent and received around it.
    if (TQsBaseDispatcher* d = CurrentDispatcher(); d != nullptr && d->TraceRecording())
      d->TraceText(kTlsTraceKind, tlsDescription_);
  };
  watch.failed = [this](const std::string& why) { controlTlsError_ = why; };
  watch.cutIsEnd = true;  // replies are lines: a cut shows as a reply that never comes
  const auto control = static_cast<ws::SOCKET>(dispatcher->DeviceId());
  if (ws::StartTls(control, tlsContext_, ServerAddress(), ws::INVALID_SOCKET, std::move(watch)) != 0) {
    RefuseTls(ws::kTlsFailedError, "TLS cannot start on the connection");
    return false;
  }
  return true;
}

// The password goes out as ever; the trace and the log, when on, are paused for the write and
// given the same line with every character of the password replaced, so that the counts agree.
void TQsCustomFtpClient::SendPassword() {
  const std::string line = "PASS " + password_;
  TQsBaseDispatcher* d = tlsStep_ != TTlsStep::tsNone ? CurrentDispatcher() : nullptr;
  const bool tracing = d != nullptr && d->TraceRecording();
  const bool logging = d != nullptr && d->LogRecording();
  if (!tracing && !logging) {
    SendCommand(line);
    return;
  }
  if (tracing) d->PauseTrace();
  if (logging) d->PauseLog();
  // A write that fails may close the port and release its dispatcher: only the one still in
  // place is resumed.
  const auto resume = [&] {
    if (CurrentDispatcher() != d) return false;
    if (tracing) d->ResumeTrace();
    if (logging) d->ResumeLog();
    return true;
  };
  try {
    SendCommand(line);
  } catch (...) {
    resume();
    throw;
  }
  if (!resume()) return;
  d->RecordWritten("PASS " + std::string(password_.size(), '*') + "\r\n");
}

// A control connection whose TLS failed ends as a lost connection; the reason is reported once.
void TQsCustomFtpClient::ReportControlTlsFailure(std::int32_t code) {
  if (controlTlsError_.empty() || destroying_) return;
  const std::string why = std::move(controlTlsError_);
  controlTlsError_.clear();
  Post(kFtpErrorMessage, code, why.c_str());
}

void TQsCustomFtpClient::MaybeStartDataTls() {
  if (tlsStep_ == TTlsStep::tsOn && dataConnected_ && dataPreliminary_) StartDataTls();
}

void TQsCustomFtpClient::StartDataTls() {
  TQsBaseDispatcher* dispatcher = CurrentDispatcher();
  if (dataTlsStarted_ || dataSocket_ == ws::INVALID_SOCKET || dispatcher == nullptr) return;
  dataTlsStarted_ = true;
  dataTlsError_.clear();
  ws::TTlsWatch watch;
  watch.failed = [this](const std::string& why) { dataTlsError_ = why; };
  const auto control = static_cast<ws::SOCKET>(dispatcher->DeviceId());
  ws::StartTls(dataSocket_, tlsContext_, ServerAddress(), control, std::move(watch));
}

// Only a data connection whose server closed TLS itself brought everything: one that merely
// ended may have been cut by anyone on the way.
bool TQsCustomFtpClient::DataTlsEndedProperly() {
  if (!dataTlsStarted_ || dataSocket_ == ws::INVALID_SOCKET) return true;
  const ws::TTlsStatus status = ws::TlsStatus(dataSocket_);
  if (!status.active || status.state == platform::tls::TState::tsClosed) return true;
  dataTlsError_ = !status.error.empty() ? status.error
                                        : "The server ended the data connection without closing TLS: the transfer is incomplete";
  return false;
}

bool TQsCustomFtpClient::DataTlsClosed(TSocket socket) const {
  return dataTlsStarted_ && IsDataSocket(socket) && ws::TlsStatus(socket).state == platform::tls::TState::tsClosed;
}

void TQsCustomFtpClient::ResetTls() {
  tlsStep_ = TTlsStep::tsNone;
  tlsDescription_.clear();
  dataTlsStarted_ = false;
  dataTlsError_.clear();
  dataConnected_ = false;
  dataPreliminary_ = false;
}
