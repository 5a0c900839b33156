// The data packet component: its properties, the pattern form of its strings, arming and
// disarming, and the scan of the manager's buffer. The manager is in QsPacketManager.cpp.
#include "comm/QsPacket.h"

#include <cctype>

#include "comm/QsDispatch.h"
#include "comm/QsExcept.h"
#include "platform/Application.h"

namespace {

constexpr std::uint8_t kLogPacket = 18;
constexpr std::uint8_t kLogEnable = 242, kLogDisable = 243, kLogStartStr = 247, kLogEndStr = 248;
constexpr std::uint8_t kLogIdle = 249;  // + match state: Idle, Waiting, Collecting

std::uint8_t Upper(std::uint8_t b) { return b >= 'a' && b <= 'z' ? static_cast<std::uint8_t>(b - 'a' + 'A') : b; }

bool Has(TPacketEndSet set, TPacketEndCond cond) { return (set & (1u << cond)) != 0; }

}  // namespace

// ---- Patterns ---------------------------------------------------------------------------------

TPacketPattern TPacketPattern::Build(const std::string& text, bool ignoreCase) {
  TPacketPattern p;
  p.ignoreCase = ignoreCase;
  p.source = text;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    bool wildcard = false;
    if (c == '\\') {
      if (++i == text.size()) break;  // a backslash at the very end is dropped
      c = text[i];
    } else if (c == '?') {
      wildcard = true;
    }
    p.chars.push_back(ignoreCase ? static_cast<char>(Upper(static_cast<std::uint8_t>(c))) : c);
    p.wild.push_back(wildcard);
  }
  return p;
}

void TPacketPattern::Update(const std::string& text, bool ignoreCase) {
  if (ignoreCase == this->ignoreCase && text == source) return;
  *this = Build(text, ignoreCase);
}

bool TPacketPattern::Matches(std::size_t position, std::uint8_t byte) const {
  if (wild[position]) return true;
  const auto expected = static_cast<std::uint8_t>(chars[position]);
  return (ignoreCase ? Upper(byte) : byte) == expected;
}

// ---- The component ----------------------------------------------------------------------------

TQsDataPacket::TQsDataPacket(platform::TComponent* owner) : TQsBaseComponent(owner) {}

TQsDataPacket::~TQsDataPacket() {
  *alive_ = false;
  SetComPort(nullptr);
}

const platform::PropertyTable& TQsDataPacket::Properties() const {
  static const platform::PropertyTable table =
      platform::PropertyTable(&TQsBaseComponent::ClassProperties())
          .Property("Enabled", &TQsDataPacket::Enabled, &TQsDataPacket::SetEnabled)
          .Property("AutoEnable", &TQsDataPacket::AutoEnable, &TQsDataPacket::SetAutoEnable)
          .Enumeration("StartCond", &TQsDataPacket::StartCond, &TQsDataPacket::SetStartCond,
                       {{"scString", scString}, {"scAnyData", scAnyData}})
          .Property("EndCond", &TQsDataPacket::EndCond, &TQsDataPacket::SetEndCond)
          .Property("StartString", &TQsDataPacket::StartString, &TQsDataPacket::SetStartString)
          .Property("EndString", &TQsDataPacket::EndString, &TQsDataPacket::SetEndString)
          .Property("IgnoreCase", &TQsDataPacket::IgnoreCase, &TQsDataPacket::SetIgnoreCase)
          .Property("PacketSize", &TQsDataPacket::PacketSize, &TQsDataPacket::SetPacketSize)
          .Property("IncludeStrings", &TQsDataPacket::IncludeStrings, &TQsDataPacket::SetIncludeStrings)
          .Property("TimeOut", &TQsDataPacket::TimeOut, &TQsDataPacket::SetTimeOut);
  return table;
}

void TQsDataPacket::Loaded() {
  TQsBaseComponent::Loaded();
  label_ = "Packet:" + Name();
  // A packet read from a form without a port watches the port of its window. (A port created
  // after the packet cannot be recognised while it is being constructed, so the search is here.)
  if (port_ == nullptr && Owner() != nullptr) {
    for (int i = 0; i < Owner()->ComponentCount() && port_ == nullptr; ++i)
      if (auto* link = dynamic_cast<TQsPortLink*>(Owner()->Components(i))) SetComPort(link);
  }
  if (manager_ != nullptr && manager_->enableAfterLoading_) {
    TPacketManagerCall call(manager_);
    manager_->enableAfterLoading_ = false;
    manager_->Enable();
  }
  if (enablePending_) {
    enablePending_ = false;
    if (enabled_) SetEnabled(true);
  }
}

TPacketManagerCall TQsDataPacket::LockScan() { return TPacketManagerCall(manager_); }

void TQsDataPacket::SetEnabled(bool value) {
  auto lock = LockScan();
  SetEnabledLocked(value);
}

void TQsDataPacket::SetEnabledLocked(bool value) {
  if (!value) {
    enabled_ = false;
    Disarm();
    return;
  }
  enabled_ = true;
  if (IsLoading()) {
    enablePending_ = true;
    return;
  }
  Arm();
}

// Plain stores, under the scan's lock since a dispatcher thread may be reading them.
void TQsDataPacket::SetAutoEnable(bool value) {
  auto lock = LockScan();
  autoEnable_ = value;
}

void TQsDataPacket::SetStartCond(TPacketStartCond value) {
  auto lock = LockScan();
  startCond_ = value;
}

void TQsDataPacket::SetPacketSize(int value) {
  auto lock = LockScan();
  packetSize_ = value;
}

void TQsDataPacket::SetIncludeStrings(bool value) {
  auto lock = LockScan();
  includeStrings_ = value;
}

void TQsDataPacket::SetTimeOut(int ticks) {
  auto lock = LockScan();
  timeOut_ = ticks;
}

// Changing the end condition re-arms an enabled packet at once with the new value.
void TQsDataPacket::SetEndCond(TPacketEndSet value) {
  auto lock = LockScan();
  const bool wasEnabled = enabled_;
  SetEnabledLocked(false);
  endCond_ = value;
  SetEnabledLocked(wasEnabled);
}

void TQsDataPacket::SetEndString(const std::string& value) {
  auto lock = LockScan();
  const bool wasEnabled = enabled_;
  SetEnabledLocked(false);
  endString_ = value;
  SetEnabledLocked(wasEnabled);
}

void TQsDataPacket::SetComPort(TQsPortLink* port) {
  if (port == port_) return;
  if (manager_ != nullptr) {
    TQsDataPacketManager* old = manager_;
    {
      TPacketManagerCall call(old);
      old->Detach(this);
      manager_ = nullptr;
    }
    if (port_ != nullptr && port_->LinkComponent() != nullptr) port_->LinkComponent()->RemoveFreeNotification(this);
    if (old->Packets().empty()) TQsDataPacketManager::Retire(old);
  }
  port_ = port;
  if (port_ == nullptr) return;
  if (port_->LinkComponent() != nullptr) port_->LinkComponent()->FreeNotification(this);
  manager_ = FindPacketManager(port_);
  if (manager_ == nullptr) manager_ = new TQsDataPacketManager(port_);  // owned by the manager list
  TPacketManagerCall call(manager_);
  manager_->Attach(this);
}

void TQsDataPacket::Notification(platform::TComponent* component, platform::TOperation operation) {
  TQsBaseComponent::Notification(component, operation);
  if (operation == platform::opRemove && port_ != nullptr && component == port_->LinkComponent()) {
    SetComPort(nullptr);
  } else if (operation == platform::opInsert && port_ == nullptr && component != this &&
             component->Owner() == Owner() && !IsDestroying()) {
    if (auto* link = dynamic_cast<TQsPortLink*>(component)) SetComPort(link);
  }
}

void TQsDataPacket::Log(std::uint8_t subType, std::string_view text) const {
  if (manager_ == nullptr) return;
  TQsBaseDispatcher* dispatcher = manager_->Dispatcher();
  if (dispatcher == nullptr || !dispatcher->LogRecording()) return;
  const std::string_view data = text.empty() ? std::string_view(label_) : text;
  dispatcher->AddLogEntry(kLogPacket, subType, 0, data.data(), static_cast<std::uint32_t>(data.size()));
}

void TQsDataPacket::ResetMatch() {
  begin_ = -1;
  startIndex_ = 1;
  collectFrom_ = 0;
}

// The whole definition is checked before the packet changes state, so a refusal leaves it unarmed.
// The checks judge the strings as they will be matched: a string that is nothing but escapes (a
// lone "\\") is as empty as "", and an empty pattern would match nothing, or end a packet at
// every byte.
int TQsDataPacket::DefinitionFault() {
  if (startCond_ == scString) {
    startPattern_.Update(startString_, ignoreCase_);
    if (startPattern_.Length() == 0) return kErrStartStringEmpty;
    if (Has(endCond_, ecPacketSize) && static_cast<int>(startString_.size()) > packetSize_)
      return kErrPacketTooSmall;
  } else if (endCond_ == 0) {
    return kErrNoEndCharCount;
  }
  if (Has(endCond_, ecString)) {
    endPattern_.Update(endString_, ignoreCase_);
    if (endPattern_.Length() == 0) return kErrEmptyEndString;
  }
  if (Has(endCond_, ecPacketSize)) {
    if (packetSize_ <= 0) return kErrZeroSizePacket;
    // The buffer never holds more: such a packet could never be delivered.
    if (static_cast<std::size_t>(packetSize_) > TQsDataPacketManager::kMaxBuffer) return kErrPacketTooLong;
  }
  return 0;
}

// The definition is checked first, wherever and whenever the packet is enabled (port closed, or
// inside a packet event where arming itself waits for the event to end), so that a refusal always
// reaches whoever set Enabled. A packet that cannot be armed is left disabled.
void TQsDataPacket::Arm() {
  if (const int fault = DefinitionFault()) {
    Refuse();
    throw EInvalidProperty(fault);
  }
  ArmDefined();
}

// Arming that the manager does by itself (port opened, event ended, collector changed): a packet
// whose definition became bad meanwhile is reported once to the application and left disabled,
// instead of raising again at every later re-arm. Only the manager arms this way, so there is one.
void TQsDataPacket::ArmOrReport() {
  if (const int fault = DefinitionFault()) {
    Refuse();
    manager_->Report({fault, nullptr});
    return;
  }
  try {
    ArmDefined();
  } catch (const std::exception&) {
    manager_->Report({0, std::current_exception()});
  }
}

void TQsDataPacket::ArmDefined() {
  try {
    Engage();
  } catch (...) {
    Refuse();
    throw;
  }
}

void TQsDataPacket::Refuse() {
  enabled_ = false;
  Disarm();
}

void TQsDataPacket::Engage() {
  if (manager_ == nullptr || !manager_->IsEnabled()) {
    ResetMatch();  // the packet arms when the port opens
    return;
  }
  if (manager_->lockDepth_ > 0) {
    enablePending_ = true;
    return;
  }
  Log(kLogEnable);
  if (startCond_ == scString) Log(kLogStartStr, startString_);
  if (Has(endCond_, ecString)) Log(kLogEndStr, endString_);

  if (startCond_ == scString) {
    EnterState(msWaiting);
  } else if (manager_->Collector() == nullptr) {
    EnterState(msCollecting);
  } else {
    waitingForBuffer_ = true;
  }
  ResetMatch();
}

void TQsDataPacket::Disarm() {
  if (!enablePending_ && !waitingForBuffer_ && state_ == msIdle) return;
  enablePending_ = false;
  waitingForBuffer_ = false;
  if (manager_ != nullptr) {
    EnterState(msIdle);
    Log(kLogDisable);
  }
}

void TQsDataPacket::EnterState(TMatchState state) {
  Log(static_cast<std::uint8_t>(kLogIdle + state));
  const TMatchState old = state_;
  state_ = state;
  if (state == msCollecting && old != msCollecting) {
    manager_->SetCollector(this);
  } else if (old == msCollecting && state != msCollecting && ownsBuffer_) {
    manager_->LeaveCollector(this);
  }
}

// ---- Scanning ---------------------------------------------------------------------------------

// True when an occurrence of the end pattern ends at byte i and lies wholly after the bytes that
// satisfied the start condition. Looking back over the held bytes makes the result independent of
// how the bytes were split across arrivals.
bool TQsDataPacket::EndFoundAt(std::size_t i) const {
  const std::size_t len = endPattern_.Length();
  if (i + 1 < collectFrom_ + len) return false;
  const std::uint8_t* bytes = manager_->buffer_.get() + (i + 1 - len);
  for (std::size_t k = 0; k < len; ++k)
    if (!endPattern_.Matches(k, bytes[k])) return false;
  return true;
}

// One byte while waiting for the start string. Returns true when the start string completed.
bool TQsDataPacket::StepWaiting(std::size_t& i) {
  const std::uint8_t b = manager_->buffer_[i];
  if (startPattern_.Matches(startIndex_ - 1, b)) {
    if (begin_ < 0) begin_ = static_cast<std::ptrdiff_t>(i);
    if (startIndex_ == startPattern_.Length()) return true;
    ++startIndex_;
  } else if (begin_ >= 0) {
    i = static_cast<std::size_t>(begin_);  // the loop goes on at begin + 1: every alignment is tried
    begin_ = -1;
    startIndex_ = 1;
  }
  return false;
}

TQsDataPacket::TScanResult TQsDataPacket::Scan(std::size_t start) {
  bool becameCollector = false;
  for (std::size_t i = start; enabled_ && i < manager_->count_; ++i) {
    if (state_ == msIdle) {
      if (!waitingForBuffer_) return srDone;
      waitingForBuffer_ = false;
      EnterState(msCollecting);
      becameCollector = true;
    }
    if (state_ == msWaiting) {
      if (!StepWaiting(i)) continue;
      const std::size_t size = i - static_cast<std::size_t>(begin_) + 1;
      if (endCond_ == 0 || (Has(endCond_, ecPacketSize) && static_cast<int>(size) >= packetSize_)) {
        manager_->Deliver(*this, size, true);
        return srDelivered;
      }
      collectFrom_ = i + 1;
      EnterState(msCollecting);
      becameCollector = true;
      continue;
    }
    if (begin_ < 0) {
      begin_ = static_cast<std::ptrdiff_t>(i);
      collectFrom_ = i;
    }
    const std::size_t size = i - static_cast<std::size_t>(begin_) + 1;
    if (Has(endCond_, ecPacketSize) && static_cast<int>(size) >= packetSize_) {
      manager_->Deliver(*this, size, true);
      return srDelivered;
    }
    if (Has(endCond_, ecString) && EndFoundAt(i)) {
      manager_->Deliver(*this, size, false);
      return srDelivered;
    }
  }
  return becameCollector ? srCollector : srDone;
}
