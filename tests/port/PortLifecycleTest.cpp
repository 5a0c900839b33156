// The port component's opening and closing over the test device: failures at the boundary, the
// deferred close from inside a notification, reopening, opening on demand, registered users,
// the trigger set kept across a close, and the search and copy of ports.
#include <gtest/gtest.h>

#include <string>
#include <typeinfo>
#include <vector>

#include "PortTestDevice.h"
#include "comm/QsExcept.h"
#include "platform/Application.h"
#include "tests/support/PtyPair.h"

namespace {

class PortLifecycle : public testing::Test {
 protected:
  TDeviceRecord record;
  TTestPort port{record};
};

TEST_F(PortLifecycle, OpeningMakesDispatcherAndWindowAndClosingFreesThem) {
  port.SetOpen(true);
  ASSERT_EQ(port.State(), psOpen);
  EXPECT_TRUE(port.Open());
  ASSERT_NE(record.live, nullptr);
  EXPECT_EQ(port.Dispatcher(), record.live);
  EXPECT_EQ(record.live->DeviceId(), 7);
  EXPECT_EQ(record.live->Owner(), &port);
  const platform::HWND window = port.PortWindow();
  EXPECT_TRUE(platform::IsWindow(window));
  EXPECT_EQ(platform::GetWindowName(window), "");

  port.SetOpen(false);
  EXPECT_EQ(port.State(), psClosed);
  EXPECT_FALSE(port.Open());
  EXPECT_EQ(record.freed, 1);
  EXPECT_EQ(port.CurrentDispatcher(), nullptr);
  EXPECT_EQ(port.PortWindow(), 0u);
  EXPECT_FALSE(platform::IsWindow(window));

  port.SetOpen(true);
  EXPECT_EQ(record.created, 2) << "each opening has a dispatcher of its own";
}

TEST_F(PortLifecycle, FailedOpeningsRaiseTheirCodeAndLeaveThePortClosed) {
  // The serial layer looks in an empty folder of ports, whatever serial ports the machine has.
  testsupport::TSerialFolder noSerialPorts;
  struct Case {
    const char* name;
    std::uint8_t layer;
    std::uint16_t comNumber;
    bool askForPort;
    int openResult;
    int openErrno;
    int code;
    const std::type_info& type;
  };
  const Case cases[] = {
      {"no port chosen", kTestLayer, 0, false, 7, 0, kErrNoPortSelected, typeid(ENoPortSelected)},
      {"no chooser to ask", kTestLayer, 0, true, 7, 0, kErrNoPortSelected, typeid(ENoPortSelected)},
      {"unknown layer", 5, 1, false, 7, 0, kErrNullApi, typeid(ENullApi)},
      {"serial device missing", dlSerial, 1, false, 7, 0, kErrBadId, typeid(EBadId)},
      {"file not found", kTestLayer, 1, false, -1, 2, kErrBadId, typeid(EBadId)},
      {"path not found", kTestLayer, 1, false, -1, 3, kErrBadId, typeid(EBadId)},
      {"held by another program", kTestLayer, 1, false, -1, 5, kErrAlreadyOpen, typeid(EAlreadyOpen)},
      {"other system error", kTestLayer, 1, false, -1, 13, 0, typeid(platform::EInOutError)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TDeviceRecord r;
    r.openResult = c.openResult;
    r.openErrno = c.openErrno;
    TTestPort p(r);
    p.SetDeviceLayer(c.layer);
    p.SetComNumber(c.comNumber);
    p.SetAskForPort(c.askForPort);
    bool opened = false;
    p.OnPortOpened = TPortNotifyEvent(&p, "opened", [&](platform::TComponent*) { opened = true; });
    try {
      p.SetOpen(true);
      ADD_FAILURE() << "opened";
    } catch (const std::exception& e) {
      EXPECT_EQ(typeid(e), c.type) << e.what();
      if (const auto* qs = dynamic_cast<const EQsException*>(&e)) {
        EXPECT_EQ(qs->Code(), c.code);
      }
    }
    EXPECT_EQ(p.State(), psClosed);
    EXPECT_FALSE(p.Open());
    EXPECT_EQ(p.PortWindow(), 0u);
    EXPECT_EQ(r.created, r.freed) << "no dispatcher left behind";
    EXPECT_FALSE(opened);
  }
}

TEST_F(PortLifecycle, AnAdoptedDeviceMustHaveBeenOpenedByTelephony) {
  record.initialDeviceId = 0;
  port.SetTapiMode(2);
  port.SetComNumber(0);
  port.SetAskForPort(false);  // no port number is needed in this mode
  try {
    port.SetOpen(true);
    ADD_FAILURE() << "opened";
  } catch (const ENotOpenedByTapi& e) {
    EXPECT_EQ(e.Code(), kErrNotOpenedByTapi);
  }
  EXPECT_EQ(port.State(), psClosed);
  EXPECT_EQ(record.freed, 1);
}

TEST_F(PortLifecycle, OpenOnDemandOpensAtFirstUseAndWithoutItUseRaisesNotOpen) {
  EXPECT_NE(port.ValidDispatcher(), nullptr);
  EXPECT_EQ(port.State(), psOpen);
  port.PutString("hello");
  EXPECT_EQ(port.Device().OutRing().Pending(), 5);

  TDeviceRecord r;
  TTestPort lazy(r);
  lazy.SetOpenOnDemand(false);
  EXPECT_EQ(lazy.ValidDispatcher(), nullptr);
  EXPECT_THROW(lazy.Dispatcher(), ECommNotOpen);
  EXPECT_THROW(lazy.PutString("x"), ECommNotOpen);
  EXPECT_THROW(lazy.ServicePort(), ECommNotOpen);
  EXPECT_EQ(r.created, 0);
}

TEST_F(PortLifecycle, WriteFailuresAreRaisedAtThePort) {
  port.SetOpen(true);
  port.Device().writeResult = 0;
  EXPECT_THROW(port.PutString("abc"), EPutBlockFail);
  port.Device().writeResult = -1;
  EXPECT_THROW(port.PutString(std::string(5000, 'x')), EOutputBufferTooSmall);
}

// ---- Closing from inside a notification ---------------------------------------------------------

// The service's trigger loop for one pass, run on the test's thread.
void RunPass(TQsBaseDispatcher& d) {
  d.FillInputBuffer();
  while (!d.Dispatching() && d.CheckAllTriggers() && !d.ClosePending()) {
  }
}

TEST_F(PortLifecycle, ACloseFromATriggerHandlerIsDeferredUntilThePassHasEnded) {
  for (const bool reopen : {false, true}) {
    SCOPED_TRACE(reopen ? "reopened while closing" : "closed");
    TDeviceRecord r;
    TTestPort p(r);
    std::vector<TPortState> statesInHandler;
    bool deviceAliveAfterClose = false;
    p.SetOnDataTrigger(TTriggerHandleEvent(&p, "data", [&](platform::TComponent*, std::uint16_t) {
      p.SetOpen(false);
      statesInHandler.push_back(p.State());
      deviceAliveAfterClose = r.live != nullptr && r.freed == 0;
      if (reopen) p.SetOpen(true);
    }));
    p.SetOpen(true);
    TTestDevice& d = p.Device();
    d.CreateDataTrigger("!", false);
    d.Feed("!");
    RunPass(d);
    ASSERT_EQ(statesInHandler.size(), 1u);
    EXPECT_EQ(statesInHandler[0], psClosing);
    EXPECT_TRUE(deviceAliveAfterClose) << "the dispatcher is not freed under its own pass";
    EXPECT_EQ(p.State(), psClosing);
    EXPECT_EQ(r.freed, 0);

    ASSERT_TRUE(PumpUntil([&] { return r.freed == 1; }));
    if (reopen) {
      EXPECT_EQ(p.State(), psOpen);
      EXPECT_TRUE(p.Open());
      EXPECT_EQ(r.created, 2);
    } else {
      EXPECT_EQ(p.State(), psClosed);
      EXPECT_FALSE(p.Open());
      EXPECT_EQ(p.PortWindow(), 0u);
    }
  }
}

TEST_F(PortLifecycle, ACloseFromAHandlerWaitsForTheServiceThreadsToStop) {
  TDeviceRecord r;
  r.threads = true;
  TTestPort p(r);
  int triggers = 0;
  p.SetOnDataTrigger(TTriggerHandleEvent(&p, "data", [&](platform::TComponent*, std::uint16_t) {
    ++triggers;
    p.SetOpen(false);
  }));
  p.SetOpen(true);
  ASSERT_TRUE(p.Device().Started());
  p.Device().CreateDataTrigger("!", false);
  p.Device().Feed("!");
  // The dispatch thread sends the notification to the port window, which this thread serves.
  ASSERT_TRUE(PumpUntil([&] { return r.freed == 1; }));
  EXPECT_EQ(triggers, 1);
  EXPECT_EQ(p.State(), psClosed);
}

// ---- Users -----------------------------------------------------------------------------------------

struct TUserLog {
  std::vector<std::string>* sink;
  std::string name;
  void Heard(TQsCustomComPort*, bool opening) { sink->push_back(std::string(opening ? "open " : "close ") + name); }
  void Other(TQsCustomComPort*, bool) { sink->push_back("other " + name); }
};

std::vector<std::string>* gWindowLog = nullptr;

platform::LRESULT UserWindowProc(platform::HWND hwnd, platform::UINT msg, platform::WPARAM w, platform::LPARAM l) {
  if (msg == kPortOpenedMessage) gWindowLog->push_back("open window");
  if (msg == kPortClosingMessage) gWindowLog->push_back("close window");
  return platform::DefWindowProc(hwnd, msg, w, l);
}

TEST_F(PortLifecycle, UsersHearOfOpeningAndClosingLastRegisteredFirstThenTheEvent) {
  std::vector<std::string> log;
  gWindowLog = &log;
  platform::RegisterWindowClass("portUserWindow", &UserWindowProc);
  const platform::HWND window = platform::CreateWindowOfClass("portUserWindow");
  TUserLog a{&log, "a"};
  TUserLog b{&log, "b"};
  EXPECT_EQ(port.RegisterUser(TPortUserCallback(&a, &TUserLog::Heard)), 0);
  EXPECT_EQ(port.RegisterUser(window), 1);
  EXPECT_EQ(port.RegisterUser(TPortUserCallback(&b, &TUserLog::Heard)), 2);
  bool deviceOpenWhenClosedHeard = false;
  port.OnPortOpened = TPortNotifyEvent(&port, "opened", [&](platform::TComponent*) { log.push_back("OnPortOpened"); });
  port.OnPortClosed = TPortNotifyEvent(&port, "closed", [&](platform::TComponent*) {
    log.push_back("OnPortClosed");
    deviceOpenWhenClosedHeard = record.live != nullptr && record.live->DeviceId() == 7;
  });
  port.SetOpen(true);
  port.SetOpen(false);
  const std::vector<std::string> expected = {"open b",  "open window",  "open a",  "OnPortOpened",
                                             "close b", "close window", "close a", "OnPortClosed"};
  EXPECT_EQ(log, expected);
  EXPECT_TRUE(deviceOpenWhenClosedHeard) << "OnPortClosed runs before the device closes";
  platform::DestroyWindow(window);
  platform::UnregisterWindowClass("portUserWindow");
  gWindowLog = nullptr;
}

TEST_F(PortLifecycle, UnregisteringRemovesEveryRecordOfThatMethodWhateverItsObject) {
  std::vector<std::string> log;
  TUserLog a{&log, "a"};
  TUserLog b{&log, "b"};
  TUserLog c{&log, "c"};
  port.RegisterUser(TPortUserCallback(&a, &TUserLog::Heard));
  port.RegisterUser(TPortUserCallback(&b, &TUserLog::Other));
  port.RegisterUser(TPortUserCallback(&c, &TUserLog::Heard));
  port.UnregisterUser(TPortUserCallback(&b, &TUserLog::Heard));
  EXPECT_EQ(port.UserCount(), 1);
  port.SetOpen(true);
  EXPECT_EQ(log, std::vector<std::string>{"other b"});
  port.SetOpen(false);  // the close is told to b too: while b and the log still exist
}

// ---- The trigger set across a close ------------------------------------------------------------------

TEST_F(PortLifecycle, TriggersMadeBeforeACloseFireWithTheSameHandlesAfterReopening) {
  std::vector<std::uint16_t> fired;
  port.SetOnDataTrigger(
      TTriggerHandleEvent(&port, "data", [&](platform::TComponent*, std::uint16_t h) { fired.push_back(h); }));
  port.SetAvailThreshold(3);
  port.SetOpen(true);
  port.Device().SetAvailThreshold(40);  // the dispatcher's own value is what is kept
  const std::int32_t first = port.Device().CreateDataTrigger("one", false);
  const std::int32_t second = port.Device().CreateDataTrigger("two", false);
  port.Device().DeleteTrigger(first);
  port.SetOpen(false);
  port.SetOpen(true);
  EXPECT_EQ(port.Device().AvailThreshold(), 40u);
  const std::int32_t third = port.Device().CreateDataTrigger("three", false);
  EXPECT_NE(third, second) << "a new trigger does not take a kept handle";
  port.Device().Feed("two");
  RunPass(port.Device());
  EXPECT_EQ(fired, std::vector<std::uint16_t>{static_cast<std::uint16_t>(second)});

  // Changing the port number reopens on the new number, triggers kept.
  port.SetComNumber(2);
  EXPECT_EQ(port.State(), psOpen);
  EXPECT_EQ(record.created, 3);
  fired.clear();
  port.Device().Feed("three");
  RunPass(port.Device());
  EXPECT_EQ(fired, std::vector<std::uint16_t>{static_cast<std::uint16_t>(third)});
}

// ---- Loading, search, copy ----------------------------------------------------------------------------

TEST_F(PortLifecycle, OpenStoredWhileLoadingOpensWhenLoadedAndAFailureGoesToTheHandler) {
  for (const bool fails : {false, true}) {
    SCOPED_TRACE(fails ? "failing" : "working");
    TDeviceRecord r;
    if (fails) r.openResult = -1, r.openErrno = 2;
    TTestPort p(r);
    std::string handled;
    platform::ExceptionHandler previous =
        platform::SetExceptionHandler([&](const std::exception& e) { handled = e.what(); });
    p.BeginLoading();
    p.SetOpen(true);
    EXPECT_EQ(p.State(), psClosed) << "nothing opens while loading";
    EXPECT_TRUE(p.Open());
    p.Loaded();
    platform::SetExceptionHandler(previous);
    EXPECT_EQ(p.State(), fails ? psClosed : psOpen);
    EXPECT_EQ(p.Open(), !fails);
    EXPECT_EQ(handled, fails ? MessageForCode(kErrBadId) : "");
  }
}

TEST_F(PortLifecycle, FindComPortSearchesDepthFirst) {
  TDeviceRecord r;
  platform::TComponent form(nullptr);
  auto* first = new platform::TComponent(&form);
  auto* second = new platform::TComponent(&form);
  new platform::TComponent(first);
  auto* nested = new TTestPort(r, first);
  new TTestPort(r, second);
  auto* direct = new TTestPort(r, &form);
  EXPECT_EQ(TQsCustomComPort::FindComPort(&form), nested);
  EXPECT_EQ(TQsCustomComPort::FindComPort(second), second->Components(0));
  EXPECT_EQ(TQsCustomComPort::FindComPort(nested), nullptr);
  delete first;
  EXPECT_EQ(TQsCustomComPort::FindComPort(&form), second->Components(0));
  delete second;
  EXPECT_EQ(TQsCustomComPort::FindComPort(&form), direct);
}

TEST_F(PortLifecycle, AssignCopiesSettingsUsersTriggersAndEventsAndEndsClosed) {
  std::vector<std::string> userLog;
  TUserLog user{&userLog, "u"};
  int opened = 0;
  std::vector<std::uint16_t> fired;
  port.SetBaudRate(57600);
  port.SetAvailThreshold(9);
  port.SetTraceName("copy.trc");
  port.RegisterUser(TPortUserCallback(&user, &TUserLog::Heard));
  port.OnPortOpened = TPortNotifyEvent(&port, "opened", [&](platform::TComponent*) { ++opened; });
  port.SetOnDataTrigger(
      TTriggerHandleEvent(&port, "data", [&](platform::TComponent*, std::uint16_t h) { fired.push_back(h); }));
  port.SetOpen(true);
  const std::int32_t handle = port.Device().CreateDataTrigger("go", false);

  TDeviceRecord r;
  TTestPort copy(r);
  copy.SetOpen(true);
  copy.Assign(port);
  EXPECT_EQ(copy.State(), psClosed);
  EXPECT_FALSE(copy.Open());
  EXPECT_EQ(copy.BaudRate(), 57600u);
  EXPECT_EQ(copy.TraceName(), "copy.trc");
  EXPECT_EQ(copy.UserCount(), 1);
  EXPECT_EQ(port.State(), psOpen) << "the source stays open";

  userLog.clear();
  copy.SetOpen(true);
  EXPECT_EQ(opened, 2);
  EXPECT_EQ(userLog, std::vector<std::string>{"open u"});
  EXPECT_EQ(copy.Device().AvailThreshold(), 9u);
  copy.Device().Feed("go");
  RunPass(copy.Device());
  EXPECT_EQ(fired, std::vector<std::uint16_t>{static_cast<std::uint16_t>(handle)});
  port.SetOpen(false);  // while its user still exists
}

}  // namespace
