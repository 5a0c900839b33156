#include "platform/MessageLoop.h"

#include <poll.h>
#include <pthread.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/Clock.h"

namespace platform {
namespace {

constexpr unsigned kPeeksBetweenPolls = 32;

std::uint32_t NowStamp() { return static_cast<std::uint32_t>(MonotonicMilliseconds()); }

class ThreadQueue;

// A message sent to another thread's window, or a call to run on the main thread. Shared between
// sender and receiver so that a sender that gave up (time-out) leaves nothing dangling.
struct SentRecord {
  enum State : int { kPending, kRunning, kDone, kCancelled };
  HWND hwnd = 0;
  UINT message = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
  const std::function<void()>* task = nullptr;  // set for RunOnMainThread; the sender waits for it
  LRESULT result = 0;
  std::atomic<int> state{kPending};
  std::shared_ptr<ThreadQueue> sender;
  std::thread::id senderThread;
};

// The window messages the calling thread is handling for other threads, innermost last.
thread_local std::vector<std::shared_ptr<SentRecord>> tHandling;

struct Timer {
  HWND hwnd = 0;
  UINT_PTR id = 0;
  std::uint64_t periodMs = 0;
  std::uint64_t dueMs = 0;
  TIMERPROC proc = nullptr;
};

struct Watch {
  std::uint32_t events = 0;
  bool inEpoll = false;
  std::shared_ptr<DescriptorCallback> callback;
};

// One thread's loop. Posted and sent messages may come from any thread (under lock_); timers and
// descriptor watches belong to the owning thread alone.
class ThreadQueue {
 public:
  ThreadQueue();
  ~ThreadQueue();
  ThreadQueue(const ThreadQueue&) = delete;
  ThreadQueue& operator=(const ThreadQueue&) = delete;

  int EpollFd() const { return epollFd_; }
  int EventFd() const { return eventFd_; }
  void Wake();
  void DrainWake();

  bool Post(const MSG& msg);
  bool PushSent(const std::shared_ptr<SentRecord>& record);
  void QuitLoop(int exitCode);
  int RemovePosted(const std::function<bool(const MSG&)>& pred);
  // Marks the queue dead: later posts and sends fail, waiting senders are released.
  void Shutdown();

  void HandleSentMessages();
  void PollDescriptors();
  bool TakePosted(MSG& msg, bool remove);
  bool TakeQuit(MSG& msg, bool remove);
  bool TakeDueTimer(MSG& msg, bool remove);
  bool HasPendingWork();
  void RearmTimerFd();

  UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapseMs, TIMERPROC proc);
  bool KillTimer(HWND hwnd, UINT_PTR id);
  void KillWindowTimers(HWND hwnd);

  bool Watch(int fd, std::uint32_t events, DescriptorCallback callback);
  bool ModifyWatch(int fd, std::uint32_t events);
  bool Unwatch(int fd);

  unsigned peeksSincePoll = 0;  // PeekMessage's fast path counter

 private:
  bool ApplyWatch(int fd, ::platform::Watch& watch);

  int epollFd_ = -1;
  int eventFd_ = -1;
  int timerFd_ = -1;
  // Set by the wake that made the eventfd's counter non-zero, cleared once the owner has read it:
  // while it is set, the owner has a wake-up coming and a further write would only cost a call.
  std::atomic<bool> signalled_{false};
  std::uint64_t armedDueMs_ = 0;  // 0: timerfd disarmed

  std::mutex lock_;
  std::deque<MSG> posted_;
  std::deque<std::shared_ptr<SentRecord>> sent_;
  bool quitPosted_ = false;
  int quitCode_ = 0;
  bool alive_ = true;

  std::vector<Timer> timers_;
  UINT_PTR nextThreadTimerId_ = 1;
  std::map<int, ::platform::Watch> watches_;
};

struct WindowRecord {
  HWND hwnd = 0;
  std::string className;
  std::string name;
  WNDPROC proc = nullptr;
  std::shared_ptr<ThreadQueue> queue;
  std::atomic<LONG_PTR> userData{0};
};

// Process-wide state, deliberately never destroyed: thread exits and static destructors may still
// reach it.
struct Globals {
  std::mutex lock;
  std::unordered_map<std::string, WNDPROC> classes;
  std::unordered_map<HWND, std::shared_ptr<WindowRecord>> windows;
  HWND nextHwnd = 1;
  std::shared_ptr<ThreadQueue> mainQueue;
};

Globals& G() {
  static Globals* globals = new Globals;
  return *globals;
}

// The main thread is the one whose thread id is the process id. The answer is kept per thread, as
// it is asked on every packet delivery; a forked child's only thread is its main thread whatever it
// was in the parent, so the child forgets the answer of the thread that forked.
thread_local int tOnMainThread = -1;  // -1: not known yet

void ForgetMainThreadAnswer() { tOnMainThread = -1; }

bool OnMainThread() {
  if (tOnMainThread < 0) {
    static const bool kForgetInChild = pthread_atfork(nullptr, nullptr, &ForgetMainThreadAnswer) == 0;
    if (!kForgetInChild) return static_cast<pid_t>(syscall(SYS_gettid)) == getpid();
    tOnMainThread = static_cast<pid_t>(syscall(SYS_gettid)) == getpid() ? 1 : 0;
  }
  return tOnMainThread == 1;
}

void DestroyThreadWindows(const ThreadQueue* queue);

// Creates the calling thread's queue on first use and shuts it down when the thread ends.
struct QueueHolder {
  std::shared_ptr<ThreadQueue> queue;
  QueueHolder() : queue(std::make_shared<ThreadQueue>()) {
    if (OnMainThread()) {
      std::lock_guard guard(G().lock);
      G().mainQueue = queue;
    }
  }
  ~QueueHolder() {
    queue->Shutdown();
    DestroyThreadWindows(queue.get());
  }
};

QueueHolder& Holder() {
  thread_local QueueHolder holder;
  return holder;
}

ThreadQueue& Current() { return *Holder().queue; }
std::shared_ptr<ThreadQueue> CurrentShared() { return Holder().queue; }

std::shared_ptr<WindowRecord> FindWindow(HWND hwnd) {
  std::lock_guard guard(G().lock);
  auto it = G().windows.find(hwnd);
  return it == G().windows.end() ? nullptr : it->second;
}

// The main thread's queue exists from program start, so that worker threads can always reach it.
const bool kMainQueueCreated = [] {
  if (OnMainThread()) Current();
  return true;
}();

// ---- ThreadQueue ----------------------------------------------------------------------------

ThreadQueue::ThreadQueue() {
  epollFd_ = epoll_create1(EPOLL_CLOEXEC);
  eventFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  timerFd_ = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
  if (epollFd_ < 0 || eventFd_ < 0 || timerFd_ < 0)
    throw std::runtime_error(std::string("message loop: ") + std::strerror(errno));
  for (int fd : {eventFd_, timerFd_}) {
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.fd = fd;
    epoll_ctl(epollFd_, EPOLL_CTL_ADD, fd, &ev);
  }
}

ThreadQueue::~ThreadQueue() {
  for (int fd : {epollFd_, eventFd_, timerFd_})
    if (fd >= 0) close(fd);
}

void ThreadQueue::Wake() {
  if (signalled_.exchange(true)) return;
  std::uint64_t one = 1;
  [[maybe_unused]] ssize_t n = write(eventFd_, &one, sizeof one);
}

// The flag is cleared only after the read: a wake that comes in between skipped its write, and the
// owner looks at its queues after draining, so it sees what that wake announced. Cleared first, a
// wake in between would be read away and leave the flag set with nothing to wake the loop again.
void ThreadQueue::DrainWake() {
  std::uint64_t count = 0;
  [[maybe_unused]] ssize_t n = read(eventFd_, &count, sizeof count);
  signalled_.store(false);
}

bool ThreadQueue::Post(const MSG& msg) {
  bool wasEmpty;
  {
    std::lock_guard guard(lock_);
    if (!alive_) return false;
    wasEmpty = posted_.empty();
    posted_.push_back(msg);
  }
  // The owner drains its wake-ups only once it finds the queue empty, so only the first message
  // of a batch needs to wake it.
  if (wasEmpty) Wake();
  return true;
}

bool ThreadQueue::PushSent(const std::shared_ptr<SentRecord>& record) {
  {
    std::lock_guard guard(lock_);
    if (!alive_) return false;
    sent_.push_back(record);
  }
  Wake();
  return true;
}

void ThreadQueue::QuitLoop(int exitCode) {
  {
    std::lock_guard guard(lock_);
    quitPosted_ = true;
    quitCode_ = exitCode;
  }
  Wake();
}

int ThreadQueue::RemovePosted(const std::function<bool(const MSG&)>& pred) {
  std::lock_guard guard(lock_);
  auto firstRemoved = std::remove_if(posted_.begin(), posted_.end(), pred);
  int removed = static_cast<int>(posted_.end() - firstRemoved);
  posted_.erase(firstRemoved, posted_.end());
  return removed;
}

void Complete(const std::shared_ptr<SentRecord>& record, LRESULT result) {
  record->result = result;
  record->state.store(SentRecord::kDone);
  if (record->sender) record->sender->Wake();
}

void ThreadQueue::Shutdown() {
  std::deque<std::shared_ptr<SentRecord>> abandoned;
  {
    std::lock_guard guard(lock_);
    alive_ = false;
    abandoned.swap(sent_);
  }
  for (auto& record : abandoned) Complete(record, 0);
}

void ThreadQueue::HandleSentMessages() {
  for (;;) {
    std::shared_ptr<SentRecord> record;
    {
      std::lock_guard guard(lock_);
      if (sent_.empty()) return;
      record = std::move(sent_.front());
      sent_.pop_front();
    }
    int expected = SentRecord::kPending;
    if (!record->state.compare_exchange_strong(expected, SentRecord::kRunning)) continue;  // sender gave up
    LRESULT result = 0;
    if (record->task) {
      (*record->task)();
    } else if (auto window = FindWindow(record->hwnd)) {
      tHandling.push_back(record);
      try {
        result = window->proc(record->hwnd, record->message, record->wParam, record->lParam);
      } catch (...) {
        tHandling.pop_back();
        throw;
      }
      tHandling.pop_back();
    }
    if (record->state.load() != SentRecord::kDone) Complete(record, result);  // unless answered early
  }
}

void ThreadQueue::PollDescriptors() {
  epoll_event events[32];
  int n = epoll_wait(epollFd_, events, 32, 0);
  for (int i = 0; i < n; ++i) {
    int fd = events[i].data.fd;
    if (fd == eventFd_) {
      DrainWake();
    } else if (fd == timerFd_) {
      std::uint64_t expirations = 0;
      [[maybe_unused]] ssize_t r = read(timerFd_, &expirations, sizeof expirations);
      armedDueMs_ = 0;
    } else {
      auto it = watches_.find(fd);
      if (it == watches_.end()) continue;
      std::shared_ptr<DescriptorCallback> callback = it->second.callback;  // may unwatch itself
      (*callback)(fd, events[i].events);
    }
  }
}

bool ThreadQueue::TakePosted(MSG& msg, bool remove) {
  std::lock_guard guard(lock_);
  if (posted_.empty()) return false;
  msg = posted_.front();
  if (remove) posted_.pop_front();
  return true;
}

bool ThreadQueue::TakeQuit(MSG& msg, bool remove) {
  std::lock_guard guard(lock_);
  if (!quitPosted_) return false;
  msg = MSG{0, WM_QUIT, static_cast<WPARAM>(quitCode_), 0, NowStamp()};
  if (remove) quitPosted_ = false;
  return true;
}

bool ThreadQueue::TakeDueTimer(MSG& msg, bool remove) {
  if (timers_.empty()) return false;
  std::uint64_t now = MonotonicMilliseconds();
  auto due = std::min_element(timers_.begin(), timers_.end(),
                              [](const Timer& a, const Timer& b) { return a.dueMs < b.dueMs; });
  if (due->dueMs > now) return false;
  msg = MSG{due->hwnd, WM_TIMER, due->id, reinterpret_cast<LPARAM>(due->proc), static_cast<std::uint32_t>(now)};
  if (remove) due->dueMs = now + due->periodMs;
  return true;
}

bool ThreadQueue::HasPendingWork() {
  {
    std::lock_guard guard(lock_);
    if (!posted_.empty() || !sent_.empty() || quitPosted_) return true;
  }
  std::uint64_t now = MonotonicMilliseconds();
  return std::any_of(timers_.begin(), timers_.end(), [now](const Timer& t) { return t.dueMs <= now; });
}

// Keeps the timerfd set to the nearest due timer, so that the loop descriptor turns readable
// exactly when a timer message can be produced.
void ThreadQueue::RearmTimerFd() {
  std::uint64_t nearest = 0;
  for (const Timer& t : timers_)
    if (nearest == 0 || t.dueMs < nearest) nearest = t.dueMs;
  if (nearest == armedDueMs_) return;
  itimerspec due{};
  if (nearest != 0) {
    std::uint64_t ns = std::max<std::uint64_t>(nearest, 1) * 1'000'000;
    due.it_value.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
    due.it_value.tv_nsec = static_cast<long>(ns % 1'000'000'000);
  }
  timerfd_settime(timerFd_, TFD_TIMER_ABSTIME, &due, nullptr);
  armedDueMs_ = nearest;
}

UINT_PTR ThreadQueue::SetTimer(HWND hwnd, UINT_PTR id, UINT elapseMs, TIMERPROC proc) {
  // Like the system's timers, a period below 10 ms is raised to 10 ms: it keeps a zero period
  // from starving every other message.
  std::uint64_t period = std::max<UINT>(elapseMs, 10);
  auto existing = std::find_if(timers_.begin(), timers_.end(),
                               [&](const Timer& t) { return t.hwnd == hwnd && t.id == id && (hwnd || id); });
  if (hwnd == 0 && existing == timers_.end()) {
    do id = nextThreadTimerId_++;
    while (std::any_of(timers_.begin(), timers_.end(), [&](const Timer& t) { return t.hwnd == 0 && t.id == id; }));
  }
  Timer timer{hwnd, id, period, MonotonicMilliseconds() + period, proc};
  if (existing != timers_.end())
    *existing = timer;
  else
    timers_.push_back(timer);
  RearmTimerFd();
  return id;
}

bool ThreadQueue::KillTimer(HWND hwnd, UINT_PTR id) {
  auto it = std::find_if(timers_.begin(), timers_.end(), [&](const Timer& t) { return t.hwnd == hwnd && t.id == id; });
  if (it == timers_.end()) return false;
  timers_.erase(it);
  RearmTimerFd();
  return true;
}

void ThreadQueue::KillWindowTimers(HWND hwnd) {
  std::erase_if(timers_, [hwnd](const Timer& t) { return t.hwnd == hwnd; });
  RearmTimerFd();
}

// A paused watch leaves the epoll set: epoll reports hang-ups even for an empty event mask.
bool ThreadQueue::ApplyWatch(int fd, ::platform::Watch& watch) {
  epoll_event ev{};
  ev.events = watch.events;
  ev.data.fd = fd;
  int rc = 0;
  if (watch.events == 0) {
    if (watch.inEpoll) rc = epoll_ctl(epollFd_, EPOLL_CTL_DEL, fd, nullptr);
    watch.inEpoll = false;
  } else {
    rc = epoll_ctl(epollFd_, watch.inEpoll ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, fd, &ev);
    watch.inEpoll = rc == 0;
  }
  return rc == 0;
}

bool ThreadQueue::Watch(int fd, std::uint32_t events, DescriptorCallback callback) {
  if (fd < 0 || !callback || watches_.count(fd)) return false;
  ::platform::Watch watch{events, false, std::make_shared<DescriptorCallback>(std::move(callback))};
  if (!ApplyWatch(fd, watch)) return false;
  watches_.emplace(fd, std::move(watch));
  return true;
}

bool ThreadQueue::ModifyWatch(int fd, std::uint32_t events) {
  auto it = watches_.find(fd);
  if (it == watches_.end()) return false;
  // Level-triggered: the same interest again changes nothing (a socket re-arms it on every receive).
  if (it->second.events == events && it->second.inEpoll == (events != 0)) return true;
  it->second.events = events;
  return ApplyWatch(fd, it->second);
}

bool ThreadQueue::Unwatch(int fd) {
  auto it = watches_.find(fd);
  if (it == watches_.end()) return false;
  if (it->second.inEpoll) epoll_ctl(epollFd_, EPOLL_CTL_DEL, fd, nullptr);
  watches_.erase(it);
  return true;
}

void DestroyThreadWindows(const ThreadQueue* queue) {
  std::lock_guard guard(G().lock);
  std::erase_if(G().windows, [queue](const auto& entry) { return entry.second->queue.get() == queue; });
  if (G().mainQueue.get() == queue) G().mainQueue.reset();
}

// Waits for a sent record to complete while handling what other threads send to this one.
// Returns false when the deadline (ms of the monotonic clock, 0 = none) passed first.
bool AwaitSent(ThreadQueue& self, const std::shared_ptr<SentRecord>& record, std::uint64_t deadlineMs) {
  bool completed = true;
  for (;;) {
    self.HandleSentMessages();
    if (record->state.load() == SentRecord::kDone) break;
    int timeout = -1;
    if (deadlineMs != 0) {
      std::uint64_t now = MonotonicMilliseconds();
      if (now >= deadlineMs) {
        completed = false;
        break;
      }
      timeout = static_cast<int>(deadlineMs - now);
    }
    pollfd pfd{self.EventFd(), POLLIN, 0};
    if (poll(&pfd, 1, timeout) > 0) self.DrainWake();
  }
  // The wake-ups consumed here may have announced posted messages too: keep the loop descriptor
  // readable so that a toolkit watching it looks again.
  self.Wake();
  return completed;
}

bool SendCrossThread(const std::shared_ptr<WindowRecord>& window, UINT msg, WPARAM wParam, LPARAM lParam,
                     std::uint64_t deadlineMs, LRESULT* result) {
  auto record = std::make_shared<SentRecord>();
  record->hwnd = window->hwnd;
  record->message = msg;
  record->wParam = wParam;
  record->lParam = lParam;
  record->sender = CurrentShared();
  record->senderThread = std::this_thread::get_id();
  if (!window->queue->PushSent(record)) return false;
  if (!AwaitSent(Current(), record, deadlineMs)) {
    int expected = SentRecord::kPending;
    record->state.compare_exchange_strong(expected, SentRecord::kCancelled);
    return false;
  }
  if (result) *result = record->result;
  return true;
}

}  // namespace

// ---- Window classes and windows -------------------------------------------------------------

bool RegisterWindowClass(const std::string& className, WNDPROC proc) {
  if (!proc || className.empty()) return false;
  std::lock_guard guard(G().lock);
  return G().classes.emplace(className, proc).second;
}

bool UnregisterWindowClass(const std::string& className) {
  std::lock_guard guard(G().lock);
  return G().classes.erase(className) > 0;
}

bool IsWindowClassRegistered(const std::string& className) {
  std::lock_guard guard(G().lock);
  return G().classes.count(className) > 0;
}

HWND CreateWindowOfClass(const std::string& className, const std::string& windowName) {
  auto window = std::make_shared<WindowRecord>();
  window->className = className;
  window->name = windowName;
  window->queue = CurrentShared();
  {
    std::lock_guard guard(G().lock);
    auto cls = G().classes.find(className);
    if (cls == G().classes.end()) return 0;
    window->hwnd = G().nextHwnd++;
    window->proc = cls->second;
    G().windows.emplace(window->hwnd, window);
  }
  window->proc(window->hwnd, WM_CREATE, 0, 0);
  return window->hwnd;
}

bool DestroyWindow(HWND hwnd) {
  auto window = FindWindow(hwnd);
  if (!window || window->queue.get() != &Current()) return false;
  window->proc(hwnd, WM_DESTROY, 0, 0);
  {
    std::lock_guard guard(G().lock);
    G().windows.erase(hwnd);
  }
  Current().KillWindowTimers(hwnd);
  Current().RemovePosted([hwnd](const MSG& m) { return m.hwnd == hwnd; });
  return true;
}

bool IsWindow(HWND hwnd) { return FindWindow(hwnd) != nullptr; }

std::string GetWindowName(HWND hwnd) {
  auto window = FindWindow(hwnd);
  return window ? window->name : std::string();
}

LONG_PTR SetWindowLongPtr(HWND hwnd, int index, LONG_PTR value) {
  auto window = FindWindow(hwnd);
  if (!window || index != GWLP_USERDATA) return 0;
  return window->userData.exchange(value);
}

LONG_PTR GetWindowLongPtr(HWND hwnd, int index) {
  auto window = FindWindow(hwnd);
  if (!window || index != GWLP_USERDATA) return 0;
  return window->userData.load();
}

LRESULT DefWindowProc(HWND, UINT, WPARAM, LPARAM) { return 0; }

// ---- Posting and sending --------------------------------------------------------------------

bool PostMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  MSG m{hwnd, msg, wParam, lParam, NowStamp()};
  if (hwnd == 0) return Current().Post(m);
  auto window = FindWindow(hwnd);
  return window && window->queue->Post(m);
}

LRESULT SendMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto window = FindWindow(hwnd);
  if (!window) return 0;
  if (window->queue.get() == &Current()) return window->proc(hwnd, msg, wParam, lParam);
  LRESULT result = 0;
  SendCrossThread(window, msg, wParam, lParam, 0, &result);
  return result;
}

bool SendMessageTimeout(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, unsigned timeoutMs, LRESULT* result) {
  auto window = FindWindow(hwnd);
  if (!window) return false;
  if (window->queue.get() == &Current()) {
    LRESULT r = window->proc(hwnd, msg, wParam, lParam);
    if (result) *result = r;
    return true;
  }
  // A deadline of 0 means "none" to AwaitSent, so a zero time-out is one millisecond.
  std::uint64_t deadline = MonotonicMilliseconds() + std::max(timeoutMs, 1u);
  return SendCrossThread(window, msg, wParam, lParam, deadline, result);
}

bool ReplyMessage(std::thread::id sender, LRESULT result) {
  for (const auto& record : tHandling) {
    if (record->senderThread != sender || record->state.load() != SentRecord::kRunning) continue;
    Complete(record, result);
    return true;
  }
  return false;
}

void PostQuitMessage(int exitCode) { Current().QuitLoop(exitCode); }

int RemovePostedMessages(const std::function<bool(const MSG&)>& pred) { return Current().RemovePosted(pred); }

int RemoveWindowMessages(HWND hwnd, const std::function<bool(const MSG&)>& pred) {
  auto window = FindWindow(hwnd);
  if (!window) return 0;
  return window->queue->RemovePosted([&](const MSG& m) { return m.hwnd == hwnd && pred(m); });
}

// ---- Retrieving and dispatching -------------------------------------------------------------

bool PeekMessage(MSG& msg, UINT removeFlag) {
  ThreadQueue& q = Current();
  bool remove = (removeFlag & PM_REMOVE) != 0;
  q.HandleSentMessages();
  // Fast path while posted messages wait; descriptors are still looked at now and then so that a
  // busy queue cannot starve them.
  if (++q.peeksSincePoll < kPeeksBetweenPolls && q.TakePosted(msg, remove)) return true;
  q.peeksSincePoll = 0;
  // Drain the wake-up counter before the final look at the queues: a message queued after the
  // look wakes the loop again, one queued before it is seen by it.
  q.PollDescriptors();
  q.HandleSentMessages();
  if (q.TakePosted(msg, remove) || q.TakeQuit(msg, remove) || q.TakeDueTimer(msg, remove)) {
    if (remove && msg.message == WM_TIMER) q.RearmTimerFd();
    return true;
  }
  q.RearmTimerFd();
  return false;
}

bool GetMessage(MSG& msg) {
  ThreadQueue& q = Current();
  while (!PeekMessage(msg, PM_REMOVE)) {
    epoll_event ev;
    epoll_wait(q.EpollFd(), &ev, 1, -1);
  }
  return msg.message != WM_QUIT;
}

bool WaitMessage(int timeoutMs) {
  ThreadQueue& q = Current();
  if (q.HasPendingWork()) return true;
  q.RearmTimerFd();
  epoll_event ev;
  return epoll_wait(q.EpollFd(), &ev, 1, timeoutMs < 0 ? -1 : timeoutMs) > 0;
}

bool TranslateMessage(const MSG&) { return false; }

LRESULT DispatchMessage(const MSG& msg) {
  if (msg.message == WM_TIMER && msg.lParam != 0) {
    reinterpret_cast<TIMERPROC>(msg.lParam)(msg.hwnd, WM_TIMER, msg.wParam, NowStamp());
    return 0;
  }
  if (msg.hwnd == 0) return 0;
  auto window = FindWindow(msg.hwnd);
  if (!window) return 0;
  return window->proc(msg.hwnd, msg.message, msg.wParam, msg.lParam);
}

bool DispatchReadyMessages(int* exitCode, unsigned budgetMs) {
  std::uint64_t start = MonotonicMilliseconds();
  MSG msg;
  while (PeekMessage(msg, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      if (exitCode) *exitCode = static_cast<int>(msg.wParam);
      return false;
    }
    TranslateMessage(msg);
    DispatchMessage(msg);
    if (MonotonicMilliseconds() - start >= budgetMs) {
      Current().Wake();  // more may be ready: come back after the toolkit's own events
      break;
    }
  }
  return true;
}

// ---- Timers ---------------------------------------------------------------------------------

UINT_PTR SetTimer(HWND hwnd, UINT_PTR idEvent, UINT elapseMs, TIMERPROC proc) {
  if (hwnd != 0) {
    auto window = FindWindow(hwnd);
    if (!window || window->queue.get() != &Current()) return 0;
  }
  return Current().SetTimer(hwnd, idEvent, elapseMs, proc);
}

bool KillTimer(HWND hwnd, UINT_PTR idEvent) { return Current().KillTimer(hwnd, idEvent); }

// ---- Threads --------------------------------------------------------------------------------

int MessageLoopDescriptor() { return Current().EpollFd(); }

bool IsMainThread() { return OnMainThread(); }

void RunOnMainThread(const std::function<void()>& fn) {
  if (OnMainThread()) {
    fn();
    return;
  }
  std::shared_ptr<ThreadQueue> main;
  {
    std::lock_guard guard(G().lock);
    main = G().mainQueue;
  }
  if (!main) return;  // the main thread has ended: nobody is left to run it
  auto record = std::make_shared<SentRecord>();
  record->task = &fn;
  record->sender = CurrentShared();
  if (main->PushSent(record)) AwaitSent(Current(), record, 0);
}

// ---- Descriptor watching --------------------------------------------------------------------

bool WatchDescriptor(int fd, std::uint32_t events, DescriptorCallback callback) {
  return Current().Watch(fd, events, std::move(callback));
}

bool ModifyDescriptorWatch(int fd, std::uint32_t events) { return Current().ModifyWatch(fd, events); }

bool UnwatchDescriptor(int fd) { return Current().Unwatch(fd); }

}  // namespace platform
