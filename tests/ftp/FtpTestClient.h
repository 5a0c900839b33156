// An FTP client with every report recorded as a line ("status 5:/dir", "error 550:550 No.\r\n"),
// and a list of operations run one after the other, each once the client is Ready again.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "ftp/QsFtp.h"

class TFtpTestClient : public TQsFtpClient {
 public:
  TFtpTestClient() : TQsFtpClient(nullptr) {
    OnFtpStatus = TFtpStatusEvent(this, &TFtpTestClient::Status);
    OnFtpError = TFtpErrorEvent(this, &TFtpTestClient::Error);
    OnFtpReply = TFtpReplyEvent(this, &TFtpTestClient::Reply);
  }

  using TQsCustomFtpClient::CommandCount;
  using TQsCustomFtpClient::PushCommand;
  using TQsCustomFtpClient::SendNextCommand;

  std::vector<std::string> events;   // status (but fsProgress) and error reports, in order
  std::vector<std::string> replies;  // every reply line
  std::vector<std::string> order;    // replies and reports together, in order
  int progress = 0;
  std::function<void()> onProgress;  // called on every fsProgress
  // Operations run when the client is Ready after a report; each returns whether it started.
  std::vector<std::function<bool(TFtpTestClient&)>> operations;
  std::size_t nextOperation = 0;
  bool operationRefused = false;

  // Texts longer than this are recorded by their length, as "#N".
  static std::string Shown(const char* text) {
    if (text == nullptr) return {};
    const std::string s(text);
    return s.size() > 200 ? ":#" + std::to_string(s.size()) : ":" + s;
  }

 private:
  void Status(platform::TComponent*, TFtpStatusCode code, const char* text) {
    if (code == fsProgress) {
      ++progress;
      if (onProgress) onProgress();
      return;
    }
    events.push_back("status " + std::to_string(code) + Shown(text));
    order.push_back(events.back());
    RunNext();
  }
  void Error(platform::TComponent*, std::int32_t code, const char* text) {
    events.push_back("error " + std::to_string(code) + Shown(text));
    order.push_back(events.back());
    RunNext();
  }
  void Reply(platform::TComponent*, std::int32_t code, const char*) {
    replies.push_back(std::to_string(code));
    order.push_back("reply " + std::to_string(code));
  }
  void RunNext() {
    if (FtpState() != fcReady || nextOperation >= operations.size()) return;
    if (!operations[nextOperation++](*this)) operationRefused = true;
  }
};
