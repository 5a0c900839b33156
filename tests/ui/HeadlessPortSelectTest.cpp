// The port selection dialog under the headless front end: a port component without a ComNumber
// asks it when opening; QUILLSTAGE_SERIAL_PORT picks the port, and without a listed port the open
// fails with ENoPortSelected. The front end puts back the previous dialog when it goes.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "comm/QsExcept.h"
#include "port/QsPort.h"
#include "port/QsSelPort.h"
#include "port/QsSelPortForm.h"
#include "tests/support/PtyPair.h"
#include "ui/Form.h"
#include "ui/StdCtrls.h"
#include "ui/headless/HeadlessFrontEnd.h"

namespace {

using testsupport::TPtyPair;
using testsupport::TSerialFolder;

// Sets or unsets QUILLSTAGE_SERIAL_PORT for its lifetime.
class SerialPortVariable {
 public:
  explicit SerialPortVariable(const char* value) {
    if (const char* old = std::getenv(kName)) previous_ = old, hadPrevious_ = true;
    if (value != nullptr)
      setenv(kName, value, 1);
    else
      unsetenv(kName);
  }
  ~SerialPortVariable() {
    if (hadPrevious_)
      setenv(kName, previous_.c_str(), 1);
    else
      unsetenv(kName);
  }

 private:
  static constexpr const char* kName = "QUILLSTAGE_SERIAL_PORT";
  std::string previous_;
  bool hadPrevious_ = false;
};

TEST(HeadlessPortSelection, TheNamedPortIsChosenAndOpensElseTheOpenFailsWithNoPortSelected) {
  TSerialFolder folder;
  TPtyPair one, three;
  folder.Link(1, one.PortPath());
  folder.Link(3, three.PortPath());
  struct Case {
    const char* what;
    const char* variable;  // nullptr: unset
    int comNumber;         // 0: the open fails
    const char* answer;
  };
  const Case cases[] = {
      {"COM3 named", "COM3", 3, "COM3"},
      {"COM1 named", "COM1", 1, "COM1"},
      {"unset", nullptr, 0, "cancel"},
      {"empty", "", 0, "cancel"},
      {"a port that is not listed", "COM2", 0, "cancel"},
      {"not a port name", "printer", 0, "cancel"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SerialPortVariable variable(c.variable);
    std::ostringstream out;
    headless::HeadlessFrontEnd frontEnd(out);
    TQsCustomComPort port(nullptr);
    ASSERT_EQ(port.ComNumber(), 0);
    ASSERT_TRUE(port.AskForPort());
    if (c.comNumber != 0) {
      port.SetOpen(true);
      EXPECT_EQ(port.State(), psOpen);
      EXPECT_EQ(port.ComNumber(), c.comNumber);
      port.PutString("hello");
      TPtyPair& peer = c.comNumber == 1 ? one : three;
      EXPECT_EQ(peer.Receive(5, std::chrono::milliseconds(3000)), "hello");
      port.SetOpen(false);
    } else {
      try {
        port.SetOpen(true);
        ADD_FAILURE() << "opened";
      } catch (const ENoPortSelected& e) {
        EXPECT_EQ(e.Code(), kErrNoPortSelected);
        EXPECT_STREQ(e.what(), "The ComNumber property of the TQsComPort has not been set");
      }
      EXPECT_EQ(port.State(), psClosed);
      EXPECT_EQ(port.ComNumber(), 0);
    }
    EXPECT_EQ(out.str(), std::string("dialog: Select Port | COM1 COM3\nanswer: ") + c.answer + "\n");
  }
}

TEST(HeadlessPortSelection, TheFrontEndPutsBackThePreviousDialogWhenItGoes) {
  TSerialFolder folder;
  TPtyPair one;
  folder.Link(1, one.PortPath());
  SerialPortVariable variable("COM1");
  auto previous = SetPortSelectionDialog([](int& chosen) {
    chosen = 9;
    return kSelectionOk;
  });
  {
    std::ostringstream out;
    headless::HeadlessFrontEnd frontEnd(out);
    int port = 0;
    EXPECT_EQ(ShowPortSelection(port), kSelectionOk);
    EXPECT_EQ(port, 1) << "the front end's dialog answered";
    EXPECT_NE(out.str().find("answer: COM1"), std::string::npos);
  }
  int port = 0;
  EXPECT_EQ(ShowPortSelection(port), kSelectionOk);
  EXPECT_EQ(port, 9) << "the earlier dialog is back";
  SetPortSelectionDialog(previous);
}

TEST(ModalButtons, APressHandsItsModalResultToTheNearestModalOwner) {
  struct THost : ui::TForm, ui::TModalHost {
    using ui::TForm::TForm;
    void SetModalResult(int result) override { results.push_back(result); }
    std::vector<int> results;
  };
  THost host(nullptr);
  auto* panel = new ui::TPanel(&host);
  auto* inner = new ui::TBitBtn(panel);
  auto* plain = new ui::TButton(&host);
  inner->SetModalResult(3);
  bool clicked = false;
  inner->SetOnClick(ui::TNotifyEvent(&host, "click", [&](platform::TComponent*) { clicked = true; }));
  inner->Click();
  plain->Click();  // no modal result: nothing to hand over
  EXPECT_TRUE(clicked);
  EXPECT_EQ(host.results, std::vector<int>{3});
}

}  // namespace
