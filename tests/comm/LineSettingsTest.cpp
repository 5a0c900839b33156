// Line settings, DTR and RTS, flow control, modem status, line errors and RS-485 over the test
// device's line-settings record.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "TestDevice.h"

namespace {

class LineSettings : public testing::Test {
 protected:
  void SetUp() override {
    d.deviceState.baudRate = 19200;
    ASSERT_EQ(d.OpenPort("COM2", 19200, 0, 8, 1, 4096, 4096, kOpenDtrOn | kOpenRtsOn), 0);
  }
  TTestDevice d;
};

TEST_F(LineSettings, KeepCodesAndTheFiveBitRule) {
  struct Case {
    const char* what;
    std::uint32_t baud;
    std::uint8_t parity, dataBits, stopBits;
    std::uint32_t wantBaud;
    std::uint8_t wantParity, wantSize, wantStopCode;
  };
  const Case cases[] = {
      {"everything kept", 0, 5, 9, 3, 19200, 0, 8, 0},
      {"new rate only", 9600, 5, 9, 3, 9600, 0, 8, 0},
      {"two stop bits", 0, 5, 9, 2, 19200, 0, 8, 2},
      {"stop bits 0 count as 1", 0, 5, 9, 0, 19200, 0, 8, 0},
      {"stop bits above 2 count as 2", 0, 5, 9, 7, 19200, 0, 8, 2},
      {"5 data bits and 2 stop bits give one and a half", 0, 5, 5, 2, 19200, 0, 5, 1},
      {"5 data bits and 1 stop bit give one and a half", 0, 5, 5, 1, 19200, 0, 5, 1},
      {"even parity, 7 bits", 0, 2, 7, 3, 19200, 2, 7, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    d.deviceState.baudRate = 19200;
    d.deviceState.parity = 0;
    d.deviceState.byteSize = 8;
    d.deviceState.stopBits = 0;
    ASSERT_EQ(d.SetLineSettings(c.baud, c.parity, c.dataBits, c.stopBits), 0);
    EXPECT_EQ(d.deviceState.baudRate, c.wantBaud);
    EXPECT_EQ(d.deviceState.parity, c.wantParity);
    EXPECT_EQ(d.deviceState.byteSize, c.wantSize);
    EXPECT_EQ(d.deviceState.stopBits, c.wantStopCode);
  }
}

TEST_F(LineSettings, UnchangedSettingsDoNotTouchTheDevice) {
  const int setStates = d.setStateCalls.load();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(d.SetLineSettings(19200, 0, 8, 1), 0);
  EXPECT_EQ(d.setStateCalls.load(), setStates);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(5)) << "no drain wait";
  d.setStateResult = -87;
  EXPECT_EQ(d.SetLineSettings(9600, 5, 9, 3), -87) << "a device failure is returned as it is";
}

TEST_F(LineSettings, BaudCodesAreTranslatedWhenRead) {
  struct Case {
    std::uint32_t stored, reported;
  };
  const Case cases[] = {{0xFF16, 9600}, {0xFEFF, 115200}, {0xFF10, 110}, {0xFF1B, 38400},
                        {0xFF27, 256000}, {0xFF19, 0xFF19}, {57600, 57600}};
  for (const Case& c : cases) {
    d.deviceState.baudRate = c.stored;
    d.deviceState.stopBits = 1;
    std::uint32_t baud;
    std::uint8_t parity, stopBits, dataBits;
    d.GetLineSettings(baud, parity, stopBits, dataBits);
    EXPECT_EQ(baud, c.reported) << std::hex << c.stored;
    EXPECT_EQ(stopBits, 2) << "any code but 0 reads as 2";
    EXPECT_EQ(TranslateBaudCode(c.stored), c.reported);
  }
}

TEST_F(LineSettings, DtrAndRtsUnderFlowControlAreLeftAlone) {
  d.escapes.clear();
  EXPECT_EQ(d.DriveDTR(false), 0);
  EXPECT_EQ(d.DriveRTS(true), 0);
  EXPECT_EQ(d.Escapes(), (std::vector<int>{kEscClrDtr, kEscSetRts}));
  ASSERT_EQ(d.SetHardwareFlow(3686, 409, kHwFlowUseDtr | kHwFlowRequireCts), 0);
  EXPECT_TRUE(d.DTRByFlow());
  d.escapes.clear();
  EXPECT_EQ(d.DriveDTR(true), 1);
  EXPECT_TRUE(d.Escapes().empty());
  d.escapeResult = -1;
  EXPECT_EQ(d.DriveRTS(false), kErrBadArgument);
  EXPECT_FALSE(d.RTSWanted()) << "the level is remembered all the same";
}

TEST_F(LineSettings, FlowControlArgumentsAndRecord) {
  struct Case {
    int full, resume;
    int expected;
  };
  const Case cases[] = {{4096, 0, 0}, {4097, 0, kErrBadArgument}, {100, 101, kErrBadArgument}, {100, -1, kErrBadArgument}};
  for (const Case& c : cases) {
    EXPECT_EQ(d.SetHardwareFlow(c.full, c.resume, 0), c.expected) << c.full << "/" << c.resume;
    EXPECT_EQ(d.SetSoftwareFlow(c.full, c.resume, 0), c.expected) << c.full << "/" << c.resume;
  }
  ASSERT_EQ(d.SetHardwareFlow(3686, 409, kHwFlowUseDtr | kHwFlowUseRts | kHwFlowRequireDsr | kHwFlowRequireCts), 0);
  EXPECT_EQ(d.deviceState.xoffLim, 410);
  EXPECT_EQ(d.deviceState.xonLim, 409);
  ASSERT_EQ(d.SetSoftwareFlow(3072, 1024, kSwFlowTransmit | kSwFlowReceive), 0);
  TQsFlowOptions options = d.ReadFlowOptions();
  EXPECT_EQ(options.hardware, 0x0F);
  EXPECT_EQ(options.software, 0x03);
  EXPECT_EQ(options.xonChar, 17);
  EXPECT_EQ(options.xoffChar, 19);
  ASSERT_EQ(d.SetXonXoffChars('Q', 'S'), 0);
  ASSERT_EQ(d.ClearSoftwareFlow(), 0);
  ASSERT_EQ(d.SetHardwareFlow(0, 0, 0), 0);
  options = d.ReadFlowOptions();
  EXPECT_EQ(options.hardware, 0);
  EXPECT_EQ(options.software, 0);
  EXPECT_EQ(options.xonChar, 'Q');
  EXPECT_EQ(d.deviceState.flags & kDcbDtrControlMask, kDcbDtrEnable) << "DTR wanted on, no longer by flow";
}

TEST_F(LineSettings, ModemChangeBitsAccumulateUntilTheNextOpen) {
  d.modemLines = kModemCts | kModemDcd;
  d.RefreshModemStatus();
  d.modemLines = kModemDcd;
  d.RefreshModemStatus();
  EXPECT_EQ(d.ModemBits(), kModemDcd | kModemDeltaCts | kModemDeltaDcd);
  d.modemLines = kModemCts | kModemDcd;
  d.RefreshModemStatus();
  EXPECT_EQ(d.ModemBits() & kModemDeltaCts, kModemDeltaCts);
  d.ClosePort();
  ASSERT_EQ(OpenTestDevice(d), 0);
  EXPECT_EQ(d.ModemBits(), kModemCts | kModemDcd) << "opening keeps only the state bits";
}

TEST_F(LineSettings, LineErrorsAreTakenInPriorityOrder) {
  struct Case {
    std::uint32_t errors;
    int first;
    bool breakAfter;
  };
  const Case cases[] = {{kLineErrOverrun | kLineErrBreak, 2, true}, {kLineErrRxOverflow | kLineErrParity, 1, false},
                        {kLineErrFraming, 4, false},                {kLineErrBreak, 9, true},
                        {0, 0, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.errors);
    d.TakeLineBreak();
    while (d.TakeLineError() != 0) {
    }
    d.lineErrorBits = c.errors;
    d.RefreshLineErrors();
    EXPECT_EQ(d.TakeLineError(), c.first);
    EXPECT_EQ(d.TakeLineBreak(), c.breakAfter);
    EXPECT_FALSE(d.TakeLineBreak());
  }
}

TEST_F(LineSettings, Rs485NeedsABaseAddressAndTurnsTheLineAround) {
  d.baseAddress = 0;
  d.SetRs485(true);
  EXPECT_EQ(d.WriteBlock("x", 1), kErrBaseAddressNotSet);
  d.baseAddress = 0x2F8;
  d.SetRs485(true);
  EXPECT_EQ(d.PortBase(), 0x2F8);
  d.escapes.clear();
  EXPECT_EQ(d.WriteBlock("x", 1), 0);
  EXPECT_EQ(d.Escapes(), std::vector<int>{kEscSetRts});
  d.WriteOutput();  // what the output thread does with the queued byte
  EXPECT_EQ(d.Sent(), "x");
  EXPECT_EQ(d.drainCalls.load(), 1);
  EXPECT_EQ(d.Escapes(), (std::vector<int>{kEscSetRts, kEscClrRts}));
}

}  // namespace
