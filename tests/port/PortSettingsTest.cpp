// The port's settings (at opening and while open), its events for every kind of trigger, and its
// trace and dispatch log states with the files a close writes.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "PortTestDevice.h"
#include "comm/QsExcept.h"
#include "platform/Application.h"

namespace {

namespace fs = std::filesystem;

class PortSettings : public testing::Test {
 protected:
  TTestDevice& Open() {
    port.SetOpen(true);
    return port.Device();
  }
  TDeviceRecord record;
  TTestPort port{record};
};

bool HasEscape(TTestDevice& d, int func) {
  const std::vector<int> escapes = d.Escapes();
  return std::find(escapes.begin(), escapes.end(), func) != escapes.end();
}

TEST_F(PortSettings, DefaultsAfterConstruction) {
  TQsCustomComPort plain(nullptr);
  EXPECT_EQ(plain.DeviceLayer(), dlSerial);
  EXPECT_EQ(plain.ComNumber(), 0);
  EXPECT_EQ(plain.BaudRate(), 19200u);
  EXPECT_EQ(plain.DataBits(), 8);
  EXPECT_EQ(plain.StopBits(), 1);
  EXPECT_EQ(plain.InBufferSize(), 4096);
  EXPECT_EQ(plain.OutBufferSize(), 4096);
  EXPECT_TRUE(plain.AskForPort());
  EXPECT_TRUE(plain.OpenOnDemand());
  EXPECT_EQ(plain.TapiMode(), 1);
  EXPECT_TRUE(plain.DTR());
  EXPECT_TRUE(plain.RTS());
  EXPECT_EQ(plain.XOnChar(), 17);
  EXPECT_EQ(plain.XOffChar(), 19);
  EXPECT_EQ(plain.AvailThreshold(), 1);
  EXPECT_EQ(plain.TraceSize(), 10000u);
  EXPECT_EQ(plain.TraceName(), "QS.TRC");
  EXPECT_EQ(plain.LogName(), "QS.LOG");
  EXPECT_TRUE(plain.TraceHex());
  EXPECT_FALSE(plain.LogHexAll());
  EXPECT_EQ(plain.GetProperty("Tracing").ToString(), "tlOff");
  plain.SetProperty("BaudRate", platform::Variant(std::int64_t{9600}));
  EXPECT_EQ(plain.BaudRate(), 9600u);
}

TEST_F(PortSettings, EverySettingReachesTheDispatcherAtOpening) {
  port.SetHardwareFlow(hfUseDTR);
  port.SetSoftwareFlow(sfBoth);
  port.SetXOnChar('A');
  port.SetXOffChar('B');
  port.SetAvailThreshold(12);
  port.SetRTS(false);
  port.SetPriorityBoost(2);
  TTestDevice& d = Open();
  EXPECT_EQ(d.AvailThreshold(), 12u);
  EXPECT_EQ(d.PriorityBoost(), 2);
  EXPECT_TRUE(d.DTRByFlow());
  EXPECT_FALSE(d.RTSWanted());
  const TQsLineSettings& s = d.LineSettingsRecord();
  EXPECT_EQ(s.flags & (kDcbInX | kDcbOutX), kDcbInX | kDcbOutX);
  // Software flow control resets the characters, so they must be applied after it.
  EXPECT_EQ(s.xonChar, 'A');
  EXPECT_EQ(s.xoffChar, 'B');
  EXPECT_EQ(port.FlowHighWater(), 3686);
  EXPECT_EQ(port.FlowLowWater(), 409);
}

TEST_F(PortSettings, SettingsWhileOpenGoToTheDispatcherAtOnce) {
  struct Case {
    const char* name;
    std::function<void(TTestPort&)> set;
    std::function<bool(TTestPort&, TTestDevice&)> check;
  };
  const Case cases[] = {
      {"avail threshold", [](TTestPort& p) { p.SetAvailThreshold(20); },
       [](TTestPort&, TTestDevice& d) { return d.AvailThreshold() == 20u; }},
      {"xon char", [](TTestPort& p) { p.SetXOnChar('X'); },
       [](TTestPort&, TTestDevice& d) { return d.LineSettingsRecord().xonChar == 'X'; }},
      {"xoff char", [](TTestPort& p) { p.SetXOffChar('Y'); },
       [](TTestPort&, TTestDevice& d) { return d.LineSettingsRecord().xoffChar == 'Y'; }},
      {"DTR off", [](TTestPort& p) { p.SetDTR(false); },
       [](TTestPort& p, TTestDevice& d) { return HasEscape(d, kEscClrDtr) && !p.DTR(); }},
      {"RTS off", [](TTestPort& p) { p.SetRTS(false); },
       [](TTestPort& p, TTestDevice& d) { return HasEscape(d, kEscClrRts) && !p.RTS(); }},
      {"receive flow uses the receive option", [](TTestPort& p) { p.SetSoftwareFlow(sfReceive); },
       [](TTestPort&, TTestDevice& d) { return (d.LineSettingsRecord().flags & (kDcbInX | kDcbOutX)) == kDcbInX; }},
      {"transmit flow uses the transmit option", [](TTestPort& p) { p.SetSoftwareFlow(sfTransmit); },
       [](TTestPort&, TTestDevice& d) { return (d.LineSettingsRecord().flags & (kDcbInX | kDcbOutX)) == kDcbOutX; }},
      {"software flow off",
       [](TTestPort& p) {
         p.SetSoftwareFlow(sfBoth);
         p.SetSoftwareFlow(sfNone);
       },
       [](TTestPort&, TTestDevice& d) { return (d.LineSettingsRecord().flags & (kDcbInX | kDcbOutX)) == 0; }},
      {"hardware flow", [](TTestPort& p) { p.SetHardwareFlow(hfUseRTS | hfRequireCTS); },
       [](TTestPort&, TTestDevice& d) {
         return d.RTSByFlow() && (d.LineSettingsRecord().flags & kDcbOutxCtsFlow) != 0;
       }},
      {"DTR under flow control keeps its value",
       [](TTestPort& p) {
         p.SetHardwareFlow(hfUseDTR);
         p.SetDTR(false);
       },
       [](TTestPort& p, TTestDevice& d) { return p.DTR() && !HasEscape(d, kEscClrDtr); }},
      {"RS-485 takes RTS from flow control",
       [](TTestPort& p) {
         p.SetHardwareFlow(hfUseRTS | hfRequireDSR);
         p.SetRS485Mode(true);
       },
       [](TTestPort& p, TTestDevice& d) {
         return d.Rs485On() && p.HardwareFlow() == hfRequireDSR && !p.RTS() && !d.RTSByFlow();
       }},
      {"hardware flow on RTS ends RS-485",
       [](TTestPort& p) {
         p.SetRS485Mode(true);
         p.SetHardwareFlow(hfUseRTS);
       },
       [](TTestPort& p, TTestDevice& d) { return !d.Rs485On() && !p.RS485Mode(); }},
      {"priority boost", [](TTestPort& p) { p.SetPriorityBoost(3); },
       [](TTestPort&, TTestDevice& d) { return d.PriorityBoost() == 3; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TDeviceRecord r;
    TTestPort p(r);
    p.SetOpen(true);
    c.set(p);
    EXPECT_TRUE(c.check(p, p.Device()));
  }
}

TEST_F(PortSettings, AnUnchangedValueIsNotPassedAgain) {
  TTestDevice& d = Open();
  d.SetAvailThreshold(99);
  port.SetAvailThreshold(port.AvailThreshold());
  EXPECT_EQ(d.AvailThreshold(), 99u);
}

TEST_F(PortSettings, ADeviceRefusingASettingRaisesAtThePort) {
  TTestDevice& d = Open();
  d.setStateResult = kErrBaudRate;
  EXPECT_THROW(port.SetXOnChar('Q'), EBaudRate);
  EXPECT_EQ(port.XOnChar(), 17) << "a refused value is not kept";
}

TEST_F(PortSettings, FlowThresholdsFollowTheInputBufferWhenUnset) {
  struct Case {
    std::uint16_t high, low;
    bool hardware;
    std::uint16_t wantHigh, wantLow;
  };
  const Case cases[] = {
      {0, 0, true, 3686, 409},       {0, 0, false, 3072, 1024},   {5000, 0, true, 3686, 409},
      {2000, 3000, true, 2000, 409}, {2000, 100, false, 2000, 100},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.high << "/" << c.low << (c.hardware ? " hardware" : " software"));
    TDeviceRecord r;
    TTestPort p(r);
    p.SetFlowHighWater(c.high);
    p.SetFlowLowWater(c.low);
    if (c.hardware)
      p.SetHardwareFlow(hfUseRTS);
    else
      p.SetSoftwareFlow(sfBoth);
    EXPECT_EQ(p.FlowHighWater(), c.wantHigh);
    EXPECT_EQ(p.FlowLowWater(), c.wantLow);
  }
}

// ---- Events ------------------------------------------------------------------------------------------

struct TEventLog {
  std::vector<std::string> lines;
  void Add(const std::string& line) { lines.push_back(line); }
};

void AttachAll(TQsCustomComPort& p, TEventLog& log) {
  auto text = [](auto... parts) {
    std::ostringstream out;
    ((out << parts << ' '), ...);
    std::string s = out.str();
    s.pop_back();
    return s;
  };
  p.SetOnTriggerMessage(TTriggerMessageEvent(&p, "msg", [&log, text](platform::TComponent*, platform::UINT m,
                                                                     std::uint16_t h, std::uint16_t data) {
    std::ostringstream number;
    number << std::hex << m;
    log.Add(text("msg", number.str(), h, data));
  }));
  p.SetOnDataAvailable(
      TTriggerAvailEvent(&p, "avail", [&log, text](platform::TComponent*, std::uint16_t n) { log.Add(text("avail", n)); }));
  p.SetOnDataTrigger(
      TTriggerHandleEvent(&p, "data", [&log, text](platform::TComponent*, std::uint16_t h) { log.Add(text("data", h)); }));
  p.SetOnTimerTrigger(
      TTriggerHandleEvent(&p, "timer", [&log, text](platform::TComponent*, std::uint16_t h) { log.Add(text("timer", h)); }));
  p.SetOnStatusTrigger(TTriggerHandleEvent(
      &p, "status", [&log, text](platform::TComponent*, std::uint16_t h) { log.Add(text("status", h)); }));
  p.OnLineError = TLineErrorEvent(&p, "line", [&log, text](platform::TComponent*, std::uint16_t e, bool brk) {
    log.Add(text("line", e, brk ? "break" : "nobreak"));
  });
  p.OnModemStatus = TPortNotifyEvent(&p, "modem", [&log](platform::TComponent*) { log.Add("modem"); });
  p.OnOutputFree = TPortNotifyEvent(&p, "free", [&log](platform::TComponent*) { log.Add("free"); });
  p.OnOutputUsed = TPortNotifyEvent(&p, "used", [&log](platform::TComponent*) { log.Add("used"); });
  p.OnOutputSent = TPortNotifyEvent(&p, "sent", [&log](platform::TComponent*) { log.Add("sent"); });
}

TEST_F(PortSettings, EveryTriggerKindRaisesTheMessageEventThenItsOwn) {
  TEventLog log;
  AttachAll(port, log);
  TTestDevice& d = Open();
  const std::string dataHandle = std::to_string(d.CreateDataTrigger("!", false));
  const std::int32_t modem = d.CreateStatusTrigger(skModem);
  const std::int32_t line = d.CreateStatusTrigger(skLine);
  const std::int32_t freeRoom = d.CreateStatusTrigger(skOutFree);
  const std::int32_t used = d.CreateStatusTrigger(skOutUsed);
  const std::int32_t sent = d.CreateStatusTrigger(skOutSent);
  const std::int32_t timer = d.CreateTimerTrigger();
  struct Step {
    const char* name;
    std::function<void()> cause;
    std::vector<std::string> heard;
  };
  const Step steps[] = {
      {"avail",
       [&] {
         d.Feed("abc");
         d.FillInputBuffer();
         d.CheckDataTriggers();
       },
       {"msg 7e01 3 3", "avail 3"}},
      {"data",
       [&] {
         d.FlushInput();
         d.SetAvailThreshold(1000);
         d.Feed("!");
         d.FillInputBuffer();
         d.CheckDataTriggers();
       },
       {"msg 7e02 " + dataHandle + " 1", "data " + dataHandle}},
      {"modem",
       [&] {
         d.ArmStatusTrigger(modem, kModemCts << 8, true);
         d.modemLines = kModemCts;
         d.RefreshModemStatus();
         d.CheckStatusTriggers();
       },
       {"msg 7e04 " + std::to_string(modem) + " 0", "status " + std::to_string(modem), "modem"}},
      {"line",
       [&] {
         d.ArmStatusTrigger(line, kLineErrParity | kLineErrBreak, true);
         d.lineErrorBits = kLineErrParity | kLineErrBreak;
         d.RefreshLineErrors();
         d.CheckStatusTriggers();
       },
       {"msg 7e04 " + std::to_string(line) + " 0", "status " + std::to_string(line), "line 3 break"}},
      {"output free",
       [&] {
         d.ArmStatusTrigger(freeRoom, 4000, true);
         d.CheckStatusTriggers();
       },
       {"msg 7e04 " + std::to_string(freeRoom) + " 4096", "status " + std::to_string(freeRoom), "free"}},
      {"output used",
       [&] {
         d.WriteBlock("xyz", 3);
         d.ArmStatusTrigger(used, 5, true);
         d.CheckStatusTriggers();
       },
       {"msg 7e04 " + std::to_string(used) + " 3", "status " + std::to_string(used), "used"}},
      {"output sent",
       [&] {
         d.ArmStatusTrigger(sent, 0, true);
         d.WriteBlock("s", 1);
         d.CheckStatusTriggers();
       },
       {"msg 7e04 " + std::to_string(sent) + " 0", "status " + std::to_string(sent), "sent"}},
      {"timer",
       [&] {
         d.ArmTimerTrigger(timer, 0, true);
         for (int i = 0; i < 1000 && log.lines.empty(); ++i) {
           d.CheckTimerTriggers();
           std::this_thread::sleep_for(std::chrono::milliseconds(2));
         }
       },
       {"msg 7e03 " + std::to_string(timer) + " 0", "timer " + std::to_string(timer)}},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.name);
    log.lines.clear();
    step.cause();
    EXPECT_EQ(log.lines, step.heard);
  }
}

TEST_F(PortSettings, ThePortWindowHearsOnlyWhileATriggerEventIsAssigned) {
  TEventLog log;
  TTestDevice& d = Open();
  d.CreateDataTrigger("!", false);
  d.Feed("!");
  d.FillInputBuffer();
  d.CheckDataTriggers();
  EXPECT_FALSE(d.PortHasHandler());
  port.SetOnDataTrigger(TTriggerHandleEvent(&port, "data", [&log](platform::TComponent*, std::uint16_t) { log.Add("data"); }));
  EXPECT_TRUE(d.PortHasHandler());
  d.Feed("!");
  d.FillInputBuffer();
  d.CheckDataTriggers();
  EXPECT_EQ(log.lines, std::vector<std::string>{"data"});
  port.SetOnDataTrigger({});
  EXPECT_FALSE(d.PortHasHandler());
}

TEST_F(PortSettings, AnExceptionInAnEventStaysInThePortWindow) {
  std::string handled;
  platform::ExceptionHandler previous =
      platform::SetExceptionHandler([&](const std::exception& e) { handled = e.what(); });
  port.SetOnDataTrigger(TTriggerHandleEvent(&port, "data", [](platform::TComponent*, std::uint16_t) {
    throw EQsException(std::string("from the handler"));
  }));
  TTestDevice& d = Open();
  d.CreateDataTrigger("!", false);
  d.Feed("!");
  d.FillInputBuffer();
  EXPECT_NO_THROW(d.CheckDataTriggers());
  platform::SetExceptionHandler(previous);
  EXPECT_EQ(handled, "from the handler");
  EXPECT_FALSE(d.Dispatching());
}

// ---- Trace and dispatch log ------------------------------------------------------------------------

class PortDiagnostics : public PortSettings {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("qs-port-" + std::to_string(getpid()) + "-" +
                                       testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
    port.SetTraceName((dir / "port.trc").string());
    port.SetLogName((dir / "port.log").string());
  }
  void TearDown() override {
    port.SetOpen(false);
    fs::remove_all(dir);
  }
  static std::string Read(const fs::path& file) {
    std::ifstream in(file);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  fs::path dir;
};

TEST_F(PortDiagnostics, ClosingWritesTheTraceAndTheLogAndSwitchesThemOff) {
  port.SetTraceHex(false);
  port.SetTracing(tlOn);
  port.SetLogging(tlOn);
  TTestDevice& d = Open();
  EXPECT_TRUE(d.TraceRecording());
  EXPECT_TRUE(d.LogRecording());
  port.PutString("hello");
  port.SetOpen(false);
  EXPECT_EQ(port.Tracing(), tlOff);
  EXPECT_EQ(port.Logging(), tlOff);
  ASSERT_TRUE(fs::exists(dir / "port.trc"));
  EXPECT_NE(Read(dir / "port.trc").find("hello"), std::string::npos);
  EXPECT_TRUE(fs::exists(dir / "port.log"));
}

TEST_F(PortDiagnostics, AnEmptyTraceWritesNoFile) {
  port.SetTracing(tlOn);
  Open();
  port.SetOpen(false);
  EXPECT_FALSE(fs::exists(dir / "port.trc"));
}

TEST_F(PortDiagnostics, APausedTraceIsWrittenOnCloseAndTlOnSurvivesOnlyAsAWish) {
  port.SetTraceHex(false);
  port.SetTracing(tlOn);
  Open();
  port.PutString("before");
  port.SetTracing(tlPause);
  EXPECT_EQ(port.Tracing(), tlPause);
  EXPECT_FALSE(port.Device().TraceRecording());
  port.PutString("during");
  port.SetOpen(false);
  const std::string text = Read(dir / "port.trc");
  EXPECT_NE(text.find("before"), std::string::npos);
  EXPECT_EQ(text.find("during"), std::string::npos);
  port.SetTracing(tlOn);
  Open();
  EXPECT_TRUE(port.Device().TraceRecording()) << "a stored tlOn starts tracing at the next opening";
}

TEST_F(PortDiagnostics, StatesAndSizesWhileClosed) {
  struct Case {
    TTraceLogState from, to, stored;
  };
  const Case cases[] = {{tlOff, tlOn, tlOn},   {tlOff, tlDump, tlOff},  {tlOn, tlDump, tlOff},
                        {tlOn, tlAppend, tlOff}, {tlOn, tlPause, tlOff}, {tlOff, tlPause, tlOff},
                        {tlOn, tlClear, tlOff},  {tlOn, tlOff, tlOff}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << int(c.from) << "->" << int(c.to));
    TDeviceRecord r;
    TTestPort p(r);
    p.SetTracing(c.from);
    p.SetTracing(c.to);
    EXPECT_EQ(p.Tracing(), c.stored);
    p.SetLogging(c.from);
    p.SetLogging(c.to);
    EXPECT_EQ(p.Logging(), c.stored);
  }
  port.SetTraceSize(5'000'000);
  EXPECT_EQ(port.TraceSize(), kMaxTraceSize);
  port.SetLogSize(20'000'000);
  EXPECT_EQ(port.LogSize(), kMaxLogSize);
  port.SetTraceName(std::string(300, 'n'));
  EXPECT_EQ(port.TraceName().size(), 255u);
}

TEST_F(PortDiagnostics, CommandsWhileOpen) {
  port.SetTraceHex(false);
  TTestDevice& d = Open();
  port.SetTracing(tlPause);
  EXPECT_EQ(port.Tracing(), tlOff) << "pausing a trace that is off does nothing";
  port.SetTracing(tlOn);
  port.PutString("first");
  port.SetTracing(tlClear);
  EXPECT_EQ(port.Tracing(), tlOn);
  port.PutString("second");
  port.SetTracing(tlDump);
  EXPECT_EQ(port.Tracing(), tlOff);
  EXPECT_FALSE(d.TraceRecording());
  port.SetTracing(tlOn);
  port.PutString("third");
  port.SetTracing(tlAppend);
  const std::string text = Read(dir / "port.trc");
  EXPECT_EQ(text.find("first"), std::string::npos) << "cleared";
  EXPECT_NE(text.find("second"), std::string::npos);
  EXPECT_NE(text.find("third"), std::string::npos) << "appended";
  EXPECT_LT(text.find("second"), text.find("third"));

  // A new size restarts a running trace empty.
  port.SetTracing(tlOn);
  port.PutString("fourth");
  port.SetTraceSize(500);
  EXPECT_EQ(port.Tracing(), tlOn);
  port.PutString("fifth");
  port.SetTracing(tlDump);
  const std::string resized = Read(dir / "port.trc");
  EXPECT_EQ(resized.find("fourth"), std::string::npos);
  EXPECT_NE(resized.find("fifth"), std::string::npos);
}

TEST_F(PortDiagnostics, ADumpThatCannotBeWrittenStillClosesThePortAndRaises) {
  port.SetTracing(tlOn);
  port.SetTraceName((dir / "missing" / "port.trc").string());
  Open();
  port.PutString("data");
  EXPECT_THROW(port.SetOpen(false), platform::EInOutError);
  EXPECT_EQ(port.State(), psClosed);
  EXPECT_EQ(record.freed, 1);
  EXPECT_EQ(port.Tracing(), tlOff);
  EXPECT_NO_THROW(port.SetOpen(true)) << "the port can be used again";
}

// A file the system refuses reads as the system's errno text, whatever number the failure has:
// not the serial layer's text that shares the number (1: "Incorrect function.") nor the message
// table's (2: "File not found").
TEST_F(PortDiagnostics, AFileTheSystemRefusesReadsAsTheSystemsErrnoText) {
  struct Case {
    const char* name;
    int error;
    std::function<fs::path(const fs::path&)> make;  // prepares the failure, returns the trace name
  };
  const Case cases[] = {
      {"immutable file", EPERM,
       [](const fs::path& d) {
         const fs::path file = d / "immutable.trc";
         std::ofstream(file) << "old";
         const int fd = open(file.c_str(), O_RDONLY);
         int flags = 0;
         const bool made = fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 &&
                           (flags |= FS_IMMUTABLE_FL, ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0);
         if (fd >= 0) close(fd);
         return made ? file : fs::path();
       }},
      {"missing folder", ENOENT, [](const fs::path& d) { return d / "missing" / "x.trc"; }},
      {"a folder", EISDIR,
       [](const fs::path& d) {
         fs::create_directories(d / "folder.trc");
         return d / "folder.trc";
       }},
      {"through a file", ENOTDIR,
       [](const fs::path& d) {
         std::ofstream(d / "plain") << "x";
         return d / "plain" / "x.trc";
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path name = c.make(dir);
    if (name.empty()) {
      std::cout << "[ SKIPPED ] " << c.name << ": the file system keeps no immutable flag here\n";
      continue;
    }
    port.SetTraceName(name.string());
    port.SetTracing(tlOn);
    Open();
    port.PutString("data");
    try {
      port.SetTracing(tlDump);
      ADD_FAILURE() << "nothing raised";
    } catch (const platform::EInOutError& e) {
      EXPECT_EQ(e.ErrorCode(), c.error);
      EXPECT_EQ(e.Message(), strerrordesc_np(c.error));
    }
    port.SetOpen(false);
    if (c.error == EPERM) {  // the fixture removes the folder: the file must be writable again
      const int fd = open(name.c_str(), O_RDONLY);
      int flags = 0;
      if (fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
        flags &= ~FS_IMMUTABLE_FL;
        ioctl(fd, FS_IOC_SETFLAGS, &flags);
      }
      if (fd >= 0) close(fd);
    }
  }
}

}  // namespace
