// The port selection dialog through the component model: its stored layout, the list of ports
// that can be opened, and what OK, Cancel and closing the window make of a selection.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "port/QsSelPort.h"
#include "port/QsSelPortForm.h"
#include "port/QsSerial.h"
#include "tests/support/PtyPair.h"

namespace {

using testsupport::TPtyPair;
using testsupport::TSerialFolder;

TEST(ComSelectForm, TheStoredLayoutIsTheDialogs) {
  TComSelectForm form;
  EXPECT_EQ(form.Caption(), "Select Port");
  EXPECT_EQ(form.ClientWidth(), 220);
  EXPECT_EQ(form.ClientHeight(), 131);
  EXPECT_EQ(form.BorderStyle(), ui::bsDialog);
  EXPECT_EQ(form.Position(), ui::poScreenCenter);
  struct Placement {
    const char* name;
    const char* className;
    int left, top, width, height;
    const char* caption;  // nullptr: none
  };
  const Placement placements[] = {
      {"Label1", "TLabel", 18, 14, 176, 13, "The configured serial port is not valid."},
      {"Label2", "TLabel", 18, 30, 133, 13, "Please choose another port."},
      {"Bevel1", "TBevel", 8, 8, 201, 42, nullptr},
      {"PortsComboBox", "TComboBox", 8, 64, 201, 21, nullptr},
      {"OkBtn", "TBitBtn", 8, 95, 85, 27, "OK"},
      {"AbortBtn", "TBitBtn", 124, 95, 85, 27, "Cancel"},
  };
  for (const Placement& p : placements) {
    SCOPED_TRACE(p.name);
    auto* control = dynamic_cast<ui::TControl*>(form.FindComponent(p.name));
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(control->ClassName(), p.className);
    EXPECT_EQ(control->Left(), p.left);
    EXPECT_EQ(control->Top(), p.top);
    EXPECT_EQ(control->Width(), p.width);
    EXPECT_EQ(control->Height(), p.height);
    if (p.caption != nullptr) {
      auto* captioned = dynamic_cast<ui::TCaptionControl*>(control);
      ASSERT_NE(captioned, nullptr);
      EXPECT_EQ(captioned->Caption(), p.caption);
    }
  }
  EXPECT_TRUE(form.OkBtn().Default());
  EXPECT_EQ(form.OkBtn().ModalResult(), 1);
  EXPECT_EQ(form.AbortBtn().ModalResult(), 3);
  EXPECT_EQ(form.PortsComboBox().Style(), ui::csDropDownList);
  auto* bevel = dynamic_cast<ui::TBevel*>(form.FindComponent("Bevel1"));
  ASSERT_NE(bevel, nullptr);
  EXPECT_EQ(bevel->Shape(), ui::bsFrame);
}

// COM1 free, COM2 held by another open, COM3 absent, COM12 free.
class ComSelectDialog : public testing::Test {
 protected:
  void SetUp() override {
    folder.Link(1, free1.PortPath());
    folder.Link(2, held2.PortPath());
    folder.Link(12, free12.PortPath());
    ASSERT_EQ(holder.OpenPort(TSerialFolder::PortName(2), 9600, 0, 8, 1, 1024, 1024, 0), 0);
    previousRunner = SetComSelectRunner(nullptr);
  }
  void TearDown() override {
    SetComSelectRunner(previousRunner);
    SetPortSelectionDialog(nullptr);
  }

  TSerialFolder folder;
  TPtyPair free1, held2, free12;
  TQsWin32Dispatcher holder{nullptr};
  TComSelectRunner previousRunner;
};

TEST_F(ComSelectDialog, ListsThePortsThatCanBeOpenedAndSelectsTheFirst) {
  TComSelectForm form;
  form.DoCreate();
  const platform::TStringList& items = form.PortsComboBox().Items();
  ASSERT_EQ(items.Count(), 3);
  EXPECT_EQ(items.Strings(0), "COM1");
  EXPECT_EQ(items.Strings(1), "COM2") << "held by another program, but there";
  EXPECT_EQ(items.Strings(2), "COM12");
  EXPECT_EQ(form.PortsComboBox().ItemIndex(), 0);
  EXPECT_EQ(form.SelectedPort(), 1);
  form.PortsComboBox().SetItemIndex(2);
  EXPECT_EQ(form.SelectedPort(), 12);
}

TEST_F(ComSelectDialog, OkCancelAndClosingDecideTheSelection) {
  struct Case {
    const char* what;
    const char* pick;  // the item chosen before the answer; nullptr: leave the selection
    int answer;        // 1 OK, 3 Cancel, 0 window closed
    int result;
    int port;  // the chosen port when the result is OK, else the value left untouched
  };
  const Case cases[] = {
      {"OK on COM12", "COM12", 1, kSelectionOk, 12},
      {"OK on the first", nullptr, 1, kSelectionOk, 1},
      {"Cancel", "COM12", 3, 3, -7},
      {"closed", nullptr, 0, kSelectionCancel, -7},
  };
  InstallComSelectDialog();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SetComSelectRunner([&c](TComSelectForm& dialog) {
      if (c.pick != nullptr) dialog.PortsComboBox().SetItemIndex(dialog.PortsComboBox().Items().IndexOf(c.pick));
      if (c.answer == 1) dialog.OkBtn().Click();
      if (c.answer == 3) dialog.AbortBtn().Click();
      return dialog.ModalResult();
    });
    int port = -7;
    EXPECT_EQ(ShowPortSelection(port), c.result);
    EXPECT_EQ(port, c.port);
  }
}

TEST(ComSelectDialogEmpty, OkWithNoPortListedIsNoSelection) {
  TSerialFolder emptyFolder;
  auto previous = SetComSelectRunner([](TComSelectForm& dialog) {
    EXPECT_EQ(dialog.PortsComboBox().Items().Count(), 0);
    dialog.OkBtn().Click();
    return dialog.ModalResult();
  });
  int port = -7;
  EXPECT_EQ(RunComSelectDialog(port), kSelectionCancel);
  EXPECT_EQ(port, -7);
  SetComSelectRunner(nullptr);
  EXPECT_EQ(RunComSelectDialog(port), kSelectionCancel) << "nobody to answer: cancelled";
  SetComSelectRunner(previous);
}

}  // namespace
