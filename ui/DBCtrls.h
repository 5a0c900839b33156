// The data-aware controls and the database field. They hold the name of the field they show; the
// downloader has no database, so only their texts and layout matter here.
#pragma once

#include <string>

#include "platform/StringList.h"
#include "ui/StdCtrls.h"

namespace ui {

// A field of a data set, with the label that grids and forms show for it.
class TField : public platform::TComponent {
 public:
  explicit TField(platform::TComponent* owner) : platform::TComponent(owner) {}
  std::string ClassName() const override { return "TField"; }
  const std::string& FieldName() const { return fieldName_; }
  void SetFieldName(const std::string& value) { fieldName_ = value; }
  // The field name until a label of its own is set.
  const std::string& DisplayLabel() const { return displayLabel_.empty() ? fieldName_ : displayLabel_; }
  void SetDisplayLabel(const std::string& value) { displayLabel_ = value; }
  static const platform::PropertyTable& ClassProperties();
  const platform::PropertyTable& Properties() const override { return ClassProperties(); }

 private:
  std::string fieldName_;
  std::string displayLabel_;
};

// The field a data-aware control shows, registered under DataField.
template <typename Base>
class TDataAware : public Base {
 public:
  using Base::Base;
  const std::string& DataField() const { return dataField_; }
  void SetDataField(const std::string& value) { dataField_ = value; }
  static const platform::PropertyTable& ClassProperties() {
    static const platform::PropertyTable table =
        platform::PropertyTable(&Base::ClassProperties()).Property("DataField", &TDataAware::DataField, &TDataAware::SetDataField);
    return table;
  }
  const platform::PropertyTable& Properties() const override { return ClassProperties(); }

 private:
  std::string dataField_;
};

class TDBListBox : public TDataAware<TCustomListBox> {
 public:
  using TDataAware::TDataAware;
  std::string ClassName() const override { return "TDBListBox"; }
};

class TDBComboBox : public TDataAware<TCustomComboBox> {
 public:
  using TDataAware::TDataAware;
  std::string ClassName() const override { return "TDBComboBox"; }
};

class TDBRadioGroup : public TDataAware<TCustomRadioGroup> {
 public:
  using TDataAware::TDataAware;
  std::string ClassName() const override { return "TDBRadioGroup"; }
};

// A grid of a data set's records; Columns holds the columns' title captions.
class TDBGrid : public TControl {
 public:
  explicit TDBGrid(platform::TComponent* owner) : TControl(owner) { SetTabStop(true); }
  std::string ClassName() const override { return "TDBGrid"; }
  const platform::TStringList& Columns() const { return columns_; }
  void SetColumns(const platform::TStringList& value) { columns_ = value; }
  int ColumnCount() const { return columns_.Count(); }
  void SetColumnTitle(int index, const std::string& text) { columns_.SetStrings(index, text); }
  static const platform::PropertyTable& ClassProperties();
  const platform::PropertyTable& Properties() const override { return ClassProperties(); }

 private:
  platform::TStringList columns_;
};

// The record navigator: one button per action, each with its hint (first, prior, next, last,
// insert, delete, edit, post, cancel, refresh).
class TDBNavigator : public TControl {
 public:
  static constexpr int kButtonCount = 10;
  explicit TDBNavigator(platform::TComponent* owner) : TControl(owner) {}
  std::string ClassName() const override { return "TDBNavigator"; }
  // Hints beyond the buttons are kept but unused; missing ones are empty.
  const platform::TStringList& Hints() const { return hints_; }
  void SetHints(const platform::TStringList& value) { hints_ = value; }
  static const platform::PropertyTable& ClassProperties();
  const platform::PropertyTable& Properties() const override { return ClassProperties(); }

 private:
  platform::TStringList hints_;
};

}  // namespace ui
