// The top-level window of a form: the form's client size (fixed unless the form is sizeable),
// caption and font, centred on the screen when the form asks for it. Its close box does not
// close it directly: it runs the form's Close, and the front end hides it when the form says so.
// A form change (caption, font, language) never re-creates the native window: Qt hides a window
// whose flags are set again, so the flags are set only when the border style asks for other ones.
#pragma once

#include <QWidget>
#include <functional>

#include "ui/Form.h"

namespace qtfront {

class FormWindow : public QWidget {
 public:
  explicit FormWindow(ui::TForm& form);
  ui::TForm& Form() const { return form_; }
  // Caption, font, size and border style from the form; a shown window stays shown and in place.
  void ApplyForm();
  void Centre();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void ApplyBorderStyle();

  ui::TForm& form_;
  // The flags last asked for: Qt's windowFlags() adds hints of its own, so they cannot be compared.
  Qt::WindowFlags requestedFlags_;
};

}  // namespace qtfront
