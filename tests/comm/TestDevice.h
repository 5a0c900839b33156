// A device for the dispatcher tests: input comes through a pipe that the test writes into, output
// lands in a string, and the line state is a record the test can inspect. With threads the
// dispatcher runs its service threads over it; without, the test drives the passes itself.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "comm/QsDispatch.h"

class TTestDevice : public TQsBaseDispatcher {
 public:
  explicit TTestDevice(bool threads = false, platform::TComponent* owner = nullptr)
      : TQsBaseDispatcher(owner), threads_(threads) {
    int fds[2];
    if (pipe2(fds, O_NONBLOCK | O_CLOEXEC) == 0) {
      readFd_ = fds[0];
      writeFd_ = fds[1];
    }
    wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  }
  ~TTestDevice() override {
    Destroy();
    for (int fd : {readFd_, writeFd_, wakeFd_})
      if (fd >= 0) close(fd);
  }

  // ---- What the test sets ----
  int openResult = 7;          // DeviceOpen's answer
  int openErrno = 0;           // errno left by a failing DeviceOpen
  bool setupOk = true;
  int setupErrno = 0;
  int writeResult = -1;        // DeviceWrite's answer; -1: accept everything into the output ring
  int setStateResult = 0;
  int escapeResult = 0;
  int baseAddress = 0x3F8;     // the escape function 10 answer
  std::atomic<std::uint32_t> lineErrorBits{0};
  std::atomic<std::uint8_t> modemLines{0};
  std::atomic<bool> holdSends{false};  // DeviceSend waits for the flush
  TQsLineSettings deviceState{115200, 0, 0, 0, 8, 0, 0, 17, 19};

  // ---- What the test reads ----
  std::atomic<int> readCalls{0};
  std::atomic<int> writeCalls{0};
  std::atomic<int> statusCalls{0};
  std::atomic<int> setStateCalls{0};
  std::atomic<int> closeCalls{0};
  std::atomic<int> releaseCalls{0};
  std::atomic<int> drainCalls{0};
  std::vector<int> escapes;
  std::vector<int> flushes;

  void Feed(std::string_view bytes) {
    [[maybe_unused]] ssize_t n = write(writeFd_, bytes.data(), bytes.size());
  }
  // A modem line change: the event wait reports it.
  void ChangeModemLines(std::uint8_t lines) {
    modemLines.store(lines);
    pendingEvents_.fetch_or(kEvCts);
    Wake();
  }
  std::string Sent() {
    std::lock_guard guard(sentLock_);
    return sent_;
  }
  std::vector<int> Escapes() {
    std::lock_guard guard(recordLock_);
    return escapes;
  }

  // ---- Device operations ----
  int DeviceEscape(int func) override {
    std::lock_guard guard(recordLock_);
    escapes.push_back(func);
    if (func == kEscGetBaseAddress) return baseAddress;
    return escapeResult;
  }
  int DeviceFlush(int queue) override {
    {
      // Not held while the output lock is taken: the dispatcher calls DeviceEscape, which takes
      // this lock, with its own locks held (a lock-order cycle ThreadSanitizer reports).
      std::lock_guard guard(recordLock_);
      flushes.push_back(queue);
    }
    if (queue == 1) Drain();
    if (queue == 0) {
      Guard out(OutputLock());
      OutRing().Clear();
    }
    return 0;
  }
  int DeviceStatus(TDeviceStatus& status) override {
    ++statusCalls;
    int pending = 0;
    ioctl(readFd_, FIONREAD, &pending);
    status.inCount = static_cast<std::uint32_t>(pending);
    Guard out(OutputLock());
    status.outCount = static_cast<std::uint32_t>(OutRing().Pending());
    return static_cast<int>(lineErrorBits.exchange(0));
  }
  int DeviceReadFailed(int) override { return 0; }
  int DeviceGetState(TQsLineSettings& settings) override {
    settings = deviceState;
    return 0;
  }
  int DeviceRead(std::uint8_t* buf, int size) override {
    ++readCalls;
    const ssize_t n = read(readFd_, buf, static_cast<std::size_t>(size));
    return n < 0 ? (errno == EAGAIN ? 0 : -1) : static_cast<int>(n);
  }
  int DeviceSetState(const TQsLineSettings& settings) override {
    ++setStateCalls;
    if (setStateResult == 0) deviceState = settings;
    return setStateResult;
  }
  int DeviceWrite(const std::uint8_t* buf, int size) override {
    ++writeCalls;
    if (writeResult != -1) return writeResult;
    {
      Guard out(OutputLock());
      OutRing().Append(buf, size);
    }
    if (platform::TSyncEvent* e = OutputEvent()) e->Set();
    return size;
  }
  bool DeviceWaitEvent(std::uint32_t& eventMask) override {
    for (;;) {
      if (eventMaskSetting_.load() == 0) {
        eventMask = 0;
        return true;
      }
      if (std::uint32_t events = pendingEvents_.exchange(0); events != 0) {
        eventMask = events;
        return true;
      }
      pollfd fds[2] = {{readFd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
      poll(fds, 2, -1);
      if (fds[1].revents & POLLIN) {
        std::uint64_t count;
        [[maybe_unused]] ssize_t r = read(wakeFd_, &count, sizeof count);
        continue;
      }
      if (fds[0].revents & POLLIN) {
        eventMask = kEvRxChar;
        return true;
      }
    }
  }
  bool DeviceSetup(int, int) override {
    errno = setupErrno;
    return setupOk;
  }
  void ReleasePort() override {
    ++releaseCalls;
    TQsBaseDispatcher::ReleasePort();
  }
  void StartDispatching() override {
    if (threads_) TQsBaseDispatcher::StartDispatching();
  }
  void StopDispatching() override {
    if (threads_) TQsBaseDispatcher::StopDispatching();
  }
  int DeviceOpen(const std::string&, int, int) override {
    errno = openErrno;
    return openResult;
  }
  int DeviceClose() override {
    ++closeCalls;
    SetDeviceId(-1);
    return 0;
  }
  int ServiceOnce() override { return 0; }
  bool DeviceSetEventMask(std::uint32_t mask) override {
    eventMaskSetting_.store(mask);
    Wake();
    return true;
  }
  int DeviceSend(const std::uint8_t* buf, int len, platform::TSyncEvent& flushEvent) override {
    if (holdSends.load()) {
      sendWaiting_.store(true);
      pollfd p{flushEvent.Descriptor(), POLLIN, 0};
      poll(&p, 1, -1);
      sendWaiting_.store(false);
      return kDeviceSendFlushed;
    }
    std::lock_guard guard(sentLock_);
    sent_.append(reinterpret_cast<const char*>(buf), static_cast<std::size_t>(len));
    return len;
  }
  bool DeviceModemStatus(std::uint8_t& status) override {
    status = modemLines.load();
    return true;
  }
  int DeviceDrainTransmitter() override {
    ++drainCalls;
    return 0;
  }
  bool SendWaiting() const { return sendWaiting_.load(); }
  using TQsBaseDispatcher::OutRing;

 private:
  void Drain() {
    char scratch[4096];
    while (read(readFd_, scratch, sizeof scratch) > 0) {
    }
  }
  void Wake() {
    std::uint64_t one = 1;
    [[maybe_unused]] ssize_t r = write(wakeFd_, &one, sizeof one);
  }

  bool threads_;
  int readFd_ = -1;
  int writeFd_ = -1;
  int wakeFd_ = -1;
  std::atomic<std::uint32_t> eventMaskSetting_{kServiceEventMask};
  std::atomic<std::uint32_t> pendingEvents_{0};
  std::atomic<bool> sendWaiting_{false};
  std::mutex sentLock_;
  std::mutex recordLock_;
  std::string sent_;
};

// Opens a test device the way a port does: 4096-byte queues, DTR and RTS on.
inline int OpenTestDevice(TTestDevice& device, int inSize = 4096, int outSize = 4096) {
  return device.OpenPort("COM1", 115200, 0, 8, 1, inSize, outSize, kOpenDtrOn | kOpenRtsOn);
}
