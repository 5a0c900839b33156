#include "app/HeadlessRun.h"

#include <charconv>
#include <cstring>

#include "platform/Clock.h"
#include "ui/FrontEnd.h"
#include "ui/Timer.h"

namespace {
// How often the stall is checked: often enough that a short stall time is kept to well within a second.
constexpr unsigned kStallCheckMilliseconds = 250;
}  // namespace

int StallSeconds(const char* setting) {
  if (setting == nullptr) return kDefaultStallSeconds;
  int seconds = 0;
  const char* end = setting + std::strlen(setting);
  const auto [ptr, error] = std::from_chars(setting, end, seconds);
  if (error != std::errc() || ptr != end || seconds <= 0) return kDefaultStallSeconds;
  return seconds;
}

THeadlessRun::THeadlessRun(ui::TFrontEnd& frontEnd, int stallSeconds, std::ostream& err)
    : frontEnd_(frontEnd), stallMilliseconds_(static_cast<std::uint64_t>(stallSeconds) * 1000), err_(err) {}

THeadlessRun::~THeadlessRun() = default;

void THeadlessRun::Start(std::function<bool()> willMove) {
  willMove_ = std::move(willMove);
  lastMove_ = platform::MonotonicMilliseconds();
  stallTimer_ = std::make_unique<ui::TTimer>(nullptr);
  stallTimer_->SetInterval(kStallCheckMilliseconds);
  stallTimer_->SetOnTimer(ui::TNotifyEvent(this, &THeadlessRun::CheckStall));
}

void THeadlessRun::RunMoved() { lastMove_ = platform::MonotonicMilliseconds(); }

void THeadlessRun::RunEnded(bool allReceived) { Decide(allReceived ? kExitAllReceived : kExitRunFailed); }

void THeadlessRun::RunBroken() { Decide(kExitRunFailed); }

void THeadlessRun::RunNotStarted(const std::exception& error) {
  if (exitCode_ < 0) err_ << error.what() << std::endl;
  Decide(kExitNotStarted);
}

void THeadlessRun::InstallDone(bool started) { Decide(started ? kExitAllReceived : kExitRunFailed); }

void THeadlessRun::CheckStall(platform::TComponent* /*sender*/) {
  if (exitCode_ >= 0) return;
  if (willMove_ && willMove_()) {
    lastMove_ = platform::MonotonicMilliseconds();
    return;
  }
  if (platform::MonotonicMilliseconds() - lastMove_ < stallMilliseconds_) return;
  err_ << "Nothing moved for " << stallMilliseconds_ / 1000 << " seconds; giving up." << std::endl;
  Decide(kExitStalled);
}

// The first outcome counts: what follows it (the window closing, a late event) changes nothing.
void THeadlessRun::Decide(int exitCode) {
  if (exitCode_ >= 0) return;
  exitCode_ = exitCode;
  if (stallTimer_) stallTimer_->SetEnabled(false);
  frontEnd_.Quit(exitCode);
}
