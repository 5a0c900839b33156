// Modal dialogs of the model: the form's window blocks the others while a nested loop runs, which
// keeps the platform's messages flowing through the bridge.
#include <QAbstractButton>
#include <QListWidget>

#include "ui/StdCtrls.h"
#include "ui/qt/QtFrontEnd.h"

namespace qtfront {

namespace {

// The list widgets only show the model's items; in a dialog the user's pick is the answer, so it
// goes back to the model (which redraws the list with the same row: no echo).
void PassSelectionsBack(const QtFrontEnd& frontEnd, const ui::TControl& parent) {
  for (ui::TControl* control : parent.Controls()) {
    auto* items = dynamic_cast<ui::TItemsControl*>(control);
    if (auto* list = qobject_cast<QListWidget*>(frontEnd.WidgetOf(*control)); list != nullptr && items != nullptr) {
      QObject::connect(list, &QListWidget::currentRowChanged, list, [items](int row) {
        if (row >= 0 && row < items->Items().Count() && row != items->ItemIndex()) items->SetItemIndex(row);
      });
    }
    PassSelectionsBack(frontEnd, *control);
  }
}

}  // namespace

int QtFrontEnd::RunModal(ui::TForm& form, const std::function<int()>& modalResult) {
  const ui::TForm* mainForm = mainForm_;
  Present(form);
  mainForm_ = mainForm;
  QWidget& window = *WidgetOf(form);
  window.hide();
  window.setWindowModality(Qt::ApplicationModal);
  PassSelectionsBack(*this, form);

  QEventLoop loop;
  // Connected after the model's own click handling, so the result is set when this runs.
  for (QAbstractButton* button : window.findChildren<QAbstractButton*>()) {
    QObject::connect(button, &QAbstractButton::clicked, &loop, [&loop, &modalResult] {
      if (modalResult() != 0) loop.quit();
    });
  }
  const ui::TForm* outerForm = modalForm_;
  QEventLoop* outerLoop = modalLoop_;
  modalForm_ = &form;
  modalLoop_ = &loop;
  window.show();
  if (modalResult() == 0 && !form.IsClosed()) loop.exec();
  modalForm_ = outerForm;
  modalLoop_ = outerLoop;
  if (QWidget* still = WidgetOf(form)) still->hide();
  return modalResult();
}

}  // namespace qtfront
