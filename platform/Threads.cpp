#include "platform/Threads.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "platform/MessageLoop.h"

namespace platform {

TSyncEvent::TSyncEvent(TResetMode mode, bool initiallySet) : mode_(mode) {
  fd_ = eventfd(initiallySet ? 1 : 0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (fd_ < 0) throw std::runtime_error(std::string("event: ") + std::strerror(errno));
}

TSyncEvent::~TSyncEvent() {
  if (fd_ >= 0) close(fd_);
}

void TSyncEvent::Set() {
  std::uint64_t one = 1;
  [[maybe_unused]] ssize_t n = write(fd_, &one, sizeof one);
}

void TSyncEvent::Reset() {
  std::uint64_t count = 0;
  [[maybe_unused]] ssize_t n = read(fd_, &count, sizeof count);
}

bool TSyncEvent::TryTake() {
  if (mode_ == rmManual) {
    pollfd p{fd_, POLLIN, 0};
    return poll(&p, 1, 0) > 0 && (p.revents & POLLIN) != 0;
  }
  std::uint64_t count = 0;
  return read(fd_, &count, sizeof count) == static_cast<ssize_t>(sizeof count);
}

bool TSyncEvent::Wait(int timeoutMs) { return WaitForAnyEvent({this}, timeoutMs) == 0; }

namespace {

// Milliseconds left of a wait that started at start; -1 stays "without limit".
int Remaining(int timeoutMs, std::uint64_t start) {
  if (timeoutMs < 0) return -1;
  const std::uint64_t spent = MonotonicMilliseconds() - start;
  return spent >= static_cast<std::uint64_t>(timeoutMs) ? 0 : timeoutMs - static_cast<int>(spent);
}

int TakeFirstSet(std::initializer_list<TSyncEvent*> events) {
  int index = 0;
  for (TSyncEvent* event : events) {
    if (event->TryTake()) return index;
    ++index;
  }
  return kWaitTimeout;
}

// One wait over the events and, when loopFd >= 0, the message loop; true when something is ready.
bool PollOnce(std::initializer_list<TSyncEvent*> events, int loopFd, int timeoutMs) {
  std::vector<pollfd> fds;
  fds.reserve(events.size() + 1);
  for (TSyncEvent* event : events) fds.push_back(pollfd{event->Descriptor(), POLLIN, 0});
  if (loopFd >= 0) fds.push_back(pollfd{loopFd, POLLIN, 0});
  int n = poll(fds.data(), fds.size(), timeoutMs);
  return n > 0;
}

}  // namespace

int WaitForAnyEvent(std::initializer_list<TSyncEvent*> events, int timeoutMs) {
  const std::uint64_t start = MonotonicMilliseconds();
  for (;;) {
    int index = TakeFirstSet(events);
    if (index != kWaitTimeout) return index;
    const int left = Remaining(timeoutMs, start);
    if (left == 0) return kWaitTimeout;
    PollOnce(events, -1, left);
  }
}

int WaitForAnyEventPumping(std::initializer_list<TSyncEvent*> events, int timeoutMs) {
  const std::uint64_t start = MonotonicMilliseconds();
  bool pumping = true;
  for (;;) {
    if (pumping) {
      MSG msg;
      while (PeekMessage(msg, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
          PostQuitMessage(static_cast<int>(msg.wParam));  // the thread's own loop takes it
          pumping = false;
          break;
        }
        TranslateMessage(msg);
        DispatchMessage(msg);
      }
    }
    int index = TakeFirstSet(events);
    if (index != kWaitTimeout) return index;
    const int left = Remaining(timeoutMs, start);
    if (left == 0) return kWaitTimeout;
    // Bounded slices: the loop descriptor may report work that a peek then finds not due yet.
    PollOnce(events, pumping ? MessageLoopDescriptor() : -1, left < 0 ? 50 : std::min(left, 50));
  }
}

// ---- Priorities ---------------------------------------------------------------------------------

int NiceValueForPriority(int level) {
  static constexpr int kNice[] = {19, 10, 5, 0, -5, -10, -20};
  return kNice[std::clamp(level, 0, 6)];
}

pid_t CurrentThreadId() { return static_cast<pid_t>(syscall(SYS_gettid)); }

void SetThreadPriorityLevel(pid_t threadId, int level) {
  const int wanted = NiceValueForPriority(level);
  if (setpriority(PRIO_PROCESS, static_cast<id_t>(threadId), wanted) == 0) return;
  if (errno != EACCES && errno != EPERM) return;
  // Without the privilege, RLIMIT_NICE says how far the nice value may be lowered.
  rlimit limit{};
  if (getrlimit(RLIMIT_NICE, &limit) != 0) return;
  const int lowestAllowed = 20 - static_cast<int>(std::min<rlim_t>(limit.rlim_cur, 40));
  const int current = ThreadNiceValue(threadId);
  const int best = std::max(wanted, lowestAllowed);
  if (best < current) setpriority(PRIO_PROCESS, static_cast<id_t>(threadId), best);
}

int ThreadNiceValue(pid_t threadId) {
  errno = 0;
  return getpriority(PRIO_PROCESS, static_cast<id_t>(threadId));
}

}  // namespace platform
