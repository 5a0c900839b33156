// Opening and closing, the registry, and the input and output paths of the dispatcher, driven by
// hand over the test device (no service threads).
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "TestDevice.h"

namespace {

// Moves fed bytes into the ring the way the service does.
void Fill(TTestDevice& d, const std::string& bytes) {
  d.Feed(bytes);
  while (d.FillInputBuffer() && d.InputCount() < TQsInputRing::kSize) {
    TDeviceStatus s;
    d.DeviceStatus(s);
    if (s.inCount == 0) break;
  }
}

std::string Read(TTestDevice& d, int len) {
  std::string out(static_cast<std::size_t>(len), '\0');
  EXPECT_EQ(d.ReadBlock(out.data(), len), len);
  return out;
}

TEST(DispatcherOpen, FailuresLeaveAReleasedDispatcher) {
  struct Case {
    const char* what;
    int openResult, openErrno;
    bool setupOk;
    int setupErrno, setStateResult;
    int expected;
  };
  const Case cases[] = {
      {"missing event objects", -8, 0, true, 0, 0, -8},
      {"device missing", -1, 2, true, 0, 0, -2},
      {"device held", -1, 5, true, 0, 0, -5},
      {"setup refused", 3, 0, false, 22, 0, -22},
      {"setup refused without a reason", 3, 0, false, 0, 0, kErrHardware},
      {"line settings refused", 3, 0, true, 0, -87, -87},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TTestDevice d;
    d.openResult = c.openResult;
    d.openErrno = c.openErrno;
    d.setupOk = c.setupOk;
    d.setupErrno = c.setupErrno;
    d.setStateResult = c.setStateResult;
    d.deviceState.baudRate = 9600;  // so that opening at 115200 must apply the settings
    EXPECT_EQ(OpenTestDevice(d), c.expected);
    EXPECT_FALSE(d.InRingAllocated());
    EXPECT_EQ(d.releaseCalls.load(), 1);
  }
}

TEST(DispatcherOpen, OpenAllocatesAndCloseReleasesOnce) {
  TTestDevice d;
  ASSERT_EQ(OpenTestDevice(d, 1000, 600), 0);
  EXPECT_EQ(d.DeviceId(), 7);
  EXPECT_TRUE(d.InRingAllocated());
  EXPECT_EQ(d.OutputFree(), 600);
  EXPECT_EQ(d.InSize(), 1000);
  d.ClosePort();
  EXPECT_FALSE(d.InRingAllocated());
  EXPECT_EQ(d.closeCalls.load(), 1);
  EXPECT_EQ(d.releaseCalls.load(), 1);
  EXPECT_EQ((std::vector<int>{0, 1}), d.flushes) << "output, then input, before the device closes";
}

TEST(DispatcherRegistry, HandlesAreSlotsAndTheLowestFreeSlotIsReused) {
  const int before = TQsBaseDispatcher::RegistrySlotCount();
  auto a = std::make_unique<TTestDevice>();
  auto b = std::make_unique<TTestDevice>();
  auto c = std::make_unique<TTestDevice>();
  EXPECT_EQ(a->Handle(), before);
  EXPECT_EQ(b->Handle(), before + 1);
  EXPECT_EQ(c->Handle(), before + 2);
  b.reset();
  auto d = std::make_unique<TTestDevice>();
  EXPECT_EQ(d->Handle(), before + 1);
  EXPECT_EQ(TQsBaseDispatcher::DispatcherInSlot(before + 1), d.get());
  c.reset();
  d.reset();
  EXPECT_EQ(TQsBaseDispatcher::RegistrySlotCount(), before + 1) << "empty slots at the end are dropped";
  a.reset();
  EXPECT_EQ(TQsBaseDispatcher::RegistrySlotCount(), before);
}

class TOtherDevice : public TTestDevice {};

TEST(DispatcherRegistry, FindDispatcherChecksIdAndClassAndForgetsTheDestroyed) {
  auto plain = std::make_unique<TTestDevice>();
  auto other = std::make_unique<TOtherDevice>();
  plain->openResult = 41;
  other->openResult = 42;
  ASSERT_EQ(OpenTestDevice(*plain), 0);
  ASSERT_EQ(OpenTestDevice(*other), 0);
  EXPECT_EQ(TQsBaseDispatcher::FindDispatcher(41), plain.get());
  EXPECT_EQ(TQsBaseDispatcher::FindDispatcher(41), plain.get()) << "from the cache";
  EXPECT_EQ(TQsBaseDispatcher::FindDispatcher<TOtherDevice>(41), nullptr) << "wrong class";
  EXPECT_EQ(TQsBaseDispatcher::FindDispatcher<TOtherDevice>(42), other.get());
  EXPECT_EQ(TQsBaseDispatcher::FindDispatcher<TTestDevice>(42), other.get()) << "derived classes count";
  EXPECT_EQ(TQsBaseDispatcher::FindDispatcher(43), nullptr);
  other.reset();
  EXPECT_EQ(TQsBaseDispatcher::FindDispatcher(42), nullptr) << "the cache must not name a destroyed dispatcher";
}

TEST(DispatcherInput, FullRingIsCountedAndNotReadAgain) {
  TTestDevice d;
  ASSERT_EQ(OpenTestDevice(d), 0);
  Fill(d, std::string(8192, 'x') + "more");
  EXPECT_EQ(d.InputCount(), 8192);
  EXPECT_TRUE(d.InFull());
  const int reads = d.readCalls.load();
  EXPECT_TRUE(d.FillInputBuffer());
  EXPECT_EQ(d.readCalls.load(), reads) << "a full ring does not read";
  EXPECT_EQ(Read(d, 8192), std::string(8192, 'x'));
  EXPECT_EQ(d.InTail(), 0) << "8192 wraps to 0";
  EXPECT_FALSE(d.InFull());
  EXPECT_TRUE(d.FillInputBuffer());
  EXPECT_EQ(Read(d, 4), "more");
}

TEST(DispatcherInput, WrappingFillUsesTwoReadsAndReadsComeBackInOrder) {
  TTestDevice d;
  ASSERT_EQ(OpenTestDevice(d), 0);
  Fill(d, std::string(8000, 'a'));
  Read(d, 8000);
  std::string bytes;
  for (int i = 0; i < 500; ++i) bytes += static_cast<char>('A' + i % 26);
  d.Feed(bytes);
  const int reads = d.readCalls.load();
  EXPECT_TRUE(d.FillInputBuffer());
  EXPECT_EQ(d.readCalls.load() - reads, 2) << "one read up to the end of the ring, one from index 0";
  EXPECT_EQ(d.InHead(), 308);
  EXPECT_EQ(Read(d, 500), bytes);
}

TEST(DispatcherInput, ReadBeyondWhatIsHeldTakesNothing) {
  TTestDevice d;
  ASSERT_EQ(OpenTestDevice(d), 0);
  Fill(d, "hello");
  char buf[8];
  EXPECT_EQ(d.ReadBlock(buf, 6), kErrBufferIsEmpty);
  EXPECT_EQ(d.InputCount(), 5);
  EXPECT_EQ(Read(d, 5), "hello");
  EXPECT_EQ(d.ReadBlock(buf, -1), kErrBadArgument);
  EXPECT_EQ(d.ReadBlock(nullptr, 3), kErrBadArgument);
  EXPECT_EQ(d.ReadBlock(buf, 0), 0);
}

TEST(DispatcherInput, NothingIsReadWhileTheDeviceHoldsNothing) {
  TTestDevice d;
  ASSERT_EQ(OpenTestDevice(d), 0);
  EXPECT_FALSE(d.FillInputBuffer());
  EXPECT_EQ(d.readCalls.load(), 0);
}

TEST(DispatcherInput, FlushDiscardsHeldAndDeviceBytes) {
  TTestDevice d;
  ASSERT_EQ(OpenTestDevice(d), 0);
  Fill(d, "abc");
  d.Feed("def");
  EXPECT_EQ(d.FlushInput(), 0);
  EXPECT_EQ(d.InputCount(), 0);
  EXPECT_FALSE(d.FillInputBuffer()) << "the device's bytes went too";
}

TEST(DispatcherOutput, WriteRulesAtTheEdgesOfTheFreeRoom) {
  struct Case {
    const char* what;
    int queued, len, writeResult;
    int expected;
    bool outFull, deviceCalled;
  };
  const Case cases[] = {
      {"exactly the free room", 24, 40, -1, 0, true, true},
      {"one byte more than the room", 24, 41, -1, kErrOutputBufferTooSmall, false, false},
      {"length 0", 0, 0, -1, 0, false, false},
      {"accepted by nobody", 0, 10, 0, kErrPutBlockFail, false, true},
      {"taken in part (reported as a negative count)", 0, 10, -4, kErrPutBlockFail, false, true},
      {"taken in part", 0, 10, 6, kErrPutBlockFail, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TTestDevice d;
    ASSERT_EQ(OpenTestDevice(d, 4096, 64), 0);
    std::string queued(static_cast<std::size_t>(c.queued), 'q');
    if (c.queued > 0) {
      ASSERT_EQ(d.WriteBlock(queued.data(), c.queued), 0);
    }
    const int writesBefore = d.writeCalls.load();
    const int statusBefore = d.statusCalls.load();
    d.writeResult = c.writeResult;
    std::string bytes(static_cast<std::size_t>(c.len), 'w');
    EXPECT_EQ(d.WriteBlock(bytes.data(), c.len), c.expected);
    EXPECT_EQ(d.OutFull(), c.outFull);
    EXPECT_EQ(d.writeCalls.load() > writesBefore, c.deviceCalled);
    if (c.len == 0) {
      EXPECT_EQ(d.statusCalls.load(), statusBefore) << "no device operation at all";
    }
    if (c.deviceCalled) {
      EXPECT_TRUE(d.OutputSent());
    }
  }
}

TEST(DispatcherOutput, CountsComeFromTheDevice) {
  TTestDevice d;
  ASSERT_EQ(OpenTestDevice(d, 4096, 100), 0);
  ASSERT_EQ(d.WriteBlock("0123456789", 10), 0);
  EXPECT_EQ(d.OutputCount(), 10);
  EXPECT_EQ(d.OutputFree(), 90);
  EXPECT_EQ(d.FlushOutput(), 0);
  EXPECT_EQ(d.OutputCount(), 0);
  EXPECT_EQ(d.WriteBlock(nullptr, 3), kErrBadArgument);
}

TEST(DispatcherOutput, LineErrorsAccumulateAndWriteReplacesThem) {
  TTestDevice d;
  ASSERT_EQ(OpenTestDevice(d), 0);
  d.lineErrorBits = kLineErrOverrun | 0x100;  // bits above the five line errors are not kept
  d.RefreshLineErrors();
  d.lineErrorBits = kLineErrBreak;
  d.RefreshLineErrors();
  EXPECT_EQ(d.LineErrors(), kLineErrOverrun | kLineErrBreak);
  d.lineErrorBits = kLineErrParity;
  ASSERT_EQ(d.WriteBlock("x", 1), 0);
  EXPECT_EQ(d.LineErrors(), kLineErrParity);
}

}  // namespace
