// The port window: trigger notifications become the port's events there, and a close asked from
// inside a notification pass is finished there once the dispatcher is idle.
#include <exception>

#include "comm/QsExcept.h"
#include "platform/Application.h"
#include "port/QsPort.h"

namespace {

constexpr std::uint16_t Low16(std::uintptr_t value) { return static_cast<std::uint16_t>(value & 0xFFFF); }
constexpr std::uint16_t High16(std::uintptr_t value) { return static_cast<std::uint16_t>((value >> 16) & 0xFFFF); }

bool IsTriggerMessage(platform::UINT msg) { return msg >= DM_AVAIL && msg <= DM_STATUS; }

}  // namespace

void TQsCustomComPort::RegisterWindowClassOnce() {
  if (!platform::IsWindowClassRegistered(kPortWindowClass)) platform::RegisterWindowClass(kPortWindowClass, &WindowProc);
}

void TQsCustomComPort::ManageWindow(bool create) {
  if (create) {
    RegisterWindowClassOnce();
    window_ = platform::CreateWindowOfClass(kPortWindowClass);
    platform::SetWindowLongPtr(window_, platform::GWLP_USERDATA, reinterpret_cast<platform::LONG_PTR>(this));
    if (dispatcher_) dispatcher_->AddWindowHandler(window_);
    return;
  }
  if (window_ == 0) return;
  if (dispatcher_) dispatcher_->RemoveWindowHandler(window_);
  platform::SetWindowLongPtr(window_, platform::GWLP_USERDATA, 0);
  platform::DestroyWindow(window_);
  window_ = 0;
}

// The port whose dispatcher sits in the registry slot named by the high word of lParam.
TQsCustomComPort* TQsCustomComPort::PortOfMessage(platform::LPARAM lParam) {
  std::lock_guard guard(TQsBaseDispatcher::RegistryLock());
  const int slot = High16(static_cast<std::uintptr_t>(lParam));
  if (slot >= TQsBaseDispatcher::RegistrySlotCount()) return nullptr;
  TQsBaseDispatcher* dispatcher = TQsBaseDispatcher::DispatcherInSlot(slot);
  if (dispatcher == nullptr) return nullptr;
  return dynamic_cast<TQsCustomComPort*>(dispatcher->Owner());
}

platform::LRESULT TQsCustomComPort::WindowProc(platform::HWND hwnd, platform::UINT msg, platform::WPARAM wParam,
                                                platform::LPARAM lParam) {
  bool ours = IsTriggerMessage(msg) || msg == kPortCloseMessage;
  auto* windowPort = reinterpret_cast<TQsCustomComPort*>(platform::GetWindowLongPtr(hwnd, platform::GWLP_USERDATA));
  if (!ours && windowPort == nullptr) return platform::DefWindowProc(hwnd, msg, wParam, lParam);
  platform::LRESULT result = 0;
  if (msg == platform::WM_TIMER && wParam == kPortCloseRetryTimer) {
    platform::KillTimer(hwnd, kPortCloseRetryTimer);
    msg = kPortCloseMessage;  // the deferred close, looked at again
    lParam = windowPort->closeRetryParam_;
    ours = true;
  }
  try {
    if (!ours) {
      if (!windowPort->HandleWindowMessage(msg, wParam, lParam, result))
        result = platform::DefWindowProc(hwnd, msg, wParam, lParam);
      return result;
    }
    TQsCustomComPort* port = PortOfMessage(lParam);
    // A message for another window's port (a stale notice whose slot was reused) is dropped.
    if (port == nullptr || port->window_ != hwnd || !port->dispatcher_) return 0;
    if (msg == kPortCloseMessage)
      port->FinishDeferredClose(lParam);
    else
      port->HandleTriggerMessage(msg, wParam, lParam);
  } catch (const std::exception& e) {
    if (platform::IsMainThread()) platform::HandleException(e);
  }
  return result;
}

bool TQsCustomComPort::HandleWindowMessage(platform::UINT /*msg*/, platform::WPARAM /*wParam*/,
                                           platform::LPARAM /*lParam*/, platform::LRESULT& /*result*/) {
  return false;
}

// ---- Trigger notifications -------------------------------------------------------------------------

void TQsCustomComPort::HandleTriggerMessage(platform::UINT msg, platform::WPARAM wParam, platform::LPARAM lParam) {
  const std::uint16_t first = Low16(wParam);
  const std::uint16_t data = msg == DM_AVAIL ? first : Low16(static_cast<std::uintptr_t>(lParam));
  // Each event may free the port: the next one runs only while it lives.
  const std::shared_ptr<bool> alive = alive_;
  TriggerEvent(msg, first, data);
  if (!*alive) return;
  switch (msg) {
    case DM_AVAIL:
      TriggerAvail(first);
      break;
    case DM_DATA:
      TriggerData(first);
      break;
    case DM_TIMER:
      TriggerTimer(first);
      break;
    case DM_STATUS:
      TriggerStatus(first);
      if (*alive) HandleStatusKind(first);
      break;
    default:
      break;
  }
}

void TQsCustomComPort::HandleStatusKind(std::uint16_t triggerHandle) {
  switch (triggerHandle & 7) {
    case skModem:
      TriggerModemStatus();
      break;
    case skLine: {
      int lineError = 0;
      bool lineBreak = false;
      if (state_ == psOpen) {
        lineError = RaiseIfFailed(dispatcher_->TakeLineError());
        lineBreak = dispatcher_->TakeLineBreak();
      }
      TriggerLineError(static_cast<std::uint16_t>(lineError), lineBreak);
      break;
    }
    case skOutFree:
      TriggerOutputFree();
      break;
    case skOutUsed:
      TriggerOutputUsed();
      break;
    case skOutSent:
      TriggerOutputSent();
      break;
    default:
      break;
  }
}

void TQsCustomComPort::TriggerEvent(platform::UINT msg, std::uint16_t triggerHandle, std::uint16_t data) {
  if (onTriggerMessage_) onTriggerMessage_(this, msg, triggerHandle, data);
}
void TQsCustomComPort::TriggerAvail(std::uint16_t count) {
  if (onDataAvailable_) onDataAvailable_(this, count);
}
void TQsCustomComPort::TriggerData(std::uint16_t triggerHandle) {
  if (onDataTrigger_) onDataTrigger_(this, triggerHandle);
}
void TQsCustomComPort::TriggerStatus(std::uint16_t triggerHandle) {
  if (onStatusTrigger_) onStatusTrigger_(this, triggerHandle);
}
void TQsCustomComPort::TriggerTimer(std::uint16_t triggerHandle) {
  if (onTimerTrigger_) onTimerTrigger_(this, triggerHandle);
}
void TQsCustomComPort::TriggerLineError(std::uint16_t lineError, bool lineBreak) {
  if (OnLineError) OnLineError(this, lineError, lineBreak);
}
void TQsCustomComPort::TriggerModemStatus() {
  if (OnModemStatus) OnModemStatus(this);
}
void TQsCustomComPort::TriggerOutputFree() {
  if (OnOutputFree) OnOutputFree(this);
}
void TQsCustomComPort::TriggerOutputUsed() {
  if (OnOutputUsed) OnOutputUsed(this);
}
void TQsCustomComPort::TriggerOutputSent() {
  if (OnOutputSent) OnOutputSent(this);
}

// ---- Whether the port wants notifications -----------------------------------------------------------

bool TQsCustomComPort::AnyTriggerEventAssigned() const {
  return onTriggerMessage_ || onDataAvailable_ || onDataTrigger_ || onStatusTrigger_ || onTimerTrigger_ ||
         OnLineError || OnModemStatus || OnOutputFree || OnOutputUsed || OnOutputSent;
}

void TQsCustomComPort::UpdateHandlers() {
  if (state_ != psOpen || !dispatcher_) return;
  dispatcher_->RecomputeHandlerFlags(AnyTriggerEventAssigned() ? 1 : 2);
}

void TQsCustomComPort::SetOnTriggerMessage(TTriggerMessageEvent event) {
  onTriggerMessage_ = std::move(event);
  UpdateHandlers();
}
void TQsCustomComPort::SetOnDataAvailable(TTriggerAvailEvent event) {
  onDataAvailable_ = std::move(event);
  UpdateHandlers();
}
void TQsCustomComPort::SetOnDataTrigger(TTriggerHandleEvent event) {
  onDataTrigger_ = std::move(event);
  UpdateHandlers();
}
void TQsCustomComPort::SetOnStatusTrigger(TTriggerHandleEvent event) {
  onStatusTrigger_ = std::move(event);
  UpdateHandlers();
}
void TQsCustomComPort::SetOnTimerTrigger(TTriggerHandleEvent event) {
  onTimerTrigger_ = std::move(event);
  UpdateHandlers();
}
