// What the dispatcher and the layers above it share: the notification messages, the device status
// record, line-error and device-event bits, status trigger kinds, and the comparable method
// reference that method handlers are registered with.
#pragma once

#include <cstdint>

#include "platform/MessageLoop.h"

// Trigger notifications: first parameter = count or trigger handle, second = Handle * 65536 + data.
constexpr platform::UINT DM_AVAIL = 0x7E01;
constexpr platform::UINT DM_DATA = 0x7E02;
constexpr platform::UINT DM_TIMER = 0x7E03;
constexpr platform::UINT DM_STATUS = 0x7E04;

// The avail threshold's trigger handle.
constexpr std::int32_t kAvailTriggerHandle = 1;

// Line-error bits as the device reports them.
constexpr std::uint32_t kLineErrRxOverflow = 0x01;
constexpr std::uint32_t kLineErrOverrun = 0x02;
constexpr std::uint32_t kLineErrParity = 0x04;
constexpr std::uint32_t kLineErrFraming = 0x08;
constexpr std::uint32_t kLineErrBreak = 0x10;
constexpr std::uint32_t kLineErrMask = 0x1F;

// Device events of the serial event wait.
constexpr std::uint32_t kEvRxChar = 0x0001;
constexpr std::uint32_t kEvCts = 0x0008;
constexpr std::uint32_t kEvDsr = 0x0010;
constexpr std::uint32_t kEvRlsd = 0x0020;
constexpr std::uint32_t kEvBreak = 0x0040;
constexpr std::uint32_t kEvErr = 0x0080;
constexpr std::uint32_t kEvRing = 0x0100;
constexpr std::uint32_t kEvRingTrailingEdge = 0x2000;
constexpr std::uint32_t kServiceEventMask = 0x01F9;
constexpr std::uint32_t kModemEventMask = 0x2138;  // CTS, DSR, carrier, ring, ring trailing edge
constexpr std::uint32_t kLineEventMask = 0x00C0;   // break, error

// Modem status bits in the UART layout.
constexpr std::uint8_t kModemDeltaCts = 0x01;
constexpr std::uint8_t kModemDeltaDsr = 0x02;
constexpr std::uint8_t kModemRingEnded = 0x04;
constexpr std::uint8_t kModemDeltaDcd = 0x08;
constexpr std::uint8_t kModemCts = 0x10;
constexpr std::uint8_t kModemDsr = 0x20;
constexpr std::uint8_t kModemRing = 0x40;
constexpr std::uint8_t kModemDcd = 0x80;

// Device line-control functions (DeviceEscape).
constexpr int kEscSetRts = 3;
constexpr int kEscClrRts = 4;
constexpr int kEscSetDtr = 5;
constexpr int kEscClrDtr = 6;
constexpr int kEscGetBaseAddress = 10;

// OpenPort options.
constexpr std::uint32_t kOpenDtrOn = 0x01;
constexpr std::uint32_t kOpenRtsOn = 0x02;
constexpr std::uint32_t kOpenDtrFlow = 0x10;
constexpr std::uint32_t kOpenRtsFlow = 0x20;

enum TStatusKind : std::int32_t { skModem = 1, skLine = 2, skOutFree = 3, skOutUsed = 4, skOutSent = 5 };

// Filled by DeviceStatus: bytes the device holds for reading, bytes not yet sent.
struct TDeviceStatus {
  std::uint32_t inCount = 0;
  std::uint32_t outCount = 0;
};

// A method bound to an object, called with (message, first, second). Two references are the same
// method when their code is the same, whatever the object.
class TQsNotifyMethod {
 public:
  using Code = void (*)(void* object, platform::UINT msg, platform::WPARAM first, platform::LPARAM second);

  TQsNotifyMethod() = default;
  TQsNotifyMethod(Code code, void* object) : code_(code), object_(object) {}

  // TQsNotifyMethod::Of<&TMyClass::OnTrigger>(this)
  template <auto Member, typename C>
  static TQsNotifyMethod Of(C* object) {
    return TQsNotifyMethod(
        [](void* o, platform::UINT msg, platform::WPARAM first, platform::LPARAM second) {
          (static_cast<C*>(o)->*Member)(msg, first, second);
        },
        object);
  }

  explicit operator bool() const { return code_ != nullptr; }
  void operator()(platform::UINT msg, platform::WPARAM first, platform::LPARAM second) const {
    code_(object_, msg, first, second);
  }
  bool SameCode(const TQsNotifyMethod& other) const { return code_ == other.code_; }
  void* Object() const { return object_; }

 private:
  Code code_ = nullptr;
  void* object_ = nullptr;
};
