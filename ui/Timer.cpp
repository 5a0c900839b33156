#include "ui/Timer.h"

#include <map>

#include "ui/Methods.h"

namespace ui {

namespace {

// The running timers of each thread by platform timer id: the timer procedure receives only the id.
thread_local std::map<platform::UINT_PTR, TTimer*> runningTimers;

}  // namespace

TTimer::~TTimer() { Stop(); }

void TTimer::SetEnabled(bool value) {
  enabled_ = value;
  UpdateTimer();
}

void TTimer::SetInterval(unsigned value) {
  interval_ = value;
  UpdateTimer();
}

void TTimer::SetOnTimer(TNotifyEvent event) {
  onTimer_ = std::move(event);
  UpdateTimer();
}

void TTimer::Stop() {
  if (id_ == 0) return;
  platform::KillTimer(0, id_);
  runningTimers.erase(id_);
  id_ = 0;
}

void TTimer::UpdateTimer() {
  Stop();
  if (!enabled_ || interval_ == 0 || !onTimer_ || IsLoading() || IsDesigning() || IsDestroying()) return;
  id_ = platform::SetTimer(0, 0, interval_, &TTimer::TimerProc);
  if (id_ != 0) runningTimers[id_] = this;
}

void TTimer::TimerProc(platform::HWND, platform::UINT, platform::UINT_PTR id, std::uint32_t) {
  auto it = runningTimers.find(id);
  if (it == runningTimers.end()) return;
  // A copy: the handler may free its timer, and with it the handler itself.
  TTimer* timer = it->second;
  const TNotifyEvent event = timer->onTimer_;
  event(timer);
}

void TTimer::Loaded() {
  platform::TComponent::Loaded();
  UpdateTimer();
}

const platform::PropertyTable& TTimer::ClassProperties() {
  static const platform::PropertyTable table = [] {
    platform::PropertyTable t(&platform::TComponent::ClassProperties());
    t.Property("Enabled", &TTimer::Enabled, &TTimer::SetEnabled).Property("Interval", &TTimer::Interval, &TTimer::SetInterval);
    AddEventProperty(t, "OnTimer", &TTimer::OnTimer, &TTimer::SetOnTimer);
    return t;
  }();
  return table;
}

}  // namespace ui
