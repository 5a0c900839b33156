// The serial line-settings record (the device control block) and the translation of old-style
// baud-rate codes.
#pragma once

#include <cstdint>

struct TQsLineSettings {
  std::uint32_t baudRate = 0;
  std::uint32_t flags = 0;
  std::uint16_t xonLim = 0;
  std::uint16_t xoffLim = 0;
  std::uint8_t byteSize = 8;
  std::uint8_t parity = 0;
  std::uint8_t stopBits = 0;  // 0 one, 1 one and a half, 2 two
  char xonChar = 17;
  char xoffChar = 19;
};

// Flag word bits.
constexpr std::uint32_t kDcbOutxCtsFlow = 0x0004;
constexpr std::uint32_t kDcbOutxDsrFlow = 0x0008;
constexpr std::uint32_t kDcbDtrControlMask = 0x0030;
constexpr std::uint32_t kDcbDtrEnable = 0x0010;
constexpr std::uint32_t kDcbDtrHandshake = 0x0020;
constexpr std::uint32_t kDcbOutX = 0x0100;
constexpr std::uint32_t kDcbInX = 0x0200;
constexpr std::uint32_t kDcbRtsControlMask = 0x3000;
constexpr std::uint32_t kDcbRtsEnable = 0x1000;
constexpr std::uint32_t kDcbRtsHandshake = 0x2000;
constexpr std::uint32_t kDcbRtsToggle = 0x3000;

// "Keep the current value" arguments of SetLineSettings.
constexpr std::uint32_t kKeepBaud = 0;
constexpr std::uint8_t kKeepParity = 5;
constexpr std::uint8_t kKeepDataBits = 9;
constexpr std::uint8_t kKeepStopBits = 3;

// Hardware and software flow options.
constexpr std::uint32_t kHwFlowUseDtr = 0x01;
constexpr std::uint32_t kHwFlowUseRts = 0x02;
constexpr std::uint32_t kHwFlowRequireDsr = 0x04;
constexpr std::uint32_t kHwFlowRequireCts = 0x08;
constexpr std::uint32_t kSwFlowTransmit = 0x01;
constexpr std::uint32_t kSwFlowReceive = 0x02;

// A baud rate as a device may report it: old-style codes become their rate, anything else is itself.
constexpr std::uint32_t TranslateBaudCode(std::uint32_t baud) {
  switch (baud) {
    case 0xFEFF: return 115200;
    case 0xFF10: return 110;
    case 0xFF11: return 300;
    case 0xFF12: return 600;
    case 0xFF13: return 1200;
    case 0xFF14: return 2400;
    case 0xFF15: return 4800;
    case 0xFF16: return 9600;
    case 0xFF17: return 14400;
    case 0xFF18: return 19200;
    case 0xFF1B: return 38400;
    case 0xFF1F: return 56000;
    case 0xFF23: return 128000;
    case 0xFF27: return 256000;
    default: return baud;
  }
}

// What ReadFlowOptions reports.
struct TQsFlowOptions {
  int result = 0;  // the DeviceGetState result
  std::uint8_t hardware = 0;
  std::uint8_t software = 0;
  char xonChar = 0;
  char xoffChar = 0;
};
