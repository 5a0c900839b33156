#include "comm/QsPacket.h"

#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <thread>

#include "TestDevice.h"
#include "platform/Application.h"
#include "platform/Clock.h"

namespace {

// A port of the tests' own: a component that links a test device's dispatcher.
class TFakePort : public platform::TComponent, public TQsPortLink {
 public:
  explicit TFakePort(TTestDevice& device) : platform::TComponent(nullptr), device_(device) {}
  TQsBaseDispatcher* LinkDispatcher() const override { return open_ ? &device_ : nullptr; }
  bool LinkOpen() const override { return open_; }
  bool LinkLoading() const override { return IsLoading(); }
  platform::TComponent* LinkComponent() override { return this; }
  void RegisterLinkUser(const TQsPortLinkCallback& callback) override { users_.push_back(callback); }
  void UnregisterLinkUser(const TQsPortLinkCallback& callback) override { std::erase(users_, callback); }

  void SetOpen(bool open) {
    if (!open)
      for (auto& user : std::vector<TQsPortLinkCallback>(users_)) user(false);
    open_ = open;
    if (open)
      for (auto& user : std::vector<TQsPortLinkCallback>(users_)) user(true);
  }
  std::size_t UserCount() const { return users_.size(); }

 private:
  TTestDevice& device_;
  bool open_ = true;
  std::vector<TQsPortLinkCallback> users_;
};

void RunPass(TTestDevice& d) {
  d.FillInputBuffer();
  while (!d.Dispatching() && d.CheckAllTriggers() && !d.ClosePending()) {
  }
}

struct PacketDef {
  TPacketStartCond start = scAnyData;
  TPacketEndSet end = EndSet({ecString});
  std::string startString;
  std::string endString = "\r\n";
  int size = 0;
  bool include = true;
};

class PacketFixture : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(OpenTestDevice(device_), 0);
    device_.SetAvailThreshold(1);  // as a port does when it opens
  }

  TQsDataPacket& Make(const PacketDef& def) {
    packets_.push_back(std::make_unique<TQsDataPacket>(nullptr));
    TQsDataPacket& p = *packets_.back();
    p.SetStartCond(def.start);
    p.SetEndCond(def.end);
    p.SetStartString(def.startString);
    p.SetEndString(def.endString);
    p.SetPacketSize(def.size);
    p.SetIncludeStrings(def.include);
    p.SetTimeOut(0);
    p.SetComPort(&port_);
    p.OnStringPacket = TStringPacketNotifyEvent(this, "got", [this](platform::TComponent*, const std::string& s) {
      got_.push_back(s);
    });
    return p;
  }
  void Feed(const std::vector<std::string>& chunks) {
    for (const std::string& chunk : chunks) {
      device_.Feed(chunk);
      RunPass(device_);
    }
  }

  TTestDevice device_;
  TFakePort port_{device_};
  std::vector<std::unique_ptr<TQsDataPacket>> packets_;
  std::vector<std::string> got_;
};

// Every way of splitting bytes into two arrivals gives the same deliveries.
struct SplitCase {
  const char* name;
  PacketDef def;
  std::string bytes;
  std::vector<std::string> expected;
};

class PacketSplits : public PacketFixture, public testing::WithParamInterface<SplitCase> {};

TEST_P(PacketSplits, DeliverTheSameWhereverTheBytesAreSplit) {
  const SplitCase& c = GetParam();
  for (std::size_t split = 0; split <= c.bytes.size(); ++split) {
    SCOPED_TRACE("split at " + std::to_string(split));
    got_.clear();
    packets_.clear();
    Make(c.def).SetEnabled(true);
    Feed({c.bytes.substr(0, split), c.bytes.substr(split)});
    EXPECT_EQ(got_, c.expected);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Packets, PacketSplits,
    testing::Values(
        SplitCase{"TwoReplyLines", PacketDef{}, "220 ready\r\n331 pass\r\n", {"220 ready\r\n", "331 pass\r\n"}},
        SplitCase{"PartialEndMatchThatFails", PacketDef{}, "AB\r\r\n", {"AB\r\r\n"}},
        SplitCase{"StartStringAfterAFalseStart",
                  {scString, EndSet({ecPacketSize}), "AB", "", 3},
                  "xxAABz",
                  {"ABz"}},
        SplitCase{"WithoutStrings", {scString, EndSet({ecString}), "[", "]", 0, false}, "[abc]", {"abc"}},
        SplitCase{"SizeCountsTheStartString", {scString, EndSet({ecPacketSize}), "AB", "", 5}, "xABcdefg", {"ABcde"}},
        SplitCase{"SizeWinsOverEndStringOnTheSameByte",
                  {scAnyData, EndSet({ecString, ecPacketSize}), "", "cd", 4, false},
                  "abcd",
                  {"abcd"}},
        SplitCase{"StartOnlyPacket", {scString, 0, "AB", "", 0, true}, "zzABzzAB", {"AB", "AB"}},
        SplitCase{"StartOnlyWithoutStringsIsEmpty", {scString, 0, "AB", "", 0, false}, "zAB", {""}},
        SplitCase{"CaseIgnoredAndWildcards", {scString, EndSet({ecString}), "u?er", "\\?", 0, true},
                  "xUSER kw?", {"USER kw?"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PacketPattern, EscapesAndWildcards) {
  TPacketPattern p = TPacketPattern::Build("a\\?b?c\\", false);
  EXPECT_EQ(p.chars, "a?b?c");
  EXPECT_EQ(p.wild, (std::vector<bool>{false, false, false, true, false}));
  EXPECT_TRUE(p.Matches(3, 'z'));
  EXPECT_FALSE(p.Matches(1, 'z')) << "an escaped ? is literal";
  EXPECT_FALSE(p.Matches(0, 'A')) << "case counts without IgnoreCase";
  EXPECT_TRUE(TPacketPattern::Build("a", true).Matches(0, 'a'));
}

struct RefusalCase {
  const char* name;
  PacketDef def;
  int code;
};

class PacketRefusals : public PacketFixture, public testing::WithParamInterface<RefusalCase> {};

TEST_P(PacketRefusals, RaiseAndLeaveThePacketDisabled) {
  TQsDataPacket& p = Make(GetParam().def);
  try {
    p.SetEnabled(true);
    FAIL() << "no exception";
  } catch (const EInvalidProperty& e) {
    EXPECT_EQ(e.Code(), GetParam().code);
    EXPECT_EQ(e.Message(), MessageForCode(GetParam().code));
  }
  EXPECT_FALSE(p.Enabled());
}

INSTANTIATE_TEST_SUITE_P(
    Packets, PacketRefusals,
    testing::Values(RefusalCase{"EmptyStart", {scString, EndSet({ecString}), "", "\r\n"}, -5501},
                    RefusalCase{"StartLongerThanSize", {scString, EndSet({ecPacketSize}), "ABC", "", 2}, -5502},
                    RefusalCase{"AnyDataWithoutEnd", {scAnyData, 0, "", "", 0, true}, -5503},
                    RefusalCase{"EmptyEndString", {scAnyData, EndSet({ecString}), "", ""}, -5504},
                    RefusalCase{"ZeroSize", {scAnyData, EndSet({ecPacketSize}), "", "", 0}, -5505}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PacketFixture, BytesNoPacketCanUseAreDiscardedAtOnce) {
  Make({scString, EndSet({ecString}), "AB", "\r\n"}).SetEnabled(true);
  Feed({"zzzz"});
  ASSERT_NE(FindPacketManager(&port_), nullptr);
  EXPECT_EQ(FindPacketManager(&port_)->BufferCount(), 0u);
  EXPECT_EQ(FindPacketManager(&port_)->BufferCapacity(), 0u) << "an idle port holds no memory";
  Feed({"xA"});
  EXPECT_EQ(FindPacketManager(&port_)->BufferCount(), 2u) << "a begun match keeps its bytes";
  Feed({"B1\r\n"});
  EXPECT_EQ(got_, (std::vector<std::string>{"AB1\r\n"}));
}

TEST_F(PacketFixture, ClosingAndOpeningThePortRearmsEnabledPackets) {
  TQsDataPacket& p = Make({});
  p.SetEnabled(true);
  port_.SetOpen(false);
  EXPECT_TRUE(p.Enabled()) << "closing disarms without changing Enabled";
  port_.SetOpen(true);
  Feed({"221 bye\r\n"});
  EXPECT_EQ(got_, (std::vector<std::string>{"221 bye\r\n"}));
}

TEST_F(PacketFixture, TheManagerLivesWithItsPacketsAndFollowsThePort) {
  std::size_t before = PacketManagerCount();
  {
    TQsDataPacket a(nullptr), b(nullptr);
    a.SetComPort(&port_);
    b.SetComPort(&port_);
    EXPECT_EQ(PacketManagerCount(), before + 1) << "one manager per port";
    EXPECT_EQ(port_.UserCount(), 1u);
  }
  EXPECT_EQ(PacketManagerCount(), before);
  EXPECT_EQ(port_.UserCount(), 0u);
}

TEST_F(PacketFixture, AHandlerThatThrowsDoesNotStopTheNextDelivery) {
  TQsDataPacket& p = Make({});
  int calls = 0;
  p.OnPacket = TPacketNotifyEvent(this, "throws", [&](platform::TComponent*, const std::uint8_t*, int) {
    if (++calls == 1) throw std::runtime_error("handler failed");
  });
  std::string shown;
  auto previous = platform::SetExceptionHandler([&](const std::exception& e) { shown = e.what(); });
  p.SetEnabled(true);
  Feed({"1\r\n2\r\n"});
  platform::SetExceptionHandler(previous);
  EXPECT_EQ(shown, "handler failed");
  EXPECT_EQ(got_, (std::vector<std::string>{"1\r\n", "2\r\n"}));
}

TEST_F(PacketFixture, ACollectorThatSeesNoEndTimesOutAndStaysDisabled) {
  TQsDataPacket& p = Make({});
  p.SetTimeOut(18);  // about one second
  int timeouts = 0;
  p.OnTimeout = TPacketTimeoutEvent(this, "t", [&](platform::TComponent*) { ++timeouts; });
  p.SetEnabled(true);
  Feed({"no end in sight"});
  std::uint64_t start = platform::MonotonicMilliseconds();
  while (timeouts == 0 && platform::MonotonicMilliseconds() - start < 3000) {
    RunPass(device_);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_EQ(timeouts, 1);
  EXPECT_GE(platform::MonotonicMilliseconds() - start, 800u);
  EXPECT_FALSE(p.Enabled()) << "a timed-out packet stays disabled, AutoEnable or not";
}

TEST_F(PacketFixture, AnEndlessPacketCannotExhaustMemory) {
  Make({}).SetEnabled(true);
  std::string chunk(8000, 'x');
  for (int i = 0; i < 200; ++i) Feed({chunk});
  TQsDataPacketManager* m = FindPacketManager(&port_);
  EXPECT_LE(m->BufferCapacity(), TQsDataPacketManager::kMaxBuffer + 2 * 8192);
  Feed({"tail\r\n"});
  ASSERT_EQ(got_.size(), 1u) << "the packet started over and still works";
  EXPECT_LT(got_[0].size(), TQsDataPacketManager::kMaxBuffer + 8192);
}

}  // namespace
