// The serial service threads of a dispatcher: the event thread waits for device events, the
// dispatch thread fills the input ring and fires triggers, the output thread sends the output ring.
#pragma once

#include <atomic>
#include <string>
#include <thread>

#include "platform/Threads.h"

class TQsBaseDispatcher;

// An exception that escapes a service thread's loop goes to the application's exception handler
// (platform/Application.h), on that thread.
class TQsDispatcherThread {
 public:
  explicit TQsDispatcherThread(TQsBaseDispatcher& dispatcher) : dispatcher_(dispatcher) {}
  // Waits for the thread to end (a thread that frees its own object is detached instead).
  virtual ~TQsDispatcherThread();
  TQsDispatcherThread(const TQsDispatcherThread&) = delete;
  TQsDispatcherThread& operator=(const TQsDispatcherThread&) = delete;

  void Start();
  pid_t ThreadId() const { return threadId_.load(); }
  bool IsCurrentThread() const { return std::this_thread::get_id() == thread_.get_id(); }
  std::thread::id Id() const { return thread_.get_id(); }
  // The dispatcher whose service thread the caller is (nullptr on any other thread).
  static const TQsBaseDispatcher* ServedByCurrentThread();
  // Called on a dispatch thread whose own handler frees its dispatcher: from then on the thread
  // serves nobody, and everything up its stack leaves without touching the dispatcher or the
  // thread object (both are gone; the thread was detached).
  static void ForgetFreedDispatcher();
  static bool ServedDispatcherFreed();
  // Set once the thread has run its last step.
  platform::TSyncEvent& EndedEvent() { return ended_; }
  bool Ended() const { return endedFlag_.load(); }

 protected:
  virtual void Execute() = 0;
  TQsBaseDispatcher& dispatcher_;

 private:
  void Run();

  std::thread thread_;
  std::atomic<pid_t> threadId_{0};
  std::atomic<bool> endedFlag_{false};
  std::atomic<bool> released_{false};
  platform::TSyncEvent ended_{platform::TSyncEvent::rmManual};

  friend class TQsBaseDispatcher;
};

class TComThread : public TQsDispatcherThread {
 public:
  using TQsDispatcherThread::TQsDispatcherThread;

 protected:
  void Execute() override;
};

class TDispThread : public TQsDispatcherThread {
 public:
  using TQsDispatcherThread::TQsDispatcherThread;

 protected:
  void Execute() override;
};

class TOutThread : public TQsDispatcherThread {
 public:
  using TQsDispatcherThread::TQsDispatcherThread;

 protected:
  void Execute() override;
};
