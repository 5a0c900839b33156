// The download run of the main window: the Download button, the three polling timers, the FTP
// client's status and error events, and the steps from the listing to the end-of-run question.
#include <cstdlib>
#include <string>

#include "app/ListingNames.h"
#include "app/LocalNames.h"
#include "app/RunObserver.h"
#include "app/RunTexts.h"
#include "app/ServerAddress.h"
#include "app/uGetUpdateFile.h"
#include "comm/QsExcept.h"
#include "comm/QsMisc.h"
#include "platform/Files.h"
#include "ui/ComCtrls.h"
#include "ui/FileCtrls.h"
#include "ui/Prompter.h"
#include "ui/StdCtrls.h"
#include "ui/Timer.h"

namespace {

constexpr const char* kUserName = "kwmoro";
constexpr const char* kPassword = "qk47ze19";
constexpr int kTransferTimeoutTicks = 3000;  // 165 s
// The run's pauses of 1000 ms, in whole ticks. The window keeps handling messages meanwhile, so
// that it stays responsive; the steps around each pause keep their order.
constexpr int kPauseTicks = (1000 + kTickMilliseconds - 1) / kTickMilliseconds;

// QUILLSTAGE_TRANSFER_SECONDS, when a positive whole number, shortens (or lengthens) the
// transfer time-out; tests use it to reach a time-out within seconds.
int TransferTimeoutTicks() {
  const char* setting = std::getenv("QUILLSTAGE_TRANSFER_SECONDS");
  if (setting == nullptr) return kTransferTimeoutTicks;
  char* end = nullptr;
  const long seconds = std::strtol(setting, &end, 10);
  if (end == setting || *end != '\0' || seconds <= 0 || seconds > 86400) return kTransferTimeoutTicks;
  return static_cast<int>((seconds * 1000 + kTickMilliseconds - 1) / kTickMilliseconds);
}

// A name as it can be shown in one line of text: a NUL is written as \0.
std::string Printable(const std::string& name) {
  std::string shown;
  for (const char c : name) shown += c == '\0' ? std::string("\\0") : std::string(1, c);
  return shown;
}

}  // namespace

void TGetUpdateFile::btnFileDownloadClick(platform::TComponent* /*sender*/) {
  ShowStatus(Text(rtPleaseWait));
  memo1_->Clear();
  const std::string setupPath = LocalPath(setupFileName_);
  if (platform::FileExists(setupPath)) platform::DeleteFile(setupPath);
  StartDownloadRun();
}

void TGetUpdateFile::ConfigureClient() {
  loggedIn_ = false;
  listingSeen_ = false;
  client_->SetUserName(kUserName);
  client_->SetPassword(kPassword);
  if (!client_->Connected()) {
    // The address cannot change while connected; a run started over a live connection keeps it.
    const TServerSetting server = ServerSetting(std::getenv("QUILLSTAGE_FTP_SERVER"));
    client_->SetServerAddress(server.address);
    client_->SetWsPort(server.port);
    client_->SetTlsPolicy(server.tls ? tpRequired : tpOff);
    const char* caFile = std::getenv("QUILLSTAGE_FTP_CA");
    const char* fingerprint = std::getenv("QUILLSTAGE_FTP_FINGERPRINT");
    client_->SetTlsCaFile(caFile != nullptr ? caFile : "");
    client_->SetTlsFingerprint(fingerprint != nullptr ? fingerprint : "");
  }
  client_->SetPassiveMode(true);
  client_->SetTransferTimeout(TransferTimeoutTicks());
  client_->SetRestartPosition(0);
  client_->SetFileType(ftBinary);
}

void TGetUpdateFile::StartDownloadRun() {
  ConfigureClient();
  runActive_ = true;
  runEnding_ = false;
  runListed_ = runReceived_ = runFailures_ = 0;
  Pause();
  if (client_->Connected()) {
    timer3_->SetEnabled(true);
    return;
  }
  bool loggingOn = false;
  try {
    loggingOn = client_->LogOn();
  } catch (const std::exception& e) {
    runActive_ = false;
    if (observer_ != nullptr) observer_->RunNotStarted(e);
    throw;
  }
  if (loggingOn) {
    timer3_->SetEnabled(true);
  } else {
    runActive_ = false;
    if (observer_ != nullptr) observer_->RunBroken();
  }
}

void TGetUpdateFile::Timer3Timer(platform::TComponent* /*sender*/) {
  if (!client_->Connected() || !loggedIn_ || !listingSeen_) return;
  timer3_->SetEnabled(false);
  pendingFiles_.Clear();
  namesReady_ = false;
  allDone_ = false;
  expectListing_ = true;
  timer1_->SetEnabled(true);
  client_->ChangeDirectory(remoteFolder_);
  timer2_->SetEnabled(true);
  Moved();
}

void TGetUpdateFile::Timer2Timer(platform::TComponent* /*sender*/) {
  if (!namesReady_) return;
  timer2_->SetEnabled(false);
  Moved();
  DownloadNextFile();
}

void TGetUpdateFile::Timer1Timer(platform::TComponent* /*sender*/) {
  if (!allDone_) return;
  timer1_->SetEnabled(false);
  expectListing_ = false;
  namesReady_ = false;
  runEnding_ = true;
  Moved();
  client_->LogOff();
  FinishDownloadRun();
}

void TGetUpdateFile::BuildFileList() {
  pendingFiles_.Clear();
  ListingToNames(infoMemo_->Text(), pendingFiles_);
  runListed_ = pendingFiles_.Count();
  ShowStatus(Text(rtLogin));
  Pause();
  expectListing_ = false;
  namesReady_ = true;
}

void TGetUpdateFile::DownloadNextFile() {
  while (!pendingFiles_.IsEmpty() && !IsPlainFileName(pendingFiles_[0])) RefuseName(pendingFiles_[0]);
  if (pendingFiles_.IsEmpty()) {
    allDone_ = true;
    return;
  }
  const std::string name = pendingFiles_[0];
  ShowStatus(name);
  try {
    if (!client_->RetrieveFile(name, LocalPath(LocalNameFor(name, setupFileName_)), rtReplace)) RetrieveRefused(name);
  } catch (const std::exception& e) {
    // The local file could not be made: told like a refused file, and the next one is fetched.
    if (runActive_) ++runFailures_;
    ui::MessageDlg(e.what(), ui::mtError, ui::mbOK);
    SkipFile();
  }
}

// The client could not start the retrieval: the file has failed. Without a connection the run
// is over (the client's own report says so); otherwise the next file is tried.
void TGetUpdateFile::RetrieveRefused(const std::string& name) {
  if (!client_->Connected()) {
    pendingFiles_.Clear();
    CheckConnectionLost();
    return;
  }
  if (runActive_) ++runFailures_;
  ui::MessageBox("Download failed", "\"" + Printable(name) + "\" could not be requested from the server.",
                 ui::mtWarning, ui::mbOK);
  SkipFile();
}

// A listed name that is not a plain file name would be written outside the download folder (or
// not be a file at all): it is refused and skipped.
void TGetUpdateFile::RefuseName(const std::string& name) {
  if (runActive_) ++runFailures_;
  ui::MessageBox("Download refused",
                 "The server listed \"" + Printable(name) + "\", which is not a plain file name; it is not downloaded.",
                 ui::mtWarning, ui::mbOK);
  pendingFiles_.Delete(0);
}

void TGetUpdateFile::SkipFile() {
  if (!pendingFiles_.IsEmpty()) pendingFiles_.Delete(0);
  DownloadNextFile();
}

void TGetUpdateFile::FinishDownloadRun() {
  client_->LogOff();
  const bool allReceived = runFailures_ == 0 && runReceived_ == runListed_;
  runActive_ = false;
  runEnding_ = false;
  if (receivedCount_ != 0) {
    fileListBox_->Update();
    const ui::TModalResult answer =
        ui::MessageDlg(Text(rtInstallQuestion), ui::mtConfirmation, ui::mbYes | ui::mbNo | ui::mbCancel);
    if (answer == ui::mrYes) {
      btnInstallClick(this);
      return;
    }
  }
  if (observer_ != nullptr) observer_->RunEnded(allReceived);
}

void TGetUpdateFile::QsFtpClient1FtpStatus(platform::TComponent* /*sender*/, TFtpStatusCode code, const char* info) {
  Moved();
  switch (code) {
    case fsDisconnected:
      SetCaption(savedCaption_);
      CheckConnectionLost();
      break;
    case fsConnected:
      ShowStatus(Text(rtConnected));
      break;
    case fsLoggedOut:
      ShowStatus(Text(rtLoggedOut));
      pendingFiles_.Clear();
      CheckConnectionLost();
      break;
    case fsLoggedIn:
      ShowStatus(Text(client_->TlsDescription().empty() ? rtLoginSuccess : rtLoginEncrypted));
      client_->QueryCurrentDirectory();
      loggedIn_ = true;
      break;
    case fsCommandComplete:
      infoMemo_->AddLine(kOperationComplete);
      client_->QueryCurrentDirectory();
      break;
    case fsCurrentDirectory:
      client_->ListDirectory("", false);
      break;
    case fsDataAvailable:
      if (expectListing_) {
        infoMemo_->SetText(info != nullptr ? info : "");
        BuildFileList();
      }
      listingSeen_ = true;
      break;
    case fsProgress:
      if (!pendingFiles_.IsEmpty()) {
        ShowStatus(pendingFiles_[0] + " " + Text(rtDownloading) + std::to_string(client_->BytesTransferred()));
      }
      break;
    case fsTransferComplete:
      if (!pendingFiles_.IsEmpty()) {
        ShowStatus(pendingFiles_[0] + " " + Text(rtDownloadCompleted));
        memo1_->AddLine(pendingFiles_[0]);
        ++receivedCount_;
        ++runReceived_;
        SkipFile();
      }
      break;
    case fsTimedOut:
      ui::ShowMessage(kTransferTimedOut);
      // The run stops where it is: nothing more will come of it.
      RunCannotGoOn();
      break;
  }
}

void TGetUpdateFile::QsFtpClient1FtpError(platform::TComponent* /*sender*/, std::int32_t code, const char* text) {
  Moved();
  if (runActive_) ++runFailures_;
  // Without a text from the client (a socket's error) the message table says what the code means.
  const std::string body = text != nullptr ? std::string(text) : MessageForCode(code);
  // Refused before the product's names were known (log-on, the first listing, the product
  // folder): the run cannot go on.
  const bool fatal = !loggedIn_ || !listingSeen_ || expectListing_;
  ui::MessageBox(kFtpErrorCaption + std::to_string(code), body, ui::mtWarning, ui::mbOK);
  SkipFile();
  CheckConnectionLost();
  if (fatal) RunCannotGoOn();
}

void TGetUpdateFile::RunCannotGoOn() {
  if (!runActive_ || runEnding_) return;
  runActive_ = false;
  if (observer_ != nullptr) observer_->RunBroken();
}

bool TGetUpdateFile::WillMove() const {
  if (pausing_ > 0 || client_->AwaitingServer()) return true;
  const bool timer3Acts = timer3_->Enabled() && client_->Connected() && loggedIn_ && listingSeen_;
  return timer3Acts || (timer2_->Enabled() && namesReady_) || (timer1_->Enabled() && allDone_);
}

void TGetUpdateFile::Pause() {
  ++pausing_;
  WaitTicks(kPauseTicks, true);
  --pausing_;
}

// With the client back to idle before the run could end, nothing more will come: the observer
// hears that the run broke off. The logging off at the run's end is no such case.
void TGetUpdateFile::CheckConnectionLost() {
  if (!runActive_ || runEnding_ || client_->Connected()) return;
  runActive_ = false;
  if (observer_ != nullptr) observer_->RunBroken();
}
