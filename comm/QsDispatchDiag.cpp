// The dispatcher's trace and dispatch log operations: the recorders under the state lock.
#include <algorithm>

#include "comm/QsDispatch.h"

int TQsBaseDispatcher::StartTrace(std::uint32_t count) {
  Guard state(stateLock_);
  const int r = trace_.Start(count);
  traceRecording_.store(trace_.Recording());
  return r;
}

void TQsBaseDispatcher::ClearTrace() {
  Guard state(stateLock_);
  trace_.Clear();
}

void TQsBaseDispatcher::StopTrace() {
  Guard state(stateLock_);
  trace_.Stop();
  traceRecording_.store(false);
}

void TQsBaseDispatcher::PauseTrace() {
  Guard state(stateLock_);
  trace_.Pause();
  traceRecording_.store(false);
}

void TQsBaseDispatcher::ResumeTrace() {
  Guard state(stateLock_);
  trace_.Resume();
  traceRecording_.store(trace_.Recording());
}

void TQsBaseDispatcher::AddTraceEntry(char kind, std::uint8_t b) {
  Guard state(stateLock_);
  trace_.Add(kind, b);
}

void TQsBaseDispatcher::TraceText(char kind, const std::string& text) {
  TraceBytes(kind, reinterpret_cast<const std::uint8_t*>(text.data()), static_cast<int>(text.size()));
}

int TQsBaseDispatcher::DumpTrace(const std::string& fileName, bool hexMode, bool allHex) {
  Guard state(stateLock_);
  const int r = trace_.Dump(fileName, false, hexMode, allHex);
  traceRecording_.store(trace_.Recording());
  return r;
}

int TQsBaseDispatcher::AppendTrace(const std::string& fileName, bool hexMode, bool allHex) {
  Guard state(stateLock_);
  const int r = trace_.Dump(fileName, true, hexMode, allHex);
  traceRecording_.store(trace_.Recording());
  return r;
}

void TQsBaseDispatcher::StartLog(std::uint32_t size) {
  Guard state(stateLock_);
  log_.Start(size, static_cast<std::uint32_t>(std::max(inSize_, outSize_)));
  logRecording_.store(log_.Recording());
}

void TQsBaseDispatcher::ClearLog() {
  Guard state(stateLock_);
  log_.Clear();
}

void TQsBaseDispatcher::StopLog() {
  Guard state(stateLock_);
  log_.Stop();
  logRecording_.store(false);
}

void TQsBaseDispatcher::PauseLog() {
  Guard state(stateLock_);
  log_.Pause();
  logRecording_.store(false);
}

void TQsBaseDispatcher::ResumeLog() {
  Guard state(stateLock_);
  log_.Resume();
  logRecording_.store(log_.Recording());
}

void TQsBaseDispatcher::AddLogEntry(std::uint8_t type, std::uint8_t subType, std::uint32_t value, const void* data,
                                    std::uint32_t dataLen) {
  Guard state(stateLock_);
  log_.Add(type, subType, value, data, dataLen);
}

int TQsBaseDispatcher::DumpLog(const std::string& fileName, bool hexMode, bool allHex) {
  Guard state(stateLock_);
  const int r = log_.Dump(fileName, false, hexMode, allHex);
  logRecording_.store(log_.Recording());
  return r;
}

int TQsBaseDispatcher::AppendLog(const std::string& fileName, bool hexMode, bool allHex) {
  Guard state(stateLock_);
  const int r = log_.Dump(fileName, true, hexMode, allHex);
  logRecording_.store(log_.Recording());
  return r;
}

void TQsBaseDispatcher::SetLogClock(TQsDispatchLog::ClockFunction clock) {
  Guard state(stateLock_);
  log_.SetClock(clock);
}
