// The FTP client and its history log.
//
// TQsCustomFtpClient is a Winsock port whose TCP connection is the FTP control connection: a data
// packet cuts the server's reply lines out of it, a small command stack sends multi-command
// operations one reply at a time, and a second socket object carries listings and files. Every
// report (status, error, reply, log code) is posted to the client's own hidden window, so that it
// reaches the application after the code that caused it has returned, in the order it was made.
// TQsFtpClient publishes the properties; TQsFtpLog appends one time-stamped line per log code.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "port/QsSocket.h"
#include "port/QsWsPort.h"

class TQsDataPacket;
namespace platform {
class TFileWriter;
}
class TQsFtpLog;
namespace platform::tls {
class TClientContext;
}

enum TFtpStatusCode : std::uint8_t {
  fsDisconnected = 0,
  fsConnected = 1,
  fsLoggedOut = 2,
  fsLoggedIn = 3,
  fsCommandComplete = 4,
  fsCurrentDirectory = 5,
  fsDataAvailable = 6,
  fsProgress = 7,
  fsTransferComplete = 8,
  fsTimedOut = 9,
};

enum TFtpFileType : std::uint8_t { ftAscii = 0, ftBinary = 1 };

// Off: plain FTP. Required: AUTH TLS after the greeting, every data connection protected; a server
// that refuses is an error, never a reason to go on in clear text.
enum TFtpTlsPolicy : std::uint8_t { tpOff = 0, tpRequired = 1 };

// Any value other than rtAppend and rtReplace acts as rtRestart.
enum TRetrieveMode : int { rtAppend = 0, rtReplace = 1, rtRestart = 2 };

enum TFtpLogCode : std::uint8_t {
  lcDisconnected = 0,
  lcConnected = 1,
  lcLoggedOut = 2,
  lcLoggedIn = 3,
  lcDeleting = 4,
  lcRenaming = 5,
  lcDownloading = 6,
  lcUploading = 7,
  lcTransferComplete = 8,
  lcRestarting = 9,
  lcTimedOut = 10,
  lcAborted = 11,
  lcEncrypted = 12,  // the control connection's TLS is up: its version and cipher
};

// The client's own state; Listing, Retrieving and Querying are the busy states.
enum TFtpClientState : std::uint8_t { fcIdle, fcLoggingOn, fcReady, fcListing, fcRetrieving, fcQuerying };

// Texts are valid only during the call; a null text means "none".
using TFtpStatusEvent = platform::TEvent<platform::TComponent*, TFtpStatusCode, const char*>;
using TFtpErrorEvent = platform::TEvent<platform::TComponent*, std::int32_t, const char*>;
using TFtpReplyEvent = platform::TEvent<platform::TComponent*, std::int32_t, const char*>;
using TFtpLogEvent = platform::TEvent<platform::TComponent*, TFtpLogCode>;

// The client's messages to its own window.
constexpr platform::UINT kFtpErrorMessage = 2845;
constexpr platform::UINT kFtpLogMessage = 2846;
constexpr platform::UINT kFtpReplyMessage = 2847;
constexpr platform::UINT kFtpStatusMessage = 2848;
constexpr platform::UINT kFtpTimeoutMessage = 2849;
constexpr platform::UINT_PTR kFtpConnectTimerId = 1;
// Holds a data connection's failure while the server's final reply for the transfer is still due.
constexpr platform::UINT_PTR kFtpHoldTimerId = 2;
constexpr unsigned kFtpHoldMilliseconds = 2000;

constexpr int kFtpCommandStackSize = 32;
constexpr std::size_t kFtpReplyBufferSize = 32769;
constexpr std::size_t kFtpDataBufferSize = 32769;
// A listing grows its buffer as needed up to this; a longer one fails instead of being cut.
constexpr std::size_t kFtpListingLimit = 16u * 1024 * 1024;
// A retrieval takes up to this much per read notice (a block of the file writer) and writes it to
// the file in one go: a 32 KiB block per notice spent most of a big transfer in per-block system
// calls and posted reports.
constexpr std::size_t kFtpRetrieveBlockSize = 256 * 1024;
constexpr const char* kFtpWindowClass = "qsFtpClientWindow";

class TQsCustomFtpClient : public TQsCustomWinsockPort {
 public:
  explicit TQsCustomFtpClient(platform::TComponent* owner);
  ~TQsCustomFtpClient() override;
  std::string ClassName() const override { return "TQsCustomFtpClient"; }
  const platform::PropertyTable& Properties() const override;

  // ---- Operations: each returns at once; the outcome arrives through the events ----------------
  bool LogOn();
  bool LogOff();
  bool ChangeDirectory(const std::string& path);
  bool QueryCurrentDirectory();
  bool ListDirectory(const std::string& path, bool fullList);
  // Raises the file system's exception when the local file cannot be created, opened or positioned.
  // Every operation that sends a text it was given (a path, a name, the log-on values) raises
  // platform::Exception when that text holds CR, LF or NUL: it would end the command early and
  // let the rest pass for a command of its own.
  bool RetrieveFile(const std::string& remoteName, const std::string& localName, TRetrieveMode mode);
  bool AbortTransfer();

  // ---- State -----------------------------------------------------------------------------------
  bool Connected() const { return state_ != fcIdle; }
  TFtpClientState FtpState() const { return state_; }
  // 64 bits: a file may be larger than 2 GiB.
  std::int64_t BytesTransferred() const { return bytesTransferred_; }
  std::int64_t RestartPosition() const { return restartPosition_; }
  void SetRestartPosition(std::int64_t value) { restartPosition_ = value; }
  // Whether a server reaction is being waited for under the transfer timer: an event (the
  // reaction, or fsTimedOut) is then certain to come.
  bool AwaitingServer() const { return transferTimer_ > 0 && state_ != fcReady && state_ != fcIdle; }
  // The names of the last retrieval (quoted by the history log).
  const std::string& RemoteFileName() const { return remoteFileName_; }
  const std::string& LocalFileName() const { return localFileName_; }

  // ---- Properties ------------------------------------------------------------------------------
  const std::string& UserName() const { return userName_; }
  void SetUserName(const std::string& value) { userName_ = value; }
  const std::string& Password() const { return password_; }
  void SetPassword(const std::string& value) { password_ = value; }
  const std::string& Account() const { return account_; }
  void SetAccount(const std::string& value) { account_ = value; }
  bool PassiveMode() const { return passiveMode_; }
  void SetPassiveMode(bool value) { passiveMode_ = value; }
  TFtpFileType FileType() const { return fileType_; }
  void SetFileType(TFtpFileType value) { fileType_ = value; }
  int TransferTimeout() const { return transferTimeout_; }
  void SetTransferTimeout(int ticks) { transferTimeout_ = ticks; }
  int ConnectTimeout() const { return connectTimeout_; }
  void SetConnectTimeout(int ticks) { connectTimeout_ = ticks; }
  TQsFtpLog* FtpLog() const { return ftpLog_; }
  void SetFtpLog(TQsFtpLog* log);
  TFtpTlsPolicy TlsPolicy() const { return tlsPolicy_; }
  void SetTlsPolicy(TFtpTlsPolicy value) { tlsPolicy_ = value; }
  // What to trust instead of the system's store: a file of certificates, or a certificate's
  // SHA-256 fingerprint (the server's own, whatever its issuer).
  const std::string& TlsCaFile() const { return tlsCaFile_; }
  void SetTlsCaFile(const std::string& value) { tlsCaFile_ = value; }
  const std::string& TlsFingerprint() const { return tlsFingerprint_; }
  void SetTlsFingerprint(const std::string& value) { tlsFingerprint_ = value; }
  // The control connection's TLS version and cipher once it is encrypted, "" before.
  const std::string& TlsDescription() const { return tlsDescription_; }

  TFtpStatusEvent OnFtpStatus;
  TFtpErrorEvent OnFtpError;
  TFtpReplyEvent OnFtpReply;
  TFtpLogEvent OnFtpLog;

 protected:
  void NotifyConnect() override;
  void NotifyDisconnect() override;
  void NotifyError(int errorCode) override;
  void Notification(platform::TComponent* component, platform::TOperation operation) override;

  // ---- Internal operations of the control connection -------------------------------------------
  void SendCommand(const std::string& text);
  // Raises platform::Exception "FTP Command stack full" (emptying the stack) on the 33rd command.
  void PushCommand(const std::string& text);
  void SendNextCommand();
  int CommandCount() const { return static_cast<int>(commands_.size()); }
  void ChangeState(TFtpClientState newState);
  void PostStatus(TFtpStatusCode code, const char* text);
  void PostError(std::int32_t code, const char* text);
  void PostLog(TFtpLogCode code);
  // Runs one reply line through the multi-line handling and the reply table.
  void ProcessReply(int code, const std::string& line);
  // The reply buffer as it stands (the current, possibly multi-line, reply).
  const char* ReplyText() const { return replyBuffer_.data(); }

 private:
  // A text in a block of the C heap: a listing grows by realloc, which moves a big block without
  // copying it, and its report takes it over as it is.
  struct TFreeText {
    void operator()(char* text) const;
  };
  using TOwnedText = std::unique_ptr<char, TFreeText>;
  // A report waiting in the window's queue.
  struct TPosted {
    std::int32_t code = 0;
    bool hasText = false;
    std::string text;
    TOwnedText owned;  // the text instead, when set (a listing)
    std::uint32_t opening = 0;  // the log-on whose connection it came from
  };

  static platform::LRESULT WindowProc(platform::HWND hwnd, platform::UINT msg, platform::WPARAM wParam,
                                      platform::LPARAM lParam);
  void HandleClientMessage(platform::UINT msg, platform::WPARAM wParam, platform::LPARAM lParam);
  void Post(platform::UINT msg, std::int32_t code, const char* text, TOwnedText owned = nullptr);
  // fsDataAvailable with the listing, which the report takes over.
  void PostListing();
  bool TakePosted(platform::LPARAM id, TPosted& posted);
  void DeliverLog(TFtpLogCode code);
  void ConnectTimerFired();
  void TransferTimedOut();
  void ResetReplyState();
  static void CheckArgument(const std::string& text);

  // Replies.
  void ReplyLine(platform::TComponent* sender, const std::string& line);
  bool CollectMultiLine(int& code, const std::string& line);
  void ReactToReply(int code);
  bool ReactLoggingOn(int code);
  bool ReactTransferring(int code);
  bool ReactQuerying(int code);
  bool ReactIdleOrReady(int code);
  void UnexpectedReply(int code);
  void LateReply(int code);
  void TransferReplyOk();
  bool CountFinalReply(int code);
  void StoreReplyLine(const std::string& line, bool append);

  // Timers.
  void TriggerHandler(platform::UINT msg, platform::WPARAM first, platform::LPARAM second);
  TQsNotifyMethod HandlerMethod();
  void StopTransferTimer();
  void StartTransferTimer();
  void RearmTransferTimer();
  void KillConnectTimer();

  // ---- Data connection (QsFtpData.cpp, QsFtpDataSocket.cpp) ------------------------------------
  bool OpenDataConnection();
  bool OpenPassive();
  bool OpenActive();
  void ConnectPassive(const std::string& replyText);
  void CloseDataConnection(bool drain);
  void CloseDataSockets();
  int ReadOnce();
  int ReadRetrieved();
  int ReadListing();
  void OpenLocalFile(TRetrieveMode mode);
  // Hands the open local file, positioned where the first received byte goes, to the file writer.
  void StartWriter(int file, std::int64_t position);
  // Closes the local file once every received byte is written; a failed write is kept in writeError_.
  void CloseLocalFile();
  // Reports a failed write of the local file as the transfer's failure; returns -1.
  int FailWrite(int error);
  void DataAccept(TQsSocket* sender, TSocket socket);
  void DataRead(TQsSocket* sender, TSocket socket);
  void DataDisconnect(TQsSocket* sender, TSocket socket);
  void DataError(TQsSocket* sender, TSocket socket, std::int32_t code);
  void DataWrite(TQsSocket* sender, TSocket socket);
  // The end of a transfer: complete once the data connection has closed and the final reply was
  // a success; a failure is reported once, and nothing else of the transfer afterwards.
  void StartTransfer();
  void TryCompleteTransfer();
  void FailTransfer(std::int32_t code, const char* text);
  void HoldDataError(std::int32_t code);
  void HoldTimerFired();
  void KillHoldTimer();
  bool PeerAddressOfControl(TSockAddrIn& address);
  bool IsDataSocket(TSocket socket) const;
  // ---- TLS (QsFtpTls.cpp) ------------------------------------------------------------------------
  enum class TTlsStep : std::uint8_t { tsNone, tsAuthSent, tsControl, tsPbszSent, tsProtSent, tsOn };
  bool TlsNegotiating() const {
    return tlsStep_ == TTlsStep::tsAuthSent || tlsStep_ == TTlsStep::tsPbszSent || tlsStep_ == TTlsStep::tsProtSent;
  }
  void BeginTls();
  bool ReactTls(int code);
  void RefuseTls(std::int32_t code, const char* text);
  bool StartControlTls();
  void ReportControlTlsFailure(std::int32_t code);
  // "PASS": under TLS the trace and the dispatch log record it with the password masked.
  void SendPassword();
  // The data connection's TLS starts once the connection is up and the server has said (125 or
  // 150) that the transfer starts: a server may not be ready for it any earlier.
  void MaybeStartDataTls();
  void StartDataTls();
  // After a drained data connection: false (and the transfer failed) when its TLS was cut.
  bool DataTlsEndedProperly();
  bool DataTlsClosed(TSocket socket) const;
  void ResetTls();

  bool Busy() const { return state_ == fcListing || state_ == fcRetrieving || state_ == fcQuerying; }
  bool Transferring() const { return state_ == fcListing || state_ == fcRetrieving; }

  // Properties.
  std::string userName_;
  std::string password_;
  std::string account_;
  bool passiveMode_ = false;
  TFtpFileType fileType_ = ftBinary;
  int transferTimeout_ = 1092;
  int connectTimeout_ = 0;
  TQsFtpLog* ftpLog_ = nullptr;
  TFtpTlsPolicy tlsPolicy_ = tpOff;
  std::string tlsCaFile_;
  std::string tlsFingerprint_;

  // TLS of the current connection.
  TTlsStep tlsStep_ = TTlsStep::tsNone;
  std::shared_ptr<platform::tls::TClientContext> tlsContext_;
  std::string tlsDescription_;
  std::string controlTlsError_;  // why TLS failed on the control connection, until reported
  bool dataTlsStarted_ = false;
  bool dataConnected_ = false;
  bool dataPreliminary_ = false;
  std::string dataTlsError_;

  // Control connection.
  TFtpClientState state_ = fcIdle;
  std::vector<std::string> commands_;
  std::vector<char> replyBuffer_;
  std::size_t replyLength_ = 0;
  bool multiLine_ = false;
  std::string multiLineTerminator_;
  bool aborting_ = false;
  bool destroying_ = false;
  // Final replies (2xx to 5xx) the server still owes for commands sent, and how many of them
  // belong to operations that have ended already: those are consumed when they come, never taken
  // for the answer of the operation that runs now.
  int owedReplies_ = 0;
  int staleReplies_ = 0;
  // The current transfer: its data connection has closed, its final reply was a success, its
  // failure has been reported, a data connection error waits for the final reply.
  bool dataClosed_ = false;
  bool replyOk_ = false;
  bool transferFailed_ = false;
  std::int32_t heldError_ = 0;
  // A connection attempt that failed before the server was reached (reported once it has closed).
  std::int32_t connectError_ = 0;
  bool controlUp_ = false;
  // While the data connection is being closed its failures are not reported.
  bool closingData_ = false;
  std::int32_t transferTimer_ = 0;
  platform::HWND window_ = 0;
  TQsDataPacket* replyPacket_ = nullptr;
  std::map<platform::LPARAM, TPosted> posted_;
  std::uint32_t openings_ = 0;  // log-ons that opened a connection: tells a stale queued reply
  platform::LPARAM nextPostId_ = 1;

  // Data connection.
  TQsSocket* dataSocketObject_ = nullptr;
  TSocket dataSocket_;
  TSocket listenSocket_;
  TSockAddrIn localAddress_{};
  TSockAddrIn peerAddress_{};
  TOwnedText listing_;  // the listing, NUL-terminated, grown up to kFtpListingLimit
  std::size_t listingRoom_ = 0;  // bytes allocated for it
  // Writes the retrieved blocks, on a thread of its own for a big file; its blocks are made by the
  // first retrieval and kept.
  std::unique_ptr<platform::TFileWriter> fileWriter_;
  std::int64_t bytesTransferred_ = 0;
  std::int64_t restartPosition_ = 0;
  bool localFileOpen_ = false;
  // The first failed write of the current retrieval (an errno), found when the file was closed.
  int writeError_ = 0;
  std::string remoteFileName_;
  std::string localFileName_;
};

class TQsFtpClient : public TQsCustomFtpClient {
 public:
  explicit TQsFtpClient(platform::TComponent* owner) : TQsCustomFtpClient(owner) {}
  std::string ClassName() const override { return "TQsFtpClient"; }
};

class TQsFtpLog : public TQsBaseComponent {
 public:
  explicit TQsFtpLog(platform::TComponent* owner);
  ~TQsFtpLog() override;
  std::string ClassName() const override { return "TQsFtpLog"; }
  const platform::PropertyTable& Properties() const override;

  bool Enabled() const { return enabled_; }
  void SetEnabled(bool value) { enabled_ = value; }
  const std::string& FtpHistoryName() const { return ftpHistoryName_; }
  void SetFtpHistoryName(const std::string& value) { ftpHistoryName_ = value; }
  TQsCustomFtpClient* FtpClient() const { return ftpClient_; }
  // Stores the reference only; the client's SetFtpLog links both ways.
  void SetFtpClient(TQsCustomFtpClient* client) { ftpClient_ = client; }

  // Appends one line for the code; raises platform::EInOutError when the file cannot be written.
  virtual void UpdateLog(TFtpLogCode code);
  // The text after the separator for a code (client data left out when no client is linked).
  std::string LogText(TFtpLogCode code) const;

 protected:
  void Notification(platform::TComponent* component, platform::TOperation operation) override;

 private:
  bool enabled_ = false;
  std::string ftpHistoryName_ = "QSFTP.HIS";
  TQsCustomFtpClient* ftpClient_ = nullptr;
};
