// The telnet receive filter on any stream: the bytes delivered and the answers sent are the same
// however the stream is cut into arrivals; and any data, escaped for sending, filters back to itself.
#include <algorithm>
#include <memory>
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

// Where each arrival is filtered to: as large as the ring, kept from input to input (only its
// delivered part is ever read), so a run does not clear kilobytes per arrival.
Bytes& Scratch() {
  static auto* out = new Bytes(8192);
  return *out;
}

// A ring larger than any input (a full ring has its own rule), fed arrival by arrival.
struct TRing {
  static constexpr std::size_t kSize = 8192;
  // Left uninitialised: only held bytes are ever read.
  std::unique_ptr<std::uint8_t[]> ring = std::make_unique_for_overwrite<std::uint8_t[]>(kSize);
  std::size_t start = 0, count = 0;
  telnet::TTelnetState state;
  TSink sink;
  Bytes delivered;

  void Arrive(const std::uint8_t* bytes, std::size_t n) {
    // The bytes go in after the held ones, wrapping at the ring's end.
    const std::size_t at = (start + count) % kSize;
    const std::size_t first = std::min(n, kSize - at);
    std::copy(bytes, bytes + first, ring.get() + at);
    std::copy(bytes + first, bytes + n, ring.get());
    count += n;
    Bytes& out = Scratch();
    const telnet::TFilterResult r =
        state.FilterInput({ring.get(), kSize, start, count}, out.data(), out.size(), false, sink, kTerminalType);
    FUZZ_CHECK(r.consumed <= count && r.delivered <= r.consumed);
    start = (start + r.consumed) % kSize;
    count -= r.consumed;
    delivered.insert(delivered.end(), out.begin(), out.begin() + static_cast<long>(r.delivered));
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 4000) return 0;
  fuzz::TInput input(data, size);
  const std::size_t cuts = input.Byte() % 16;
  std::vector<std::size_t> lengths;
  for (std::size_t k = 0; k < cuts; ++k) lengths.push_back(input.Byte());
  const std::string rest = input.Rest();
  const auto* stream = reinterpret_cast<const std::uint8_t*>(rest.data());

  TRing whole;
  whole.Arrive(stream, rest.size());
  TRing cut;
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
  TRing back;
  back.Arrive(escaped.data(), escaped.size());
  FUZZ_CHECK(back.delivered == Bytes(stream, stream + rest.size()));
  FUZZ_CHECK(back.sink.sent.empty() && back.count == 0);
  return 0;
}
