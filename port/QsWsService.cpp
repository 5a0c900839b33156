// The Winsock dispatcher's service on the GUI thread: the 50 ms timer procedure, the "qsDispatch"
// window that read notices are sent to, and DispatchEvents, which fills the input ring and runs
// the trigger checks.
#include "comm/QsExcept.h"
#include "platform/Application.h"
#include "port/QsWsDispatch.h"

namespace {

constexpr char kDispatchWindowClass[] = "qsDispatch";
constexpr std::uint8_t kLogTypeError = 3;

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
  std::size_t heldBefore = 0;
  {
    TFlagScope inDispatch(inDispatch_);
    if (!ClosePending()) {
      RefreshLineErrors();
      std::uint32_t inCount;
      {
        Guard out(OutputLock());
        inCount = StatusCounts().inCount;
      }
      heldBefore = inCount;
      if (inCount > 0) FillInputBuffer();
      if (pollOnly || Dispatching()) {
        if (LogRecording()) AddLogEntry(kLogTypeError, 0, 0);
      } else {
        RunTriggers();
        triggersRan = true;
      }
    }
  }
  if (triggersRan && !ClosePending()) FollowUp(heldBefore);
  if (ClosePending()) ReleasePort();
  return 0;
}

void TQsWinsockDispatcher::FollowUp(std::size_t heldBefore) {
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
  // The input ring takes at most its size per pass: while the connection still holds bytes (or a
  // closed peer's last ones wait in the socket) and the pass moved some, the next follows at once.
  const bool moved = held < heldBefore;
  const bool more = held > 0 || (c->PeerClosed() && !c->Drained());
  if (more && moved && !InFull() && DispatcherWindow() != 0)
    platform::PostMessage(DispatcherWindow(), SocketMessage, static_cast<platform::WPARAM>(DeviceId()), 0);
}
