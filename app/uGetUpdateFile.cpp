#include "app/uGetUpdateFile.h"

#include <ctime>

#include "app/LocalFolder.h"
#include "app/RunObserver.h"
#include "app/RunTexts.h"
#include "app/StartupRules.h"
#include "lang/MLang.h"
#include "platform/DateTime.h"
#include "platform/Files.h"
#include "platform/Process.h"
#include "ui/ComCtrls.h"
#include "ui/FileCtrls.h"
#include "ui/FormReader.h"
#include "ui/Prompter.h"
#include "ui/StdCtrls.h"
#include "ui/Timer.h"

namespace {

constexpr const char* kBuildDate = "2017/10/12";
constexpr const char* kDownloadFolder = "C:\\Quillstage";

template <typename T>
T* Find(ui::TForm& form, const std::string& name) {
  auto* component = dynamic_cast<T*>(form.FindComponent(name));
  if (component == nullptr) throw platform::Exception("The main window's form has no " + name);
  return component;
}

}  // namespace

TGetUpdateFile::TGetUpdateFile(std::vector<std::string> params) : ui::TForm(nullptr), params_(std::move(params)) {
  RegisterMethods();
}

TGetUpdateFile::~TGetUpdateFile() = default;

std::unique_ptr<TGetUpdateFile> TGetUpdateFile::Create(std::vector<std::string> params, TRunObserver* observer) {
  auto window = std::make_unique<TGetUpdateFile>(std::move(params));
  window->observer_ = observer;
  ui::TClassRegistry classes = ui::StandardClasses();
  RegisterLanguageClasses(classes);
  ui::ReadFormFile(ui::FindResourceFile("GetUpdateFile.form"), *window, classes);
  window->FindControls();
  window->CreateClient();
  window->DoCreate();
  return window;
}

void TGetUpdateFile::RegisterMethods() {
  using Handler = void (TGetUpdateFile::*)(platform::TComponent*);
  const std::pair<const char*, Handler> methods[] = {
      {"FormCreate", &TGetUpdateFile::FormCreate},
      {"FormClose", &TGetUpdateFile::FormClose},
      {"FormDestroy", &TGetUpdateFile::FormDestroy},
      {"BitBtn1Click", &TGetUpdateFile::BitBtn1Click},
      {"btnFileDownloadClick", &TGetUpdateFile::btnFileDownloadClick},
      {"btnInstallClick", &TGetUpdateFile::btnInstallClick},
      {"btnExitClick", &TGetUpdateFile::btnExitClick},
      {"Timer1Timer", &TGetUpdateFile::Timer1Timer},
      {"Timer2Timer", &TGetUpdateFile::Timer2Timer},
      {"Timer3Timer", &TGetUpdateFile::Timer3Timer},
  };
  for (const auto& entry : methods) {
    const auto handler = entry.second;  // a named copy: clang 14 cannot capture a structured binding
    RegisterMethod<platform::TComponent*>(entry.first, [this, handler](platform::TComponent* sender) { (this->*handler)(sender); });
  }
}

void TGetUpdateFile::FindControls() {
  infoMemo_ = Find<ui::TMemo>(*this, "InfoMemo");
  memo1_ = Find<ui::TMemo>(*this, "Memo1");
  fileListBox_ = Find<ui::TFileListBox>(*this, "FileListBox1");
  statusBar_ = Find<ui::TStatusBar>(*this, "StatusBar1");
  timer1_ = Find<ui::TTimer>(*this, "Timer1");
  timer2_ = Find<ui::TTimer>(*this, "Timer2");
  timer3_ = Find<ui::TTimer>(*this, "Timer3");
}

void TGetUpdateFile::CreateClient() {
  ftpLog_ = new TQsFtpLog(this);  // owned by the window
  ftpLog_->SetName("QsFtpLog1");
  ftpLog_->SetEnabled(false);
  ftpLog_->SetFtpHistoryName("QSFTP.HIS");
  client_ = new TQsFtpClient(this);  // owned by the window
  client_->SetName("QsFtpClient1");
  client_->SetConnectTimeout(0);
  client_->SetFileType(ftBinary);
  client_->SetFtpLog(ftpLog_);
  client_->SetPassiveMode(false);
  client_->SetTransferTimeout(5000);
  client_->SetLogName("QS.LOG");
  client_->SetTraceName("QS.TRC");
  client_->SetWsPort("ftp");
  client_->OnFtpStatus = TFtpStatusEvent(this, &TGetUpdateFile::QsFtpClient1FtpStatus);
  client_->OnFtpError = TFtpErrorEvent(this, &TGetUpdateFile::QsFtpClient1FtpError);
}

// ---- Start-up --------------------------------------------------------------------------------------

void TGetUpdateFile::FormCreate(platform::TComponent* /*sender*/) {
  platform::SetShortDateFormat("yyyy/mm/dd");
  buildDate_ = kBuildDate;
  const TCommandLine commandLine = ReadCommandLine(params_);
  useChinese_ = commandLine.useChinese;
  productCode_ = commandLine.productCode;
  remoteFolder_ = commandLine.remoteFolder;
  setupFileName_ = commandLine.setupFileName;
  SetGlobalLanguage(useChinese_ ? 1 : 0);
  programFolder_ = platform::ProgramFolder();
  EnterDownloadFolder();
  CheckSetupFile();
  fileListBox_->Update();
  pendingFiles_.Clear();
  namesReady_ = allDone_ = expectListing_ = false;
  receivedCount_ = 0;
  SetCaption(Caption() + "  (Updated on " + buildDate_ + ")");
  savedCaption_ = Caption();
}

void TGetUpdateFile::EnterDownloadFolder() {
  const std::string downloadFolder = platform::MapWindowsPath(kDownloadFolder);
  if (!platform::DirectoryExists(downloadFolder)) platform::ForceDirectories(downloadFolder);
  const bool exists = platform::DirectoryExists(downloadFolder);
  const TLocalFolderChoice choice =
      EnterLocalFolder(exists ? downloadFolder : std::string(), programFolder_, &platform::SetCurrentDir);
  localFolder_ = choice.localFolder;
  fileListBox_->SetDirectory(choice.localFolder == programFolder_ ? programFolder_ : downloadFolder);
  if (!choice.warning.empty()) ui::MessageDlg(choice.warning, ui::mtWarning, ui::mbOK);
}

void TGetUpdateFile::CheckSetupFile() {
  const std::string setupPath = LocalPath(setupFileName_);
  const std::optional<std::time_t> age = platform::FileExists(setupPath) ? platform::FileAge(setupPath) : std::nullopt;
  if (!age) {
    ShowStatus(programFolder_);
    return;
  }
  ShowStatus(programFolder_ + setupFileName_ + " downloaded on " + platform::DateToStr(*age));
  if (IsSetupFileStale(*age, std::time(nullptr))) platform::DeleteFile(setupPath);
}

void TGetUpdateFile::FormClose(platform::TComponent* /*sender*/) {
  timer1_->SetEnabled(false);
  timer2_->SetEnabled(false);
  timer3_->SetEnabled(false);
}

void TGetUpdateFile::FormDestroy(platform::TComponent* /*sender*/) { pendingFiles_.Clear(); }

void TGetUpdateFile::BitBtn1Click(platform::TComponent* /*sender*/) {
  useChinese_ = !useChinese_;
  SetGlobalLanguage(useChinese_ ? 1 : 0);
}

// ---- Install and Exit ------------------------------------------------------------------------------

void TGetUpdateFile::btnInstallClick(platform::TComponent* /*sender*/) {
  const std::string setupPath = LocalPath(setupFileName_);
  bool started = false;
  if (platform::FileExists(setupPath)) {
    std::string error;
    started = platform::StartProgram(setupPath, localFolder_, error);
    if (!started) ui::MessageDlg("Cannot start " + setupPath + ": " + error, ui::mtError, ui::mbOK);
  } else {
    ui::ShowMessage(Text(rtFilesIncomplete));
  }
  if (observer_ != nullptr) observer_->InstallDone(started);
  Close();
}

void TGetUpdateFile::btnExitClick(platform::TComponent* /*sender*/) {
  client_->LogOff();
  infoMemo_->Clear();
  pendingFiles_.Clear();
  Close();
}

// ---- Helpers ---------------------------------------------------------------------------------------

void TGetUpdateFile::ShowStatus(const std::string& text) { statusBar_->SetSimpleText(text); }

const std::string& TGetUpdateFile::Text(int runText) const { return RunText(static_cast<TRunText>(runText), useChinese_); }

// The setup file and the downloads live in the local folder, which start-up made the current one;
// naming it in full keeps them there even if the current folder could not be changed.
std::string TGetUpdateFile::LocalPath(const std::string& name) const { return localFolder_ + name; }

void TGetUpdateFile::Moved() {
  if (observer_ != nullptr) observer_->RunMoved();
}
