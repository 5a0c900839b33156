// The downloader's main window: start-up (command line, language, download folder, the stale
// setup file), the language button, and the download run behind the buttons Download, Install
// and Exit, driven by the FTP client's events and three polling timers.
//
// The window is read from resources/GetUpdateFile.form; the FTP client and its history log are
// made here in code. Everything runs on the thread that made the window.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ftp/QsFtp.h"
#include "platform/StringList.h"
#include "ui/Form.h"

namespace ui {
class TFileListBox;
class TMemo;
class TStatusBar;
class TTimer;
}  // namespace ui

class TRunObserver;

class TGetUpdateFile : public ui::TForm {
 public:
  // params: the command line's parameters after the program's name. Registers the window's
  // methods; Create reads the form and runs the start-up.
  explicit TGetUpdateFile(std::vector<std::string> params);
  ~TGetUpdateFile() override;
  std::string ClassName() const override { return "TGetUpdateFile"; }

  // Reads the stored form and runs FormCreate. observer (not owned, may be null) hears how runs go.
  static std::unique_ptr<TGetUpdateFile> Create(std::vector<std::string> params, TRunObserver* observer = nullptr);

  // ---- Handlers (bound by name from the form) ------------------------------------------------------
  void FormCreate(platform::TComponent* sender);
  void FormClose(platform::TComponent* sender);
  void FormDestroy(platform::TComponent* sender);
  void BitBtn1Click(platform::TComponent* sender);
  void btnFileDownloadClick(platform::TComponent* sender);
  void btnInstallClick(platform::TComponent* sender);
  void btnExitClick(platform::TComponent* sender);
  void Timer1Timer(platform::TComponent* sender);
  void Timer2Timer(platform::TComponent* sender);
  void Timer3Timer(platform::TComponent* sender);
  void QsFtpClient1FtpStatus(platform::TComponent* sender, TFtpStatusCode code, const char* info);
  void QsFtpClient1FtpError(platform::TComponent* sender, std::int32_t code, const char* text);

  // ---- What the start-up chose ---------------------------------------------------------------------
  bool UseChinese() const { return useChinese_; }
  const std::string& ProductCode() const { return productCode_; }
  const std::string& SetupFileName() const { return setupFileName_; }
  const std::string& RemoteFolder() const { return remoteFolder_; }
  const std::string& LocalFolder() const { return localFolder_; }
  const std::string& ProgramFolder() const { return programFolder_; }
  const platform::TStringList& PendingFiles() const { return pendingFiles_; }
  int ReceivedCount() const { return receivedCount_; }

  TQsFtpClient& Client() { return *client_; }
  // Whether the run is sure to take a step or hear from the client without anyone's help: a
  // pause runs, a timer's condition is met, or the client waits under its transfer time-out.
  bool WillMove() const;
  ui::TMemo& InfoMemo() { return *infoMemo_; }
  ui::TMemo& Memo1() { return *memo1_; }
  ui::TStatusBar& StatusBar1() { return *statusBar_; }

 private:
  void RegisterMethods();
  void FindControls();
  void CreateClient();
  void EnterDownloadFolder();
  void CheckSetupFile();
  // Run steps.
  void ConfigureClient();
  void StartDownloadRun();
  void BuildFileList();
  void DownloadNextFile();
  void SkipFile();
  void RefuseName(const std::string& name);
  void RetrieveRefused(const std::string& name);
  void RunCannotGoOn();
  void Pause();
  void FinishDownloadRun();
  void CheckConnectionLost();
  void ShowStatus(const std::string& text);
  const std::string& Text(int runText) const;
  std::string LocalPath(const std::string& name) const;
  void Moved();

  std::vector<std::string> params_;
  TRunObserver* observer_ = nullptr;

  // Controls of the form and the components made in code (owned by the window).
  ui::TMemo* infoMemo_ = nullptr;
  ui::TMemo* memo1_ = nullptr;
  ui::TFileListBox* fileListBox_ = nullptr;
  ui::TStatusBar* statusBar_ = nullptr;
  ui::TTimer* timer1_ = nullptr;
  ui::TTimer* timer2_ = nullptr;
  ui::TTimer* timer3_ = nullptr;
  TQsFtpClient* client_ = nullptr;
  TQsFtpLog* ftpLog_ = nullptr;

  // Start-up values.
  bool useChinese_ = true;
  std::string productCode_;
  std::string setupFileName_;
  std::string buildDate_;
  std::string savedCaption_;
  std::string remoteFolder_;
  std::string localFolder_;
  std::string programFolder_;
  platform::TStringList pendingFiles_;
  std::int32_t receivedCount_ = 0;

  // Run flags.
  bool loggedIn_ = false;
  bool listingSeen_ = false;
  bool expectListing_ = false;
  bool namesReady_ = false;
  bool allDone_ = false;

  // How the current run goes, for the observer.
  bool runActive_ = false;
  bool runEnding_ = false;
  int pausing_ = 0;
  int runListed_ = 0;
  int runReceived_ = 0;
  int runFailures_ = 0;
};
