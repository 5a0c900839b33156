// Construction, opening, closing and destruction of a dispatcher, and the defaults of the added
// device operations.
#include "comm/QsDispatch.h"

#include <cerrno>

#include "comm/QsDispatchThreads.h"

TQsBaseDispatcher::TQsBaseDispatcher(platform::TComponent* owner) : owner_(owner) { Register(); }

TQsBaseDispatcher::~TQsBaseDispatcher() {
  if (!destroyed_) {
    // The device part is gone already: only what needs no device operation can be undone here.
    stopRequested_.store(true);
    if (flushEvent_) flushEvent_->Set();
    if (passDoneEvent_) passDoneEvent_->Set();
    if (comEvent_) comEvent_->Set();
    Unregister();
  }
  JoinEndedThreads();
}

void TQsBaseDispatcher::Destroy() {
  if (destroyed_) return;
  destroyed_ = true;
  const bool byOwnPass = dispThread_ && dispThread_->IsCurrentThread();
  if (TQsDispatcherThread::ServedByCurrentThread() != this) EndServiceFromOutside();
  if (byOwnPass) {
    // A handler of its own pass frees it: the other threads stop and the port is released here
    // and now; the pass then leaves without touching the dispatcher, and the thread detaches.
    if (!ClosePending()) ClosePort();
    ReleasePort();
    TQsDispatcherThread::ForgetFreedDispatcher();
  } else if (ClosePending()) {
    // Whoever ended the pass may have released already: release only what is left.
    if (Started() || InRingAllocated()) ReleasePort();
  } else {
    ClosePort();
  }
  JoinEndedThreads();
  Unregister();
  Guard state(stateLock_);
  triggers_.DeleteAll();
  windowHandlers_.clear();
  methodHandlers_.clear();
}

int TQsBaseDispatcher::OpenPort(const std::string& name, std::uint32_t baud, std::uint8_t parity,
                                std::uint8_t dataBits, std::uint8_t stopBits, int inSize, int outSize,
                                std::uint32_t options) {
  if (inSize < 0 || outSize < 0) return kErrBadArgument;
  FinishPendingClose();
  dispatching_.store(false);
  handlersToPurge_ = false;
  ringFlag_.store(false);
  CreateServiceEvents();

  errno = 0;
  const int id = DeviceOpen(name, inSize, outSize);
  if (id < 0) {
    const int result = id == -8 ? -8 : -(errno != 0 ? errno : -id);
    ClosePort();
    return result;
  }
  deviceId_.store(id);
  errno = 0;
  if (!DeviceSetup(inSize, outSize)) {
    const int result = errno != 0 ? -errno : kErrHardware;
    ClosePort();
    return result;
  }
  {
    Guard in(inputLock_);
    Guard out(outputLock_);
    Guard state(stateLock_);
    inRing_.Allocate();
    outRing_.Allocate(outSize);
    inSize_ = inSize;
    outSize_ = outSize;
    lineErrors_.store(0);
    outputSent_.store(false);
    closePending_.store(false);
    dispatcherWindow_ = 0;
    inNotification_ = false;
    readCount_ = maxReadCount_ = 0;
    rs485On_.store(false);
    portBase_ = 0;
    DeviceGetState(lineSettings_);
    dtrByFlow_ = (options & kOpenDtrFlow) != 0;
    dtrWanted_ = (options & kOpenDtrOn) != 0;
    rtsByFlow_ = (options & kOpenRtsFlow) != 0;
    rtsWanted_ = (options & kOpenRtsOn) != 0;
    scanPos_ = 0;
    scanBacklog_ = 0;
    DeleteAllTriggers();
    notifyPos_ = -1;
    statusHit_.store(false);
    for (auto& t : triggers_.status) t.hit = false;
    ReadModemBits(0xF0);
    appliedBaud_ = 115200;
  }
  if (int r = SetLineSettings(baud, parity, dataBits, stopBits); r != 0) {
    ClosePort();
    return r;
  }
  RefreshLineErrors();
  {
    Guard state(stateLock_);
    trace_.Stop();
    log_.Stop();
    traceRecording_.store(false);
    logRecording_.store(false);
    log_.MarkStartTime();
  }
  StartDispatching();
  return 0;
}

int TQsBaseDispatcher::OpenSocket(int inSize, int outSize) {
  if (inSize < 0 || outSize < 0) return kErrBadArgument;
  const int id = DeviceOpen(std::string(), inSize, outSize);
  if (id < 0) {
    ClosePort();
    return id;
  }
  deviceId_.store(id);
  if (!DeviceSetup(0, 0)) {
    TDeviceStatus status;
    const int error = DeviceStatus(status);
    ClosePort();
    return error > 0 ? -error : (error < 0 ? error : kErrHardware);
  }
  {
    Guard in(inputLock_);
    Guard state(stateLock_);
    inRing_.Allocate();
    inSize_ = inSize;
    outSize_ = outSize;
    modemBits_.store(0);
  }
  RefreshLineErrors();
  {
    Guard state(stateLock_);
    log_.MarkStartTime();
  }
  StartDispatching();
  return 0;
}

void TQsBaseDispatcher::ClosePort() {
  if (DeviceId() >= 0) {
    FlushOutput();
    FlushInput();
    DeviceClose();
  }
  if (Dispatching()) {
    closePending_.store(true);
    return;
  }
  ReleasePort();
}

void TQsBaseDispatcher::ReleasePort() {
  if (Started()) StopDispatching();
  Guard in(inputLock_);
  Guard out(outputLock_);
  if (outRing_.Allocated()) outRing_.Free();
  if (inRing_.Allocated()) inRing_.Free();
}

void TQsBaseDispatcher::Pin() {
  std::lock_guard lock(pinLock_);
  ++pins_;
}

bool TQsBaseDispatcher::Unpin() {
  {
    std::lock_guard lock(pinLock_);
    if (--pins_ > 0 || !orphaned_) return false;
  }
  delete this;
  return true;
}

bool TQsBaseDispatcher::Pinned() const {
  std::lock_guard lock(pinLock_);
  return pins_ > 0;
}

void TQsBaseDispatcher::Orphan() {
  std::lock_guard lock(pinLock_);
  owner_ = nullptr;
  orphaned_ = true;
}

bool TQsBaseDispatcher::OrphanIfPinned() {
  std::lock_guard lock(pinLock_);
  if (pins_ == 0) return false;
  owner_ = nullptr;
  orphaned_ = true;
  return true;
}

bool TQsBaseDispatcher::Orphaned() const {
  std::lock_guard lock(pinLock_);
  return orphaned_;
}

// ---- Defaults of the added device operations ----------------------------------------------------

bool TQsBaseDispatcher::DeviceSetEventMask(std::uint32_t /*mask*/) { return true; }

int TQsBaseDispatcher::DeviceSend(const std::uint8_t* /*buf*/, int /*len*/, platform::TSyncEvent& /*flushEvent*/) {
  return kErrNotSupported;
}

bool TQsBaseDispatcher::DeviceModemStatus(std::uint8_t& status) {
  status = 0;
  return false;
}

int TQsBaseDispatcher::DeviceDrainTransmitter() { return 0; }

// ---- State read under the owning lock -------------------------------------------------------------

bool TQsBaseDispatcher::InRingAllocated() {
  Guard in(inputLock_);
  return inRing_.Allocated();
}
int TQsBaseDispatcher::InHead() {
  Guard in(inputLock_);
  return inRing_.Head();
}
int TQsBaseDispatcher::InTail() {
  Guard in(inputLock_);
  return inRing_.Tail();
}
bool TQsBaseDispatcher::InFull() {
  Guard in(inputLock_);
  return inRing_.Full();
}
bool TQsBaseDispatcher::InNotification() {
  Guard in(inputLock_);
  return inNotification_;
}
int TQsBaseDispatcher::ScanPos() {
  Guard in(inputLock_);
  return scanPos_;
}
bool TQsBaseDispatcher::OutFull() {
  Guard out(outputLock_);
  return outRing_.Full();
}
int TQsBaseDispatcher::OutHead() {
  Guard out(outputLock_);
  return outRing_.Head();
}
int TQsBaseDispatcher::OutTail() {
  Guard out(outputLock_);
  return outRing_.Tail();
}
int TQsBaseDispatcher::OutPending() {
  Guard out(outputLock_);
  return outRing_.Pending();
}
std::uint32_t TQsBaseDispatcher::AvailThreshold() {
  Guard state(stateLock_);
  return triggers_.availThreshold;
}
