// The FTP history log: one time-stamped line per log code, appended to the history file, which is
// opened and closed for every line so that other programs can read it at any time.
#include "ftp/QsFtp.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "platform/DateTime.h"
#include "platform/SysUtils.h"

namespace {

[[noreturn]] void RaiseIoError(const std::string& what, const std::string& path, int error) {
  throw platform::EInOutError(what + " \"" + path + "\". " + std::strerror(error), error);
}

}  // namespace

TQsFtpLog::TQsFtpLog(platform::TComponent* owner) : TQsBaseComponent(owner) {
  // The owner announced this log before it was one: a client there without a log takes it now.
  if (owner == nullptr) return;
  for (int i = 0; i < owner->ComponentCount(); ++i) {
    auto* client = dynamic_cast<TQsCustomFtpClient*>(owner->Components(i));
    if (client != nullptr && client->FtpLog() == nullptr) {
      client->SetFtpLog(this);
      return;
    }
  }
}

TQsFtpLog::~TQsFtpLog() {
  if (ftpClient_ != nullptr && ftpClient_->FtpLog() == this) ftpClient_->SetFtpLog(nullptr);
}

const platform::PropertyTable& TQsFtpLog::Properties() const {
  using P = TQsFtpLog;
  static const platform::PropertyTable table = platform::PropertyTable(&TQsBaseComponent::ClassProperties())
                                                   .Property("Enabled", &P::Enabled, &P::SetEnabled)
                                                   .Property("FtpHistoryName", &P::FtpHistoryName, &P::SetFtpHistoryName);
  return table;
}

void TQsFtpLog::Notification(platform::TComponent* component, platform::TOperation operation) {
  TQsBaseComponent::Notification(component, operation);
  if (operation == platform::opRemove && component == ftpClient_) ftpClient_ = nullptr;
}

std::string TQsFtpLog::LogText(TFtpLogCode code) const {
  const TQsCustomFtpClient* c = ftpClient_;
  const auto quote = [c](auto field) { return c != nullptr ? field(*c) : std::string(); };
  switch (code) {
    case lcDisconnected: return "Disconnected";
    case lcConnected: return "Connected to " + quote([](const TQsCustomFtpClient& x) { return x.ServerAddress(); });
    case lcLoggedOut: return quote([](const TQsCustomFtpClient& x) { return x.UserName(); }) + " logged out";
    case lcLoggedIn: return quote([](const TQsCustomFtpClient& x) { return x.UserName(); }) + " logged in";
    case lcDeleting: return "Deleting " + quote([](const TQsCustomFtpClient& x) { return x.RemoteFileName(); });
    case lcRenaming: return "Renaming " + quote([](const TQsCustomFtpClient& x) { return x.RemoteFileName(); });
    case lcDownloading: return "Downloading " + quote([](const TQsCustomFtpClient& x) { return x.RemoteFileName(); });
    case lcUploading: return "Uploading " + quote([](const TQsCustomFtpClient& x) { return x.LocalFileName(); });
    case lcTransferComplete:
      return "Transfer complete. " +
             quote([](const TQsCustomFtpClient& x) { return std::to_string(x.BytesTransferred()); }) +
             " bytes Transferred";
    case lcRestarting:
      return "Attempting re-transfer at " +
             quote([](const TQsCustomFtpClient& x) { return std::to_string(x.RestartPosition()); }) + " bytes";
    case lcTimedOut: return "Transfer timed out";
    case lcAborted: return "Transfer aborted by user";
    case lcEncrypted: return "Encrypted with " + quote([](const TQsCustomFtpClient& x) { return x.TlsDescription(); });
  }
  return {};
}

void TQsFtpLog::UpdateLog(TFtpLogCode code) {
  if (!enabled_ || ftpHistoryName_.empty()) return;
  std::FILE* file = std::fopen(ftpHistoryName_.c_str(), "ab");
  if (file == nullptr) RaiseIoError("Cannot open history file", ftpHistoryName_, errno);
  const std::string line = platform::DateTimeToStr(std::time(nullptr)) + " : " + LogText(code) + "\r\n";
  const bool written = std::fwrite(line.data(), 1, line.size(), file) == line.size();
  const int writeError = errno;
  const bool closed = std::fclose(file) == 0;
  if (!written) RaiseIoError("Cannot write history file", ftpHistoryName_, writeError);
  if (!closed) RaiseIoError("Cannot close history file", ftpHistoryName_, errno);
}
