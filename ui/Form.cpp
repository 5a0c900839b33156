#include "ui/Form.h"

namespace ui {

TForm::TForm(platform::TComponent* owner) : TControl(owner) { SetParentFont(false); }

void TForm::Close() {
  onClose_(this);
  closed_ = true;
  Changed(ccClosed);
}

const platform::PropertyTable& TForm::ClassProperties() {
  static const platform::PropertyTable table = [] {
    platform::PropertyTable t(&TControl::ClassProperties());
    t.Property("Caption", &TForm::Caption, &TForm::SetCaption)
        .Property("ClientWidth", &TForm::ClientWidth, &TForm::SetClientWidth)
        .Property("ClientHeight", &TForm::ClientHeight, &TForm::SetClientHeight)
        .Enumeration("BorderStyle", &TForm::BorderStyle, &TForm::SetBorderStyle,
                     {{"bsNone", bsNone},
                      {"bsSingle", bsSingle},
                      {"bsSizeable", bsSizeable},
                      {"bsDialog", bsDialog},
                      {"bsToolWindow", bsToolWindow},
                      {"bsSizeToolWin", bsSizeToolWin}})
        .Enumeration("Position", &TForm::Position, &TForm::SetPosition,
                     {{"poDesigned", poDesigned},
                      {"poDefault", poDefault},
                      {"poDefaultPosOnly", poDefaultPosOnly},
                      {"poDefaultSizeOnly", poDefaultSizeOnly},
                      {"poScreenCenter", poScreenCenter},
                      {"poDesktopCenter", poDesktopCenter}});
    AddEventProperty(t, "OnCreate", &TForm::OnCreate, &TForm::SetOnCreate);
    AddEventProperty(t, "OnClose", &TForm::OnClose, &TForm::SetOnClose);
    AddEventProperty(t, "OnDestroy", &TForm::OnDestroy, &TForm::SetOnDestroy);
    return t;
  }();
  return table;
}

}  // namespace ui
