// Creating, arming, deleting, saving and restoring triggers; the handler lists; the log and trace
// entries of the dispatcher.
#include <algorithm>
#include <cstring>

#include "comm/QsDispatch.h"

void TQsBaseDispatcher::LogEvent(std::uint8_t type, std::uint8_t subType, std::uint32_t value, const void* data,
                                 std::uint32_t dataLen) {
  Guard state(stateLock_);
  if (log_.Recording()) log_.Add(type, subType, value, data, dataLen);
}

void TQsBaseDispatcher::TraceBytes(char kind, const std::uint8_t* data, int len) {
  Guard state(stateLock_);
  if (trace_.Recording()) trace_.AddBytes(kind, data, len);
}

std::int32_t TQsBaseDispatcher::CreateTimerTrigger() {
  Guard state(stateLock_);
  const std::int32_t handle = triggers_.AllocTriggerHandle();
  if (handle < 0) return handle;
  TTimerTrigger trigger;
  trigger.handle = handle;
  triggers_.timers.push_back(trigger);
  LogEvent(5, 14, static_cast<std::uint32_t>(handle));
  return handle;
}

int TQsBaseDispatcher::ArmTimerTrigger(std::int32_t handle, std::int32_t ticks, bool activate) {
  Guard state(stateLock_);
  TTimerTrigger* trigger = triggers_.FindTimer(handle);
  if (!trigger) return kErrBadTriggerHandle;
  if (ticks < 0) return kErrBadArgument;
  if (activate) {
    if (ticks != 0) trigger->ticks = ticks;
    StartTicks(trigger->timer, trigger->ticks);
  }
  trigger->active = activate;
  if (activate) {
    LogEvent(9, 14, static_cast<std::uint32_t>(handle), &ticks, sizeof ticks);
  } else {
    LogEvent(9, 14, static_cast<std::uint32_t>(handle), "Deactivated", 11);
  }
  return 0;
}

std::int32_t TQsBaseDispatcher::CreateDataTrigger(const void* pattern, int len, bool ignoreCase) {
  if (len > kMaxPatternLength) return kErrTriggerTooLong;
  if (len <= 0 || pattern == nullptr) return kErrBadArgument;
  Guard state(stateLock_);
  const std::int32_t handle = triggers_.AllocTriggerHandle();
  if (handle < 0) return handle;
  TDataTrigger trigger;
  trigger.handle = handle;
  trigger.len = len;
  trigger.ignoreCase = ignoreCase ? 1 : 0;
  std::memcpy(trigger.pattern, pattern, static_cast<std::size_t>(len));
  if (ignoreCase) {
    for (int i = 0; i < len; ++i) trigger.pattern[i] = UpperCaseByte(trigger.pattern[i]);
  }
  triggers_.data.push_back(trigger);
  scanner_.Reserve(triggers_.data.size());
  LogEvent(5, 13, static_cast<std::uint32_t>(handle));
  return handle;
}

std::int32_t TQsBaseDispatcher::CreateStatusTrigger(std::int32_t kind) {
  if (kind < skModem || kind > skOutSent) return kErrBadArgument;
  Guard state(stateLock_);
  const std::int32_t base = triggers_.AllocTriggerHandle();
  if (base < 0) return base;
  TStatusTrigger trigger;
  trigger.handle = base | kind;
  trigger.kind = kind;
  triggers_.status.push_back(trigger);
  const auto kindByte = static_cast<std::uint8_t>(kind);
  LogEvent(5, 15, static_cast<std::uint32_t>(trigger.handle), &kindByte, 1);
  return trigger.handle;
}

int TQsBaseDispatcher::ArmStatusTrigger(std::int32_t handle, std::uint16_t value, bool activate) {
  Guard state(stateLock_);
  TStatusTrigger* trigger = triggers_.FindStatus(handle);
  if (!trigger) return kErrBadTriggerHandle;
  trigger->value = value;
  trigger->armed = activate;
  trigger->hit = false;
  if (trigger->kind == skOutSent && activate) outputSent_.store(false);  // only output after arming counts
  return 0;
}

namespace {
template <typename T>
bool EraseHandle(std::vector<T>& list, std::int32_t handle) {
  auto it = std::find_if(list.begin(), list.end(), [handle](const T& t) { return t.handle == handle; });
  if (it == list.end()) return false;
  list.erase(it);
  return true;
}
}  // namespace

int TQsBaseDispatcher::DeleteTrigger(std::int32_t handle) {
  Guard state(stateLock_);
  if (handle == kAvailTriggerHandle) {
    triggers_.availThreshold = 0;
    return 0;
  }
  if (handle < 2) return kErrBadTriggerHandle;
  if (EraseHandle(triggers_.timers, handle)) {
    LogEvent(6, 6, static_cast<std::uint32_t>(handle));
  } else if (EraseHandle(triggers_.status, handle)) {
    const auto kindByte = static_cast<std::uint8_t>(handle & 7);
    LogEvent(6, 15, static_cast<std::uint32_t>(handle), &kindByte, 1);
  } else if (EraseHandle(triggers_.data, handle)) {
    LogEvent(6, 7, static_cast<std::uint32_t>(handle));
  } else {
    return kErrBadTriggerHandle;
  }
  return 0;
}

void TQsBaseDispatcher::SetAvailThreshold(std::uint32_t count) {
  Guard state(stateLock_);
  triggers_.availThreshold = count;
  LogEvent(9, 16, count);
}

void TQsBaseDispatcher::DeleteAllTriggers() {
  Guard state(stateLock_);
  triggers_.DeleteAll();
}

void TQsBaseDispatcher::SaveTriggers(TQsTriggerSave& save) {
  Guard state(stateLock_);
  DiscardTriggerSave(save);
  save.availThreshold = triggers_.availThreshold;
  save.timers = triggers_.timers;
  save.data = triggers_.data;
  save.status = triggers_.status;
  save.held = true;
}

void TQsBaseDispatcher::RestoreTriggers(const TQsTriggerSave& save) {
  Guard state(stateLock_);
  triggers_.availThreshold = save.availThreshold;
  triggers_.timers = save.timers;
  triggers_.data = save.data;
  triggers_.status = save.status;
  scanner_.Reserve(triggers_.data.size());
  // Handles made after the restore must not repeat a restored one.
  triggers_.MoveCounterPastLiveHandles();
}

void TQsBaseDispatcher::DiscardTriggerSave(TQsTriggerSave& save) {
  save.held = false;
  save.availThreshold = 0;
  save.timers.clear();
  save.data.clear();
  save.status.clear();
}

// ---- Handlers ---------------------------------------------------------------------------------------

bool TQsBaseDispatcher::OtherHandlers() const { return windowHandlers_.size() > 1 || !methodHandlers_.empty(); }

void TQsBaseDispatcher::RecomputeHandlerFlags(int kind) {
  Guard state(stateLock_);
  switch (kind) {
    case 0:
      handlersActive_.store(OtherHandlers() || portHasHandler_.load());
      break;
    case 1:
      portHasHandler_.store(true);
      handlersActive_.store(true);
      break;
    case 2:
      portHasHandler_.store(false);
      handlersActive_.store(OtherHandlers());
      break;
    default:
      break;
  }
}

void TQsBaseDispatcher::AddWindowHandler(platform::HWND wnd) {
  Guard state(stateLock_);
  windowHandlers_.push_back(TWindowHandler{wnd, false});
  handlersActive_.store(true);
  LogEvent(7, 17, wnd);
}

void TQsBaseDispatcher::AddMethodHandler(const TQsNotifyMethod& method) {
  Guard state(stateLock_);
  methodHandlers_.push_back(TMethodHandler{method, false});
  handlersActive_.store(true);
  LogEvent(7, 19, 0);
}

void TQsBaseDispatcher::RemoveWindowHandler(platform::HWND wnd) {
  Guard state(stateLock_);
  auto it = std::find_if(windowHandlers_.begin(), windowHandlers_.end(),
                         [wnd](const TWindowHandler& h) { return h.wnd == wnd && !h.deleted; });
  if (it != windowHandlers_.end()) {
    LogEvent(8, 17, wnd);
    if (Dispatching()) {
      it->deleted = true;
      handlersToPurge_ = true;
      return;
    }
    windowHandlers_.erase(it);
  }
  RecomputeHandlerFlags(0);
}

void TQsBaseDispatcher::RemoveMethodHandler(const TQsNotifyMethod& method) {
  Guard state(stateLock_);
  auto it = std::find_if(methodHandlers_.begin(), methodHandlers_.end(),
                         [&method](const TMethodHandler& h) { return h.method.SameCode(method) && !h.deleted; });
  if (it != methodHandlers_.end()) {
    LogEvent(8, 19, 0);
    if (Dispatching()) {
      it->deleted = true;
      handlersToPurge_ = true;
      return;
    }
    methodHandlers_.erase(it);
  }
  RecomputeHandlerFlags(0);
}

void TQsBaseDispatcher::PurgeDeletedHandlers() {
  Guard state(stateLock_);
  if (!handlersToPurge_) return;
  std::erase_if(windowHandlers_, [](const TWindowHandler& h) { return h.deleted; });
  std::erase_if(methodHandlers_, [](const TMethodHandler& h) { return h.deleted; });
  handlersToPurge_ = false;
  RecomputeHandlerFlags(0);
}
