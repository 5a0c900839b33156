// TQsBaseDispatcher: the device-independent heart of an open port. It owns the 8192-byte input
// ring, the serial output ring, the triggers and their handlers, the service threads, the trace
// and the dispatch log, and the serial line state; it reaches its device only through the device
// operations that a device dispatcher overrides.
//
// A device dispatcher calls Destroy() first thing in its own destructor, so that the device is
// closed and the service stopped while its operations still exist.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "comm/QsDataScan.h"
#include "comm/QsDispatchDefs.h"
#include "comm/QsDispatchLog.h"
#include "comm/QsInputRing.h"
#include "comm/QsLineSettings.h"
#include "comm/QsMisc.h"
#include "comm/QsOutputRing.h"
#include "comm/QsTrace.h"
#include "comm/QsTriggers.h"
#include "platform/Component.h"
#include "platform/MessageLoop.h"
#include "platform/Threads.h"

class TQsDispatcherThread;

// DeviceSend's answer when the flush event cut the write short.
constexpr int kDeviceSendFlushed = -0x7FFF;
// Waits at open and stop of the service threads.
constexpr int kThreadAckTimeoutMs = 3000;
constexpr int kWindowHandlerTimeoutMs = 3000;
constexpr int kDispatchWaitMs = 50;

class TQsBaseDispatcher {
 public:
  using Lock = std::recursive_mutex;
  using Guard = std::unique_lock<std::recursive_mutex>;

  explicit TQsBaseDispatcher(platform::TComponent* owner);
  virtual ~TQsBaseDispatcher();
  TQsBaseDispatcher(const TQsBaseDispatcher&) = delete;
  TQsBaseDispatcher& operator=(const TQsBaseDispatcher&) = delete;

  // Closes (or finishes a deferred close), stops the service, leaves the registry and frees the
  // triggers and handlers. Runs once; later calls do nothing.
  void Destroy();

  // ---- Registry --------------------------------------------------------------------------------
  // The dispatcher whose DeviceId is deviceId and whose class is T or derived from it.
  template <typename T = TQsBaseDispatcher>
  static T* FindDispatcher(int deviceId) {
    return static_cast<T*>(FindDispatcherOf(deviceId, [](TQsBaseDispatcher* d) { return dynamic_cast<T*>(d) != nullptr; }));
  }
  static TQsBaseDispatcher* FindDispatcherOf(int deviceId, bool (*isClass)(TQsBaseDispatcher*));
  // The process-wide registry lock; hold it while using DispatcherInSlot's answer.
  static Lock& RegistryLock();
  static TQsBaseDispatcher* DispatcherInSlot(int slot);
  static int RegistrySlotCount();

  // ---- Device operations -----------------------------------------------------------------------
  virtual int DeviceEscape(int func) = 0;
  virtual int DeviceFlush(int queue) = 0;
  virtual int DeviceStatus(TDeviceStatus& status) = 0;
  virtual int DeviceReadFailed(int code) = 0;
  virtual int DeviceGetState(TQsLineSettings& settings) = 0;
  virtual int DeviceRead(std::uint8_t* buf, int size) = 0;
  virtual int DeviceSetState(const TQsLineSettings& settings) = 0;
  virtual int DeviceWrite(const std::uint8_t* buf, int size) = 0;
  // Blocks until a device event of the current mask happens (eventMask receives the events) or the
  // mask is set to none (eventMask 0). False when the wait cannot be made.
  virtual bool DeviceWaitEvent(std::uint32_t& eventMask) = 0;
  virtual bool DeviceSetup(int inSize, int outSize) = 0;
  virtual void ReleasePort();
  // The service threads; the socket device replaces them with its own service.
  virtual void StartDispatching();
  virtual void StopDispatching();
  // name is empty for sockets.
  virtual int DeviceOpen(const std::string& name, int inSize, int outSize) = 0;
  virtual int DeviceClose() = 0;
  virtual int ServiceOnce() = 0;
  virtual void SetPriorityBoost(std::uint8_t boost);
  virtual void RecomputeHandlerFlags(int kind);

  // Further device operations the Linux service needs; the defaults suit a device without them.
  // The events DeviceWaitEvent reports; 0 ends a wait in progress.
  virtual bool DeviceSetEventMask(std::uint32_t mask);
  // Sends a block from the output ring: the count sent (more than 0), kDeviceSendFlushed when the
  // flush event was set before the block went out (the event stays set), or another negative value
  // on failure (the block is dropped).
  virtual int DeviceSend(const std::uint8_t* buf, int len, platform::TSyncEvent& flushEvent);
  // The modem-status inputs in the UART layout (0x10 CTS, 0x20 DSR, 0x40 ring, 0x80 carrier).
  virtual bool DeviceModemStatus(std::uint8_t& status);
  // Returns once the device has sent everything it holds (RS-485 line turn-around).
  virtual int DeviceDrainTransmitter();

  // ---- Opening and closing ---------------------------------------------------------------------
  int OpenPort(const std::string& name, std::uint32_t baud, std::uint8_t parity, std::uint8_t dataBits,
               std::uint8_t stopBits, int inSize, int outSize, std::uint32_t options);
  int OpenSocket(int inSize, int outSize);
  void ClosePort();

  // ---- Data ------------------------------------------------------------------------------------
  bool FillInputBuffer();
  // While an avail or data pass runs, reads (and InputCount) are the current handler's: they do not
  // move the tail, which passes what the handlers read when the pass ends. Read from a handler, or
  // from elsewhere only while no such pass can run.
  int ReadBlock(void* buf, int len);
  int WriteBlock(const void* buf, int len);
  int InputCount();
  int OutputCount();
  int OutputFree();
  int FlushInput();
  int FlushOutput();
  void RefreshLineErrors();

  // ---- Triggers and handlers ---------------------------------------------------------------------
  std::int32_t CreateTimerTrigger();
  int ArmTimerTrigger(std::int32_t handle, std::int32_t ticks, bool activate);
  // A data trigger for 1 to 22 pattern bytes; with ignoreCase the pattern is matched without
  // regard to the case of letters. The handle, kErrTriggerTooLong, kErrBadArgument or
  // kErrNoMoreTriggers.
  std::int32_t CreateDataTrigger(const void* pattern, int len, bool ignoreCase);
  std::int32_t CreateDataTrigger(const std::string& pattern, bool ignoreCase) {
    return CreateDataTrigger(pattern.data(), static_cast<int>(pattern.size()), ignoreCase);
  }
  // A status trigger of a kind (skModem ... skOutSent), created disarmed; its handle carries the
  // kind in the low three bits. kErrBadArgument for an unknown kind.
  std::int32_t CreateStatusTrigger(std::int32_t kind);
  // Sets a status trigger's value and arms (or disarms) it; 0 or kErrBadTriggerHandle.
  int ArmStatusTrigger(std::int32_t handle, std::uint16_t value, bool activate);
  int DeleteTrigger(std::int32_t handle);
  void SetAvailThreshold(std::uint32_t count);
  void DeleteAllTriggers();
  void SaveTriggers(TQsTriggerSave& save);
  void RestoreTriggers(const TQsTriggerSave& save);
  static void DiscardTriggerSave(TQsTriggerSave& save);

  void AddWindowHandler(platform::HWND wnd);
  void RemoveWindowHandler(platform::HWND wnd);
  void AddMethodHandler(const TQsNotifyMethod& method);
  void RemoveMethodHandler(const TQsNotifyMethod& method);

  bool CheckTimerTriggers();
  bool CheckStatusTriggers();
  bool CheckDataTriggers();
  bool CheckAllTriggers();
  void ClearStatusHits();
  void ClearDataMatches();
  // One notification pass over every handler; false when the pass was cut short by a close or an
  // avail notification was not taken in full.
  bool NotifyHandlers(platform::UINT msg, platform::WPARAM first, std::uint16_t data);

  // ---- Service ---------------------------------------------------------------------------------
  void ProcessDeviceEvent();
  void ProcessTimersAndStatus();
  void WriteOutput();
  void ReleaseThread(TQsDispatcherThread* thread);
  // Runs call on the main thread and waits for it (data packets raise their events this way).
  static void RunInMainThread(const std::function<void()>& call);
  // The hidden "qsDispatch" window of the socket service (its class is registered by that service).
  platform::HWND CreateDispatcherWindow();

  // ---- Trace and dispatch log ------------------------------------------------------------------
  int StartTrace(std::uint32_t count);
  void ClearTrace();
  void StopTrace();
  void PauseTrace();
  void ResumeTrace();
  void AddTraceEntry(char kind, std::uint8_t b);
  // A text recorded under its own kind (the file shows it as "Special-<kind>: "), when tracing.
  void TraceText(char kind, const std::string& text);
  // Records text in the trace and the dispatch log as a write of it would (for a line written
  // while both were paused, recorded in another form).
  void RecordWritten(const std::string& text);
  int DumpTrace(const std::string& fileName, bool hexMode, bool allHex);
  int AppendTrace(const std::string& fileName, bool hexMode, bool allHex);
  void StartLog(std::uint32_t size);
  void ClearLog();
  void StopLog();
  void PauseLog();
  void ResumeLog();
  void AddLogEntry(std::uint8_t type, std::uint8_t subType, std::uint32_t value, const void* data = nullptr,
                   std::uint32_t dataLen = 0);
  int DumpLog(const std::string& fileName, bool hexMode, bool allHex);
  int AppendLog(const std::string& fileName, bool hexMode, bool allHex);
  // The clock the log's times are taken from (replaceable for checks).
  void SetLogClock(TQsDispatchLog::ClockFunction clock);
  bool TraceRecording() const { return traceRecording_.load(); }
  bool LogRecording() const { return logRecording_.load(); }

  // ---- Line settings, flow control, modem status -----------------------------------------------
  int SetLineSettings(std::uint32_t baud, std::uint8_t parity, std::uint8_t dataBits, std::uint8_t stopBits);
  void GetLineSettings(std::uint32_t& baud, std::uint8_t& parity, std::uint8_t& stopBits, std::uint8_t& dataBits);
  int DriveDTR(bool on);
  int DriveRTS(bool on);
  int SetHardwareFlow(int bufferFull, int bufferResume, std::uint32_t options);
  int SetSoftwareFlow(int bufferFull, int bufferResume, std::uint32_t options);
  int ClearSoftwareFlow();
  int SetXonXoffChars(char xon, char xoff);
  TQsFlowOptions ReadFlowOptions();
  std::uint8_t ReadModemBits(std::uint8_t mask);
  void RefreshModemStatus();
  int TakeLineError();
  bool TakeLineBreak();
  void SetRs485(bool on);
  void DrainOutput();

  // ---- State -----------------------------------------------------------------------------------
  platform::TComponent* Owner() const { return owner_; }

  // ---- Lifetime across call-outs ----------------------------------------------------------------
  // A pass that calls out to the application pins the dispatcher meanwhile: the socket service on
  // the owner's thread, and a dispatch thread while the main thread runs a call for it. A port
  // freed inside that call hands the pinned dispatcher over (Orphan) instead of deleting it, and
  // the last Unpin, when the outermost call-out has returned, frees it (on the thread that pinned).
  void Pin();
  // Frees the dispatcher when it was orphaned and this was the last pin; true when it did.
  bool Unpin();
  bool Pinned() const;
  // Forgets the owner and leaves the dispatcher to its pins. Only for a pinned dispatcher.
  void Orphan();
  // Orphans the dispatcher when it is pinned, in one step against a last Unpin on another thread;
  // true when it did (the caller then lets go of it without deleting it).
  bool OrphanIfPinned();
  bool Orphaned() const;
  int Handle() const { return handle_; }
  int DeviceId() const { return deviceId_.load(); }
  int InSize() const { return inSize_; }
  int OutSize() const { return outSize_; }
  std::uint32_t LineErrors() const { return lineErrors_.load(); }
  std::uint8_t ModemBits() const { return modemBits_.load(); }
  void SetModemBits(std::uint8_t bits) { modemBits_.store(bits); }
  platform::HWND DispatcherWindow() const { return dispatcherWindow_; }
  void SetDispatcherWindow(platform::HWND wnd) { dispatcherWindow_ = wnd; }

  bool InRingAllocated();
  int InHead();
  int InTail();
  bool InFull();
  bool OutFull();
  int OutHead();
  int OutTail();
  int OutPending();
  bool OutputSent() const { return outputSent_.load(); }

  bool Dispatching() const { return dispatching_.load(); }
  void SetDispatching(bool value) { dispatching_.store(value); }
  bool ClosePending() const { return closePending_.load(); }
  bool Started() const { return started_.load(); }
  bool StopRequested() const { return stopRequested_.load(); }
  void SetStopRequested(bool value) { stopRequested_.store(value); }
  int ActiveThreads() const { return activeThreads_.load(); }
  std::uint8_t PriorityBoost() const { return priorityBoost_; }
  std::uint32_t EventMask() const { return eventMask_.load(); }
  bool RingFlag() const { return ringFlag_.load(); }
  bool Rs485On() const { return rs485On_.load(); }
  std::uint16_t PortBase() const { return portBase_; }
  std::uint32_t AppliedBaud() const { return appliedBaud_; }
  bool DTRByFlow() const { return dtrByFlow_; }
  bool RTSByFlow() const { return rtsByFlow_; }
  bool DTRWanted() const { return dtrWanted_; }
  bool RTSWanted() const { return rtsWanted_; }
  const TQsLineSettings& LineSettingsRecord() const { return lineSettings_; }
  platform::UINT_PTR TimerId() const { return timerId_; }
  void SetTimerId(platform::UINT_PTR id) { timerId_ = id; }

  std::uint32_t AvailThreshold();
  bool HandlersActive() const { return handlersActive_.load(); }
  bool PortHasHandler() const { return portHasHandler_.load(); }
  bool StatusHit() const { return statusHit_.load(); }
  void SetStatusHit(bool value) { statusHit_.store(value); }
  bool InNotification();
  int ScanPos();
  // The trigger lists (read them under StateLock()).
  const TQsTriggerSet& Triggers() const { return triggers_; }
  std::int32_t TriggerHandleCounter() const { return triggers_.Counter(); }

  // The service events; null while absent.
  platform::TSyncEvent* ComEvent() { return comEvent_.get(); }
  platform::TSyncEvent* PassDoneEvent() { return passDoneEvent_.get(); }
  platform::TSyncEvent* AckEvent() { return ackEvent_.get(); }
  platform::TSyncEvent* OutputEvent() { return outputEvent_.get(); }
  platform::TSyncEvent* WriteDoneEvent() { return writeDoneEvent_.get(); }
  platform::TSyncEvent* FlushEvent() { return flushEvent_.get(); }
  bool OutputThreadRunning() const { return outThreadRef_.load() != nullptr; }
  bool ComThreadRunning() const { return comThreadRef_.load() != nullptr; }
  bool DispThreadRunning() const { return dispThreadRef_.load() != nullptr; }
  // The kernel thread ids of the running service threads (0 when absent).
  pid_t ComThreadId() const;
  pid_t DispThreadId() const;
  pid_t OutThreadId() const;

  Lock& InputLock() { return inputLock_; }
  Lock& OutputLock() { return outputLock_; }
  Lock& StateLock() { return stateLock_; }

 protected:
  // A device that closes sets its id to -1.
  void SetDeviceId(int id) { deviceId_.store(id); }
  // For a device that runs a service of its own in place of the threads (sockets).
  void SetStarted(bool value) { started_.store(value); }
  // The output ring, for a device whose DeviceWrite queues into it (under OutputLock()).
  TQsOutputRing& OutRing() { return outRing_; }
  // Status counts as the last DeviceStatus left them (under OutputLock()).
  TDeviceStatus& StatusCounts() { return status_; }
  void CreateServiceEvents();
  void CloseServiceEvents();

 private:
  struct TWindowHandler {
    platform::HWND wnd = 0;
    bool deleted = false;
  };
  struct TMethodHandler {
    TQsNotifyMethod method;
    bool deleted = false;
  };

  void Register();
  void Unregister();
  void LogEvent(std::uint8_t type, std::uint8_t subType, std::uint32_t value, const void* data = nullptr,
                std::uint32_t dataLen = 0);
  void TraceBytes(char kind, const std::uint8_t* data, int len);
  void RecordWrite(const std::uint8_t* bytes, int n);
  int ReadIntoRing(int offset, int chunk);
  int InputCountLocked() const;
  void PurgeDeletedHandlers();
  bool OtherHandlers() const;
  // True when a handler closed the port.
  bool DeliverToHandlers(platform::UINT msg, platform::WPARAM first, std::uint16_t data);
  void EndNotificationPass(platform::UINT msg, platform::WPARAM first, bool closed, bool& result);
  bool CallHandler(int index, bool window, platform::UINT msg, platform::WPARAM first, platform::LPARAM second,
                   bool& finished);
  int ApplyState(TQsLineSettings& settings);
  void SetServicePriorities();
  void WaitForThreadEnd(TQsDispatcherThread* thread);
  // On a thread other than the service threads (a free, a reopen): ends a pass under way and the
  // threads; the dispatch thread then leaves the release to the caller.
  void EndServiceFromOutside();
  void FinishPendingClose();
  void JoinEndedThreads();
  bool RunStatusChecks();
  bool NotifyDataHit(int p, int longest, Guard& in, Guard& state);

  platform::TComponent* owner_;
  mutable std::mutex pinLock_;  // pins_ and orphaned_: a dispatch thread pins too
  int pins_ = 0;
  bool orphaned_ = false;
  int handle_ = -1;
  std::atomic<int> deviceId_{-1};
  bool destroyed_ = false;

  Lock inputLock_;
  Lock outputLock_;
  Lock stateLock_;

  // Buffers and counts.
  TQsInputRing inRing_;
  TQsOutputRing outRing_;
  int inSize_ = 0;
  int outSize_ = 0;
  TDeviceStatus status_;
  std::atomic<std::uint32_t> lineErrors_{0};
  std::atomic<bool> outputSent_{false};
  platform::HWND dispatcherWindow_ = 0;

  // Triggers and delivery.
  TQsTriggerSet triggers_;
  std::vector<TWindowHandler> windowHandlers_;
  std::vector<TMethodHandler> methodHandlers_;
  int scanPos_ = 0;
  int scanBacklog_ = 0;  // received bytes not yet examined by the data-trigger scan
  TQsDataScanner scanner_;
  unsigned flushCount_ = 0;  // tells a scan that a handler flushed the input under it
  int notifyPos_ = -1;
  bool inNotification_ = false;
  int readCount_ = 0;
  int maxReadCount_ = 0;
  std::atomic<bool> statusHit_{false};
  std::atomic<bool> portHasHandler_{false};
  std::atomic<bool> handlersActive_{false};
  bool handlersToPurge_ = false;
  std::atomic<bool> dispatching_{false};
  std::atomic<bool> closePending_{false};

  // Service machinery.
  std::unique_ptr<platform::TSyncEvent> comEvent_;
  std::unique_ptr<platform::TSyncEvent> passDoneEvent_;
  std::unique_ptr<platform::TSyncEvent> ackEvent_;
  std::unique_ptr<platform::TSyncEvent> outputEvent_;
  std::unique_ptr<platform::TSyncEvent> writeDoneEvent_;
  std::unique_ptr<platform::TSyncEvent> flushEvent_;
  std::unique_ptr<TQsDispatcherThread> comThread_;
  std::unique_ptr<TQsDispatcherThread> dispThread_;
  std::unique_ptr<TQsDispatcherThread> outThread_;
  std::atomic<TQsDispatcherThread*> comThreadRef_{nullptr};
  std::atomic<TQsDispatcherThread*> dispThreadRef_{nullptr};
  std::atomic<TQsDispatcherThread*> outThreadRef_{nullptr};
  std::atomic<bool> stopRequested_{false};
  std::atomic<bool> started_{false};
  std::atomic<bool> releaseOnExit_{false};
  std::mutex exitLock_;         // the dispatch thread's release decision against a free
  bool ownerReleases_ = false;  // under exitLock_: the freeing thread releases
  std::atomic<int> activeThreads_{0};
  std::uint8_t priorityBoost_ = 0;
  std::atomic<std::uint32_t> eventMask_{0};
  std::atomic<bool> ringFlag_{false};
  platform::UINT_PTR timerId_ = 0;

  // Trace and log.
  TQsTrace trace_;
  TQsDispatchLog log_;
  std::atomic<bool> traceRecording_{false};
  std::atomic<bool> logRecording_{false};

  // Line state.
  TQsLineSettings lineSettings_;
  std::uint32_t appliedBaud_ = 115200;
  bool dtrWanted_ = false;
  bool rtsWanted_ = false;
  bool dtrByFlow_ = false;
  bool rtsByFlow_ = false;
  std::atomic<std::uint8_t> modemBits_{0};
  std::atomic<bool> rs485On_{false};
  std::uint16_t portBase_ = 0;

  friend class TComThread;
  friend class TDispThread;
  friend class TOutThread;
};

// Pins a dispatcher for a scope that calls out to the application. Released first-in, last-out:
// declare it before anything else of the scope that touches the dispatcher, and touch nothing of
// the dispatcher after the scope, since the release may free it.
class TQsDispatcherPin {
 public:
  explicit TQsDispatcherPin(TQsBaseDispatcher& d) : d_(d) { d_.Pin(); }
  ~TQsDispatcherPin() { d_.Unpin(); }
  TQsDispatcherPin(const TQsDispatcherPin&) = delete;
  TQsDispatcherPin& operator=(const TQsDispatcherPin&) = delete;

 private:
  TQsBaseDispatcher& d_;
};
