// The input path takes no memory: filling the ring, scanning it for data triggers, notifying
// handlers, reading and writing are counted with a replaced global allocator.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <string>

#include "TestDevice.h"

namespace {
thread_local bool tCounting = false;
thread_local long tAllocations = 0;
}  // namespace

void* operator new(std::size_t size) {
  if (tCounting) ++tAllocations;
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

struct TReader {
  TQsBaseDispatcher* d;
  char buf[64] = {};
  long got = 0;
  void On(platform::UINT msg, platform::WPARAM first, platform::LPARAM second) {
    const int len = msg == DM_AVAIL ? static_cast<int>(first) : static_cast<int>(second & 0xFFFF);
    if (len > 0 && len <= 64 && d->ReadBlock(buf, len) == len) got += len;
  }
};

TEST(InputPath, TakesNoMemory) {
  TTestDevice d;
  ASSERT_EQ(OpenTestDevice(d), 0);
  TReader reader{&d};
  d.AddMethodHandler(TQsNotifyMethod::Of<&TReader::On>(&reader));
  d.CreateDataTrigger("\r\n", false);
  d.CreateDataTrigger("END", true);
  d.SetAvailThreshold(1);
  const std::string chunk = "230 User logged in, proceed.\r\n150 end of listing\r\n";
  long fed = 0;
  tAllocations = 0;
  tCounting = true;
  for (int i = 0; i < 200; ++i) {
    d.Feed(chunk);
    fed += static_cast<long>(chunk.size());
    d.FillInputBuffer();
    while (d.CheckAllTriggers()) {
    }
    d.WriteBlock("NOOP\r\n", 6);
  }
  tCounting = false;
  EXPECT_EQ(tAllocations, 0);
  EXPECT_EQ(reader.got, fed) << "every byte went through the handlers";
}

}  // namespace
