// The line settings that an open port passes on to its dispatcher at once: flow control, the
// flow-control characters, the modem control lines, RS-485, the service priority and the
// data-available threshold.
#include "comm/QsExcept.h"
#include "port/QsPort.h"

// Thresholds left at 0 (or out of range) follow the input buffer's size.
void TQsCustomComPort::DefaultFlowLevels(double highFactor, double lowFactor) {
  if (flowHighWater_ == 0 || flowHighWater_ > inBufferSize_)
    flowHighWater_ = static_cast<std::uint16_t>(inBufferSize_ * highFactor);
  if (flowLowWater_ == 0 || flowLowWater_ > flowHighWater_)
    flowLowWater_ = static_cast<std::uint16_t>(inBufferSize_ * lowFactor);
}

void TQsCustomComPort::SetHardwareFlow(std::uint8_t bits) {
  bits &= hfUseDTR | hfUseRTS | hfRequireDSR | hfRequireCTS;
  if (!SettingChanges(bits != hardwareFlow_)) return;
  if (bits != 0) DefaultFlowLevels(0.9, 0.1);
  if (DispatcherReachable()) RaiseIfFailed(dispatcher_->SetHardwareFlow(flowHighWater_, flowLowWater_, bits));
  hardwareFlow_ = bits;
  if ((bits & (hfUseRTS | hfRequireCTS)) != 0) SetRS485Mode(false);
}

void TQsCustomComPort::SetSoftwareFlow(std::uint8_t value) {
  if (!SettingChanges(value != softwareFlow_)) return;
  // The dispatcher counts transmit and receive the other way round.
  const std::uint32_t code = value == sfBoth ? 3 : value == sfTransmit ? 1 : value == sfReceive ? 2 : 0;
  if (code != 0) DefaultFlowLevels(0.75, 0.25);
  if (DispatcherReachable()) {
    if (code != 0)
      RaiseIfFailed(dispatcher_->SetSoftwareFlow(flowHighWater_, flowLowWater_, code));
    else
      RaiseIfFailed(dispatcher_->ClearSoftwareFlow());
  }
  softwareFlow_ = value;
}

void TQsCustomComPort::SetXOnChar(std::uint8_t value) {
  if (!SettingChanges(value != xonChar_)) return;
  if (DispatcherReachable())
    RaiseIfFailed(dispatcher_->SetXonXoffChars(static_cast<char>(value), static_cast<char>(xoffChar_)));
  xonChar_ = value;
}

void TQsCustomComPort::SetXOffChar(std::uint8_t value) {
  if (!SettingChanges(value != xoffChar_)) return;
  if (DispatcherReachable())
    RaiseIfFailed(dispatcher_->SetXonXoffChars(static_cast<char>(xonChar_), static_cast<char>(value)));
  xoffChar_ = value;
}

// A line under flow control answers with a positive code and keeps its state, and so does the
// property.
void TQsCustomComPort::SetDTR(bool value) {
  if (!SettingChanges(value != dtr_)) return;
  if (!DispatcherReachable()) {
    dtr_ = value;
    return;
  }
  if (RaiseIfFailed(dispatcher_->DriveDTR(value)) == 0) dtr_ = value;
}

void TQsCustomComPort::SetRTS(bool value) {
  if (!SettingChanges(value != rts_)) return;
  if (!DispatcherReachable()) {
    rts_ = value;
    return;
  }
  if (RaiseIfFailed(dispatcher_->DriveRTS(value)) == 0) rts_ = value;
}

void TQsCustomComPort::SetRS485Mode(bool value) {
  if (!SettingChanges(value != rs485Mode_)) return;
  if (DispatcherReachable()) dispatcher_->SetRs485(value);
  rs485Mode_ = value;
  if (value) {
    // RS-485 turns the line around with RTS, which flow control must not drive then.
    SetHardwareFlow(hardwareFlow_ & static_cast<std::uint8_t>(~(hfUseRTS | hfRequireCTS)));
    SetRTS(false);
  }
}

void TQsCustomComPort::SetPriorityBoost(std::uint8_t value) {
  if (!SettingChanges(value != priorityBoost_)) return;
  if (DispatcherReachable()) dispatcher_->SetPriorityBoost(value);
  priorityBoost_ = value;
}

void TQsCustomComPort::SetAvailThreshold(std::uint16_t value) {
  if (!SettingChanges(value != availThreshold_)) return;
  if (DispatcherReachable()) dispatcher_->SetAvailThreshold(value);
  availThreshold_ = value;
}
