// The FTP client's reply intake end to end: a loopback server plays the fuzz bytes as its control
// connection's replies, cut at fuzz-chosen points, then closes. Whatever it said, the client ends
// Idle once the server has closed, without crashing or hanging. The client stays in active mode and
// is only ever asked for control-connection operations, so that no reply can send it to any address
// but this machine's listener.
#include <string>
#include <vector>

#include "ftp/QsFtp.h"
#include "fuzz/FtpIntakePeer.h"
#include "fuzz/FuzzInput.h"
#include "tests/support/Pump.h"

namespace {

// Handles what is ready now, waiting at most waitMs for more.
void PumpBriefly(int waitMs) {
  platform::MSG msg;
  bool any = false;
  while (platform::PeekMessage(msg, platform::PM_REMOVE)) {
    platform::DispatchMessage(msg);
    any = true;
  }
  if (!any && waitMs > 0) platform::WaitMessage(waitMs);
}

class TClient : public TQsFtpClient {
 public:
  explicit TClient(std::uint8_t operations) : TQsFtpClient(nullptr), operations_(operations) {
    OnFtpStatus = TFtpStatusEvent(this, "status", [this](platform::TComponent*, TFtpStatusCode, const char*) { Next(); });
    OnFtpError = TFtpErrorEvent(this, "error", [this](platform::TComponent*, std::int32_t, const char*) { Next(); });
  }

 private:
  // Control-connection operations only, chosen by the input, when the client is ready for them.
  void Next() {
    if (FtpState() != fcReady || step_ >= 3) return;
    const int choice = (operations_ >> (2 * step_++)) & 3;
    if (choice == 1) ChangeDirectory("pub");
    if (choice == 2) QueryCurrentDirectory();
  }
  std::uint8_t operations_;
  int step_ = 0;
};

}  // namespace

// Longer inputs are turned away (they only slow the run down).
FUZZ_LONGEST_INPUT(4096);

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > kLongestInput) return 0;
  fuzz::TInput in(data, size);
  const std::uint8_t operations = in.Byte();
  const std::size_t cuts = in.Byte() % 8;
  std::vector<std::size_t> lengths;
  for (std::size_t k = 0; k < cuts; ++k) lengths.push_back(1 + in.Byte());
  const std::string replies = in.Rest();

  TClient client(operations);
  client.SetServerAddress("127.0.0.1");
  client.SetWsPort(std::to_string(fuzzpeer::ListenerPort()));
  client.SetUserName("u");
  client.SetPassword("p");
  client.SetPassiveMode(false);
  FUZZ_CHECK(client.LogOn());
  int peer = -1;
  FUZZ_CHECK(testpump::PumpUntil(
      [&] {
        peer = fuzzpeer::AcceptWaiting();
        return peer >= 0;
      },
      3000));

  std::size_t at = 0;
  lengths.push_back(replies.size());
  for (std::size_t length : lengths) {
    const std::size_t n = std::min(length, replies.size() - at);
    if (n > 0) fuzzpeer::Send(peer, replies.data() + at, n);
    at += n;
    fuzzpeer::Drain(peer);
    PumpBriefly(0);
    if (at == replies.size()) break;
  }
  fuzzpeer::Drain(peer);
  fuzzpeer::Close(peer);
  FUZZ_CHECK(testpump::PumpUntil([&] { return client.FtpState() == fcIdle; }, 5000));
  PumpBriefly(0);
  return 0;
}
