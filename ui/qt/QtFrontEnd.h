// The Qt 6 front end: presents forms of the model as real windows, mirrors every change of their
// controls (ui/Changes.h) to the widgets, shows message boxes and dialogs as modal Qt dialogs, and
// runs the platform's message loop inside Qt's (MessageLoopBridge), modal dialogs included.
// A QApplication must exist before it is made. An exception that escapes a handler is shown in an
// error box.
#pragma once

#include <QEventLoop>
#include <QPointer>
#include <QWidget>
#include <functional>
#include <memory>
#include <unordered_map>

#include "platform/Application.h"
#include "port/QsSelPort.h"
#include "port/QsSelPortForm.h"
#include "ui/Changes.h"
#include "ui/FrontEnd.h"
#include "ui/qt/FormWindow.h"
#include "ui/qt/MessageLoopBridge.h"
#include "ui/qt/QtPrompter.h"

namespace qtfront {

class QtFrontEnd : public ui::TFrontEnd, private ui::TChangeObserver {
 public:
  // Installs its prompter, change observer, exception handler and port selection dialog; the
  // destructor restores the previous ones and closes the windows it made.
  QtFrontEnd();
  ~QtFrontEnd() override;
  QtFrontEnd(const QtFrontEnd&) = delete;
  QtFrontEnd& operator=(const QtFrontEnd&) = delete;

  // Shows form as the main window (the first form presented is the main one).
  void Present(ui::TForm& form) override;
  int Run() override;
  void Quit(int exitCode) override;

  // The widget that shows control (its form's window for a form); nullptr when none does.
  QWidget* WidgetOf(const ui::TControl& control) const;

  // Shows form as a modal dialog and runs a nested loop until a button press leaves modalResult()
  // not 0, or the form is closed (0 then). A dialog never becomes the main window. The list a user
  // picks from passes the selection back to the model.
  int RunModal(ui::TForm& form, const std::function<int()>& modalResult);

 private:
  void ControlChanged(ui::TControl& control, ui::TControlChange change) override;
  void AddControls(ui::TControl& parent, QWidget* parentWidget);
  void SetTabOrder(const ui::TControl& parent);
  void FormChanged(ui::TForm& form, FormWindow& window, ui::TControlChange change);
  void FormDestroyed(const ui::TControl& form);

  MessageLoopBridge bridge_;
  QtPrompter prompter_;
  ui::TPrompter* previousPrompter_;
  platform::ExceptionHandler previousHandler_;
  std::unordered_map<const ui::TControl*, QPointer<QWidget>> widgets_;
  std::unordered_map<const ui::TControl*, std::unique_ptr<FormWindow>> windows_;
  const ui::TForm* mainForm_ = nullptr;
  bool quitting_ = false;
  // The innermost modal run: its form and loop.
  const ui::TForm* modalForm_ = nullptr;
  QEventLoop* modalLoop_ = nullptr;
  TComSelectRunner previousRunner_;
  TPortSelectionDialog previousSelection_;
};

}  // namespace qtfront
