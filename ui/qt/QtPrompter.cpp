#include "ui/qt/QtPrompter.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <utility>

namespace qtfront {

namespace {

struct ButtonMapping {
  ui::TMsgDlgBtn button;
  QMessageBox::StandardButton qt;
  ui::TModalResult result;
};

// In the order in which the default button is sought: the first button of the system's boxes.
constexpr ButtonMapping kButtons[] = {
    {ui::mbOK, QMessageBox::Ok, ui::mrOk},          {ui::mbYes, QMessageBox::Yes, ui::mrYes},
    {ui::mbAbort, QMessageBox::Abort, ui::mrAbort}, {ui::mbRetry, QMessageBox::Retry, ui::mrRetry},
    {ui::mbNo, QMessageBox::No, ui::mrNo},          {ui::mbCancel, QMessageBox::Cancel, ui::mrCancel},
    {ui::mbIgnore, QMessageBox::Ignore, ui::mrIgnore},
};

QMessageBox::Icon IconOf(ui::TMsgDlgType type) {
  switch (type) {
    case ui::mtWarning: return QMessageBox::Warning;
    case ui::mtError: return QMessageBox::Critical;
    case ui::mtInformation: return QMessageBox::Information;
    case ui::mtConfirmation: return QMessageBox::Question;
    case ui::mtCustom: break;
  }
  return QMessageBox::NoIcon;
}

// Qt's file dialog filter ("Text files (*.txt);;All files (*)") from "Text files|*.txt|All files|*".
QString ToQtFilter(const std::string& filter) {
  const QStringList parts = QString::fromStdString(filter).split('|');
  QStringList entries;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    entries << parts[i] + " (" + QString(parts[i + 1]).replace(';', ' ') + ")";
  }
  return entries.join(";;");
}

}  // namespace

QString ToQtText(const std::string& text) {
  QString result = QString::fromStdString(text);
  result.replace("\r\n", "\n");
  result.replace('\r', '\n');
  return result;
}

ui::TModalResult QtPrompter::ShowMessageBox(const ui::TMessageRequest& request) {
  QMessageBox box(IconOf(request.type), ToQtText(request.caption), ToQtText(request.text), QMessageBox::NoButton,
                  QApplication::activeWindow());
  QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
  for (const ButtonMapping& b : kButtons) {
    if ((request.buttons & b.button) == 0) continue;
    box.addButton(b.qt);
    if (defaultButton == QMessageBox::NoButton) defaultButton = b.qt;
  }
  if (defaultButton == QMessageBox::NoButton) {
    defaultButton = QMessageBox::Ok;
    box.addButton(defaultButton);
  }
  box.setDefaultButton(defaultButton);
  box.exec();
  const auto clicked = box.standardButton(box.clickedButton());
  for (const ButtonMapping& b : kButtons) {
    if (b.qt == clicked && (request.buttons & b.button) != 0) return b.result;
  }
  // Closed by its close box or Escape: as Cancel where there is one, else as No, else as OK.
  if ((request.buttons & ui::mbCancel) != 0) return ui::mrCancel;
  if ((request.buttons & ui::mbNo) != 0) return ui::mrNo;
  return ui::mrOk;
}

bool QtPrompter::ChooseFile(const ui::TFileRequest& request, std::string& fileName) {
  QFileDialog dialog(QApplication::activeWindow(), QString::fromStdString(request.title),
                     QString::fromStdString(request.initialDir), ToQtFilter(request.filter));
  dialog.setAcceptMode(request.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(request.save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  if (!request.fileName.empty()) dialog.selectFile(QString::fromStdString(request.fileName));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
  fileName = dialog.selectedFiles().front().toStdString();
  return true;
}

}  // namespace qtfront
