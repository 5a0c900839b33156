#include "bench/ClientRunner.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/MessageLoop.h"

namespace bench {

ClientRunner::ClientRunner(std::uint16_t port, const std::string& caFile) {
  if (!caFile.empty()) {
    client_.SetTlsPolicy(tpRequired);
    client_.SetTlsCaFile(caFile);
  }
  client_.SetServerAddress("127.0.0.1");
  client_.SetWsPort(std::to_string(port));
  client_.SetUserName("kwmoro");
  client_.SetPassword("qk47ze19");
  client_.SetPassiveMode(true);
  client_.OnFtpStatus = TFtpStatusEvent(this, &ClientRunner::Status);
  client_.OnFtpError = TFtpErrorEvent(this, &ClientRunner::Error);
}

bool ClientRunner::LogOn() {
  client_.LogOn();
  return Wait(fsLoggedIn);
}

bool ClientRunner::Retrieve(const std::string& remote, const std::string& local) {
  if (!client_.RetrieveFile(remote, local, rtReplace)) return false;
  return Wait(fsTransferComplete);
}

long ClientRunner::List(const std::string& path) {
  if (!client_.ListDirectory(path, false) || !Wait(fsDataAvailable)) return -1;
  return listed_;
}

void ClientRunner::LogOff() { client_.LogOff(); }

void ClientRunner::LogOffAndExit() {
  quitting_ = true;
  client_.LogOff();
  std::fflush(nullptr);
  std::_Exit(0);  // the server had not answered within the pause: LogOff closed the connection
}

bool ClientRunner::Wait(TFtpStatusCode code) {
  last_ = -1;
  platform::MSG msg;
  while (last_ != code && !failed_) {
    if (platform::PeekMessage(msg, platform::PM_REMOVE))
      platform::DispatchMessage(msg);
    else
      platform::WaitMessage(100);
  }
  return !failed_;
}

void ClientRunner::Status(platform::TComponent*, TFtpStatusCode code, const char* text) {
  if (code == fsDataAvailable && text != nullptr) listed_ = static_cast<long>(std::strlen(text));
  last_ = code;
  if (quitting_ && (code == fsLoggedOut || code == fsDisconnected)) {
    std::fflush(nullptr);
    std::_Exit(0);
  }
  // A server gone in the middle of a transfer ends it this way, without an error or its end.
  if (code == fsDisconnected && !quitting_) {
    std::fprintf(stderr, "disconnected\n");
    failed_ = true;
  }
}

void ClientRunner::Error(platform::TComponent*, std::int32_t code, const char* text) {
  std::fprintf(stderr, "error %d %s\n", code, text ? text : "");
  failed_ = true;
}

}  // namespace bench
