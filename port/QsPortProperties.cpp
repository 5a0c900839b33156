// The port's properties by name, as stored forms set them.
#include "port/QsPort.h"

namespace {

std::vector<std::pair<std::string, TTraceLogState>> TraceLogStateNames() {
  return {{"tlOff", tlOff},     {"tlOn", tlOn},       {"tlDump", tlDump},
          {"tlAppend", tlAppend}, {"tlClear", tlClear}, {"tlPause", tlPause}};
}

}  // namespace

const platform::PropertyTable& TQsCustomComPort::Properties() const {
  using P = TQsCustomComPort;
  static const platform::PropertyTable table =
      platform::PropertyTable(&TQsBaseComponent::Properties())
          .Property("DeviceLayer", &P::DeviceLayer, &P::SetDeviceLayer)
          .Property("ComNumber", &P::ComNumber, &P::SetComNumber)
          .Property("BaudRate", &P::BaudRate, &P::SetBaudRate)
          .Property("Parity", &P::Parity, &P::SetParity)
          .Property("DataBits", &P::DataBits, &P::SetDataBits)
          .Property("StopBits", &P::StopBits, &P::SetStopBits)
          .Property("InBufferSize", &P::InBufferSize, &P::SetInBufferSize)
          .Property("OutBufferSize", &P::OutBufferSize, &P::SetOutBufferSize)
          .Property("AskForPort", &P::AskForPort, &P::SetAskForPort)
          .Property("OpenOnDemand", &P::OpenOnDemand, &P::SetOpenOnDemand)
          .Property("TapiMode", &P::TapiMode, &P::SetTapiMode)
          .Property("TapiHandle", &P::TapiHandle, &P::SetTapiHandle)
          .Property("DTR", &P::DTR, &P::SetDTR)
          .Property("RTS", &P::RTS, &P::SetRTS)
          .Property("HardwareFlow", &P::HardwareFlow, &P::SetHardwareFlow)
          .Property("SoftwareFlow", &P::SoftwareFlow, &P::SetSoftwareFlow)
          .Property("FlowHighWater", &P::FlowHighWater, &P::SetFlowHighWater)
          .Property("FlowLowWater", &P::FlowLowWater, &P::SetFlowLowWater)
          .Property("XOnChar", &P::XOnChar, &P::SetXOnChar)
          .Property("XOffChar", &P::XOffChar, &P::SetXOffChar)
          .Property("RS485Mode", &P::RS485Mode, &P::SetRS485Mode)
          .Property("PriorityBoost", &P::PriorityBoost, &P::SetPriorityBoost)
          .Property("AvailThreshold", &P::AvailThreshold, &P::SetAvailThreshold)
          .Enumeration("Tracing", &P::Tracing, &P::SetTracing, TraceLogStateNames())
          .Property("TraceSize", &P::TraceSize, &P::SetTraceSize)
          .Property("TraceName", &P::TraceName, &P::SetTraceName)
          .Property("TraceHex", &P::TraceHex, &P::SetTraceHex)
          .Property("TraceHexAll", &P::TraceHexAll, &P::SetTraceHexAll)
          .Enumeration("Logging", &P::Logging, &P::SetLogging, TraceLogStateNames())
          .Property("LogSize", &P::LogSize, &P::SetLogSize)
          .Property("LogName", &P::LogName, &P::SetLogName)
          .Property("LogHex", &P::LogHex, &P::SetLogHex)
          .Property("LogHexAll", &P::LogHexAll, &P::SetLogHexAll)
          .Property("Open", &P::Open, &P::SetOpen);
  return table;
}
