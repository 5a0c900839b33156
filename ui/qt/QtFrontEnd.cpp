#include "ui/qt/QtFrontEnd.h"

#include <QApplication>
#include <QMessageBox>

#include "platform/MessageLoop.h"
#include "ui/Prompter.h"
#include "ui/qt/ControlWidgets.h"

namespace qtfront {

QtFrontEnd::QtFrontEnd()
    : previousPrompter_(ui::SetPrompter(&prompter_)),
      previousHandler_(platform::SetExceptionHandler([](const std::exception& e) {
        QMessageBox::critical(QApplication::activeWindow(), QString::fromStdString(ui::ApplicationTitle()),
                              ToQtText(e.what()));
      })) {
  ui::AddChangeObserver(this);
  bridge_.SetQuitHandler([this](int exitCode) {
    quitting_ = false;
    QCoreApplication::exit(exitCode);
  });
  previousRunner_ = SetComSelectRunner(
      [this](TComSelectForm& dialog) { return RunModal(dialog, [&dialog] { return dialog.ModalResult(); }); });
  previousSelection_ = SetPortSelectionDialog(&RunComSelectDialog);
}

QtFrontEnd::~QtFrontEnd() {
  SetPortSelectionDialog(previousSelection_);
  SetComSelectRunner(previousRunner_);
  ui::RemoveChangeObserver(this);
  platform::SetExceptionHandler(previousHandler_);
  ui::SetPrompter(previousPrompter_);
  widgets_.clear();
  windows_.clear();
}

void QtFrontEnd::Present(ui::TForm& form) {
  auto& window = windows_[&form];
  if (!window) {
    window = std::make_unique<FormWindow>(form);
    widgets_[&form] = window.get();
    AddControls(form, window.get());
    SetTabOrder(form);
  }
  if (mainForm_ == nullptr) mainForm_ = &form;
  if (form.Position() == ui::poScreenCenter || form.Position() == ui::poDesktopCenter) window->Centre();
  window->show();
}

void QtFrontEnd::AddControls(ui::TControl& parent, QWidget* parentWidget) {
  for (ui::TControl* control : parent.Controls()) {
    QWidget* widget = CreateControlWidget(*control, parentWidget);
    widgets_[control] = widget;
    AddControls(*control, widget);
  }
}

void QtFrontEnd::SetTabOrder(const ui::TControl& parent) {
  QWidget* previous = nullptr;
  for (const ui::TControl* control : parent.TabOrderList()) {
    QWidget* widget = WidgetOf(*control);
    if (widget == nullptr || !control->TabStop()) continue;
    if (previous != nullptr) QWidget::setTabOrder(previous, widget);
    previous = widget;
    SetTabOrder(*control);
  }
}

int QtFrontEnd::Run() { return QApplication::exec(); }

void QtFrontEnd::Quit(int exitCode) {
  quitting_ = true;
  platform::PostQuitMessage(exitCode);
}

QWidget* QtFrontEnd::WidgetOf(const ui::TControl& control) const {
  const auto it = widgets_.find(&control);
  return it == widgets_.end() ? nullptr : it->second.data();
}

void QtFrontEnd::ControlChanged(ui::TControl& control, ui::TControlChange change) {
  if (change == ui::ccDestroyed) {
    if (windows_.count(&control) != 0) FormDestroyed(control);
    widgets_.erase(&control);
    return;
  }
  if (const auto window = windows_.find(&control); window != windows_.end()) {
    FormChanged(static_cast<ui::TForm&>(control), *window->second, change);
    return;
  }
  if (QWidget* widget = WidgetOf(control)) ApplyChange(control, *widget, change);
}

void QtFrontEnd::FormChanged(ui::TForm& form, FormWindow& window, ui::TControlChange change) {
  switch (change) {
    case ui::ccClosed:
      window.hide();
      if (&form == modalForm_ && modalLoop_ != nullptr) modalLoop_->quit();
      // Closing the main window ends the program.
      if (&form == mainForm_ && !quitting_) Quit(0);
      break;
    case ui::ccVisible:
      window.setVisible(form.Visible());
      break;
    case ui::ccEnabled:
      window.setEnabled(form.Enabled());
      break;
    default:
      window.ApplyForm();
      break;
  }
}

void QtFrontEnd::FormDestroyed(const ui::TControl& form) {
  // The window owns the widgets of the form's controls: forget them with it.
  auto it = windows_.find(&form);
  FormWindow* window = it->second.release();
  windows_.erase(it);
  std::erase_if(widgets_, [window](const auto& entry) { return entry.second.isNull() || entry.second->window() == window; });
  if (&form == mainForm_) mainForm_ = nullptr;
  window->hide();
  // The form may go while one of its window's own events is being handled: delete it later.
  window->deleteLater();
}

}  // namespace qtfront
