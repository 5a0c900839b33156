#include "port/QsTelnet.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

using namespace telnet;
using Bytes = std::vector<std::uint8_t>;

namespace {

struct RecordingSink : TTelnetSink {
  Bytes sent;
  std::vector<std::pair<TTelnetLogSubtype, std::uint32_t>> log;
  void SendAnswer(const std::uint8_t* bytes, std::size_t count) override { sent.insert(sent.end(), bytes, bytes + count); }
  void LogTelnet(TTelnetLogSubtype subtype, std::uint32_t value, const std::string&) override {
    log.emplace_back(subtype, value);
  }
};

// Feeds bytes through a ring of the given capacity the way the receive path does: whatever was
// consumed leaves the ring, the rest waits for more.
struct Ring {
  std::size_t capacity;
  Bytes ring;
  std::size_t start = 0, count = 0;
  explicit Ring(std::size_t cap = 64) : capacity(cap), ring(cap) {}
  std::size_t Push(const Bytes& in) {
    std::size_t n = 0;
    for (; n < in.size() && count < capacity; ++n, ++count) ring[(start + count) % capacity] = in[n];
    return n;
  }
  Bytes Filter(TTelnetState& state, TTelnetSink& sink, std::size_t room = 1000) {
    Bytes out(room);
    TFilterResult r = state.FilterInput({ring.data(), capacity, start, count}, out.data(), room, count == capacity, sink,
                                        "vt100");
    start = (start + r.consumed) % capacity;
    count -= r.consumed;
    out.resize(r.delivered);
    return out;
  }
};

const Bytes kTermAnswer = {255, 250, 24, 0, 'v', 't', '1', '0', '0', 255, 240};

struct FilterCase {
  const char* name;
  std::vector<Bytes> arrivals;  // each is pushed, then filtered
  Bytes delivered;
  Bytes answers;
  std::size_t leftHeld;
  bool binaryAfter;
};

class TelnetFilter : public ::testing::TestWithParam<FilterCase> {};

TEST_P(TelnetFilter, DeliversSwallowsAndAnswers) {
  const FilterCase& c = GetParam();
  TTelnetState state;
  RecordingSink sink;
  Ring ring;
  Bytes delivered;
  for (const Bytes& arrival : c.arrivals) {
    ring.Push(arrival);
    Bytes out = ring.Filter(state, sink);
    delivered.insert(delivered.end(), out.begin(), out.end());
  }
  EXPECT_EQ(delivered, c.delivered);
  EXPECT_EQ(sink.sent, c.answers);
  EXPECT_EQ(ring.count, c.leftHeld);
  EXPECT_EQ(state.BinaryMode(), c.binaryAfter);
}

INSTANTIATE_TEST_SUITE_P(
    Telnet, TelnetFilter,
    ::testing::Values(
        FilterCase{"DoubledIacIsOneDataByte", {{72, 255, 255, 73}}, {72, 255, 73}, {}, 0, false},
        FilterCase{"DoTerminalTypeThenItsSubnegotiation",
                   {{255, 253, 24}, {255, 250, 24, 1, 255, 240}},
                   {},
                   [] {
                     Bytes b = {255, 251, 24};
                     b.insert(b.end(), kTermAnswer.begin(), kTermAnswer.end());
                     return b;
                   }(),
                   0,
                   false},
        FilterCase{"WillBinaryTurnsBinaryOnAndCrNulIsThenData", {{255, 251, 0}, {13, 0}}, {13, 0}, {255, 253, 0}, 0, true},
        FilterCase{"CrNulAndCrLfWhileNotBinary", {{13, 0, 10}}, {13, 10}, {}, 0, false},
        FilterCase{"CrFollowedByOtherByteKeepsThatByte", {{13, 65}}, {13, 65}, {}, 0, false},
        FilterCase{"OtherCommandIsSwallowedSilently", {{255, 241}}, {}, {}, 0, false},
        FilterCase{"EchoRequestsAnsweredEachTime",
                   {{255, 253, 1}, {255, 251, 1}, {255, 251, 1}},
                   {},
                   {255, 252, 1, 255, 253, 1, 255, 253, 1},
                   0,
                   false},
        FilterCase{"RefusalsForUnknownOptions",
                   {{255, 251, 31, 255, 253, 32, 255, 252, 3, 255, 254, 0}},
                   {},
                   {255, 254, 31, 255, 252, 32, 255, 254, 3, 255, 252, 0},
                   0,
                   false},
        FilterCase{"LoneIacWaitsForItsPartner", {{'a', 255}, {255}}, {'a', 255}, {}, 0, false},
        FilterCase{"LoneCrWaits", {{'a', 13}}, {'a'}, {}, 1, false},
        FilterCase{"CommandWithoutOptionWaits", {{255, 253}, {1}}, {}, {255, 252, 1}, 0, false},
        FilterCase{"UnfinishedSubnegotiationWaits", {{'x', 255, 250, 24, 1}}, {'x'}, {}, 4, false},
        FilterCase{"SequencesSplitAtEveryByte",
                   {{255}, {250}, {24}, {1}, {255}, {240}, {'o'}, {'k'}},
                   {'o', 'k'},
                   kTermAnswer,
                   0,
                   false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TelnetFilterRoom, StopsAtRoomAndResumesWhereItStopped) {
  TTelnetState state;
  RecordingSink sink;
  Ring ring;
  ring.Push({'0', '1', '2', '3', '4', '5', '6', '7', '8', '9'});
  EXPECT_EQ(ring.Filter(state, sink, 4), (Bytes{'0', '1', '2', '3'}));
  EXPECT_EQ(ring.count, 6u);
  EXPECT_EQ(ring.Filter(state, sink, 100), (Bytes{'4', '5', '6', '7', '8', '9'}));
}

TEST(TelnetFilterRoom, ASubnegotiationThatNeverEndsCannotBlockAFullRing) {
  TTelnetState state;
  RecordingSink sink;
  Ring ring(16);
  Bytes flood = {255, 250, 99};
  flood.resize(40, 'z');
  std::size_t pushed = ring.Push(flood);
  EXPECT_TRUE(ring.Filter(state, sink).empty());
  EXPECT_EQ(ring.count, 0u) << "the full ring was drained of the endless subnegotiation";
  // The rest of it streams in and is dropped, then normal data flows again.
  Bytes rest(flood.begin() + static_cast<long>(pushed), flood.end());
  rest.insert(rest.end(), {255, 240, 'o', 'k'});
  while (!rest.empty()) {
    std::size_t n = ring.Push(rest);
    rest.erase(rest.begin(), rest.begin() + static_cast<long>(n));
    Bytes out = ring.Filter(state, sink);
    if (rest.empty()) {
      EXPECT_EQ(out, (Bytes{'o', 'k'}));
    }
  }
  EXPECT_EQ(ring.count, 0u);
}

// Whether held bytes may be handed on without the filter: the answer must never promise bytes
// that the filter would change or hold, and must not refuse plain text.
struct PassCase {
  const char* name;
  Bytes before;  // filtered first: sets binary mode or starts dropping a subnegotiation
  std::size_t capacity;
  std::size_t start;  // where the held bytes begin in the ring
  Bytes held;
  std::size_t n;
  bool passes;
};

class TelnetPassesUnchanged : public ::testing::TestWithParam<PassCase> {};

TEST_P(TelnetPassesUnchanged, OnlyWhereTheFilterDeliversTheBytesAsTheyAre) {
  const PassCase& c = GetParam();
  TTelnetState state;
  RecordingSink sink;
  if (!c.before.empty()) {
    Ring first(16);
    first.Push(c.before);
    first.Filter(state, sink);
  }
  Bytes ring(c.capacity);
  for (std::size_t i = 0; i < c.held.size(); ++i) ring[(c.start + i) % c.capacity] = c.held[i];
  const THeldBytes held{ring.data(), c.capacity, c.start, c.held.size()};
  EXPECT_EQ(state.PassesUnchanged(held, c.n), c.passes);
  if (!c.passes) return;
  Bytes out(c.n);
  const TFilterResult r = state.FilterInput(held, out.data(), c.n, false, sink, "vt100");
  EXPECT_EQ(r.delivered, c.n);
  EXPECT_EQ(r.consumed, c.n);
  EXPECT_EQ(out, Bytes(c.held.begin(), c.held.begin() + static_cast<long>(c.n)));
}

INSTANTIATE_TEST_SUITE_P(
    Telnet, TelnetPassesUnchanged,
    ::testing::Values(PassCase{"PlainText", {}, 8, 0, {'a', 'b', 'c'}, 3, true},
                      PassCase{"PlainTextAcrossTheRingsEnd", {}, 8, 6, {'a', 'b', 'c', 'd'}, 4, true},
                      PassCase{"CommandBeyondTheRequestIsNotLookedAt", {}, 8, 0, {'a', 'b', 255, 251}, 2, true},
                      PassCase{"CommandWithinTheRequest", {}, 8, 0, {'a', 'b', 255, 255}, 3, false},
                      PassCase{"CommandAfterTheRingsEnd", {}, 8, 6, {'a', 'b', 'c', 255, 255}, 5, false},
                      PassCase{"CrWhileNotBinary", {}, 8, 0, {'a', 13, 10}, 3, false},
                      PassCase{"CrInBinaryMode", {255, 251, 0}, 8, 0, {'a', 13, 0}, 3, true},
                      PassCase{"WhileASubnegotiationIsDropped",
                               {255, 250, 99, 'z', 'z', 'z', 'z', 'z', 'z', 'z', 'z', 'z', 'z', 'z', 'z', 'z'},
                               8,
                               0,
                               {'a', 'b'},
                               2,
                               false}),
    [](const auto& info) { return std::string(info.param.name); });

struct EscapeCase {
  const char* name;
  bool binary;
  Bytes source;
  Bytes stored;
};

class TelnetEscape : public ::testing::TestWithParam<EscapeCase> {};

TEST_P(TelnetEscape, StoresEachByteInItsSendForm) {
  const EscapeCase& c = GetParam();
  TTelnetState state;
  if (c.binary) {
    RecordingSink sink;
    Ring ring;
    ring.Push({255, 251, 0});
    ring.Filter(state, sink);
  }
  Bytes stored;
  for (std::size_t i = 0; i < c.source.size(); ++i) {
    std::uint8_t form[2];
    std::size_t n = state.EscapeOutput(c.source.data(), i, c.source.size(), form);
    stored.insert(stored.end(), form, form + n);
  }
  EXPECT_EQ(stored, c.stored);
}

INSTANTIATE_TEST_SUITE_P(Telnet, TelnetEscape,
                         ::testing::Values(EscapeCase{"TenIacsBecomeTwenty", false, Bytes(10, 255), Bytes(20, 255)},
                                           EscapeCase{"CrLfUnchanged", false, {13, 10}, {13, 10}},
                                           EscapeCase{"CrBeforeOtherGetsNul", false, {13, 65}, {13, 0, 65}},
                                           EscapeCase{"BinaryCrIsPlain", true, {13, 65}, {13, 65}},
                                           EscapeCase{"TrailingCrGetsNul", false, {'a', 13}, {'a', 13, 0}}),
                         [](const auto& info) { return std::string(info.param.name); });

// Everything the filter produces for a stream: delivered bytes, answers, log, the bytes left held.
struct FilterRun {
  Bytes delivered;
  Bytes answers;
  std::vector<std::pair<TTelnetLogSubtype, std::uint32_t>> log;
  std::size_t leftHeld = 0;
  bool binary = false;
  bool operator==(const FilterRun&) const = default;
};

// Pushes the stream in cuts of cut() bytes into a ring of the given capacity and filters after each
// push into room() bytes of output, until the stream is in and nothing more moves.
template <typename Cut, typename Room>
FilterRun RunFilter(const Bytes& stream, std::size_t capacity, Cut cut, Room room) {
  TTelnetState state;
  RecordingSink sink;
  Ring ring(capacity);
  FilterRun run;
  std::size_t at = 0;
  for (int idle = 0; idle < 3;) {
    const std::size_t want = std::min(stream.size() - at, cut());
    at += ring.Push(Bytes(stream.begin() + static_cast<long>(at), stream.begin() + static_cast<long>(at + want)));
    const std::size_t before = ring.count;
    Bytes out = ring.Filter(state, sink, room());
    run.delivered.insert(run.delivered.end(), out.begin(), out.end());
    idle = at == stream.size() && ring.count == before ? idle + 1 : 0;
  }
  run.answers = sink.sent;
  run.log = sink.log;
  run.leftHeld = ring.count;
  run.binary = state.BinaryMode();
  return run;
}

// A stream of text runs mixed with every kind of sequence the filter treats specially.
Bytes RandomTelnetStream(std::mt19937& rng, std::size_t pieces) {
  const std::vector<Bytes> specials = {{255, 255},      {255, 253, 1},  {255, 251, 0},     {255, 252, 0},
                                       {255, 241},      {13, 10},       {13, 0},           {13, 'q'},
                                       {255, 250, 24, 1, 255, 240},     {255, 254, 3},     {255, 251, 3}};
  Bytes s;
  for (std::size_t i = 0; i < pieces; ++i) {
    if (rng() % 3 == 0) {
      const Bytes& b = specials[rng() % specials.size()];
      s.insert(s.end(), b.begin(), b.end());
    } else {
      for (std::size_t n = rng() % 40; n > 0; --n) s.push_back(static_cast<std::uint8_t>(rng() % 256 == 255 ? 'z' : rng() % 255));
    }
  }
  s.push_back('.');  // nothing pending at the end
  return s;
}

struct SplitCase {
  const char* name;
  std::size_t capacity;
  std::size_t maxCut;   // arrivals of 1..maxCut bytes
  std::size_t maxRoom;  // output room of 1..maxRoom bytes
};

class TelnetFilterSplits : public ::testing::TestWithParam<SplitCase> {};

// However the stream is cut, wrapped in the ring or limited in room, the result is that of feeding
// it one byte at a time.
TEST_P(TelnetFilterSplits, SameResultAsOneByteAtATime) {
  const SplitCase& c = GetParam();
  std::mt19937 rng(17);
  for (int round = 0; round < 200; ++round) {
    const Bytes stream = RandomTelnetStream(rng, 1 + rng() % 60);
    const FilterRun byByte = RunFilter(stream, 64, [] { return std::size_t{1}; }, [] { return std::size_t{1000}; });
    const FilterRun split = RunFilter(stream, c.capacity, [&] { return 1 + rng() % c.maxCut; },
                                      [&] { return 1 + rng() % c.maxRoom; });
    ASSERT_EQ(split, byByte) << c.name << " round " << round;
  }
}

INSTANTIATE_TEST_SUITE_P(Telnet, TelnetFilterSplits,
                         ::testing::Values(SplitCase{"WholeArrivalsBigRoom", 4096, 4096, 8192},
                                           SplitCase{"SmallRingWrapsOften", 16, 16, 64},
                                           SplitCase{"OddRingTinyRoom", 13, 9, 3},
                                           SplitCase{"MidSizedCuts", 257, 100, 300}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
