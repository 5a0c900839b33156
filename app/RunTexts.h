// The texts of the download run in both interface languages, chosen when each is produced.
#pragma once

#include <string>

enum TRunText {
  rtPleaseWait,
  rtConnected,
  rtLoginSuccess,
  rtLoginEncrypted,
  rtLoggedOut,
  rtLogin,
  rtDownloading,
  rtDownloadCompleted,
  rtInstallQuestion,
  rtFilesIncomplete,
  rtRunTextCount,
};

// The text in Chinese when chinese, else in English.
const std::string& RunText(TRunText text, bool chinese);

// Texts that exist in English only.
inline constexpr const char* kOperationComplete = "operation complete";
inline constexpr const char* kTransferTimedOut = "Transfer timed out";
inline constexpr const char* kFtpErrorCaption = "FTP Error: ";
