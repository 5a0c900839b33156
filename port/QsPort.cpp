// The port component's life, the Open property, the gateway to the dispatcher, the registered
// users, and the search and copy of ports.
#include "port/QsPort.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "comm/QsExcept.h"
#include "platform/Application.h"

TQsCustomComPort::TQsCustomComPort(platform::TComponent* owner) : TQsBaseComponent(owner) {}

TQsCustomComPort::~TQsCustomComPort() {
  *alive_ = false;
  reopenPending_ = false;  // nobody is left to open it
  // Data packets let go of the port through its link, which must still be whole when they do.
  SendFreeNotifications();
  // A derived port closes in its own destructor to hear its own closing operations; whatever is
  // still open here is closed as a plain port.
  if (state_ == psOpen) {
    try {
      PortClose();
    } catch (const std::exception&) {
      // The close completed; only a diagnostic file or a handler failed, and nobody is left to tell.
    }
  }
  // Still closing (a deferred close not finished yet): the service threads end by themselves once
  // the close is pending; freeing the dispatcher under them would race their own release. A
  // dispatcher serviced on this thread is up the stack instead (pinned), or its dispatch thread
  // waits for a call this thread runs (pinned too): it is handed over.
  if (dispatcher_) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(3 * kThreadAckTimeoutMs);
    while (dispatcher_->ClosePending() && !dispatcher_->Pinned() && dispatcher_->Started() &&
           std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ManageWindow(false);
    FreeDispatcher();
  }
  state_ = psClosed;
  TQsBaseDispatcher::DiscardTriggerSave(triggerSave_);
}

void TQsCustomComPort::Loaded() {
  TQsBaseComponent::Loaded();
  if (IsDesigning()) return;
  if (openWhenLoaded_) open_ = true;
  if (!open_) return;
  openWhenLoaded_ = false;
  open_ = false;
  try {
    PortOpen();
  } catch (const std::exception& e) {
    open_ = false;
    platform::HandleException(e);
  }
}

// ---- Open --------------------------------------------------------------------------------------------

void TQsCustomComPort::SetOpen(bool value) {
  if (value == open_) return;
  if (IsDesigning() || IsLoading()) {
    open_ = value;
    if (value) openWhenLoaded_ = true;
    return;
  }
  if (value) {
    if (state_ == psClosed)
      PortOpen();
    else
      reopenPending_ = true;
  } else {
    PortClose();
  }
}

TQsBaseDispatcher* TQsCustomComPort::ValidDispatcher() {
  if (!dispatcher_ && !IsDesigning() && !IsLoading() && state_ != psOpen && openOnDemand_) SetOpen(true);
  return dispatcher_.get();
}

TQsBaseDispatcher* TQsCustomComPort::Dispatcher() {
  TQsBaseDispatcher* dispatcher = ValidDispatcher();
  if (dispatcher == nullptr) RaiseForCode(nullptr, kErrCommNotOpen);
  return dispatcher;
}

void TQsCustomComPort::PutString(const std::string& text) {
  if (state_ == psClosing) return;
  RaiseIfFailed(Dispatcher()->WriteBlock(text.data(), static_cast<int>(text.size())));
}

void TQsCustomComPort::ServicePort() {
  if (state_ == psClosing) return;
  RaiseIfFailed(Dispatcher()->ServiceOnce());
}

void TQsCustomComPort::FreeDispatcher() {
  // Forget it first: code run by its destruction must not find a half-destroyed dispatcher.
  std::unique_ptr<TQsBaseDispatcher> dispatcher = std::move(dispatcher_);
  // Still in a call-out of its own (up this stack, or a dispatch thread's call that this thread
  // runs): freed when that returns.
  if (dispatcher && dispatcher->OrphanIfPinned()) dispatcher.release();
  dispatcher.reset();
}

void TQsCustomComPort::OpenIfPending() {
  if (!reopenPending_ || state_ != psClosed) return;
  reopenPending_ = false;
  PortOpen();
}

// ---- Users ---------------------------------------------------------------------------------------------

int TQsCustomComPort::RegisterUser(const TPortUserCallback& callback) {
  users_.push_back(TUserRecord{0, 0, callback});
  return static_cast<int>(users_.size()) - 1;
}

int TQsCustomComPort::RegisterUser(platform::HWND window) {
  users_.push_back(TUserRecord{window, 0, {}});
  return static_cast<int>(users_.size()) - 1;
}

void TQsCustomComPort::UnregisterUser(const TPortUserCallback& callback) {
  for (auto i = users_.size(); i-- > 0;) {
    if (users_[i].window == 0 && users_[i].callback.SameMethod(callback))
      users_.erase(users_.begin() + static_cast<std::ptrdiff_t>(i));
  }
}

void TQsCustomComPort::UnregisterUser(platform::HWND window) {
  for (auto i = users_.size(); i-- > 0;) {
    if (window != 0 && users_[i].window == window) users_.erase(users_.begin() + static_cast<std::ptrdiff_t>(i));
  }
}

// Last registered first; a user that unregisters itself while hearing of it is skipped safely
// because the list is walked by index against its current size.
// A core user is registered as a callback user under its own identity, so that unregistering it
// removes exactly its record.
static TPortUserCallback AsPortUser(const TQsPortLinkCallback& callback) {
  return TPortUserCallback(callback.Object(), callback.Name(),
                           [callback](TQsCustomComPort*, bool opening) { callback(opening); });
}

void TQsCustomComPort::RegisterLinkUser(const TQsPortLinkCallback& callback) { RegisterUser(AsPortUser(callback)); }

void TQsCustomComPort::UnregisterLinkUser(const TQsPortLinkCallback& callback) { UnregisterUser(AsPortUser(callback)); }

void TQsCustomComPort::NotifyUsers(platform::UINT msg, bool opening) {
  const std::shared_ptr<bool> alive = alive_;
  for (auto i = users_.size(); i-- > 0 && *alive;) {
    if (i >= users_.size()) continue;
    const TUserRecord user = users_[i];
    if (user.window != 0)
      platform::SendMessage(user.window, msg, 0, 0);
    else
      user.callback(this, opening);
  }
}

void TQsCustomComPort::PortOpened() {
  const std::shared_ptr<bool> alive = alive_;
  NotifyUsers(kPortOpenedMessage, true);
  if (*alive && OnPortOpened) OnPortOpened(this);
}

void TQsCustomComPort::PortClosing() {
  const std::shared_ptr<bool> alive = alive_;
  NotifyUsers(kPortClosingMessage, false);
  if (*alive && OnPortClosed) OnPortClosed(this);
}

// ---- Search and copy -------------------------------------------------------------------------------

TQsCustomComPort* TQsCustomComPort::FindComPort(const platform::TComponent* owner) {
  if (owner == nullptr) return nullptr;
  for (int i = 0; i < owner->ComponentCount(); ++i) {
    platform::TComponent* component = owner->Components(i);
    if (auto* port = dynamic_cast<TQsCustomComPort*>(component)) return port;
    if (TQsCustomComPort* port = FindComPort(component)) return port;
  }
  return nullptr;
}

void TQsCustomComPort::Assign(TQsCustomComPort& source) {
  if (&source == this) return;
  SetOpen(false);
  deviceLayer_ = source.deviceLayer_;
  comNumber_ = source.comNumber_;
  baudRate_ = source.baudRate_;
  parity_ = source.parity_;
  dataBits_ = source.dataBits_;
  stopBits_ = source.stopBits_;
  inBufferSize_ = source.inBufferSize_;
  outBufferSize_ = source.outBufferSize_;
  askForPort_ = source.askForPort_;
  openOnDemand_ = source.openOnDemand_;
  tapiMode_ = source.tapiMode_;
  tapiHandle_ = source.tapiHandle_;
  dtr_ = source.dtr_;
  rts_ = source.rts_;
  hardwareFlow_ = source.hardwareFlow_;
  softwareFlow_ = source.softwareFlow_;
  flowHighWater_ = source.flowHighWater_;
  flowLowWater_ = source.flowLowWater_;
  xonChar_ = source.xonChar_;
  xoffChar_ = source.xoffChar_;
  rs485Mode_ = source.rs485Mode_;
  priorityBoost_ = source.priorityBoost_;
  availThreshold_ = source.availThreshold_;
  // Diagnostics come over as stored states only: a running trace belongs to the source's device.
  tracing_ = source.tracing_ == tlOn ? tlOn : tlOff;
  traceSize_ = source.traceSize_;
  traceName_ = source.traceName_;
  traceHex_ = source.traceHex_;
  traceHexAll_ = source.traceHexAll_;
  logging_ = source.logging_ == tlOn ? tlOn : tlOff;
  logSize_ = source.logSize_;
  logName_ = source.logName_;
  logHex_ = source.logHex_;
  logHexAll_ = source.logHexAll_;
  users_ = source.users_;
  if (source.state_ == psOpen && source.dispatcher_)
    source.dispatcher_->SaveTriggers(triggerSave_);
  else
    triggerSave_ = source.triggerSave_;
  onTriggerMessage_ = source.onTriggerMessage_;
  onDataAvailable_ = source.onDataAvailable_;
  onDataTrigger_ = source.onDataTrigger_;
  onStatusTrigger_ = source.onStatusTrigger_;
  onTimerTrigger_ = source.onTimerTrigger_;
  OnPortOpened = source.OnPortOpened;
  OnPortClosed = source.OnPortClosed;
  open_ = false;
}
