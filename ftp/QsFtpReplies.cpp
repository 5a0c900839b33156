// Reply intake: one line at a time from the reply packet, posted to the client's window, then
// gathered into the reply buffer (multi-line replies) and answered by the reply table of the
// client's state.
#include "ftp/QsFtp.h"

#include <algorithm>
#include <cstring>

#include "ftp/QsFtpText.h"

namespace {

// The reply text from its fifth character on (after the code and its separator).
const char* AfterCode(const char* text) { return std::strlen(text) > 4 ? text + 4 : ""; }

}  // namespace

void TQsCustomFtpClient::ReplyLine(platform::TComponent* /*sender*/, const std::string& line) {
  Post(kFtpReplyMessage, ftptext::ReplyCode(line), line.c_str());
}

void TQsCustomFtpClient::StoreReplyLine(const std::string& line, bool append) {
  if (!append) replyLength_ = 0;
  // The buffer keeps its terminating NUL: a reply longer than the buffer is cut, never overrun.
  const std::size_t room = kFtpReplyBufferSize - 1 - replyLength_;
  const std::size_t count = std::min(room, line.size());
  std::memcpy(replyBuffer_.data() + replyLength_, line.data(), count);
  replyLength_ += count;
  replyBuffer_[replyLength_] = '\0';
}

bool TQsCustomFtpClient::CollectMultiLine(int& code, const std::string& line) {
  if (!multiLine_) {
    StoreReplyLine(line, false);
    if (line.size() >= 4 && line[3] == '-') {
      multiLine_ = true;
      multiLineTerminator_ = std::to_string(code) + " ";
      return false;
    }
    return true;
  }
  if (line.compare(0, multiLineTerminator_.size(), multiLineTerminator_) != 0) {
    StoreReplyLine(line, true);
    return false;
  }
  multiLine_ = false;
  return true;
}

void TQsCustomFtpClient::ProcessReply(int code, const std::string& line) {
  // A line without a code outside a multi-line reply answers nothing; during a transfer it is
  // ignored (in the other states the reply table reports it).
  if (code == 0 && !multiLine_ && Transferring()) return;
  if (!CollectMultiLine(code, line)) return;
  if (CountFinalReply(code)) return;
  ReactToReply(code);
}

// Counts a final reply against those owed; true when it belongs to an operation that has ended
// (it is consumed there). 421 and 221 always count for what they say: the server is closing.
bool TQsCustomFtpClient::CountFinalReply(int code) {
  if (code < 200 || code > 599) return false;
  if (owedReplies_ > 0) --owedReplies_;
  if (staleReplies_ == 0 || code == 421 || code == 221) return false;
  --staleReplies_;
  LateReply(code);
  return true;
}

// A reply owed to a finished operation: it may still close that operation's data connection.
void TQsCustomFtpClient::LateReply(int code) {
  if ((state_ == fcReady || state_ == fcIdle) && code == 226) CloseDataConnection(true);
}

void TQsCustomFtpClient::ReactToReply(int code) {
  bool handled = false;
  switch (state_) {
    case fcLoggingOn: handled = ReactLoggingOn(code); break;
    case fcListing:
    case fcRetrieving: handled = ReactTransferring(code); break;
    case fcQuerying: handled = ReactQuerying(code); break;
    case fcIdle:
    case fcReady: handled = ReactIdleOrReady(code); break;
  }
  if (!handled) UnexpectedReply(code);
}

bool TQsCustomFtpClient::ReactLoggingOn(int code) {
  if (TlsNegotiating()) return ReactTls(code);
  switch (code) {
    case 220:
      PostStatus(fsConnected, AfterCode(ReplyText()));
      if (tlsPolicy_ == tpRequired && tlsStep_ == TTlsStep::tsNone)
        BeginTls();
      else
        SendCommand("USER " + userName_);
      return true;
    case 331: SendPassword(); return true;
    case 332: SendCommand("ACCT " + account_); return true;
    case 230:
      if (tlsPolicy_ == tpRequired && tlsStep_ == TTlsStep::tsControl) {
        tlsStep_ = TTlsStep::tsPbszSent;  // logged on; now protect the data connections
        SendCommand("PBSZ 0");
        return true;
      }
      ChangeState(fcReady);
      PostStatus(fsLoggedIn, nullptr);
      return true;
    case 202: return true;
    default: return false;
  }
}

bool TQsCustomFtpClient::ReactTransferring(int code) {
  if (code < 200) {  // the data connection is opening (or a line without a code)
    if (code == 125 || code == 150) {
      dataPreliminary_ = true;
      MaybeStartDataTls();
    }
    return true;
  }
  switch (code) {
    case 200:
    case 350: SendNextCommand(); return true;
    case 227:
      ConnectPassive(ReplyText());
      SendNextCommand();
      return true;
    case 225:  // "no transfer in progress": an answer to ABOR only
      if (!aborting_) return false;
      ChangeState(fcReady);
      return true;
    case 226:
    case 250: TransferReplyOk(); return true;
    default: return false;
  }
}

// The server says the transfer went well. It is complete once its data connection has closed
// too; an aborted one ends here, without being complete; one whose data connection failed is
// reported as that failure.
void TQsCustomFtpClient::TransferReplyOk() {
  if (aborting_) {
    ChangeState(fcReady);
    return;
  }
  replyOk_ = true;
  if (heldError_ != 0) {
    FailTransfer(heldError_, nullptr);
    return;
  }
  TryCompleteTransfer();
}

bool TQsCustomFtpClient::ReactQuerying(int code) {
  if (code >= 211 && code <= 215) {
    PostStatus(fsDataAvailable, AfterCode(ReplyText()));
    return true;
  }
  switch (code) {
    case 225:
    case 226: ChangeState(fcReady); return true;
    case 250: PostStatus(fsCommandComplete, nullptr); return true;
    case 257: PostStatus(fsCurrentDirectory, ftptext::DirectoryName(ReplyText()).c_str()); return true;
    default: return false;
  }
}

bool TQsCustomFtpClient::ReactIdleOrReady(int code) {
  switch (code) {
    case 125:
    case 150: return true;
    case 226: CloseDataConnection(true); return true;
    case 225: if (aborting_) return true;  // the answer to an ABOR whose transfer had ended
      break;
    default: break;
  }
  // A success nobody is waiting for is no error.
  return owedReplies_ == 0 && code >= 200 && code < 300;
}

void TQsCustomFtpClient::UnexpectedReply(int code) {
  commands_.clear();
  if (code == 221 || code == 421) {
    ChangeState(fcIdle);
    return;
  }
  if (Transferring()) {
    FailTransfer(code, ReplyText());
    return;
  }
  PostError(code, ReplyText());
}
