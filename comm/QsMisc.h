// Basics every communication component shares: the error codes the engine returns, the ids of
// the message texts other units look up, the base class of the components, and the tick timing
// (55 ms ticks) that every engine time-out is measured in.
#pragma once

#include <cstdint>
#include <string>

#include "platform/Component.h"
#include "platform/MessageLoop.h"

// ---- Error codes as the engine returns them (negative; the message id is the magnitude) ----------

constexpr int kErrOK = 0;

// General misuse.
constexpr int kErrBadHandle = -1001;
constexpr int kErrBadArgument = -1002;
constexpr int kErrGotQuitMsg = -1003;
constexpr int kErrBufferTooBig = -1004;
constexpr int kErrPortNotAssigned = -1005;
constexpr int kErrInternal = -1006;
constexpr int kErrModemNotAssigned = -1007;
constexpr int kErrPhonebookNotAssigned = -1008;
constexpr int kErrCannotUseWithWinSock = -1009;

// Opening a port.
constexpr int kErrBadId = -2001;
constexpr int kErrBaudRate = -2002;
constexpr int kErrByteSize = -2003;
constexpr int kErrDefault = -2004;
constexpr int kErrHardware = -2005;
constexpr int kErrMemory = -2006;
constexpr int kErrCommNotOpen = -2007;
constexpr int kErrAlreadyOpen = -2008;
constexpr int kErrNoHandles = -2009;
constexpr int kErrNoTimers = -2010;
constexpr int kErrNoPortSelected = -2011;
constexpr int kErrNotOpenedByTapi = -2012;

// Dispatcher and device I/O.
constexpr int kErrNullApi = -3001;
constexpr int kErrNotSupported = -3002;
constexpr int kErrRegisterHandlerFailed = -3003;
constexpr int kErrPutBlockFail = -3004;
constexpr int kErrGetBlockFail = -3005;
constexpr int kErrOutputBufferTooSmall = -3006;
constexpr int kErrBufferIsEmpty = -3007;
constexpr int kErrTracingNotEnabled = -3008;
constexpr int kErrLoggingNotEnabled = -3009;
constexpr int kErrBaseAddressNotSet = -3010;

// Triggers.
constexpr int kErrNoMoreTriggers = -5001;
constexpr int kErrTriggerTooLong = -5002;
constexpr int kErrBadTriggerHandle = -5003;

// Data packet definitions.
constexpr int kErrStartStringEmpty = -5501;
constexpr int kErrPacketTooSmall = -5502;
constexpr int kErrNoEndCharCount = -5503;
constexpr int kErrEmptyEndString = -5504;
constexpr int kErrZeroSizePacket = -5505;
constexpr int kErrPacketTooLong = -5506;

// Socket library.
constexpr int kErrWinsockGeneral = -9001;
constexpr int kErrCannotLoadWinsock = -9002;
constexpr int kErrWinsockVersion = -9003;
constexpr int kErrWinsockNotInitialized = -9004;
constexpr int kErrInvalidPort = -9005;
constexpr int kErrCannotChangeWhileConnected = -9006;
constexpr int kErrCannotResolveAddress = -9007;

// ---- Ids of texts that are not error messages ---------------------------------------------------

constexpr int kWinsockNotInitializedTextId = 9004;  // "Winsock not initialized - %s"
constexpr int kLogTypeTextBase = 15000;             // + 1 + log event type (type 0 is "No event")
constexpr int kLogSubtypeTextBase = 15100;          // + log event subtype
constexpr int kLogDumpHeaderTextId = 15501;
constexpr int kLogDumpRuleTextId = 15502;
constexpr int kModemStatusTextBase = 15600;         // 15601 "DCTS " ... 15608 "DCD "
constexpr int kTelnetOptionTextBase = 15700;        // + telnet option number

// ---- The components' base class -------------------------------------------------------------

class TQsBaseComponent : public platform::TComponent {
 public:
  explicit TQsBaseComponent(platform::TComponent* owner) : platform::TComponent(owner) {}

  std::string ClassName() const override { return "TQsBaseComponent"; }
  static const platform::PropertyTable& ClassProperties();
  const platform::PropertyTable& Properties() const override { return ClassProperties(); }

  std::string Version() const { return "v3.04"; }
  // Stored forms may carry a version; it is accepted and changes nothing.
  void SetVersion(const std::string& /*value*/) {}
};

// ---- Tick timing ----------------------------------------------------------------------------

constexpr int kTickMilliseconds = 55;
// The largest tick count whose length in milliseconds fits in 31 bits.
constexpr std::int32_t MaxTicks = 39045157;
// Ticks in one turn of the 32-bit millisecond clock (2^32 div 55).
constexpr std::int32_t kTicksPerClockWrap = 78090314;

struct TickTimer {
  std::int32_t start = 0;
  std::int32_t expiry = 0;
};

// Counts of a high-resolution counter per millisecond, rounded; 0 when the frequency is unusable
// (0, 2^32 or more, or below 501 counts per second).
std::uint64_t ClockCountsPerMillisecond(std::uint64_t frequency);
// Milliseconds of the monotonic clock, low 32 bits (wraps after about 49.7 days).
std::uint32_t MillisecondClock();
// MillisecondClock() in ticks.
std::int32_t CurrentTicks();

// Starts timer now for ticks (limited to MaxTicks).
void StartTicks(TickTimer& timer, int ticks);
// True once the clock has passed the timer's expiry, also across a wrap of the clock.
bool TicksElapsed(const TickTimer& timer);
// The same rule with the current tick count given.
bool TicksElapsedAt(const TickTimer& timer, std::int32_t nowTicks);

// Waits ticks (limited to MaxTicks); with pumpMessages, handles the calling thread's messages
// meanwhile. Returns 18 when a quit message ended the wait (the quit stays queued for the main
// loop), else the id of the last message handled (0 for none or without pumping). Blocks instead
// of spinning while nothing is pending.
platform::UINT WaitTicks(int ticks, bool pumpMessages);
// Handles one pending message of the calling thread without waiting and returns its id (0 when
// none). A quit message is posted again with its exit code instead of being dispatched.
platform::UINT PumpOneMessage();
