#include "ui/StdCtrls.h"

namespace ui {

using platform::PropertyTable;

const PropertyTable& TCaptionControl::ClassProperties() {
  static const PropertyTable table =
      PropertyTable(&TControl::ClassProperties()).Property("Caption", &TCaptionControl::Caption, &TCaptionControl::SetCaption);
  return table;
}

const PropertyTable& TLabel::ClassProperties() {
  static const PropertyTable table =
      PropertyTable(&TCaptionControl::ClassProperties()).Property("AutoSize", &TLabel::AutoSize, &TLabel::SetAutoSize);
  return table;
}

const PropertyTable& TButton::ClassProperties() {
  static const PropertyTable table = PropertyTable(&TCaptionControl::ClassProperties())
                                         .Property("Default", &TButton::Default, &TButton::SetDefault)
                                         .Property("Cancel", &TButton::Cancel, &TButton::SetCancel)
                                         .Property("ModalResult", &TButton::ModalResult, &TButton::SetModalResult);
  return table;
}

void TButton::Click() {
  if (modalResult_ != 0) {
    for (platform::TComponent* owner = Owner(); owner != nullptr; owner = owner->Owner()) {
      if (auto* host = dynamic_cast<TModalHost*>(owner)) {
        host->SetModalResult(modalResult_);
        break;
      }
    }
  }
  TCaptionControl::Click();
}

const PropertyTable& TBitBtn::ClassProperties() {
  static const PropertyTable table =
      PropertyTable(&TButton::ClassProperties()).Property("Glyph", &TBitBtn::Glyph, &TBitBtn::SetGlyph);
  return table;
}

const PropertyTable& TCheckBox::ClassProperties() {
  static const PropertyTable table =
      PropertyTable(&TCaptionControl::ClassProperties()).Property("Checked", &TCheckBox::Checked, &TCheckBox::SetChecked);
  return table;
}

const PropertyTable& TEdit::ClassProperties() {
  static const PropertyTable table = PropertyTable(&TControl::ClassProperties())
                                         .Property("Text", &TEdit::Text, &TEdit::SetText)
                                         .Property("ReadOnly", &TEdit::ReadOnly, &TEdit::SetReadOnly);
  return table;
}

const PropertyTable& TMaskEdit::ClassProperties() {
  static const PropertyTable table =
      PropertyTable(&TEdit::ClassProperties()).Property("EditMask", &TMaskEdit::EditMask, &TMaskEdit::SetEditMask);
  return table;
}

void TMemo::SetLines(const platform::TStringList& value) {
  lines_ = value;
  Changed(ccLines);
}

void TMemo::AddLine(const std::string& line) {
  lines_.Add(line);
  Changed(ccLineAdded);
}

void TMemo::SetText(const std::string& value) {
  lines_.SetText(value);
  Changed(ccLines);
}

const PropertyTable& TMemo::ClassProperties() {
  static const PropertyTable table =
      PropertyTable(&TControl::ClassProperties())
          .Property("Lines", &TMemo::Lines, &TMemo::SetLines)
          .Property("ReadOnly", &TMemo::ReadOnly, &TMemo::SetReadOnly)
          .Property("WordWrap", &TMemo::WordWrap, &TMemo::SetWordWrap)
          .Enumeration("ScrollBars", &TMemo::ScrollBars, &TMemo::SetScrollBars,
                       {{"ssNone", ssNone}, {"ssHorizontal", ssHorizontal}, {"ssVertical", ssVertical}, {"ssBoth", ssBoth}});
  return table;
}

void TItemsControl::SetItems(const platform::TStringList& value) {
  items_ = value;
  if (itemIndex_ >= items_.Count()) itemIndex_ = -1;
  Changed(ccItems);
}

void TItemsControl::SetItem(int index, const std::string& text) {
  items_.SetStrings(index, text);
  Changed(ccItems);
}

void TItemsControl::SetItemIndex(int value) {
  // A stored form may set ItemIndex before Items; the index is checked once both are in.
  if (value < -1 || (value >= items_.Count() && !IsLoading())) {
    throw platform::Exception("Item index out of range (" + std::to_string(value) + ")");
  }
  itemIndex_ = value;
  Changed(ccItems);
}

void TItemsControl::Loaded() {
  TControl::Loaded();
  if (itemIndex_ >= items_.Count()) itemIndex_ = -1;
}

const PropertyTable& TItemsControl::ClassProperties() {
  static const PropertyTable table = PropertyTable(&TControl::ClassProperties())
                                         .Property("Items", &TItemsControl::Items, &TItemsControl::SetItems)
                                         .Property("ItemIndex", &TItemsControl::ItemIndex, &TItemsControl::SetItemIndex);
  return table;
}

const PropertyTable& TCustomComboBox::ClassProperties() {
  static const PropertyTable table = [] {
    PropertyTable t(&TItemsControl::ClassProperties());
    t.Property("Text", &TCustomComboBox::Text, &TCustomComboBox::SetText)
        .Enumeration("Style", &TCustomComboBox::Style, &TCustomComboBox::SetStyle,
                     {{"csDropDown", csDropDown},
                      {"csSimple", csSimple},
                      {"csDropDownList", csDropDownList},
                      {"csOwnerDrawFixed", csOwnerDrawFixed},
                      {"csOwnerDrawVariable", csOwnerDrawVariable}});
    return t;
  }();
  return table;
}

const PropertyTable& TCustomRadioGroup::ClassProperties() {
  static const PropertyTable table =
      PropertyTable(&TItemsControl::ClassProperties())
          .Property("Caption", &TCustomRadioGroup::Caption, &TCustomRadioGroup::SetCaption)
          .Property("Columns", &TCustomRadioGroup::Columns, &TCustomRadioGroup::SetColumns);
  return table;
}

}  // namespace ui
