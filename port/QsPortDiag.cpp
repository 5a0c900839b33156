// Tracing and logging: one state machine (off, on, paused; dump, append and clear as commands)
// run over the trace's or the dispatch log's operations of the dispatcher.
#include "comm/QsExcept.h"
#include "port/QsPort.h"

struct TQsCustomComPort::TDiagOps {
  int (*start)(TQsBaseDispatcher&, std::uint32_t size);
  void (*stop)(TQsBaseDispatcher&);
  void (*pause)(TQsBaseDispatcher&);
  void (*resume)(TQsBaseDispatcher&);
  void (*clear)(TQsBaseDispatcher&);
  int (*dump)(TQsBaseDispatcher&, const TQsCustomComPort&);
  int (*append)(TQsBaseDispatcher&, const TQsCustomComPort&);
  std::uint32_t (*size)(const TQsCustomComPort&);
};

const TQsCustomComPort::TDiagOps& TQsCustomComPort::TraceOps() {
  static const TDiagOps ops{
      [](TQsBaseDispatcher& d, std::uint32_t size) { return d.StartTrace(size); },
      [](TQsBaseDispatcher& d) { d.StopTrace(); },
      [](TQsBaseDispatcher& d) { d.PauseTrace(); },
      [](TQsBaseDispatcher& d) { d.ResumeTrace(); },
      [](TQsBaseDispatcher& d) { d.ClearTrace(); },
      [](TQsBaseDispatcher& d, const TQsCustomComPort& p) { return d.DumpTrace(p.traceName_, p.traceHex_, p.traceHexAll_); },
      [](TQsBaseDispatcher& d, const TQsCustomComPort& p) {
        return d.AppendTrace(p.traceName_, p.traceHex_, p.traceHexAll_);
      },
      [](const TQsCustomComPort& p) { return p.traceSize_; },
  };
  return ops;
}

const TQsCustomComPort::TDiagOps& TQsCustomComPort::LogOps() {
  static const TDiagOps ops{
      [](TQsBaseDispatcher& d, std::uint32_t size) {
        d.StartLog(size);
        return 0;
      },
      [](TQsBaseDispatcher& d) { d.StopLog(); },
      [](TQsBaseDispatcher& d) { d.PauseLog(); },
      [](TQsBaseDispatcher& d) { d.ResumeLog(); },
      [](TQsBaseDispatcher& d) { d.ClearLog(); },
      [](TQsBaseDispatcher& d, const TQsCustomComPort& p) { return d.DumpLog(p.logName_, p.logHex_, p.logHexAll_); },
      [](TQsBaseDispatcher& d, const TQsCustomComPort& p) { return d.AppendLog(p.logName_, p.logHex_, p.logHexAll_); },
      [](const TQsCustomComPort& p) { return p.logSize_; },
  };
  return ops;
}

void TQsCustomComPort::SetDiagState(const TDiagOps& ops, TTraceLogState& state, TTraceLogState value) {
  if (value == state && !forcing_) return;
  if (!DispatcherReachable()) {
    // Only a wish to record survives a closed port; the commands need a recording to act on.
    state = value == tlOn ? tlOn : tlOff;
    return;
  }
  TQsBaseDispatcher& d = *dispatcher_;
  const bool recording = state == tlOn || state == tlPause;
  switch (value) {
    case tlOff:
      if (recording) ops.stop(d);
      state = tlOff;
      break;
    case tlOn:
      if (state == tlPause)
        ops.resume(d);
      else
        RaiseIfFailed(ops.start(d, ops.size(*this)));
      state = tlOn;
      break;
    case tlDump:
    case tlAppend:
      if (recording) {
        ops.resume(d);
        // The dump stops the recording whether or not the file could be written.
        state = tlOff;
        RaiseForFileError(this, value == tlDump ? ops.dump(d, *this) : ops.append(d, *this));
      }
      state = tlOff;
      break;
    case tlClear:
      if (recording) ops.clear(d);
      break;
    case tlPause:
      if (state == tlOn) {
        ops.pause(d);
        state = tlPause;
      }
      break;
  }
}

void TQsCustomComPort::ResizeDiag(const TDiagOps& ops, TTraceLogState& state, std::uint32_t& size,
                                  std::uint32_t value, std::uint32_t limit) {
  if (value == size) return;
  size = std::min(value, limit);
  if (!DispatcherReachable() || (state != tlOn && state != tlPause)) return;
  const TTraceLogState previous = state;
  ops.stop(*dispatcher_);
  state = tlOff;
  SetDiagState(ops, state, previous);
}

void TQsCustomComPort::SetTracing(TTraceLogState value) { SetDiagState(TraceOps(), tracing_, value); }
void TQsCustomComPort::SetLogging(TTraceLogState value) { SetDiagState(LogOps(), logging_, value); }
void TQsCustomComPort::SetTraceSize(std::uint32_t value) {
  ResizeDiag(TraceOps(), tracing_, traceSize_, value, kMaxTraceSize);
}
void TQsCustomComPort::SetLogSize(std::uint32_t value) { ResizeDiag(LogOps(), logging_, logSize_, value, kMaxLogSize); }
void TQsCustomComPort::SetTraceName(const std::string& value) { traceName_ = value.substr(0, kMaxDiagFileName); }
void TQsCustomComPort::SetLogName(const std::string& value) { logName_ = value.substr(0, kMaxDiagFileName); }
