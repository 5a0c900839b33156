// Thread synchronisation the communications engine needs beyond the standard library: events
// (automatic or manual reset) that can be waited for together, also while the calling thread keeps
// handling its window messages, and the thread priority levels of the service threads.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <sys/types.h>

namespace platform {

// An event object over an eventfd. An automatic-reset event releases one wait and is then reset;
// a manual-reset event stays set until Reset.
class TSyncEvent {
 public:
  enum TResetMode { rmAutomatic, rmManual };
  explicit TSyncEvent(TResetMode mode, bool initiallySet = false);
  ~TSyncEvent();
  TSyncEvent(const TSyncEvent&) = delete;
  TSyncEvent& operator=(const TSyncEvent&) = delete;

  void Set();
  void Reset();
  bool IsManual() const { return mode_ == rmManual; }
  // Waits at most timeoutMs (negative: without limit); true when the event was set (and, when
  // automatic, is now taken).
  bool Wait(int timeoutMs);
  // For waits on several descriptors: readable while set.
  int Descriptor() const { return fd_; }
  // Takes a set event without waiting (automatic reset consumes it); false when not set or when
  // another waiter took it first.
  bool TryTake();

 private:
  TResetMode mode_;
  int fd_ = -1;
};

constexpr int kWaitTimeout = -1;
constexpr int kWaitFailed = -2;

// Waits until one of the events is set and returns its index (the first set one; an automatic
// event is taken), kWaitTimeout after timeoutMs (negative: without limit).
int WaitForAnyEvent(std::initializer_list<TSyncEvent*> events, int timeoutMs);

// As WaitForAnyEvent, but keeps handling the calling thread's window messages (posted and sent)
// while it waits. A quit message is posted again and not consumed; after it, the wait goes on
// without handling further messages, so the quit stays for the thread's own loop.
int WaitForAnyEventPumping(std::initializer_list<TSyncEvent*> events, int timeoutMs);

// Waits until pred() is true, handling the calling thread's messages and re-checking whenever
// wake is set (or every pollMs at the latest).
template <typename Pred>
void WaitUntilPumping(TSyncEvent& wake, Pred pred, int pollMs = 50) {
  while (!pred()) WaitForAnyEventPumping({&wake}, pollMs);
}

// ---- Thread priorities ------------------------------------------------------------------------

// The seven levels of the engine: 0 idle, 1 lowest, 2 below normal, 3 normal, 4 above normal,
// 5 highest, 6 time critical. Levels outside 0..6 are clamped.
constexpr int kPriorityIdle = 0;
constexpr int kPriorityNormal = 3;
constexpr int kPriorityTimeCritical = 6;

// The nice value a level maps to on Linux (19 for idle down to -20 for time critical).
int NiceValueForPriority(int level);
// The kernel id of the calling thread.
pid_t CurrentThreadId();
// Sets the thread's priority level. Raising above normal needs a privilege the process may not
// have: then the thread keeps the best value it is allowed (never an error).
void SetThreadPriorityLevel(pid_t threadId, int level);
// The thread's current nice value (for checks).
int ThreadNiceValue(pid_t threadId);

}  // namespace platform
