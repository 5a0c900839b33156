// The serial service: the six events, starting and stopping the three threads, the passes the
// dispatch thread runs, the output thread's sending, thread priorities and main-thread calls.
#include <algorithm>

#include "comm/QsDispatch.h"
#include "comm/QsDispatchThreads.h"
#include "comm/QsExcept.h"

using platform::TSyncEvent;

namespace {

// Asked first after each check that may have run handlers on a dispatch thread: one of them may
// have freed the dispatcher, which then must not be touched at all (not even to ask ClosePending).
bool Freed() { return TQsDispatcherThread::ServedDispatcherFreed(); }

}  // namespace

void TQsBaseDispatcher::CreateServiceEvents() {
  if (comEvent_) return;
  comEvent_ = std::make_unique<TSyncEvent>(TSyncEvent::rmAutomatic);
  passDoneEvent_ = std::make_unique<TSyncEvent>(TSyncEvent::rmAutomatic);
  ackEvent_ = std::make_unique<TSyncEvent>(TSyncEvent::rmAutomatic);
  outputEvent_ = std::make_unique<TSyncEvent>(TSyncEvent::rmAutomatic);
  writeDoneEvent_ = std::make_unique<TSyncEvent>(TSyncEvent::rmManual);
  flushEvent_ = std::make_unique<TSyncEvent>(TSyncEvent::rmAutomatic);
}

void TQsBaseDispatcher::CloseServiceEvents() {
  comEvent_.reset();
  passDoneEvent_.reset();
  ackEvent_.reset();
  outputEvent_.reset();
  writeDoneEvent_.reset();
  flushEvent_.reset();
}

void TQsBaseDispatcher::StartDispatching() {
  Guard state(stateLock_);
  if (Started()) throw EQsException(std::string("Dispatcher already started"));
  JoinEndedThreads();
  CreateServiceEvents();
  started_.store(true);
  stopRequested_.store(false);
  auto start = [this](std::unique_ptr<TQsDispatcherThread>& owner, std::atomic<TQsDispatcherThread*>& ref,
                      std::unique_ptr<TQsDispatcherThread> thread) {
    owner = std::move(thread);
    ref.store(owner.get());
    ++activeThreads_;  // counted before it runs, so that an early end cannot clear Started too soon
    owner->Start();
    ackEvent_->Wait(kThreadAckTimeoutMs);  // a thread that does not answer does not stop the start
  };
  start(comThread_, comThreadRef_, std::make_unique<TComThread>(*this));
  start(dispThread_, dispThreadRef_, std::make_unique<TDispThread>(*this));
  start(outThread_, outThreadRef_, std::make_unique<TOutThread>(*this));
  SetServicePriorities();
}

void TQsBaseDispatcher::WaitForThreadEnd(TQsDispatcherThread* thread) {
  if (!thread || thread->IsCurrentThread()) return;
  while (!thread->Ended()) platform::WaitForAnyEventPumping({&thread->EndedEvent()}, -1);
}

void TQsBaseDispatcher::JoinEndedThreads() {
  for (auto* owner : {&comThread_, &dispThread_, &outThread_}) {
    if (*owner && !(*owner)->IsCurrentThread()) {
      WaitForThreadEnd(owner->get());
      owner->reset();
    }
  }
}

void TQsBaseDispatcher::StopDispatching() {
  if (!Started()) return;
  stopRequested_.store(true);
  if (outThreadRef_.load()) {
    flushEvent_->Set();
    WaitForThreadEnd(outThread_.get());
  }
  if (comThreadRef_.load()) {
    DeviceSetEventMask(0);  // ends the device-event wait in progress
    passDoneEvent_->Set();
    ackEvent_->Reset();
    WaitForThreadEnd(comThread_.get());
  }
  if (dispThreadRef_.load()) WaitForThreadEnd(dispThread_.get());
  // The dispatch thread may be the caller (a close from its own handler): it ends right after.
  JoinEndedThreads();
  CloseServiceEvents();
}

void TQsBaseDispatcher::ReleaseThread(TQsDispatcherThread* thread) {
  thread->released_.store(true);
  bool isDispatchThread = false;
  TQsDispatcherThread* expected = thread;
  comThreadRef_.compare_exchange_strong(expected, nullptr);
  expected = thread;
  outThreadRef_.compare_exchange_strong(expected, nullptr);
  expected = thread;
  if (dispThreadRef_.compare_exchange_strong(expected, nullptr)) isDispatchThread = true;
  if (isDispatchThread && releaseOnExit_.exchange(false)) ReleasePort();
  if (--activeThreads_ == 0) started_.store(false);
}

// A free while a pass runs: the pass ends at the close, and its handler may be one that this
// thread runs for it (a window handler): that one is answered at once, so that the pass need not
// wait for it. Then this thread stops the service; the dispatch thread leaves the release to it.
void TQsBaseDispatcher::EndServiceFromOutside() {
  bool dispatchThreadReleases = false;
  {
    std::lock_guard exit(exitLock_);
    ownerReleases_ = true;
    dispatchThreadReleases = releaseOnExit_.load();
  }
  if (dispatchThreadReleases) {
    WaitForThreadEnd(dispThread_.get());  // it stops and releases everything, then ends
    return;
  }
  if (!Started()) return;
  if (!ClosePending()) ClosePort();
  if (dispThread_) platform::ReplyMessage(dispThread_->Id(), 0);
  StopDispatching();
}

// An open right after a close asked while a pass ran (a reopen inside a window handler): the
// service threads of the old opening are ended and the port released first, as the close would
// have done once the pass was over.
void TQsBaseDispatcher::FinishPendingClose() {
  if (!ClosePending() || !dispThread_ || TQsDispatcherThread::ServedByCurrentThread() == this) return;
  EndServiceFromOutside();
  if (Started() || InRingAllocated()) ReleasePort();
  std::lock_guard exit(exitLock_);
  ownerReleases_ = false;
}

// ---- The dispatch thread's passes ----------------------------------------------------------------

bool TQsBaseDispatcher::RunStatusChecks() {
  if (Dispatching()) return true;
  while (CheckStatusTriggers()) {
    if (Freed() || ClosePending()) return false;
  }
  return !(Freed() || ClosePending());
}

void TQsBaseDispatcher::ProcessDeviceEvent() {
  // Taken, so that every event the event thread reported is handled by exactly one pass.
  const std::uint32_t mask = eventMask_.exchange(0);
  if ((mask & kModemEventMask) != 0) {
    RefreshModemStatus();
    if (!RunStatusChecks()) return;
    if (StatusHit()) ClearStatusHits();
  }
  if ((mask & kLineEventMask) != 0) {
    RefreshLineErrors();
    if (!RunStatusChecks()) return;
    if (StatusHit()) ClearStatusHits();
  }
  FillInputBuffer();
  if (!Dispatching()) {
    if (!RunStatusChecks()) return;
    while (!Dispatching() && CheckDataTriggers()) {
      if (Freed() || ClosePending()) return;
    }
    if (Freed() || ClosePending()) return;
  }
  if (StatusHit()) ClearStatusHits();
  if (TSyncEvent* passDone = PassDoneEvent()) passDone->Set();
}

void TQsBaseDispatcher::ProcessTimersAndStatus() {
  if (ClosePending() || Dispatching()) return;
  statusHit_.store(false);
  for (;;) {
    const bool fired = CheckStatusTriggers() || (!(Freed() || ClosePending()) && CheckTimerTriggers());
    if (Freed()) return;
    if (!fired || ClosePending()) break;
  }
  if (StatusHit()) ClearStatusHits();
}

// ---- The output thread ------------------------------------------------------------------------------

void TQsBaseDispatcher::WriteOutput() {
  for (;;) {
    const std::uint8_t* block = nullptr;
    int len = 0;
    {
      Guard out(outputLock_);
      if (!outRing_.Allocated() || outRing_.Pending() == 0) return;
      outRing_.NextBlock(block, len);
    }
    const int n = DeviceSend(block, len, *flushEvent_);
    if (n == kDeviceSendFlushed) {
      flushEvent_->TryTake();
      ackEvent_->Set();
      return;  // the flush discards the ring
    }
    {
      Guard out(outputLock_);
      // A failed write drops the block: there is no retry.
      outRing_.Advance(n > 0 ? std::min(n, len) : len);
    }
    if (Rs485On()) {
      DeviceDrainTransmitter();
      DeviceEscape(kEscClrRts);
    }
  }
}

// ---- Priorities, main-thread calls, the socket service window ----------------------------------------

void TQsBaseDispatcher::SetPriorityBoost(std::uint8_t boost) {
  if (boost == priorityBoost_) return;
  priorityBoost_ = boost;
  SetServicePriorities();
}

void TQsBaseDispatcher::SetServicePriorities() {
  const int level = platform::kPriorityNormal + priorityBoost_;
  if (TQsDispatcherThread* t = comThreadRef_.load(); t && t->ThreadId() != 0)
    platform::SetThreadPriorityLevel(t->ThreadId(), level);
  if (TQsDispatcherThread* t = dispThreadRef_.load(); t && t->ThreadId() != 0)
    platform::SetThreadPriorityLevel(t->ThreadId(), level);
  if (TQsDispatcherThread* t = outThreadRef_.load(); t && t->ThreadId() != 0)
    platform::SetThreadPriorityLevel(t->ThreadId(), level + (Rs485On() ? 1 : 0));
}

pid_t TQsBaseDispatcher::ComThreadId() const {
  TQsDispatcherThread* t = comThreadRef_.load();
  return t ? t->ThreadId() : 0;
}
pid_t TQsBaseDispatcher::DispThreadId() const {
  TQsDispatcherThread* t = dispThreadRef_.load();
  return t ? t->ThreadId() : 0;
}
pid_t TQsBaseDispatcher::OutThreadId() const {
  TQsDispatcherThread* t = outThreadRef_.load();
  return t ? t->ThreadId() : 0;
}

void TQsBaseDispatcher::RunInMainThread(const std::function<void()>& call) { platform::RunOnMainThread(call); }

platform::HWND TQsBaseDispatcher::CreateDispatcherWindow() {
  dispatcherWindow_ = platform::CreateWindowOfClass("qsDispatch");
  return dispatcherWindow_;
}
