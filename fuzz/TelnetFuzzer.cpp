// The telnet receive filter on any stream: the bytes delivered and the answers sent are the same
// however the stream is cut into arrivals; and any data, escaped for sending, filters back to itself.
#include <algorithm>
#include <string>
#include <vector>

#include "fuzz/FuzzInput.h"
#include "port/QsTelnet.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

struct TSink : telnet::TTelnetSink {
  Bytes sent;
  void SendAnswer(const std::uint8_t* bytes, std::size_t count) override { sent.insert(sent.end(), bytes, bytes + count); }
  void LogTelnet(telnet::TTelnetLogSubtype, std::uint32_t, const std::string&) override {}
};

const std::string kTerminalType = "vt100";
constexpr std::size_t kRingSize = 8192;

// Buffers kept from input to input, as large as a ring: where each arrival is filtered to (only its
// delivered part is ever read), and the storage of the three rings of a run (only held bytes are ever
// read). Fresh kilobytes per arrival cost the sanitizer's allocator more than the filter's work.
enum TBuffer { kOut, kWholeRing, kCutRing, kBackRing, kBuffers };
std::uint8_t* Buffer(TBuffer which) {
  static auto* buffers = new std::vector<Bytes>(kBuffers, Bytes(kRingSize));
  return (*buffers)[which].data();
}

// A ring larger than any input (a full ring has its own rule), fed arrival by arrival.
struct TRing {
  explicit TRing(TBuffer storage) : ring(Buffer(storage)) {}
  std::uint8_t* ring;
  std::size_t start = 0, count = 0;
  telnet::TTelnetState state;
  TSink sink;
  Bytes delivered;

  void Arrive(const std::uint8_t* bytes, std::size_t n) {
    // The bytes go in after the held ones, wrapping at the ring's end.
    const std::size_t at = (start + count) % kRingSize;
    const std::size_t first = std::min(n, kRingSize - at);
    std::copy(bytes, bytes + first, ring + at);
    std::copy(bytes + first, bytes + n, ring);
    count += n;
    std::uint8_t* out = Buffer(kOut);
    const telnet::TFilterResult r =
        state.FilterInput({ring, kRingSize, start, count}, out, kRingSize, false, sink, kTerminalType);
    FUZZ_CHECK(r.consumed <= count && r.delivered <= r.consumed);
    start = (start + r.consumed) % kRingSize;
    count -= r.consumed;
    delivered.insert(delivered.end(), out, out + r.delivered);
  }
};

}  // namespace

// Longer inputs are turned away (they only slow the run down).
FUZZ_LONGEST_INPUT(4000);

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > kLongestInput) return 0;
  fuzz::TInput input(data, size);
  const std::size_t cuts = input.Byte() % 16;
  std::vector<std::size_t> lengths;
  for (std::size_t k = 0; k < cuts; ++k) lengths.push_back(input.Byte());
  const std::string rest = input.Rest();
  const auto* stream = reinterpret_cast<const std::uint8_t*>(rest.data());

  TRing whole(kWholeRing);
  whole.Arrive(stream, rest.size());
  TRing cut(kCutRing);
  std::size_t at = 0;
  for (std::size_t length : lengths) {
    const std::size_t n = std::min(length, rest.size() - at);
    cut.Arrive(stream + at, n);
    at += n;
  }
  cut.Arrive(stream + at, rest.size() - at);
  FUZZ_CHECK(cut.delivered == whole.delivered);
  FUZZ_CHECK(cut.sink.sent == whole.sink.sent);
  FUZZ_CHECK(cut.count == whole.count);
  FUZZ_CHECK(cut.state.BinaryMode() == whole.state.BinaryMode());

  // Escaping round-trips (outside binary mode, where a CR is sent with its NUL).
  telnet::TTelnetState sender;
  // Room for every byte doubled, cut to the length used: no growth check per byte.
  Bytes escaped(2 * rest.size());
  std::size_t length = 0;
  for (std::size_t i = 0; i < rest.size(); ++i) {
    std::uint8_t form[2];
    const std::size_t n = sender.EscapeOutput(stream, i, rest.size(), form);
    FUZZ_CHECK(n == 1 || n == 2);
    std::copy(form, form + n, escaped.data() + length);
    length += n;
  }
  escaped.resize(length);
  TRing back(kBackRing);
  back.Arrive(escaped.data(), escaped.size());
  FUZZ_CHECK(std::equal(back.delivered.begin(), back.delivered.end(), stream, stream + rest.size()));
  FUZZ_CHECK(back.sink.sent.empty() && back.count == 0);
  return 0;
}
