// The headless output's lines: line breaks inside a text, and when lines leave for the stream (the
// first of a burst at once, the rest together within the flush interval, nothing left behind).
#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <streambuf>
#include <string>

#include "tests/support/Pump.h"
#include "ui/headless/LineWriter.h"

namespace {

// A stream buffer that shows its text only when flushed, and counts the flushes.
class FlushRecorder : public std::streambuf {
 public:
  std::string shown;
  int flushes = 0;

 protected:
  int_type overflow(int_type c) override {
    if (c != traits_type::eof()) waiting_ += static_cast<char>(c);
    return c;
  }
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    waiting_.append(s, static_cast<std::size_t>(n));
    return n;
  }
  int sync() override {
    shown += waiting_;
    waiting_.clear();
    ++flushes;
    return 0;
  }

 private:
  std::string waiting_;
};

int Lines(const std::string& text) { return static_cast<int>(std::count(text.begin(), text.end(), '\n')); }

TEST(OneLine, EachLineBreakBecomesOneBlank) {
  const struct {
    const char* text;
    const char* line;
  } cases[] = {
      {"a\r\nb", "a b"}, {"a\rb", "a b"}, {"a\nb", "a b"}, {"a\n\rb", "a  b"}, {"\r\n\r\n", "  "}, {"tab\tkept", "tab\tkept"}, {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(headless::OneLine(c.text), c.line) << c.text;
}

TEST(LineWriter, ABurstLeavesInTwoFlushesAndAQuietLineAtOnce) {
  FlushRecorder buffer;
  std::ostream out(&buffer);
  headless::LineWriter writer(out);
  for (int i = 0; i < 1000; ++i) writer.Write("status", "block " + std::to_string(i));
  EXPECT_EQ(buffer.shown, "status: block 0\n") << "the first line of a burst leaves at once";
  EXPECT_EQ(buffer.flushes, 1);

  ASSERT_TRUE(testpump::PumpUntil([&] { return Lines(buffer.shown) == 1000; }, 2000)) << "the rest waits for the loop's timer";
  EXPECT_EQ(buffer.flushes, 2);

  testpump::PumpFor(static_cast<int>(headless::kFlushMilliseconds) + 20);
  writer.Write("box", "Confirm | install now?");
  EXPECT_EQ(buffer.flushes, 3) << "after a quiet spell a line leaves at once";
  const std::string last = "box: Confirm | install now?\n";
  ASSERT_GE(buffer.shown.size(), last.size());
  EXPECT_EQ(buffer.shown.substr(buffer.shown.size() - last.size()), last);
}

TEST(LineWriter, WaitingLinesLeaveWhenTheWriterGoes) {
  FlushRecorder buffer;
  std::ostream out(&buffer);
  {
    headless::LineWriter writer(out);
    writer.Write("status", "first");
    writer.Write("answer", "no");
  }
  EXPECT_EQ(buffer.shown, "status: first\nanswer: no\n");
}

}  // namespace
