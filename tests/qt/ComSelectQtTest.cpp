// The port selection dialog under the Qt front end: a port component without a ComNumber opens
// it modally; it lists the ports that can be opened, and OK takes the row the user picked, while
// Cancel and the close box make the open fail with ENoPortSelected.
#include <gtest/gtest.h>

#include <QApplication>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <chrono>
#include <functional>

#include "comm/QsExcept.h"
#include "port/QsPort.h"
#include "tests/support/PtyPair.h"
#include "ui/qt/QtFrontEnd.h"

namespace {

using testsupport::TPtyPair;
using testsupport::TSerialFolder;

QWidget* ShownDialog() {
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (widget->objectName() == "ComSelectForm" && widget->isVisible()) return widget;
  }
  return nullptr;
}

// Once the dialog shows, looks at it and acts on it as a user would. A dialog that never shows
// fails the test; one that stays open is closed after a while so that the test cannot hang.
class DialogUser {
 public:
  explicit DialogUser(std::function<void(QWidget&)> act) : act_(std::move(act)) {
    QObject::connect(&timer_, &QTimer::timeout, [this] { Look(); });
    timer_.start(20);
  }
  bool Acted() const { return acted_; }

 private:
  void Look() {
    QWidget* dialog = ShownDialog();
    if (++ticks_ > 250) {
      if (dialog != nullptr) dialog->close();
      timer_.stop();
      return;
    }
    if (dialog == nullptr || acted_) return;
    acted_ = true;
    act_(*dialog);
  }

  std::function<void(QWidget&)> act_;
  QTimer timer_;
  int ticks_ = 0;
  bool acted_ = false;
};

TEST(ComSelectQt, TheDialogListsThePortsAndOkTakesThePickedOne) {
  TSerialFolder folder;
  TPtyPair one, four;
  folder.Link(1, one.PortPath());
  folder.Link(4, four.PortPath());
  qtfront::QtFrontEnd frontEnd;

  struct Case {
    const char* what;
    const char* press;  // the button's name, or nullptr for the close box
    int comNumber;      // 0: the open fails
  };
  const Case cases[] = {
      {"OK on COM4", "OkBtn", 4},
      {"Cancel", "AbortBtn", 0},
      {"close box", nullptr, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    QStringList listed;
    QString title;
    bool modal = false;
    DialogUser user([&](QWidget& dialog) {
      title = dialog.windowTitle();
      modal = dialog.isModal();
      auto* list = dialog.findChild<QListWidget*>("PortsComboBox");
      if (list == nullptr) {
        dialog.close();
        return;
      }
      for (int i = 0; i < list->count(); ++i) listed << list->item(i)->text();
      list->setCurrentRow(1);
      if (c.press == nullptr) {
        dialog.close();
      } else if (auto* button = dialog.findChild<QPushButton*>(c.press)) {
        button->click();
      }
    });
    TQsCustomComPort port(nullptr);
    if (c.comNumber != 0) {
      port.SetOpen(true);
      EXPECT_EQ(port.State(), psOpen);
      EXPECT_EQ(port.ComNumber(), c.comNumber);
      port.PutString("four");
      EXPECT_EQ(four.Receive(4, std::chrono::milliseconds(3000)), "four");
      port.SetOpen(false);
    } else {
      EXPECT_THROW(port.SetOpen(true), ENoPortSelected);
      EXPECT_EQ(port.State(), psClosed);
      EXPECT_EQ(port.ComNumber(), 0);
    }
    EXPECT_TRUE(user.Acted()) << "the dialog was shown";
    EXPECT_EQ(title, "Select Port");
    EXPECT_TRUE(modal);
    EXPECT_EQ(listed, QStringList({"COM1", "COM4"}));
    EXPECT_EQ(ShownDialog(), nullptr) << "the dialog is gone once answered";
  }
}

}  // namespace
