// The trace and the dispatch log: what they keep and their two file formats, byte for byte.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "TestDevice.h"
#include "comm/QsDiagText.h"
#include "platform/SysInfo.h"

namespace {

std::string TempName(const char* name) { return testing::TempDir() + "qs_" + std::to_string(getpid()) + "_" + name; }

std::string FileText(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

bool FileExists(const std::string& name) { return access(name.c_str(), F_OK) == 0; }

TEST(DiagText, DataBytesAreRenderedByMode) {
  struct Case {
    std::uint8_t b;
    bool hex, allHex;
    const char* text;
  };
  const Case cases[] = {
      {9, false, false, "[9]"},   {200, false, false, "[200]"}, {' ', false, false, " "},  {'A', false, false, "A"},
      {9, true, false, "[09]"},   {200, true, false, "[C8]"},   {' ', true, false, "[20]"}, {'~', true, false, "~"},
      {127, false, false, "[127]"}, {'A', false, true, "[41]"}, {33, true, false, "!"},     {10, false, false, "[10]"},
  };
  for (const Case& c : cases) EXPECT_EQ(RenderDataByte(c.b, c.hex, c.allHex), c.text) << int(c.b) << c.hex << c.allHex;
}

TEST(DiagText, LogTimesHaveSecondsAndMilliseconds) {
  EXPECT_EQ(LogTimeText(1234), "0001.234");
  EXPECT_EQ(LogTimeText(1234567), "1234.567");
  EXPECT_EQ(LogTimeText(12345678), "12345.678");
  EXPECT_EQ(LogTimeText(0), "0000.000");
  EXPECT_EQ(LogTimeText(7), "0000.007");
}

class Trace : public testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(OpenTestDevice(d), 0); }
  void TearDown() override { std::remove(file.c_str()); }
  TTestDevice d;
  std::string file = TempName("trace.trc");
};

TEST_F(Trace, KeepsTheNewestEntriesOfAWrappedBuffer) {
  ASSERT_EQ(d.StartTrace(3), 0);
  ASSERT_EQ(d.WriteBlock("abcde", 5), 0);
  EXPECT_EQ(d.DumpTrace(file, false, false), 0);
  EXPECT_EQ(FileText(file), "Transmit: cde");
  EXPECT_FALSE(d.TraceRecording()) << "a dump stops tracing";
}

TEST_F(Trace, SectionsByDirectionAreSeparatedByAnEmptyLine) {
  ASSERT_EQ(d.StartTrace(100), 0);
  d.Feed("in1");
  d.FillInputBuffer();
  char buf[8];
  ASSERT_EQ(d.ReadBlock(buf, 3), 3);
  ASSERT_EQ(d.WriteBlock("out", 3), 0);
  d.Feed("\tx");
  d.FillInputBuffer();
  ASSERT_EQ(d.ReadBlock(buf, 2), 2);
  EXPECT_EQ(d.DumpTrace(file, true, false), 0);
  EXPECT_EQ(FileText(file), "Receive: in1\r\n\r\nTransmit: out\r\n\r\nReceive: [09]x");
}

TEST_F(Trace, LinesBreakBeforeTheColumnCounterPasses78) {
  ASSERT_EQ(d.StartTrace(1000), 0);
  std::string bytes(76, 'a');
  bytes += "\x01";  // [1] takes three columns: 76 + 3 > 78
  bytes += std::string(80, 'b');
  ASSERT_EQ(d.WriteBlock(bytes.data(), static_cast<int>(bytes.size())), 0);
  EXPECT_EQ(d.DumpTrace(file, false, false), 0);
  const std::string expected =
      "Transmit: " + std::string(76, 'a') + "\r\n[1]" + std::string(75, 'b') + "\r\n" + std::string(5, 'b');
  EXPECT_EQ(FileText(file), expected);
}

TEST_F(Trace, AppendingKeepsTheFileAndEmptyTracesWriteNothing) {
  {
    std::ofstream(file, std::ios::binary) << "old|";
  }
  ASSERT_EQ(d.StartTrace(10), 0);
  ASSERT_EQ(d.WriteBlock("n", 1), 0);
  EXPECT_EQ(d.AppendTrace(file, false, false), 0);
  EXPECT_EQ(FileText(file), "old|Transmit: n");
  std::remove(file.c_str());
  ASSERT_EQ(d.StartTrace(10), 0);
  EXPECT_EQ(d.DumpTrace(file, false, false), 0);
  EXPECT_FALSE(FileExists(file)) << "nothing recorded, no file";
  EXPECT_EQ(d.DumpTrace(file, false, false), 0) << "no buffer at all";
  EXPECT_FALSE(FileExists(file));
}

TEST_F(Trace, SizeLimitsAndFileErrors) {
  EXPECT_EQ(d.StartTrace(4'000'001), kErrBadArgument);
  EXPECT_FALSE(d.TraceRecording());
  ASSERT_EQ(d.StartTrace(0), 0);
  EXPECT_TRUE(d.TraceRecording()) << "on, but records nothing";
  ASSERT_EQ(d.WriteBlock("x", 1), 0);
  EXPECT_EQ(d.DumpTrace(file, false, false), 0);
  EXPECT_FALSE(FileExists(file));
  ASSERT_EQ(d.StartTrace(10), 0);
  ASSERT_EQ(d.WriteBlock("x", 1), 0);
  d.PauseTrace();
  ASSERT_EQ(d.WriteBlock("y", 1), 0);
  d.ResumeTrace();
  ASSERT_EQ(d.WriteBlock("z", 1), 0);
  EXPECT_EQ(d.DumpTrace("/nonexistent-folder/x.trc", false, false), -ENOENT);
  EXPECT_FALSE(d.TraceRecording());
  ASSERT_EQ(d.StartTrace(10), 0);
  EXPECT_EQ(d.DumpTrace(file, false, false), 0) << "a failed dump discarded the trace";
  EXPECT_FALSE(FileExists(file));
}

std::uint32_t gNow = 0;
std::uint32_t FakeClock() { return gNow; }

class Log : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(OpenTestDevice(d, 64, 64), 0);
    d.SetLogClock(FakeClock);
    gNow = 0;
  }
  void TearDown() override { std::remove(file.c_str()); }
  // The lines after the five heading lines.
  std::string Body() {
    const std::string text = FileText(file);
    std::size_t pos = 0;
    for (int i = 0; i < 5; ++i) pos = text.find("\r\n", pos) + 2;
    return text.substr(pos);
  }
  TTestDevice d;
  std::string file = TempName("dispatch.log");
};

TEST_F(Log, HeadingNamesVersionCompilerAndSystem) {
  d.StartLog(1000);
  d.AddLogEntry(2, 6, 8);
  ASSERT_EQ(d.DumpLog(file, true, false), 0);
  const std::string expected = "QS v3.04\r\nCompiler : " + CompilerDescription() + "\r\nOperating System : " +
                               platform::OperatingSystemDescription().substr(0, 80) +
                               "\r\nTime      Type      SubType       Data      OtherData\r\n"
                               "--------  --------  ------------  --------  ---------\r\n";
  EXPECT_EQ(FileText(file).substr(0, expected.size()), expected);
  EXPECT_EQ(platform::OperatingSystemDescription().rfind("Linux ", 0), 0u);
}

TEST_F(Log, EntryLinesByKind) {
  struct Case {
    const char* what;
    std::uint8_t type, subType;
    std::uint32_t value;
    std::string data;
    std::uint32_t time;
    const char* line;
  };
  const Case cases[] = {
      {"timer fired", 2, 6, 0x18, "", 1234567, "1234.567  Trigger   Timer         00000018  \r\n"},
      {"late time", 2, 7, 0x20, "", 12345678, "12345.678  Trigger   Data          00000020  \r\n"},
      {"telnet option", 10, 20, 1, "", 0, "0000.000  Telnet    Sent WILL     00000001  [Echo]\r\n"},
      {"unknown telnet option", 10, 24, 50, "", 0, "0000.000  Telnet    Recv WILL     00000032  []\r\n"},
      {"status trigger freed", 6, 15, 0x1A, std::string(1, '\x02'), 5, "0000.005  TrigDisp  Status        0000001A  (Line status)\r\n"},
      {"no subtype", 3, 0, 0, "", 0, "0000.000  Error                   00000000  \r\n"},
      {"bytes", 1, 1, 3, "a\rb", 0, "0000.000  Dispatch  ReadCom       00000003  a[0D]b\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TTestDevice dev;
    ASSERT_EQ(OpenTestDevice(dev, 64, 64), 0);
    gNow = 0;
    dev.SetLogClock(FakeClock);
    dev.StartLog(1000);
    gNow = c.time;
    dev.AddLogEntry(c.type, c.subType, c.value, c.data.data(), static_cast<std::uint32_t>(c.data.size()));
    ASSERT_EQ(dev.DumpLog(file, true, false), 0);
    EXPECT_EQ(Body(), c.line);
  }
}

TEST_F(Log, LongDataWrapsUnderTheDataColumn) {
  d.StartLog(1000);
  const std::string data(40, 'x');
  d.AddLogEntry(1, 2, 40, data.data(), 40);
  ASSERT_EQ(d.DumpLog(file, false, false), 0);
  const std::string fixed = "0000.000  Dispatch  WriteCom      00000028  ";
  // The counter starts at 45: byte 34 brings it to 79 and goes on the next line.
  EXPECT_EQ(Body(), fixed + std::string(33, 'x') + "\r\n" + std::string(44, ' ') + std::string(7, 'x') + "\r\n");
}

TEST_F(Log, DumpEmptiesTheLogAndFailuresKeepIt) {
  d.StartLog(1000);
  d.AddLogEntry(2, 5, 1);
  EXPECT_EQ(d.DumpLog("/nonexistent-folder/x.log", false, false), -ENOENT);
  EXPECT_FALSE(d.LogRecording()) << "paused";
  ASSERT_EQ(d.DumpLog(file, false, false), 0);
  EXPECT_EQ(Body(), "0000.000  Trigger   Avail         00000001  \r\n") << "the entry survived the failed dump";
  std::remove(file.c_str());
  EXPECT_EQ(d.DumpLog(file, false, false), 0);
  EXPECT_FALSE(FileExists(file)) << "a second dump has nothing to write";
}

TEST_F(Log, OldEntriesMakeRoomAndOversizedOnesAreDropped) {
  d.StartLog(16 * 4);  // room for four bare entries... less one byte, see below
  for (std::uint32_t v = 1; v <= 6; ++v) d.AddLogEntry(2, 5, v);
  const std::string big(64, 'b');
  d.AddLogEntry(1, 1, 99, big.data(), 48);  // 16 + 48 = the log size: not kept
  d.AddLogEntry(1, 1, 98, big.data(), 65);  // larger than the scratch buffer (64): not kept
  ASSERT_EQ(d.DumpLog(file, false, false), 0);
  const std::string body = Body();
  EXPECT_EQ(body.find("00000002"), std::string::npos) << "the oldest were discarded whole";
  for (const char* v : {"00000003", "00000004", "00000005", "00000006"}) EXPECT_NE(body.find(v), std::string::npos) << v;
  EXPECT_EQ(body.find("00000063"), std::string::npos);
  EXPECT_EQ(body.find("00000062"), std::string::npos);
}

TEST_F(Log, TheDispatcherRecordsItsOwnEvents) {
  d.StartLog(10000);
  const std::int32_t timer = d.CreateTimerTrigger();
  d.ArmTimerTrigger(timer, 0, false);
  d.SetAvailThreshold(2);
  d.Feed("hi");
  d.FillInputBuffer();
  d.WriteBlock("yo", 2);
  d.DeleteTrigger(timer);
  ASSERT_EQ(d.DumpLog(file, false, false), 0);
  const std::string body = Body();
  for (const char* expected : {"TrigAllc  Timer         00000008  \r\n", "TrDatChg  Timer         00000008  Deactivated\r\n",
                               "TrDatChg  Avail         00000002  \r\n", "Dispatch  ReadCom       00000002  hi\r\n",
                               "Dispatch  WriteCom      00000002  yo\r\n", "TrigDisp  Timer         00000008  \r\n"})
    EXPECT_NE(body.find(expected), std::string::npos) << expected;
}

}  // namespace
