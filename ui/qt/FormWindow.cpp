#include "ui/qt/FormWindow.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>

#include "platform/Application.h"
#include "ui/qt/Appearance.h"

namespace qtfront {

FormWindow::FormWindow(ui::TForm& form) : form_(form) {
  setObjectName(QString::fromStdString(form.Name()));
  ApplyForm();
}

void FormWindow::ApplyForm() {
  setWindowTitle(QString::fromStdString(form_.Caption()));
  setFont(ToQFont(form_.Font()));
  const int width = form_.ClientWidth() > 0 ? form_.ClientWidth() : form_.Width();
  const int height = form_.ClientHeight() > 0 ? form_.ClientHeight() : form_.Height();
  const bool sizeable = form_.BorderStyle() == ui::bsSizeable || form_.BorderStyle() == ui::bsSizeToolWin;
  if (sizeable) {
    resize(width, height);
  } else {
    setFixedSize(width, height);
  }
  ApplyBorderStyle();
}

void FormWindow::ApplyBorderStyle() {
  const Qt::WindowFlags flags =
      form_.BorderStyle() == ui::bsDialog
          ? Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint
          : Qt::WindowFlags(Qt::Window);
  if (flags == requestedFlags_) return;
  requestedFlags_ = flags;
  // Setting the flags re-creates the native window hidden; a shown one is shown again where it was.
  const bool shown = isVisible();
  const QPoint place = pos();
  setWindowFlags(flags);
  if (shown) {
    move(place);
    show();
  }
}

void FormWindow::Centre() {
  const QScreen* screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) return;
  QRect frame(QPoint(0, 0), size());
  frame.moveCenter(screen->availableGeometry().center());
  move(frame.topLeft());
}

void FormWindow::closeEvent(QCloseEvent* event) {
  // The model decides: its Close runs OnClose and tells the front end, which hides the window.
  event->ignore();
  if (!form_.IsClosed()) platform::GuardHandler([this] { form_.Close(); });
}

}  // namespace qtfront
