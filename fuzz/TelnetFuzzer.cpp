// The telnet receive filter on any stream: the bytes delivered and the answers sent are the same
// however the stream is cut into arrivals; and any data, escaped for sending, filters back to itself.
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

// A ring larger than any input (a full ring has its own rule), fed arrival by arrival.
struct TRing {
  Bytes ring = Bytes(8192);
  std::size_t start = 0, count = 0;
  telnet::TTelnetState state;
  TSink sink;
  Bytes delivered;

  void Arrive(const std::uint8_t* bytes, std::size_t n) {
    for (std::size_t k = 0; k < n; ++k) ring[(start + count++) % ring.size()] = bytes[k];
    Bytes out(ring.size());
    const telnet::TFilterResult r = state.FilterInput({ring.data(), ring.size(), start, count}, out.data(), out.size(),
                                                      false, sink, "vt100");
    FUZZ_CHECK(r.consumed <= count && r.delivered <= r.consumed);
    start = (start + r.consumed) % ring.size();
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
  Bytes escaped;
  for (std::size_t i = 0; i < rest.size(); ++i) {
    std::uint8_t form[2];
    const std::size_t n = sender.EscapeOutput(stream, i, rest.size(), form);
    FUZZ_CHECK(n == 1 || n == 2);
    escaped.insert(escaped.end(), form, form + n);
  }
  TRing back;
  back.Arrive(escaped.data(), escaped.size());
  FUZZ_CHECK(back.delivered == Bytes(stream, stream + rest.size()));
  FUZZ_CHECK(back.sink.sent.empty() && back.count == 0);
  return 0;
}
