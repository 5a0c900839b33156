// The open sequence, the close (at once or deferred through the port window), the change of port
// number while open, and the serial layer: its dispatcher, its opening and the choice of port.
#include <cstdio>
#include <exception>

#include "comm/QsExcept.h"
#include "port/QsPort.h"
#include "port/QsSelPort.h"
#include "port/QsSerial.h"

namespace {

// The open results that have their own meaning at the port.
int PortOpenCode(int result) {
  if (result == -5) return kErrAlreadyOpen;
  if (result == -2 || result == -3) return kErrBadId;
  return result;
}

}  // namespace

void TQsCustomComPort::PortOpen() {
  if (tapiMode_ != 2) CheckPortNumber();
  dispatcher_ = CreateDispatcher();
  if (!dispatcher_) RaiseForCode(nullptr, kErrNullApi);
  try {
    if (tapiMode_ == 2) ReadTapiSettings();
    if (const int r = PortOpenCode(OpenDispatcher()); r < 0) RaiseForCode(nullptr, r);
    state_ = psOpen;
    UpdateHandlers();
    ApplySettings();
    open_ = true;
    ManageWindow(true);
    if (triggerSave_.held) {
      triggerSave_.held = false;
      dispatcher_->RestoreTriggers(triggerSave_);
    }
    PortOpened();
  } catch (...) {
    open_ = false;
    state_ = psClosed;
    forcing_ = false;
    if (window_ != 0) ManageWindow(false);
    FreeDispatcher();
    throw;
  }
}

// Every setting goes to the new dispatcher, changed or not.
void TQsCustomComPort::ApplySettings() {
  forcing_ = true;
  SetTracing(tracing_);
  SetLogging(logging_);
  SetHardwareFlow(hardwareFlow_);
  SetSoftwareFlow(softwareFlow_);
  SetXOnChar(xonChar_);
  SetXOffChar(xoffChar_);
  SetAvailThreshold(availThreshold_);
  SetDTR(dtr_);
  SetRTS(rts_);
  SetRS485Mode(rs485Mode_);
  SetPriorityBoost(priorityBoost_);
  forcing_ = false;
}

void TQsCustomComPort::ReadTapiSettings() {
  if (dispatcher_->DeviceId() == 0) RaiseForCode(nullptr, kErrNotOpenedByTapi);
  std::uint8_t parity = 0;
  std::uint8_t stopBits = 0;
  std::uint8_t dataBits = 0;
  dispatcher_->GetLineSettings(baudRate_, parity, stopBits, dataBits);
  parity_ = parity;
  stopBits_ = stopBits;
  dataBits_ = dataBits;
  const TQsFlowOptions flow = dispatcher_->ReadFlowOptions();
  hardwareFlow_ = flow.hardware;
  const bool transmit = (flow.software & 0x01) != 0;
  const bool receive = (flow.software & 0x02) != 0;
  softwareFlow_ = transmit && receive ? sfBoth : transmit ? sfTransmit : receive ? sfReceive : sfNone;
  xonChar_ = static_cast<std::uint8_t>(flow.xonChar);
  xoffChar_ = static_cast<std::uint8_t>(flow.xoffChar);
}

void TQsCustomComPort::PortClose() {
  open_ = false;
  if (state_ != psOpen) return;
  // Neither a file that cannot be written nor a failing closing handler may keep the device open:
  // the close goes on, and the first failure is raised once it is done.
  std::exception_ptr failure;
  auto attempt = [&failure](auto&& step) {
    try {
      step();
    } catch (const std::exception&) {
      if (!failure) failure = std::current_exception();
    }
  };
  attempt([this] { SetTracing(tlDump); });
  attempt([this] { SetLogging(tlDump); });
  state_ = psClosing;
  const std::shared_ptr<bool> alive = alive_;
  attempt([this] { PortClosing(); });
  if (!*alive) return;  // freed by a closing handler, which closed the device
  if (!dispatcher_) {
    // A closing handler closed it from a nested loop meanwhile.
    if (failure) std::rethrow_exception(failure);
    return;
  }
  dispatcher_->SaveTriggers(triggerSave_);
  dispatcher_->ClosePort();
  if (dispatcher_->Dispatching()) {
    // Asked from inside a notification pass: the dispatcher is still in use up the stack.
    const auto second = static_cast<platform::LPARAM>(static_cast<std::uint32_t>(dispatcher_->Handle()) << 16);
    platform::PostMessage(window_, kPortCloseMessage, 0, second);
    PumpOneMessage();
  } else {
    ManageWindow(false);
    FreeDispatcher();
    state_ = psClosed;
    if (failure) std::rethrow_exception(failure);
    OpenIfPending();
    return;
  }
  if (failure) std::rethrow_exception(failure);
}

void TQsCustomComPort::FinishDeferredClose(platform::LPARAM lParam) {
  // Tried again while the service still runs, and while the pass that asked for the close is still
  // on the stack (it runs on this thread when the dispatcher is serviced from the message loop). A
  // timer, not a re-posted message: a handler that waits inside the pass would spin on the message.
  if (dispatcher_->Started() || dispatcher_->Dispatching()) {
    closeRetryParam_ = lParam;
    platform::SetTimer(window_, kPortCloseRetryTimer, kPortCloseRetryMs);
    return;
  }
  platform::KillTimer(window_, kPortCloseRetryTimer);
  ManageWindow(false);
  FreeDispatcher();
  state_ = psClosed;
  OpenIfPending();
}

void TQsCustomComPort::SetComNumber(std::uint16_t value) {
  if (value == comNumber_) return;
  const bool wasOpen = state_ == psOpen;
  TTraceLogState tracing = tracing_;
  TTraceLogState logging = logging_;
  TQsTriggerSave save;
  if (wasOpen) {
    dispatcher_->SaveTriggers(save);
    SetOpen(false);
  }
  comNumber_ = value;
  if (!wasOpen) return;
  SetTracing(tracing);
  SetLogging(logging);
  SetOpen(true);
  // A reopen left pending by a deferred close restores the set the close kept.
  if (state_ == psOpen) dispatcher_->RestoreTriggers(save);
}

// ---- The serial layer's operations ---------------------------------------------------------------

std::unique_ptr<TQsBaseDispatcher> TQsCustomComPort::CreateDispatcher() {
  if (deviceLayer_ != dlSerial) {
    RaiseForCode(nullptr, kErrNullApi);
    return nullptr;
  }
  // A port that telephony opened is adopted through its handle instead of being opened by name.
  if (tapiMode_ == 2) return std::make_unique<TQsTAPI32Dispatcher>(this, tapiHandle_);
  return std::make_unique<TQsWin32Dispatcher>(this);
}

int TQsCustomComPort::OpenDispatcher() {
  std::string name;
  if (tapiMode_ != 2) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "\\\\.\\COM%d", static_cast<int>(comNumber_));
    name = buffer;
  }
  return dispatcher_->OpenPort(name, baudRate_, parity_, static_cast<std::uint8_t>(dataBits_),
                               static_cast<std::uint8_t>(stopBits_), inBufferSize_, outBufferSize_, OpenOptions());
}

std::uint32_t TQsCustomComPort::OpenOptions() const {
  std::uint32_t options = 0;
  if (dtr_) options |= kOpenDtrOn;
  if (rts_) options |= kOpenRtsOn;
  if ((hardwareFlow_ & hfUseDTR) != 0) options |= kOpenDtrFlow;
  if ((hardwareFlow_ & hfUseRTS) != 0) options |= kOpenRtsFlow;
  return options;
}

void TQsCustomComPort::CheckPortNumber() {
  if (comNumber_ != 0) return;
  std::uint16_t chosen = 0;
  if (!askForPort_ || !SelectPortNumber(chosen) || chosen == 0) RaiseForCode(nullptr, kErrNoPortSelected);
  comNumber_ = chosen;
}

bool TQsCustomComPort::SelectPortNumber(std::uint16_t& number) {
  int chosen = 0;
  if (ShowPortSelection(chosen) != kSelectionOk || chosen <= 0 || chosen > 0xFFFF) return false;
  number = static_cast<std::uint16_t>(chosen);
  return true;
}
