// The Winsock dispatcher's service on the GUI thread: the 50 ms timer procedure, the "qsDispatch"
// window that read notices are sent to, and DispatchEvents, which fills the input ring and runs
// the trigger checks.
#include <chrono>

#include "comm/QsExcept.h"
#include "platform/Application.h"
#include "port/QsWsDispatch.h"

namespace {

constexpr char kDispatchWindowClass[] = "qsDispatch";
constexpr std::uint8_t kLogTypeError = 3;
// A pass fills the input ring and runs the triggers again while the socket keeps delivering,
// instead of leaving each fill (at most the input ring's size) to its own trip through the message
// loop and the socket notices. Bounded, so that the loop's other messages, timers and connections
// get their turn; a pass cut short by the bound is followed by the next one at once.
constexpr int kMaxFillsPerPass = 32;
constexpr std::chrono::milliseconds kMaxPassTime{4};
constexpr int kFillsPerClockCheck = 4;

// Clears a flag however the scope is left.
class TFlagScope {
 public:
  explicit TFlagScope(bool& flag) : flag_(flag) { flag_ = true; }
  ~TFlagScope() { flag_ = false; }
  TFlagScope(const TFlagScope&) = delete;
  TFlagScope& operator=(const TFlagScope&) = delete;

 private:
  bool& flag_;
};

TQsWinsockDispatcher* DispatcherOfTimer(platform::UINT_PTR id) {
  TQsBaseDispatcher::Guard guard(TQsBaseDispatcher::RegistryLock());
  for (int slot = 0; slot < TQsBaseDispatcher::RegistrySlotCount(); ++slot) {
    auto* d = dynamic_cast<TQsWinsockDispatcher*>(TQsBaseDispatcher::DispatcherInSlot(slot));
    if (d != nullptr && d->TimerId() == id) return d;
  }
  return nullptr;
}

}  // namespace

void TQsWinsockDispatcher::StartDispatching() {
  if (Started()) throw EQsException(std::string("Dispatcher already started"));
  SetStarted(true);
  SetTimerId(platform::SetTimer(0, 0, kWsServiceTimerMs, &TQsWinsockDispatcher::TimerProc));
  if (TimerId() == 0) throw EQsException(std::string("Resource not available"));
  // Registered once per process; a second registration fails harmlessly.
  static const bool registered [[maybe_unused]] =
      platform::RegisterWindowClass(kDispatchWindowClass, &TQsWinsockDispatcher::WindowProc);
  CreateDispatcherWindow();
}

void TQsWinsockDispatcher::StopDispatching() {
  if (!Started()) return;
  platform::KillTimer(0, TimerId());
  SetTimerId(0);
  if (DispatcherWindow() != 0) platform::DestroyWindow(DispatcherWindow());
  SetDispatcherWindow(0);
  SetStarted(false);
}

void TQsWinsockDispatcher::TimerProc(platform::HWND /*hwnd*/, platform::UINT /*msg*/, platform::UINT_PTR idEvent,
                                     std::uint32_t time) {
  if (TQsWinsockDispatcher* d = DispatcherOfTimer(idEvent))
    platform::GuardHandler([&] { d->DispatchEvents(0, false, static_cast<platform::LPARAM>(time)); });
}

platform::LRESULT TQsWinsockDispatcher::WindowProc(platform::HWND hwnd, platform::UINT msg, platform::WPARAM wParam,
                                                   platform::LPARAM lParam) {
  if (msg != SocketMessage) return platform::DefWindowProc(hwnd, msg, wParam, lParam);
  platform::LRESULT result = 0;
  if (auto* d = FindDispatcher<TQsWinsockDispatcher>(static_cast<int>(wParam)))
    platform::GuardHandler([&] { result = d->DispatchEvents(SocketMessage, false, lParam); });
  return result;
}

void TQsWinsockDispatcher::RunTriggers() {
  SetStatusHit(false);
  while (!ClosePending() && CheckAllTriggers()) {
  }
  if (StatusHit()) ClearStatusHits();
}

int TQsWinsockDispatcher::DispatchEvents(platform::UINT /*message*/, bool pollOnly, platform::LPARAM /*param*/) {
  if (inDispatch_) return 0;
  // A handler may free the port and with it this dispatcher: that waits for the pass to end.
  TQsDispatcherPin pin(*this);
  bool triggersRan = false;
  bool cut = false;
  std::size_t heldBefore = 0;
  {
    TFlagScope inDispatch(inDispatch_);
    const auto start = std::chrono::steady_clock::now();
    for (int fill = 0; !ClosePending(); ++fill) {
      RefreshLineErrors();
      std::uint32_t inCount;
      {
        Guard out(OutputLock());
        inCount = StatusCounts().inCount;
      }
      if (fill > 0 && inCount == 0) break;  // nothing more came: the pass ends as a single fill's would
      heldBefore = inCount;
      if (inCount > 0) FillInputBuffer();
      if (pollOnly || Dispatching()) {
        if (LogRecording()) AddLogEntry(kLogTypeError, 0, 0);
        break;
      }
      RunTriggers();
      triggersRan = true;
      if (ClosePending() || !MayFillAgain(heldBefore)) break;
      // The clock is read every few fills only: it costs as much as a small fill's own work.
      const bool late = fill % kFillsPerClockCheck == kFillsPerClockCheck - 1 &&
                        std::chrono::steady_clock::now() - start >= kMaxPassTime;
      if (fill + 1 == kMaxFillsPerPass || late) {
        cut = true;
        break;
      }
    }
  }
  if (triggersRan && !ClosePending()) FollowUp(heldBefore, cut);
  if (ClosePending()) ReleasePort();
  return 0;
}

bool TQsWinsockDispatcher::MayFillAgain(std::size_t heldBefore) {
  TWsConnection* c = Connection();
  if (c == nullptr || !c->LinkUp() || InFull()) return false;
  // The fill moved bytes on (the input ring had room), and more may wait in the ring or the socket.
  const std::size_t held = c->ReceiveRing().Count();
  return held < heldBefore && (held > 0 || !c->AtEnd());
}

void TQsWinsockDispatcher::FollowUp(std::size_t heldBefore, bool cut) {
  TWsConnection* c = Connection();
  if (c == nullptr) return;
  const std::size_t held = c->ReceiveRing().Count();
  // An application that leaves the input ring full reads no more: its peer's close is not held up.
  const bool stuck = InFull() && held > 0 && held >= heldBefore;
  // Bytes the receive filter holds back for a sequence that the closed peer will never finish (a
  // lone CR as its last byte) cannot be delivered by any later pass: they do not hold up the close.
  const bool unfinished = c->AtEnd() && held > 0 && held >= heldBefore;
  if (c->PeerClosed() && (c->Drained() || stuck || unfinished)) {
    // Everything the peer sent has been offered to the handlers: now its close is told.
    DeviceSocket().FinishDisconnect(c);
    return;
  }
  // A pass takes a bounded number of fills: while the connection still holds bytes (or a closed
  // peer's last ones wait in the socket, or the pass was cut short while bytes kept coming) and
  // the pass moved some, the next follows at once.
  const bool moved = held < heldBefore;
  const bool more = held > 0 || (c->PeerClosed() && !c->Drained()) || (cut && !c->AtEnd());
  if (more && moved && !InFull() && DispatcherWindow() != 0)
    platform::PostMessage(DispatcherWindow(), SocketMessage, static_cast<platform::WPARAM>(DeviceId()), 0);
}
