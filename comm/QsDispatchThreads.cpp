#include "comm/QsDispatchThreads.h"

#include <exception>
#include <mutex>
#include <stdexcept>

#include "comm/QsDispatch.h"
#include "platform/Application.h"

namespace {
thread_local const TQsBaseDispatcher* tServed = nullptr;
thread_local bool tServedFreed = false;
}  // namespace

const TQsBaseDispatcher* TQsDispatcherThread::ServedByCurrentThread() { return tServed; }

void TQsDispatcherThread::ForgetFreedDispatcher() {
  tServed = nullptr;
  tServedFreed = true;
}

bool TQsDispatcherThread::ServedDispatcherFreed() { return tServedFreed; }

TQsDispatcherThread::~TQsDispatcherThread() {
  if (!thread_.joinable()) return;
  if (IsCurrentThread()) {
    thread_.detach();
  } else {
    thread_.join();
  }
}

void TQsDispatcherThread::Start() { thread_ = std::thread([this] { Run(); }); }

void TQsDispatcherThread::Run() {
  threadId_.store(platform::CurrentThreadId());
  tServed = &dispatcher_;
  try {
    Execute();
  } catch (const std::exception& e) {
    platform::HandleException(e);
  } catch (...) {
    platform::HandleException(std::runtime_error("Unknown exception in a dispatcher thread"));
  }
  if (tServedFreed) return;  // this object went with its dispatcher
  // A loop left by an exception still says goodbye, so that nobody waits for it forever.
  if (!released_.load()) dispatcher_.ReleaseThread(this);
  endedFlag_.store(true);
  ended_.Set();
}

void TComThread::Execute() {
  TQsBaseDispatcher& d = dispatcher_;
  d.DeviceSetEventMask(kServiceEventMask);
  d.AckEvent()->Set();
  do {
    std::uint32_t mask = 0;
    if (!d.DeviceWaitEvent(mask)) break;
    // Added to what the pass has not taken yet: the pass may still be on its way to read an
    // earlier event (a modem change that data follows at once), which overwriting would lose.
    d.eventMask_.fetch_or(mask);
    if ((mask & (kEvRing | kEvRingTrailingEdge)) != 0) d.ringFlag_.store(true);
    if (d.StopRequested()) break;
    d.ComEvent()->Set();
    d.PassDoneEvent()->Wait(-1);
  } while (!d.StopRequested());
  d.AckEvent()->Set();
  d.ReleaseThread(this);
}

void TDispThread::Execute() {
  TQsBaseDispatcher& d = dispatcher_;
  d.AckEvent()->Set();
  do {
    d.ComEvent()->Wait(kDispatchWaitMs);  // a time-out does not matter: the pass runs either way
    if (d.StopRequested()) break;
    d.ProcessDeviceEvent();
    if (ServedDispatcherFreed()) return;
    d.ProcessTimersAndStatus();
    if (ServedDispatcherFreed()) return;
  } while (!d.StopRequested() && !d.ClosePending());
  d.AckEvent()->Set();
  // The port was closed from inside a handler: nobody else will release it, unless a free of the
  // dispatcher on another thread has taken that over (two releases would join the same threads).
  {
    std::lock_guard exit(d.exitLock_);
    d.releaseOnExit_.store(d.ClosePending() && !d.ownerReleases_);
  }
  d.ReleaseThread(this);
}

void TOutThread::Execute() {
  TQsBaseDispatcher& d = dispatcher_;
  d.AckEvent()->Set();
  do {
    const int which = platform::WaitForAnyEvent({d.OutputEvent(), d.FlushEvent()}, -1);
    if (which == 0) {
      if (d.StopRequested()) break;
      d.WriteOutput();
    } else if (which == 1) {
      d.AckEvent()->Set();
    }
  } while (!d.StopRequested() && !d.ClosePending());
  d.ReleaseThread(this);
}
