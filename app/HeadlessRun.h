// The unattended program without a display: it ends as soon as nothing more can happen, with an
// exit code that says why.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>

#include "app/RunObserver.h"
#include "platform/Component.h"

namespace ui {
class TFrontEnd;
class TTimer;
}  // namespace ui

// Exit codes of the headless program.
inline constexpr int kExitAllReceived = 0;   // the run ended with every listed file (or Install started the setup)
inline constexpr int kExitRunFailed = 1;     // a file failed, or the connection ended or could not be made
inline constexpr int kExitNotStarted = 2;    // the run could not start (the log-on raised)
inline constexpr int kExitStalled = 3;       // nothing moved, and nothing was bound to, for the stall time

// Longer than the program's transfer time-out (165 s), so that a server that stops answering is
// told as a time-out, not as a stall.
inline constexpr int kDefaultStallSeconds = 200;

// The value of QUILLSTAGE_STALL_SECONDS: a positive whole number of seconds, else the default.
int StallSeconds(const char* setting);

class THeadlessRun : public TRunObserver {
 public:
  // Ends frontEnd's loop when the run's outcome is known; err receives the reasons that are not
  // shown otherwise.
  THeadlessRun(ui::TFrontEnd& frontEnd, int stallSeconds, std::ostream& err);
  ~THeadlessRun() override;

  // Starts watching for a stall. While willMove (when given) says that something is bound to
  // happen (a pause, a timer's step, a reply under the transfer time-out), the run has not stalled.
  void Start(std::function<bool()> willMove = {});
  // The exit code decided, or -1 while none is.
  int Decided() const { return exitCode_; }

  void RunMoved() override;
  void RunEnded(bool allReceived) override;
  void RunBroken() override;
  void RunNotStarted(const std::exception& error) override;
  void InstallDone(bool started) override;

 private:
  void CheckStall(platform::TComponent* sender);
  void Decide(int exitCode);

  ui::TFrontEnd& frontEnd_;
  std::uint64_t stallMilliseconds_;
  std::ostream& err_;
  std::unique_ptr<ui::TTimer> stallTimer_;
  std::uint64_t lastMove_ = 0;
  std::function<bool()> willMove_;
  int exitCode_ = -1;
};
