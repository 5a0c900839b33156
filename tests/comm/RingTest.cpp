// The input ring's count and free-space rules and the output ring's send-side rules.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <numeric>
#include <string>

#include "comm/QsInputRing.h"
#include "comm/QsOutputRing.h"

namespace {

// Brings a ring to head h, tail t and the full flag by storing and consuming bytes.
TQsInputRing RingAt(int head, int tail, bool full) {
  TQsInputRing ring;
  ring.Allocate();
  ring.AdvanceHead(tail);
  ring.AdvanceTail(tail);
  int held = full ? TQsInputRing::kSize : (head - tail + TQsInputRing::kSize) % TQsInputRing::kSize;
  while (held > 0) {
    const int step = std::min(held, TQsInputRing::kSize - ring.Head());
    ring.AdvanceHead(step);
    held -= step;
  }
  return ring;
}

TEST(InputRing, CountAndFreeSpaceFollowTheIndices) {
  struct Case {
    int head, tail;
    bool full;
    int count, freeBytes, firstChunk;
  };
  const Case cases[] = {
      {0, 0, false, 0, 8192, 8192},     {100, 100, false, 0, 8192, 8092}, {0, 0, true, 8192, 0, 0},
      {500, 500, true, 8192, 0, 0},     {300, 100, false, 200, 7992, 7892}, {100, 300, false, 7992, 200, 200},
      {0, 8000, false, 192, 8000, 8000}, {8191, 0, false, 8191, 1, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "head " << c.head << " tail " << c.tail << " full " << c.full);
    TQsInputRing ring = RingAt(c.head, c.tail, c.full);
    ASSERT_EQ(ring.Head(), c.head);
    ASSERT_EQ(ring.Tail(), c.tail);
    ASSERT_EQ(ring.Full(), c.full);
    EXPECT_EQ(ring.Count(), c.count);
    int freeBytes = -1, firstChunk = -1;
    ring.FreeSpace(freeBytes, firstChunk);
    EXPECT_EQ(freeBytes, c.freeBytes);
    EXPECT_EQ(firstChunk, c.firstChunk);
  }
}

TEST(InputRing, CopiesAcrossTheEndAndConsumes) {
  TQsInputRing ring;
  ring.Allocate();
  ring.AdvanceHead(8190);
  ring.AdvanceTail(8190);
  const std::string bytes = "abcdef";
  std::memcpy(ring.Data() + 8190, bytes.data(), 2);
  std::memcpy(ring.Data(), bytes.data() + 2, 4);
  ring.AdvanceHead(2);
  ring.AdvanceHead(4);
  ASSERT_EQ(ring.Count(), 6);
  std::string out(6, '\0');
  ring.CopyOut(0, reinterpret_cast<std::uint8_t*>(out.data()), 6);
  EXPECT_EQ(out, bytes);
  std::string tail(3, '\0');
  ring.CopyOut(1, reinterpret_cast<std::uint8_t*>(tail.data()), 3);
  EXPECT_EQ(tail, "bcd");
  ring.AdvanceTail(2);
  EXPECT_EQ(ring.Tail(), 0) << "index 8192 wraps to 0";
  EXPECT_EQ(ring.Count(), 4);
}

std::string Pending(TQsOutputRing& ring) {
  std::string all;
  const std::uint8_t* block;
  int len;
  // Takes every block as a sender would.
  while (ring.Pending() > 0) {
    ring.NextBlock(block, len);
    all.append(reinterpret_cast<const char*>(block), static_cast<std::size_t>(len));
    ring.Advance(len);
  }
  return all;
}

TEST(OutputRing, SendsEveryAcceptedByteOnceAndInOrder) {
  struct Case {
    const char* what;
    int consumedFirst;  // bytes appended and sent before the case's bytes, to place the indices
    int length;
  };
  const Case cases[] = {{"from the start", 0, 5},          {"up to the end exactly", 3, 13},
                        {"wrapping, made contiguous", 10, 12}, {"filling the ring", 6, 16},
                        {"filling from index 0", 0, 16}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TQsOutputRing ring;
    ring.Allocate(16);
    std::string filler(static_cast<std::size_t>(c.consumedFirst), 'x');
    ring.Append(reinterpret_cast<const std::uint8_t*>(filler.data()), c.consumedFirst);
    Pending(ring);
    std::string bytes(static_cast<std::size_t>(c.length), '\0');
    std::iota(bytes.begin(), bytes.end(), 'a');
    ring.Append(reinterpret_cast<const std::uint8_t*>(bytes.data()), c.length);
    EXPECT_EQ(ring.Pending(), c.length);
    EXPECT_EQ(ring.Full(), c.length == 16);
    EXPECT_EQ(Pending(ring), bytes);
    EXPECT_EQ(ring.Pending(), 0);
    EXPECT_EQ(ring.Head(), 0) << "an emptied ring starts over at 0";
    EXPECT_EQ(ring.Tail(), 0);
  }
}

TEST(OutputRing, PartialSendsOfAFullWrappedRingKeepTheCount) {
  TQsOutputRing ring;
  ring.Allocate(8);
  std::string first = "12345";
  ring.Append(reinterpret_cast<const std::uint8_t*>(first.data()), 5);
  ring.Advance(5);  // empty again, indices back at 0
  ring.Append(reinterpret_cast<const std::uint8_t*>(first.data()), 3);
  ring.Advance(3);
  ring.Append(reinterpret_cast<const std::uint8_t*>("ABCDEFGH"), 8);  // full, wrapping from index 3
  ASSERT_TRUE(ring.Full());
  const std::uint8_t* block;
  int len;
  ring.NextBlock(block, len);
  ASSERT_EQ(len, 8);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(block), 8), "ABCDEFGH");
  ring.Advance(3);
  EXPECT_EQ(ring.Pending(), 5);
  EXPECT_FALSE(ring.Full());
  EXPECT_EQ(Pending(ring), "DEFGH");
}

}  // namespace
