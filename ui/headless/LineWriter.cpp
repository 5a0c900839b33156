#include "ui/headless/LineWriter.h"

#include "platform/Clock.h"
#include "ui/Timer.h"

namespace headless {

std::string OneLine(std::string_view text) {
  std::string line;
  line.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      line += ' ';
    } else {
      line += c;
    }
  }
  return line;
}

LineWriter::LineWriter(std::ostream& out) : out_(out), flushTimer_(std::make_unique<ui::TTimer>(nullptr)) {
  flushTimer_->SetEnabled(false);
  flushTimer_->SetInterval(kFlushMilliseconds);
  flushTimer_->SetOnTimer(ui::TNotifyEvent(this, &LineWriter::FlushWaiting));
}

LineWriter::~LineWriter() { Flush(); }

void LineWriter::Write(std::string_view tag, std::string_view text) {
  out_ << tag << ": " << OneLine(text) << '\n';
  waiting_ = true;
  if (platform::MonotonicMilliseconds() - lastFlush_ >= kFlushMilliseconds) {
    Flush();
    return;
  }
  // Setting a timer going restarts it: only the first line of a burst does.
  if (!flushTimer_->Enabled()) flushTimer_->SetEnabled(true);
}

void LineWriter::Flush() {
  if (flushTimer_->Enabled()) flushTimer_->SetEnabled(false);
  if (!waiting_) return;
  out_.flush();
  waiting_ = false;
  lastFlush_ = platform::MonotonicMilliseconds();
}

void LineWriter::FlushWaiting(platform::TComponent* /*sender*/) { Flush(); }

}  // namespace headless
