// A timer component over the platform's window timers: while Enabled, with an Interval above 0
// and an OnTimer handler, it calls OnTimer every Interval milliseconds from the message loop of
// the thread that created it. It does not run while its form is being loaded or designed.
#pragma once

#include <string>

#include "platform/Component.h"
#include "platform/MessageLoop.h"
#include "ui/Events.h"

namespace ui {

class TTimer : public platform::TComponent {
 public:
  explicit TTimer(platform::TComponent* owner) : platform::TComponent(owner) {}
  ~TTimer() override;
  std::string ClassName() const override { return "TTimer"; }

  bool Enabled() const { return enabled_; }
  void SetEnabled(bool value);
  unsigned Interval() const { return interval_; }
  void SetInterval(unsigned value);
  const TNotifyEvent& OnTimer() const { return onTimer_; }
  void SetOnTimer(TNotifyEvent event);
  // Whether the platform timer is running now.
  bool Running() const { return id_ != 0; }

  void Loaded() override;
  static const platform::PropertyTable& ClassProperties();
  const platform::PropertyTable& Properties() const override { return ClassProperties(); }

 private:
  static void TimerProc(platform::HWND, platform::UINT, platform::UINT_PTR id, std::uint32_t);
  void UpdateTimer();
  void Stop();

  bool enabled_ = true;
  unsigned interval_ = 1000;
  TNotifyEvent onTimer_;
  platform::UINT_PTR id_ = 0;
};

}  // namespace ui
