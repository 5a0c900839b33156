// Data packets: cut units of data out of a port's incoming byte stream. A packet waits for a start
// condition (a start string, or any data), collects bytes until an end condition (an end string
// and/or a byte count) and hands them to the application in an event. All packets of a port share
// one manager, which owns the port's incoming bytes in a growing buffer, lets the packets match,
// removes delivered bytes and discards what no packet can use.
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "comm/QsExcept.h"
#include "comm/QsMisc.h"
#include "comm/QsPortLink.h"
#include "platform/Event.h"

class TQsDataPacket;
class TQsDataPacketManager;
class TPacketManagerCall;

enum TPacketStartCond : std::uint8_t { scString = 0, scAnyData = 1 };
enum TPacketEndCond : std::uint8_t { ecString = 0, ecPacketSize = 1 };
using TPacketEndSet = std::uint8_t;  // bit (1 << TPacketEndCond)

constexpr TPacketEndSet EndSet(std::initializer_list<TPacketEndCond> conds) {
  TPacketEndSet set = 0;
  for (TPacketEndCond c : conds) set = static_cast<TPacketEndSet>(set | (1u << c));
  return set;
}

using TPacketNotifyEvent = platform::TEvent<platform::TComponent*, const std::uint8_t*, int>;
using TStringPacketNotifyEvent = platform::TEvent<platform::TComponent*, const std::string&>;
using TPacketTimeoutEvent = platform::TEvent<platform::TComponent*>;

// A start or end string in its matching form: escapes resolved, wildcards marked.
struct TPacketPattern {
  std::string chars;
  std::vector<bool> wild;
  bool ignoreCase = false;
  std::string source;  // the string it was built from

  static TPacketPattern Build(const std::string& text, bool ignoreCase);
  // Rebuilds from text unless already built from the same text and case rule: a packet is
  // checked at every enable, and handlers may enable it at every packet.
  void Update(const std::string& text, bool ignoreCase);
  std::size_t Length() const { return chars.size(); }
  bool Matches(std::size_t position, std::uint8_t byte) const;
};

class TQsDataPacket : public TQsBaseComponent {
 public:
  explicit TQsDataPacket(platform::TComponent* owner);
  ~TQsDataPacket() override;
  std::string ClassName() const override { return "TQsDataPacket"; }
  const platform::PropertyTable& Properties() const override;
  void Loaded() override;

  bool Enabled() const { return enabled_; }
  // True arms the packet (raising EInvalidProperty for a bad definition, leaving it disabled);
  // false disarms it.
  void SetEnabled(bool value);
  bool AutoEnable() const { return autoEnable_; }
  void SetAutoEnable(bool value);
  TPacketStartCond StartCond() const { return startCond_; }
  void SetStartCond(TPacketStartCond value);
  TPacketEndSet EndCond() const { return endCond_; }
  void SetEndCond(TPacketEndSet value);
  const std::string& StartString() const { return startString_; }
  void SetStartString(const std::string& value) { startString_ = value; }
  const std::string& EndString() const { return endString_; }
  void SetEndString(const std::string& value);
  bool IgnoreCase() const { return ignoreCase_; }
  void SetIgnoreCase(bool value) { ignoreCase_ = value; }
  TQsPortLink* ComPort() const { return port_; }
  // Attaches the packet to the port's manager (creating it), leaving the old one.
  void SetComPort(TQsPortLink* port);
  int PacketSize() const { return packetSize_; }
  void SetPacketSize(int value);
  bool IncludeStrings() const { return includeStrings_; }
  void SetIncludeStrings(bool value);
  int TimeOut() const { return timeOut_; }
  void SetTimeOut(int ticks);

  TPacketNotifyEvent OnPacket;
  TStringPacketNotifyEvent OnStringPacket;
  TPacketTimeoutEvent OnTimeout;

 protected:
  void Notification(platform::TComponent* component, platform::TOperation operation) override;

 private:
  friend class TQsDataPacketManager;
  enum TMatchState { msIdle = 0, msWaiting = 1, msCollecting = 2 };
  enum TScanResult { srDone, srCollector, srDelivered };

  // The manager's lock, held while the application changes what the scan reads (none without a manager).
  TPacketManagerCall LockScan();
  void SetEnabledLocked(bool value);
  // The error id of what is wrong with the definition, or 0.
  int DefinitionFault();
  void Arm();
  void ArmOrReport();
  void ArmDefined();
  void Refuse();
  void Engage();
  void Disarm();
  void EnterState(TMatchState state);
  void ResetMatch();
  TScanResult Scan(std::size_t start);
  bool StepWaiting(std::size_t& i);
  bool EndFoundAt(std::size_t i) const;
  void Log(std::uint8_t subType, std::string_view text = {}) const;
  bool HasBegunMatch() const { return state_ != msIdle && begin_ >= 0; }

  // Properties.
  bool enabled_ = false;
  bool autoEnable_ = true;
  TPacketStartCond startCond_ = scString;
  TPacketEndSet endCond_ = 0;
  std::string startString_;
  std::string endString_;
  bool ignoreCase_ = true;
  TQsPortLink* port_ = nullptr;
  int packetSize_ = 0;
  bool includeStrings_ = true;
  int timeOut_ = 2184;

  // Match state.
  TQsDataPacketManager* manager_ = nullptr;
  TMatchState state_ = msIdle;
  std::ptrdiff_t begin_ = -1;
  std::size_t startIndex_ = 1;
  std::size_t collectFrom_ = 0;  // first index where the end string may begin
  TPacketPattern startPattern_;
  TPacketPattern endPattern_;
  bool enablePending_ = false;
  bool waitingForBuffer_ = false;
  bool ownsBuffer_ = false;
  std::string label_;
  // Cleared when the packet is freed: a delivery whose handler freed its packet stops touching it.
  // Atomic: the delivery may run on a dispatch thread while the main thread frees the packet.
  std::shared_ptr<std::atomic<bool>> alive_ = std::make_shared<std::atomic<bool>>(true);
};

// The manager of one port's packets.
class TQsDataPacketManager {
 public:
  explicit TQsDataPacketManager(TQsPortLink* port);
  ~TQsDataPacketManager();
  TQsDataPacketManager(const TQsDataPacketManager&) = delete;
  TQsDataPacketManager& operator=(const TQsDataPacketManager&) = delete;

  TQsPortLink* Port() const { return port_; }
  const std::vector<TQsDataPacket*>& Packets() const { return packets_; }
  bool IsEnabled() const { return enabled_; }
  std::size_t BufferCount() const { return count_; }
  std::size_t BufferCapacity() const { return capacity_; }
  TQsDataPacket* Collector() const { return collector_; }

  // Held bytes beyond this while collecting make the collected packet "too long": it is dropped.
  // A PacketSize above it could never be delivered and is refused when the packet is armed.
  static constexpr std::size_t kMaxBuffer = 1 << 20;

 private:
  friend class TQsDataPacket;

  friend class TPacketManagerCall;

  // Keeps the manager alive while it calls out; the outermost call frees a retired one and then
  // hands the application what it has to report.
  class TBusy {
   public:
    explicit TBusy(TQsDataPacketManager& m) : m_(m) { ++m_.busy_; }
    ~TBusy();
    TBusy(const TBusy&) = delete;
    TBusy& operator=(const TBusy&) = delete;

   private:
    TQsDataPacketManager& m_;
  };

  // Frees the manager, or (while it calls out) detaches it from everything at once and frees it
  // when the outermost call returns.
  static void Retire(TQsDataPacketManager* manager);
  void TearDown();
  void Attach(TQsDataPacket* packet);
  void Detach(TQsDataPacket* packet);
  void PortChanged(bool opening);
  void Enable();
  void Disable();
  void OnTrigger(platform::UINT msg, platform::WPARAM first, platform::LPARAM second);
  void HandleTrigger(platform::UINT msg, platform::WPARAM first, platform::LPARAM second);
  // Ends one busy mark (and lets go of the lock, if given).
  void Leave(std::unique_lock<std::recursive_mutex>* lock);
  // An error for the application: a refused definition (its error id) or what arming raised. While
  // the manager is busy it waits for the outermost call's end: no application code runs while the
  // manager walks its packets, or on a manager it may free.
  struct TReport {
    int fault = 0;
    std::exception_ptr error;
  };
  void Report(TReport report);
  static void ReportNow(const TReport& report);
  template <typename Fn>
  void ForEachPacket(Fn&& fn);
  void TakeBytes(int count);
  void Process(std::size_t start);
  void RunPass(std::size_t start);
  void Deliver(TQsDataPacket& packet, std::size_t size, bool bySize);
  void TimeOutCollector();
  void DropTooLong();
  void Lock();
  void Unlock();
  void Call(const std::function<void()>& handler);
  void ReleaseBuffer();
  void RemoveFront(std::size_t bytes);
  void SetCollector(TQsDataPacket* packet);
  void LeaveCollector(TQsDataPacket* packet);
  TQsBaseDispatcher* Dispatcher() const;
  TQsPortLinkCallback Callback();

  TQsPortLink* port_;
  std::vector<TQsDataPacket*> packets_;
  std::unique_ptr<std::uint8_t[]> buffer_;
  std::size_t capacity_ = 0;
  std::size_t count_ = 0;
  TQsDataPacket* collector_ = nullptr;
  std::int32_t timerHandle_ = 0;
  bool enabled_ = false;
  int lockDepth_ = 0;
  bool dataPending_ = false;
  std::size_t pendingStart_ = 0;
  bool processing_ = false;
  bool enableAfterLoading_ = false;
  int busy_ = 0;
  bool retired_ = false;
  std::vector<TReport> reports_;
  // Counts buffer releases: a delivery whose handler closed (or reopened) the port must not remove
  // bytes from a buffer that is no longer the one it delivered from.
  std::uint64_t bufferEpoch_ = 0;
  // With a dispatcher that runs its own thread, the scan runs there while the application arms
  // and disarms packets on the main thread: both hold this lock; the scan lets go of it while a
  // handler runs on the main thread.
  std::recursive_mutex mutex_;
};

// One call from outside into a port's packets (a property set, the port opening or closing, bytes
// arriving): holds the manager's lock and busy mark, and ends them as the manager's own calls do.
// Without a manager it holds nothing.
class TPacketManagerCall {
 public:
  explicit TPacketManagerCall(TQsDataPacketManager* manager);
  ~TPacketManagerCall();
  TPacketManagerCall(const TPacketManagerCall&) = delete;
  TPacketManagerCall& operator=(const TPacketManagerCall&) = delete;

 private:
  TQsDataPacketManager* manager_;
  std::unique_lock<std::recursive_mutex> lock_;
};

// The process-wide list of managers: the manager of a port, or null.
TQsDataPacketManager* FindPacketManager(const TQsPortLink* port);
std::size_t PacketManagerCount();
