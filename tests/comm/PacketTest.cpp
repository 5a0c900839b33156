#include "comm/QsPacket.h"

#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <thread>

#include "TestDevice.h"
#include "platform/Application.h"
#include "platform/Clock.h"
#include "platform/Threads.h"

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

// A packet judged at every enable keeps its matching form between enables; a changed string or case
// rule must still be what the next enable arms.
struct RedefineCase {
  const char* name;
  void (*change)(TQsDataPacket&);
  std::string bytes;
  std::vector<std::string> expected;
};

class PacketRedefinitions : public PacketFixture, public testing::WithParamInterface<RedefineCase> {};

TEST_P(PacketRedefinitions, TheNextEnableArmsTheNewDefinition) {
  TQsDataPacket& p = Make({scString, EndSet({ecString}), "AB", "\r\n"});
  p.SetIgnoreCase(true);
  p.SetEnabled(true);
  Feed({"abx\r\n"});
  ASSERT_EQ(got_, (std::vector<std::string>{"abx\r\n"}));
  got_.clear();
  p.SetEnabled(false);
  GetParam().change(p);
  p.SetEnabled(true);
  Feed({GetParam().bytes});
  EXPECT_EQ(got_, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Packets, PacketRedefinitions,
    testing::Values(
        RedefineCase{"NewStartString", [](TQsDataPacket& p) { p.SetStartString("CD"); }, "ABy\r\nCDz\r\n", {"CDz\r\n"}},
        RedefineCase{"CaseCountsAgain", [](TQsDataPacket& p) { p.SetIgnoreCase(false); }, "aby\r\nABz\r\n", {"ABz\r\n"}},
        RedefineCase{"NewEndString", [](TQsDataPacket& p) { p.SetEndString(";"); }, "ABy\r\n;", {"ABy\r\n;"}},
        RedefineCase{"StartStringChangedAndBack",
                     [](TQsDataPacket& p) {
                       p.SetStartString("CD");
                       p.SetEnabled(true);
                       p.SetEnabled(false);
                       p.SetStartString("AB");
                     },
                     "CDx\r\nABy\r\n",
                     {"ABy\r\n"}}),
    [](const auto& info) { return std::string(info.param.name); });

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
                    RefusalCase{"ZeroSize", {scAnyData, EndSet({ecPacketSize}), "", "", 0}, -5505},
                    // A string that is nothing but an escape is as empty as "".
                    RefusalCase{"StartOnlyAnEscape", {scString, EndSet({ecString}), "\\", "\r\n"}, -5501},
                    RefusalCase{"EndOnlyAnEscape", {scAnyData, EndSet({ecString}), "", "\\"}, -5504},
                    RefusalCase{"NegativeSize", {scAnyData, EndSet({ecPacketSize}), "", "", -1}, -5505},
                    RefusalCase{"SizeBeyondTheBuffer",
                                {scAnyData, EndSet({ecPacketSize}), "", "",
                                 static_cast<int>(TQsDataPacketManager::kMaxBuffer) + 1},
                                -5506}),
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

// Counts what reaches the application's exception handler while it lives.
class TReportCounter {
 public:
  TReportCounter()
      : previous_(platform::SetExceptionHandler([this](const std::exception& e) { reports.push_back(e.what()); })) {}
  ~TReportCounter() { platform::SetExceptionHandler(previous_); }
  std::vector<std::string> reports;

 private:
  platform::ExceptionHandler previous_;
};

TEST_F(PacketFixture, EnablingABadPacketInsideAnEventRaisesThereAndLeavesItDisabled) {
  TReportCounter counter;
  TQsDataPacket& lines = Make({});
  TQsDataPacket& bad = Make({scString, EndSet({ecString}), "\\", "\r\n"});
  int raised = 0;
  lines.OnPacket = TPacketNotifyEvent(this, "enable", [&](platform::TComponent*, const std::uint8_t*, int) {
    try {
      bad.SetEnabled(true);
    } catch (const EInvalidProperty& e) {
      if (e.Code() == kErrStartStringEmpty) ++raised;
    }
  });
  lines.SetEnabled(true);
  Feed({"1\r\n2\r\n3\r\n"});
  EXPECT_EQ(got_, (std::vector<std::string>{"1\r\n", "2\r\n", "3\r\n"}));
  EXPECT_EQ(raised, 3) << "each enabling is refused to its caller";
  EXPECT_FALSE(bad.Enabled());
  EXPECT_TRUE(counter.reports.empty()) << "nothing leaks to the exception handler";
}

TEST_F(PacketFixture, APacketThatBecameBadIsReportedOnceWhenThePortOpens) {
  TReportCounter counter;
  TQsDataPacket& lines = Make({});
  TQsDataPacket& bad = Make({scString, EndSet({ecString}), "AB", "\r\n"});
  lines.SetEnabled(true);
  bad.SetEnabled(true);
  port_.SetOpen(false);
  bad.SetStartString("");  // a plain store: judged when the packet arms again
  port_.SetOpen(true);
  for (int i = 0; i < 10; ++i) Feed({"line\r\n"});
  EXPECT_EQ(got_.size(), 10u);
  ASSERT_EQ(counter.reports.size(), 1u) << "collector changes must not report it again";
  EXPECT_EQ(counter.reports[0], MessageForCode(kErrStartStringEmpty));
  EXPECT_FALSE(bad.Enabled());
}

// A packet that became bad is reported when the manager re-arms it by itself, in the middle of
// re-arming the others. The application may free or close anything when it hears of it.
enum class ReportFrom { Delivery, PortOpening, CollectorArmed };
enum class OnReport { FreeTheOthers, FreeAll, ClosePort };

struct BadReportCase {
  const char* name;
  ReportFrom from;
  OnReport action;
};

class BadPacketReport : public PacketFixture, public testing::WithParamInterface<BadReportCase> {};

TEST_P(BadPacketReport, TheApplicationMayFreeOrCloseAnythingWhenItHearsOfIt) {
  const BadReportCase& c = GetParam();
  const std::size_t managersBefore = PacketManagerCount();
  std::vector<std::string> reports;
  // The line packet first, then the bad one, then two more to re-arm after it; the collector
  // (an any-data packet) is enabled by the application only in its case.
  Make({});
  TQsDataPacket& bad = Make({scString, EndSet({ecString}), "AB", "\r\n"});
  Make({scString, EndSet({ecString}), "CD", "\r\n"});
  Make({scString, EndSet({ecString}), "EF", "\r\n"});
  TQsDataPacket& collector = Make({scAnyData, EndSet({ecPacketSize}), "", "", 4});
  for (std::size_t k = 0; k + 1 < packets_.size(); ++k) packets_[k]->SetEnabled(true);
  // Without the line packet collecting, the any-data packet takes over as the collector.
  if (c.from == ReportFrom::CollectorArmed) packets_[0]->SetEnabled(false);
  bad.SetStartString("");  // a plain store: judged when the packet arms again
  auto previous = platform::SetExceptionHandler([&](const std::exception& e) {
    reports.push_back(e.what());
    switch (c.action) {
      case OnReport::FreeTheOthers: packets_.resize(2); break;
      case OnReport::FreeAll: packets_.clear(); break;
      case OnReport::ClosePort: port_.SetOpen(false); break;
    }
  });
  switch (c.from) {
    case ReportFrom::Delivery: Feed({"line\r\n"}); break;
    case ReportFrom::PortOpening:
      port_.SetOpen(false);
      port_.SetOpen(true);
      break;
    case ReportFrom::CollectorArmed: collector.SetEnabled(true); break;
  }
  platform::SetExceptionHandler(previous);
  EXPECT_EQ(reports, std::vector<std::string>{MessageForCode(kErrStartStringEmpty)});
  if (c.action == OnReport::FreeAll) {
    EXPECT_EQ(PacketManagerCount(), managersBefore) << "the manager goes with its last packet";
    return;
  }
  EXPECT_FALSE(bad.Enabled());
  // What is left still works once the port is open.
  port_.SetOpen(true);
  got_.clear();
  if (packets_.size() > 4) packets_[4]->SetEnabled(false);
  packets_[0]->SetEnabled(true);
  Feed({"next\r\n"});
  EXPECT_EQ(got_, std::vector<std::string>{"next\r\n"});
}

INSTANTIATE_TEST_SUITE_P(
    Matrix, BadPacketReport,
    testing::Values(BadReportCase{"DeliveryFreesTheOthers", ReportFrom::Delivery, OnReport::FreeTheOthers},
                    BadReportCase{"DeliveryFreesAll", ReportFrom::Delivery, OnReport::FreeAll},
                    BadReportCase{"DeliveryClosesThePort", ReportFrom::Delivery, OnReport::ClosePort},
                    BadReportCase{"OpeningFreesTheOthers", ReportFrom::PortOpening, OnReport::FreeTheOthers},
                    BadReportCase{"OpeningFreesAll", ReportFrom::PortOpening, OnReport::FreeAll},
                    BadReportCase{"OpeningClosesThePort", ReportFrom::PortOpening, OnReport::ClosePort},
                    BadReportCase{"CollectorFreesTheOthers", ReportFrom::CollectorArmed, OnReport::FreeTheOthers},
                    BadReportCase{"CollectorFreesAll", ReportFrom::CollectorArmed, OnReport::FreeAll},
                    BadReportCase{"CollectorClosesThePort", ReportFrom::CollectorArmed, OnReport::ClosePort}),
    [](const testing::TestParamInfo<BadReportCase>& info) { return std::string(info.param.name); });

// What a handler does to the port or to its own packet from inside an event, and the invariants:
// the event sees the right bytes, nothing is reported, the manager goes with its last packet, and
// the next opening delivers again.
enum class Action { ClosePort, ReopenPort, FreePacket, DetachPacket };
enum class Event { Packet, StringPacket, Timeout };

struct LifetimeCase {
  const char* name;
  Event event;
  Action action;
};

class PacketLifetime : public PacketFixture, public testing::WithParamInterface<LifetimeCase> {};

TEST_P(PacketLifetime, AHandlerMayCloseReopenOrFreeFromInsideItsEvent) {
  const LifetimeCase& c = GetParam();
  TReportCounter counter;
  const std::size_t managersBefore = PacketManagerCount();
  TQsDataPacket* packet = &Make({});
  std::vector<std::string> seen;
  int events = 0;
  auto act = [&] {
    // Once: the test port keeps its unread bytes across a reopening, so they arrive again.
    if (++events > 1) return;
    switch (c.action) {
      case Action::ClosePort:
        port_.SetOpen(false);
        break;
      case Action::ReopenPort:
        port_.SetOpen(false);
        port_.SetOpen(true);
        break;
      case Action::FreePacket:
        packets_.clear();
        break;
      case Action::DetachPacket:
        packet->SetComPort(nullptr);
        break;
    }
  };
  if (c.event == Event::Packet) {
    packet->OnPacket = TPacketNotifyEvent(this, "act", [&](platform::TComponent*, const std::uint8_t* data, int size) {
      seen.emplace_back(reinterpret_cast<const char*>(data), static_cast<std::size_t>(size));
      act();
    });
    packet->OnStringPacket = TStringPacketNotifyEvent(this, "seen", [&](platform::TComponent*, const std::string& s) {
      seen.push_back(s);
    });
  } else if (c.event == Event::StringPacket) {
    packet->OnStringPacket = TStringPacketNotifyEvent(this, "act", [&](platform::TComponent*, const std::string& s) {
      seen.push_back(s);
      act();
    });
  } else {
    packet->SetTimeOut(1);
    packet->OnTimeout = TPacketTimeoutEvent(this, "act", [&](platform::TComponent*) { act(); });
  }
  packet->SetEnabled(true);
  Feed({c.event == Event::Timeout ? "no end" : "one\r\ntwo\r\n"});
  const std::uint64_t start = platform::MonotonicMilliseconds();
  while (events == 0 && platform::MonotonicMilliseconds() - start < 3000) {
    RunPass(device_);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_GE(events, 1);
  if (c.event == Event::Packet && c.action != Action::FreePacket && c.action != Action::DetachPacket) {
    ASSERT_GE(seen.size(), 2u);
    EXPECT_EQ(seen[1], "one\r\n") << "the string has the event's bytes, not the released buffer's";
  } else if (c.event != Event::Timeout) {
    EXPECT_EQ(seen.front(), "one\r\n");
  }
  EXPECT_TRUE(counter.reports.empty());

  // The next opening works: a fresh packet (or the surviving one) gets the next line.
  if (!port_.LinkOpen()) port_.SetOpen(true);
  packets_.clear();
  got_.clear();
  Make({}).SetEnabled(true);
  Feed({"next\r\n"});
  EXPECT_EQ(got_, (std::vector<std::string>{"next\r\n"}));
  packets_.clear();
  EXPECT_EQ(PacketManagerCount(), managersBefore) << "the manager went with its last packet";
}

INSTANTIATE_TEST_SUITE_P(
    Packets, PacketLifetime,
    testing::Values(LifetimeCase{"PacketClosesPort", Event::Packet, Action::ClosePort},
                    LifetimeCase{"PacketReopensPort", Event::Packet, Action::ReopenPort},
                    LifetimeCase{"PacketFreesPacket", Event::Packet, Action::FreePacket},
                    LifetimeCase{"PacketDetachesPacket", Event::Packet, Action::DetachPacket},
                    LifetimeCase{"StringClosesPort", Event::StringPacket, Action::ClosePort},
                    LifetimeCase{"StringReopensPort", Event::StringPacket, Action::ReopenPort},
                    LifetimeCase{"StringFreesPacket", Event::StringPacket, Action::FreePacket},
                    LifetimeCase{"TimeoutClosesPort", Event::Timeout, Action::ClosePort},
                    LifetimeCase{"TimeoutReopensPort", Event::Timeout, Action::ReopenPort},
                    LifetimeCase{"TimeoutFreesPacket", Event::Timeout, Action::FreePacket}),
    [](const auto& info) { return std::string(info.param.name); });

// On a dispatcher with its own threads the scan runs on the dispatch thread while the test thread
// arms and disarms packets; deliveries come on the test thread. Run under ThreadSanitizer this
// catches any unguarded state; without it, every line must still arrive whole.
TEST(PacketThreads, ArmingOnTheMainThreadWhileTheDispatchThreadDelivers) {
  TTestDevice device(true);
  ASSERT_EQ(OpenTestDevice(device), 0);
  device.SetAvailThreshold(1);
  TFakePort port(device);
  TQsDataPacket lines(nullptr), toggled(nullptr);
  for (TQsDataPacket* p : {&lines, &toggled}) {
    p->SetStartCond(scAnyData);
    p->SetEndCond(EndSet({ecString}));
    p->SetEndString("\r\n");
    p->SetTimeOut(0);
    p->SetComPort(&port);
  }
  std::vector<std::string> got;
  bool offMainThread = false;
  auto record = [&](platform::TComponent*, const std::string& s) {
    if (!platform::IsMainThread()) offMainThread = true;
    got.push_back(s);
  };
  lines.OnStringPacket = TStringPacketNotifyEvent(&got, "got", record);
  toggled.OnStringPacket = TStringPacketNotifyEvent(&got, "got", record);
  lines.SetEnabled(true);
  constexpr int kLines = 200;
  platform::TSyncEvent never(platform::TSyncEvent::rmManual);
  for (int i = 0; i < kLines; ++i) {
    device.Feed("line " + std::to_string(i) + "\r\n");
    toggled.SetEnabled(i % 2 == 0);
    toggled.SetPacketSize(i);
    platform::WaitForAnyEventPumping({&never}, 0);
  }
  const std::uint64_t start = platform::MonotonicMilliseconds();
  while (got.size() < kLines && platform::MonotonicMilliseconds() - start < 5000)
    platform::WaitForAnyEventPumping({&never}, 5);
  toggled.SetEnabled(false);
  EXPECT_EQ(got.size(), static_cast<std::size_t>(kLines));
  for (std::size_t i = 0; i < got.size(); ++i) EXPECT_EQ(got[i], "line " + std::to_string(i) + "\r\n");
  EXPECT_FALSE(offMainThread);
  device.StopDispatching();
}

}  // namespace
