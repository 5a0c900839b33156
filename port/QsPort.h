// The port component: one communications port. It keeps the port's settings while no device is
// open; opening creates a dispatcher of the chosen device layer, opens it, applies every setting
// and gives it a hidden window ("qsComWindow") through which trigger notifications come back as
// events. Closing writes out the trace and the dispatch log, keeps the trigger set for the next
// opening and frees the dispatcher: at once, or through the window once a notification pass that
// asked for the close has ended.
//
// Device layers override the virtual operations (CreateDispatcher, OpenDispatcher,
// CheckPortNumber, PortOpened, PortClosing, HandleWindowMessage); the Winsock port adds the TCP
// layer this way.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "comm/QsDispatch.h"
#include "comm/QsExcept.h"
#include "comm/QsMisc.h"
#include "comm/QsPortLink.h"
#include "comm/QsTriggers.h"
#include "platform/Event.h"
#include "platform/MessageLoop.h"

// Notices to registered user windows, and the port's own deferred close.
constexpr platform::UINT kPortOpenedMessage = 0x7E08;
constexpr platform::UINT kPortClosingMessage = 0x7E09;
constexpr platform::UINT kPortCloseMessage = 0x7E0A;
// While the pass that asked for a deferred close is still under way, the close is looked at again
// on this timer of the port window (a re-posted message would keep a handler's wait busy).
constexpr platform::UINT_PTR kPortCloseRetryTimer = 0x7E0A;
constexpr unsigned kPortCloseRetryMs = 10;

constexpr const char* kPortWindowClass = "qsComWindow";

// Only tlOff, tlOn and tlPause are ever stored; the others are commands.
enum TTraceLogState : std::uint8_t { tlOff = 0, tlOn = 1, tlDump = 2, tlAppend = 3, tlClear = 4, tlPause = 5 };

// DeviceLayer values; any other value cannot be opened.
constexpr std::uint8_t dlSerial = 2;
constexpr std::uint8_t dlSocket = 3;

// What has happened to the port (Open is what was asked for).
enum TPortState : std::uint8_t { psClosed = 0, psClosing = 1, psOpen = 2 };

// HardwareFlow bits.
constexpr std::uint8_t hfUseDTR = 1;
constexpr std::uint8_t hfUseRTS = 2;
constexpr std::uint8_t hfRequireDSR = 4;
constexpr std::uint8_t hfRequireCTS = 8;

// SoftwareFlow values.
constexpr std::uint8_t sfNone = 0;
constexpr std::uint8_t sfReceive = 1;
constexpr std::uint8_t sfTransmit = 2;
constexpr std::uint8_t sfBoth = 3;

constexpr std::uint32_t kMaxTraceSize = 4'000'000;
constexpr std::uint32_t kMaxLogSize = 16'000'000;
constexpr std::size_t kMaxDiagFileName = 255;

class TQsCustomComPort;

using TPortNotifyEvent = platform::TEvent<platform::TComponent*>;
// Sender, message number, trigger handle (or count for data-available), data.
using TTriggerMessageEvent = platform::TEvent<platform::TComponent*, platform::UINT, std::uint16_t, std::uint16_t>;
// Sender, count of waiting bytes.
using TTriggerAvailEvent = platform::TEvent<platform::TComponent*, std::uint16_t>;
// Sender, trigger handle.
using TTriggerHandleEvent = platform::TEvent<platform::TComponent*, std::uint16_t>;
// Sender, line-error bits, break seen.
using TLineErrorEvent = platform::TEvent<platform::TComponent*, std::uint16_t, bool>;
// A registered user hears (port, opening) when the port has opened (true) or is closing (false).
using TPortUserCallback = platform::TEvent<TQsCustomComPort*, bool>;

class TQsCustomComPort : public TQsBaseComponent, public TQsPortLink {
 public:
  explicit TQsCustomComPort(platform::TComponent* owner);
  ~TQsCustomComPort() override;
  std::string ClassName() const override { return "TQsCustomComPort"; }
  // The port's properties by name; a derived class chains its table to TQsCustomComPort::Properties().
  const platform::PropertyTable& Properties() const override;
  // Opens the port when Open was stored true while loading; a failure goes to the application's
  // exception handler instead of the form reader.
  void Loaded() override;

  // ---- Opening and closing ---------------------------------------------------------------------
  bool Open() const { return open_; }
  void SetOpen(bool value);
  TPortState State() const { return state_; }
  // The dispatcher, opening the port first when OpenOnDemand allows; null when there is none.
  TQsBaseDispatcher* ValidDispatcher();
  // As ValidDispatcher, but raises ECommNotOpen (-2007) when there is none.
  TQsBaseDispatcher* Dispatcher();
  // The hidden window of the open port (0 while closed).
  platform::HWND PortWindow() const { return window_; }

  // Writes text to the port (nothing while closing).
  void PutString(const std::string& text);
  // One service pass of the dispatcher (nothing while closing).
  virtual void ServicePort();

  // ---- Users told of opening and closing --------------------------------------------------------
  // Returns the record's index.
  int RegisterUser(const TPortUserCallback& callback);
  // A window user is sent kPortOpenedMessage / kPortClosingMessage.
  int RegisterUser(platform::HWND window);
  // Removes every record whose callback is the same method, whatever its object.
  void UnregisterUser(const TPortUserCallback& callback);
  void UnregisterUser(platform::HWND window);
  int UserCount() const { return static_cast<int>(users_.size()); }

  // The first port among the components owned by owner, searched depth first.
  static TQsCustomComPort* FindComPort(const platform::TComponent* owner);

  // ---- What the communications core (data packets) sees of the port ----------------------------
  TQsBaseDispatcher* LinkDispatcher() const override { return dispatcher_.get(); }
  bool LinkOpen() const override { return open_; }
  bool LinkLoading() const override { return IsLoading(); }
  platform::TComponent* LinkComponent() override { return this; }
  void RegisterLinkUser(const TQsPortLinkCallback& callback) override;
  void UnregisterLinkUser(const TQsPortLinkCallback& callback) override;
  // Copies source's settings, registrations, trigger set (saved from its dispatcher when it is
  // open) and its trigger and open/close events; this port ends closed.
  void Assign(TQsCustomComPort& source);

  // ---- Settings --------------------------------------------------------------------------------
  std::uint8_t DeviceLayer() const { return deviceLayer_; }
  void SetDeviceLayer(std::uint8_t value) { deviceLayer_ = value; }
  std::uint16_t ComNumber() const { return comNumber_; }
  // While open, closes and reopens the port on the new number, keeping triggers and diagnostics.
  void SetComNumber(std::uint16_t value);
  std::uint32_t BaudRate() const { return baudRate_; }
  void SetBaudRate(std::uint32_t value) { baudRate_ = value; }
  std::uint8_t Parity() const { return parity_; }
  void SetParity(std::uint8_t value) { parity_ = value; }
  std::uint16_t DataBits() const { return dataBits_; }
  void SetDataBits(std::uint16_t value) { dataBits_ = value; }
  std::uint16_t StopBits() const { return stopBits_; }
  void SetStopBits(std::uint16_t value) { stopBits_ = value; }
  std::uint16_t InBufferSize() const { return inBufferSize_; }
  void SetInBufferSize(std::uint16_t value) { inBufferSize_ = value; }
  std::uint16_t OutBufferSize() const { return outBufferSize_; }
  void SetOutBufferSize(std::uint16_t value) { outBufferSize_ = value; }
  bool AskForPort() const { return askForPort_; }
  void SetAskForPort(bool value) { askForPort_ = value; }
  bool OpenOnDemand() const { return openOnDemand_; }
  void SetOpenOnDemand(bool value) { openOnDemand_ = value; }
  std::uint8_t TapiMode() const { return tapiMode_; }
  void SetTapiMode(std::uint8_t value) { tapiMode_ = value; }
  std::uint16_t TapiHandle() const { return tapiHandle_; }
  void SetTapiHandle(std::uint16_t value) { tapiHandle_ = value; }

  // These pass the value to an open dispatcher; a negative answer raises (RaiseForCode).
  bool DTR() const { return dtr_; }
  void SetDTR(bool value);
  bool RTS() const { return rts_; }
  void SetRTS(bool value);
  std::uint8_t HardwareFlow() const { return hardwareFlow_; }
  void SetHardwareFlow(std::uint8_t bits);
  std::uint8_t SoftwareFlow() const { return softwareFlow_; }
  void SetSoftwareFlow(std::uint8_t value);
  std::uint16_t FlowHighWater() const { return flowHighWater_; }
  void SetFlowHighWater(std::uint16_t value) { flowHighWater_ = value; }
  std::uint16_t FlowLowWater() const { return flowLowWater_; }
  void SetFlowLowWater(std::uint16_t value) { flowLowWater_ = value; }
  std::uint8_t XOnChar() const { return xonChar_; }
  void SetXOnChar(std::uint8_t value);
  std::uint8_t XOffChar() const { return xoffChar_; }
  void SetXOffChar(std::uint8_t value);
  bool RS485Mode() const { return rs485Mode_; }
  void SetRS485Mode(bool value);
  std::uint8_t PriorityBoost() const { return priorityBoost_; }
  void SetPriorityBoost(std::uint8_t value);
  std::uint16_t AvailThreshold() const { return availThreshold_; }
  void SetAvailThreshold(std::uint16_t value);

  // ---- Trace and dispatch log ------------------------------------------------------------------
  TTraceLogState Tracing() const { return tracing_; }
  void SetTracing(TTraceLogState value);
  std::uint32_t TraceSize() const { return traceSize_; }
  void SetTraceSize(std::uint32_t value);
  const std::string& TraceName() const { return traceName_; }
  void SetTraceName(const std::string& value);
  bool TraceHex() const { return traceHex_; }
  void SetTraceHex(bool value) { traceHex_ = value; }
  bool TraceHexAll() const { return traceHexAll_; }
  void SetTraceHexAll(bool value) { traceHexAll_ = value; }
  TTraceLogState Logging() const { return logging_; }
  void SetLogging(TTraceLogState value);
  std::uint32_t LogSize() const { return logSize_; }
  void SetLogSize(std::uint32_t value);
  const std::string& LogName() const { return logName_; }
  void SetLogName(const std::string& value);
  bool LogHex() const { return logHex_; }
  void SetLogHex(bool value) { logHex_ = value; }
  bool LogHexAll() const { return logHexAll_; }
  void SetLogHexAll(bool value) { logHexAll_ = value; }

  // ---- Events ----------------------------------------------------------------------------------
  // Setting one of these tells an open dispatcher whether the port wants notifications.
  const TTriggerMessageEvent& OnTriggerMessage() const { return onTriggerMessage_; }
  void SetOnTriggerMessage(TTriggerMessageEvent event);
  const TTriggerAvailEvent& OnDataAvailable() const { return onDataAvailable_; }
  void SetOnDataAvailable(TTriggerAvailEvent event);
  const TTriggerHandleEvent& OnDataTrigger() const { return onDataTrigger_; }
  void SetOnDataTrigger(TTriggerHandleEvent event);
  const TTriggerHandleEvent& OnStatusTrigger() const { return onStatusTrigger_; }
  void SetOnStatusTrigger(TTriggerHandleEvent event);
  const TTriggerHandleEvent& OnTimerTrigger() const { return onTimerTrigger_; }
  void SetOnTimerTrigger(TTriggerHandleEvent event);

  TLineErrorEvent OnLineError;
  TPortNotifyEvent OnModemStatus;
  TPortNotifyEvent OnOutputFree;
  TPortNotifyEvent OnOutputUsed;
  TPortNotifyEvent OnOutputSent;
  // After the port has opened.
  TPortNotifyEvent OnPortOpened;
  // While the port is closing, before its dispatcher closes.
  TPortNotifyEvent OnPortClosed;

 protected:
  // Read after a call that may have freed the port (any event or user callback).
  std::shared_ptr<bool> AliveToken() const { return alive_; }
  // ---- The operations device layers override, in their order -----------------------------------
  // A new dispatcher of DeviceLayer, owned by this port; raises for a layer it cannot make.
  virtual std::unique_ptr<TQsBaseDispatcher> CreateDispatcher();
  // Opens the new dispatcher with the port's settings: 0, or a negative code.
  virtual int OpenDispatcher();
  virtual void ManageWindow(bool create);
  // Makes sure ComNumber names a port, asking the user when allowed; raises ENoPortSelected.
  virtual void CheckPortNumber();
  virtual void TriggerEvent(platform::UINT msg, std::uint16_t triggerHandle, std::uint16_t data);
  virtual void TriggerAvail(std::uint16_t count);
  virtual void TriggerData(std::uint16_t triggerHandle);
  virtual void TriggerStatus(std::uint16_t triggerHandle);
  virtual void TriggerTimer(std::uint16_t triggerHandle);
  virtual void UpdateHandlers();
  virtual void TriggerLineError(std::uint16_t lineError, bool lineBreak);
  virtual void TriggerModemStatus();
  virtual void TriggerOutputFree();
  virtual void TriggerOutputUsed();
  virtual void TriggerOutputSent();
  virtual void PortClose();
  virtual void PortOpen();
  virtual void PortOpened();
  virtual void PortClosing();

  // The port chooser CheckPortNumber asks when AskForPort is on: true with the chosen number.
  // It is the selection dialog the front end installed (port/QsSelPort.h); without one, or when
  // the user cancels, nothing is chosen.
  virtual bool SelectPortNumber(std::uint16_t& number);
  // Messages of the port window other than the trigger notifications and the deferred close. A
  // layer that listens on the window handles its messages here: true when handled, with result.
  virtual bool HandleWindowMessage(platform::UINT msg, platform::WPARAM wParam, platform::LPARAM lParam,
                                   platform::LRESULT& result);

  void SetState(TPortState state) { state_ = state; }
  // The dispatcher as it is, without opening on demand (null while closed).
  TQsBaseDispatcher* CurrentDispatcher() const { return dispatcher_.get(); }
  bool Forcing() const { return forcing_; }

 private:
  struct TUserRecord {
    platform::HWND window = 0;
    std::uint32_t reserved = 0;
    TPortUserCallback callback;
  };

  static platform::LRESULT WindowProc(platform::HWND hwnd, platform::UINT msg, platform::WPARAM wParam,
                                      platform::LPARAM lParam);
  static void RegisterWindowClassOnce();
  static TQsCustomComPort* PortOfMessage(platform::LPARAM lParam);
  void HandleTriggerMessage(platform::UINT msg, platform::WPARAM wParam, platform::LPARAM lParam);
  void HandleStatusKind(std::uint16_t triggerHandle);
  void FinishDeferredClose(platform::LPARAM lParam);
  void FreeDispatcher();
  // An opening asked for while the port was closing, carried out once it is closed.
  void OpenIfPending();
  void NotifyUsers(platform::UINT msg, bool opening);
  bool AnyTriggerEventAssigned() const;
  void ApplySettings();
  void ReadTapiSettings();
  std::uint32_t OpenOptions() const;
  int RaiseIfFailed(int code) const { return RaiseForCode(this, code); }

  // Diagnostics: the trace and the log share one state machine over different operations.
  struct TDiagOps;
  static const TDiagOps& TraceOps();
  static const TDiagOps& LogOps();
  void SetDiagState(const TDiagOps& ops, TTraceLogState& state, TTraceLogState value);
  void ResizeDiag(const TDiagOps& ops, TTraceLogState& state, std::uint32_t& size, std::uint32_t value,
                  std::uint32_t limit);
  void DefaultFlowLevels(double highFactor, double lowFactor);
  bool SettingChanges(bool changed) const { return changed || forcing_; }
  bool DispatcherReachable() const { return state_ == psOpen && dispatcher_ != nullptr; }

  // Settings.
  std::uint8_t deviceLayer_ = dlSerial;
  std::uint16_t comNumber_ = 0;
  std::uint32_t baudRate_ = 19200;
  std::uint8_t parity_ = 0;
  std::uint16_t dataBits_ = 8;
  std::uint16_t stopBits_ = 1;
  std::uint16_t inBufferSize_ = 4096;
  std::uint16_t outBufferSize_ = 4096;
  bool askForPort_ = true;
  bool openOnDemand_ = true;
  std::uint8_t tapiMode_ = 1;
  std::uint16_t tapiHandle_ = 0;
  bool dtr_ = true;
  bool rts_ = true;
  std::uint8_t hardwareFlow_ = 0;
  std::uint8_t softwareFlow_ = 0;
  std::uint16_t flowHighWater_ = 0;
  std::uint16_t flowLowWater_ = 0;
  std::uint8_t xonChar_ = 17;
  std::uint8_t xoffChar_ = 19;
  bool rs485Mode_ = false;
  std::uint8_t priorityBoost_ = 0;
  std::uint16_t availThreshold_ = 1;
  TTraceLogState tracing_ = tlOff;
  std::uint32_t traceSize_ = 10000;
  std::string traceName_ = "QS.TRC";
  bool traceHex_ = true;
  bool traceHexAll_ = false;
  TTraceLogState logging_ = tlOff;
  std::uint32_t logSize_ = 10000;
  std::string logName_ = "QS.LOG";
  bool logHex_ = true;
  bool logHexAll_ = false;

  TTriggerMessageEvent onTriggerMessage_;
  TTriggerAvailEvent onDataAvailable_;
  TTriggerHandleEvent onDataTrigger_;
  TTriggerHandleEvent onStatusTrigger_;
  TTriggerHandleEvent onTimerTrigger_;

  // State.
  bool open_ = false;
  TPortState state_ = psClosed;
  bool forcing_ = false;
  bool reopenPending_ = false;
  // False once the port is destroyed: code that called out to the application holds a copy and
  // touches the port again only while it reads true (a handler may free the port).
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  bool openWhenLoaded_ = false;
  std::unique_ptr<TQsBaseDispatcher> dispatcher_;
  platform::HWND window_ = 0;
  platform::LPARAM closeRetryParam_ = 0;  // the deferred close's message parameter, for its retry
  TQsTriggerSave triggerSave_;
  std::vector<TUserRecord> users_;
};
