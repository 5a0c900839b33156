// The packet manager of one port: it owns the port's incoming bytes, lets its packets match, delivers
// complete packets and discards what no packet can use; and the process-wide list of managers.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>
#include <memory>
#include <memory_resource>
#include <mutex>

#include "comm/QsDispatch.h"
#include "comm/QsExcept.h"
#include "comm/QsPacket.h"
#include "platform/Application.h"
#include "platform/MessageLoop.h"

namespace {

constexpr std::uint8_t kLogStringPacket = 244, kLogSizePacket = 245, kLogTimeout = 246;
constexpr std::size_t kBufferStep = 8192;

struct ManagerList {
  std::mutex lock;
  std::vector<TQsDataPacketManager*> managers;
};

ManagerList& Managers() {
  static auto* list = new ManagerList;
  return *list;
}

}  // namespace

// Walks the packets as they stood when the walk began, passing over any that a step (through a
// handler of a delivery it started) freed or moved to another port. A port has a few packets, so
// the copy of the list stays on the stack.
template <typename Fn>
void TQsDataPacketManager::ForEachPacket(Fn&& fn) {
  std::array<std::byte, 16 * sizeof(TQsDataPacket*)> storage;
  std::pmr::monotonic_buffer_resource arena(storage.data(), storage.size());
  const std::pmr::vector<TQsDataPacket*> snapshot(packets_.begin(), packets_.end(), &arena);
  for (TQsDataPacket* packet : snapshot)
    if (std::find(packets_.begin(), packets_.end(), packet) != packets_.end()) fn(*packet);
}

TQsDataPacketManager* FindPacketManager(const TQsPortLink* port) {
  ManagerList& list = Managers();
  std::lock_guard guard(list.lock);
  for (TQsDataPacketManager* m : list.managers)
    if (m->Port() == port) return m;
  return nullptr;
}

std::size_t PacketManagerCount() {
  ManagerList& list = Managers();
  std::lock_guard guard(list.lock);
  return list.managers.size();
}

// ---- Life --------------------------------------------------------------------------------------

TQsDataPacketManager::TQsDataPacketManager(TQsPortLink* port) : port_(port) {
  {
    ManagerList& list = Managers();
    std::lock_guard guard(list.lock);
    list.managers.push_back(this);
  }
  port_->RegisterLinkUser(Callback());
  if (port_->LinkOpen()) {
    if (port_->LinkLoading())
      enableAfterLoading_ = true;
    else
      Enable();
  }
}

TQsDataPacketManager::~TQsDataPacketManager() { TearDown(); }

void TQsDataPacketManager::TearDown() {
  if (retired_) return;
  retired_ = true;
  {
    ManagerList& list = Managers();
    std::lock_guard guard(list.lock);
    std::erase(list.managers, this);
  }
  if (enabled_) Disable();
  port_->UnregisterLinkUser(Callback());
  ReleaseBuffer();
}

void TQsDataPacketManager::Retire(TQsDataPacketManager* manager) {
  std::unique_lock lock(manager->mutex_);
  if (manager->busy_ == 0) {
    lock.unlock();
    delete manager;
    return;
  }
  manager->TearDown();  // nothing reaches it any more; the outermost call frees it
}

TQsDataPacketManager::TBusy::~TBusy() { m_.Leave(nullptr); }

// The outermost call takes the reports first: the manager may be freed before they are handed
// over, and the application may free anything while it hears of them.
void TQsDataPacketManager::Leave(std::unique_lock<std::recursive_mutex>* lock) {
  std::vector<TReport> reports;
  if (--busy_ == 0) reports.swap(reports_);
  const bool free = busy_ == 0 && retired_;
  if (lock != nullptr) lock->unlock();
  if (free) delete this;
  for (const TReport& report : reports) ReportNow(report);
}

void TQsDataPacketManager::Report(TReport report) {
  if (busy_ > 0)
    reports_.push_back(std::move(report));
  else
    ReportNow(report);
}

void TQsDataPacketManager::ReportNow(const TReport& report) {
  if (report.error == nullptr) {
    platform::HandleException(EInvalidProperty(report.fault));
    return;
  }
  try {
    std::rethrow_exception(report.error);
  } catch (const std::exception& e) {
    platform::HandleException(e);
  }
}

TPacketManagerCall::TPacketManagerCall(TQsDataPacketManager* manager) : manager_(manager) {
  if (manager_ == nullptr) return;
  lock_ = std::unique_lock(manager_->mutex_);
  ++manager_->busy_;
}

TPacketManagerCall::~TPacketManagerCall() {
  if (manager_ != nullptr) manager_->Leave(&lock_);
}

TQsPortLinkCallback TQsDataPacketManager::Callback() {
  return TQsPortLinkCallback(this, "TQsDataPacketManager.PortChanged", [this](bool opening) { PortChanged(opening); });
}

TQsBaseDispatcher* TQsDataPacketManager::Dispatcher() const { return port_->LinkDispatcher(); }

void TQsDataPacketManager::Attach(TQsDataPacket* packet) { packets_.push_back(packet); }

void TQsDataPacketManager::Detach(TQsDataPacket* packet) {
  if (collector_ == packet) {
    packet->state_ = TQsDataPacket::msIdle;
    LeaveCollector(packet);
  }
  std::erase(packets_, packet);
}

void TQsDataPacketManager::PortChanged(bool opening) {
  TPacketManagerCall call(this);
  if (opening)
    Enable();
  else
    Disable();
}

void TQsDataPacketManager::Enable() {
  TQsBaseDispatcher* dispatcher = Dispatcher();
  if (enabled_ || dispatcher == nullptr) return;
  dispatcher->AddMethodHandler(TQsNotifyMethod::Of<&TQsDataPacketManager::OnTrigger>(this));
  timerHandle_ = dispatcher->CreateTimerTrigger();
  enabled_ = true;
  ForEachPacket([](TQsDataPacket& packet) {
    if (packet.Enabled()) packet.ArmOrReport();
  });
}

// Disabled first, so that disarming the collector does not start a pass over bytes that are about
// to be released.
void TQsDataPacketManager::Disable() {
  if (!enabled_) return;
  enabled_ = false;
  ForEachPacket([](TQsDataPacket& packet) { packet.Disarm(); });
  if (TQsBaseDispatcher* dispatcher = Dispatcher()) {
    if (timerHandle_ > 0) dispatcher->DeleteTrigger(timerHandle_);
    dispatcher->RemoveMethodHandler(TQsNotifyMethod::Of<&TQsDataPacketManager::OnTrigger>(this));
  }
  timerHandle_ = 0;
  ReleaseBuffer();
}

// ---- Incoming bytes ----------------------------------------------------------------------------

// The dispatcher's thread (or the main thread) enters here. The manager may be retired while a
// handler runs; the call frees it after the lock is let go.
void TQsDataPacketManager::OnTrigger(platform::UINT msg, platform::WPARAM first, platform::LPARAM second) {
  TPacketManagerCall call(this);
  HandleTrigger(msg, first, second);
}

void TQsDataPacketManager::HandleTrigger(platform::UINT msg, platform::WPARAM first, platform::LPARAM) {
  if (retired_ || !enabled_) return;
  if (msg == DM_AVAIL) {
    TakeBytes(static_cast<int>(first));
  } else if (msg == DM_TIMER && static_cast<std::int32_t>(first) == timerHandle_ && collector_ != nullptr) {
    TimeOutCollector();
  }
}

void TQsDataPacketManager::TakeBytes(int count) {
  TQsBaseDispatcher* dispatcher = Dispatcher();
  if (count <= 0 || dispatcher == nullptr) return;
  const std::size_t wanted = static_cast<std::size_t>(count);
  if (count_ + wanted >= capacity_) {
    std::size_t capacity = capacity_;
    while (count_ + wanted >= capacity) capacity += kBufferStep;
    auto grown = std::make_unique_for_overwrite<std::uint8_t[]>(capacity);
    if (count_ > 0) std::memcpy(grown.get(), buffer_.get(), count_);
    buffer_ = std::move(grown);
    capacity_ = capacity;
  }
  const int read = dispatcher->ReadBlock(buffer_.get() + count_, count);
  if (read <= 0) return;
  const std::size_t start = count_;
  count_ += static_cast<std::size_t>(read);
  Process(start);
  if (!retired_ && collector_ != nullptr && count_ > kMaxBuffer) DropTooLong();
}

// Bytes that arrive while a handler runs are scanned once the handler returns; a rescan asked for
// during a pass runs after it, as a loop rather than a recursion.
void TQsDataPacketManager::Process(std::size_t start) {
  if (retired_ || !enabled_) return;
  if (lockDepth_ > 0) {
    pendingStart_ = dataPending_ ? std::min(pendingStart_, start) : start;
    dataPending_ = true;
    return;
  }
  if (processing_) {
    pendingStart_ = dataPending_ ? std::min(pendingStart_, start) : start;
    dataPending_ = true;
    return;
  }
  TBusy busy(*this);
  processing_ = true;
  std::size_t from = start;
  for (;;) {
    RunPass(from);
    if (retired_ || !enabled_) break;
    if (!dataPending_ || lockDepth_ > 0) break;
    dataPending_ = false;
    from = pendingStart_;
  }
  processing_ = false;
}

void TQsDataPacketManager::RunPass(std::size_t start) {
  if (count_ == 0) return;
  if (collector_ != nullptr) {
    collector_->Scan(start);
  } else {
    for (std::size_t k = 0; k < packets_.size(); ++k) {
      TQsDataPacket::TScanResult result = packets_[k]->Scan(start);
      if (result != TQsDataPacket::srDone || count_ == 0) break;
    }
  }
  if (retired_ || !enabled_) return;  // a handler closed the port or freed the last packet
  if (dataPending_) return;            // a rescan follows: the remaining bytes are not judged yet
  if (collector_ != nullptr) return;
  for (TQsDataPacket* packet : packets_)
    if (packet->Enabled() && packet->HasBegunMatch()) return;
  ReleaseBuffer();  // no packet can use these bytes
}

// ---- Delivery ----------------------------------------------------------------------------------

void TQsDataPacketManager::Lock() {
  if (lockDepth_++ > 0) return;
  ForEachPacket([](TQsDataPacket& packet) {
    if (packet.Enabled()) packet.Disarm();
  });
}

void TQsDataPacketManager::Unlock() {
  if (--lockDepth_ > 0 || retired_) return;
  ForEachPacket([](TQsDataPacket& packet) {
    if (!packet.Enabled()) return;
    packet.enablePending_ = false;
    packet.ArmOrReport();
  });
  pendingStart_ = 0;
  dataPending_ = false;
  Process(0);
}

// Handlers run on the main thread; a dispatcher that runs its own thread hands them over, letting
// go of the manager's lock meanwhile (the main thread may arm packets or close the port in them).
// The dispatcher stays pinned meanwhile: a port freed by the handler cannot wait for this thread,
// which waits for the handler, so it hands the dispatcher over and the Unpin here frees it.
void TQsDataPacketManager::Call(const std::function<void()>& handler) {
  auto guarded = [&handler] { platform::GuardHandler(handler); };
  if (platform::IsMainThread()) {
    guarded();
    return;
  }
  TQsBaseDispatcher* dispatcher = Dispatcher();
  if (dispatcher != nullptr) dispatcher->Pin();
  mutex_.unlock();
  TQsBaseDispatcher::RunInMainThread(guarded);
  if (dispatcher != nullptr) dispatcher->Unpin();
  mutex_.lock();
}

void TQsDataPacketManager::Deliver(TQsDataPacket& packet, std::size_t size, bool bySize) {
  struct Guard {
    TQsDataPacketManager& m;
    ~Guard() { m.Unlock(); }
  };
  TBusy busy(*this);
  Lock();
  Guard unlock{*this};
  packet.SetEnabledLocked(false);
  const std::size_t begin = static_cast<std::size_t>(packet.begin_);
  std::size_t position = begin;
  std::size_t length = size;
  if (!packet.includeStrings_) {
    if (packet.startCond_ == scString) {
      const std::size_t startLen = std::min(length, packet.startPattern_.Length());
      position += startLen;
      length -= startLen;
    }
    if (!bySize) length -= std::min(length, packet.endPattern_.Length());
  }
  const std::uint8_t* data = buffer_.get() + position;
  packet.Log(kLogStringPacket);
  packet.Log(bySize ? kLogSizePacket : kLogStringPacket, std::string_view(reinterpret_cast<const char*>(data), length));
  // The string is made before any handler runs: a handler may close the port (releasing the buffer),
  // pump messages (growing it) or free the packet.
  std::string text;
  if (packet.OnStringPacket) text.assign(reinterpret_cast<const char*>(data), length);
  const std::shared_ptr<std::atomic<bool>> alive = packet.alive_;
  const std::uint64_t epoch = bufferEpoch_;
  const auto stillHere = [&] { return *alive && packet.manager_ == this && !retired_; };
  if (packet.OnPacket) Call([&] { packet.OnPacket(&packet, data, static_cast<int>(length)); });
  if (stillHere() && packet.OnStringPacket) Call([&] { packet.OnStringPacket(&packet, text); });
  if (!retired_ && epoch == bufferEpoch_) RemoveFront(begin + size);
  if (stillHere() && packet.autoEnable_) {
    packet.enabled_ = true;
    packet.ArmOrReport();  // checked now, armed when the lock ends
  }
}

void TQsDataPacketManager::TimeOutCollector() {
  TQsDataPacket* packet = collector_;
  struct Guard {
    TQsDataPacketManager& m;
    ~Guard() { m.Unlock(); }
  };
  TBusy busy(*this);
  Lock();
  Guard unlock{*this};
  packet->Log(kLogTimeout);
  packet->SetEnabledLocked(false);
  if (packet->OnTimeout) Call([packet] { packet->OnTimeout(packet); });
}

// A collector that has gathered more than the buffer may hold can never be delivered: its bytes
// are dropped and it starts over, so that a peer cannot exhaust memory with one endless packet.
void TQsDataPacketManager::DropTooLong() {
  TQsDataPacket* packet = collector_;
  packet->Log(kLogTimeout, "Packet too long");
  packet->Disarm();
  ReleaseBuffer();
  if (packet->Enabled()) packet->ArmOrReport();
}

void TQsDataPacketManager::SetCollector(TQsDataPacket* packet) {
  collector_ = packet;
  packet->ownsBuffer_ = true;
  TQsBaseDispatcher* dispatcher = Dispatcher();
  if (packet->timeOut_ != 0 && dispatcher != nullptr) dispatcher->ArmTimerTrigger(timerHandle_, packet->timeOut_, true);
  // The others drop their partial matches; an any-data packet now waits for the buffer.
  ForEachPacket([packet](TQsDataPacket& other) {
    if (&other == packet || !other.Enabled()) return;
    other.Disarm();
    other.ArmOrReport();
  });
}

void TQsDataPacketManager::LeaveCollector(TQsDataPacket* packet) {
  collector_ = nullptr;
  packet->ownsBuffer_ = false;
  TQsBaseDispatcher* dispatcher = Dispatcher();
  if (dispatcher != nullptr && timerHandle_ > 0) RaiseForCode(nullptr, dispatcher->ArmTimerTrigger(timerHandle_, 0, false));
  Process(0);
}

void TQsDataPacketManager::RemoveFront(std::size_t bytes) {
  bytes = std::min(bytes, count_);
  if (bytes == count_) {
    ReleaseBuffer();
    return;
  }
  std::memmove(buffer_.get(), buffer_.get() + bytes, count_ - bytes);
  count_ -= bytes;
}

void TQsDataPacketManager::ReleaseBuffer() {
  ++bufferEpoch_;
  buffer_.reset();
  capacity_ = 0;
  count_ = 0;
}
