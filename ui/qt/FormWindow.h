// The top-level window of a form: the form's client size (fixed unless the form is sizeable),
// caption and font, centred on the screen when the form asks for it. Its close box does not
// close it directly: it runs the form's Close, and the front end hides it when the form says so.
#pragma once

#include <QWidget>
#include <functional>

#include "ui/Form.h"

namespace qtfront {

class FormWindow : public QWidget {
 public:
  explicit FormWindow(ui::TForm& form);
  ui::TForm& Form() const { return form_; }
  // Caption, font and size from the form.
  void ApplyForm();
  void Centre();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  ui::TForm& form_;
};

}  // namespace qtfront
