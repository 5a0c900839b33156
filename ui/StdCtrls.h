// The standard controls: label, push button, picture button, check box, group box, panel, edit,
// masked edit, memo, list box, combo box and radio group. The list-holding kinds share a base
// that holds the items and the selected index.
#pragma once

#include <string>

#include "platform/StringList.h"
#include "ui/Control.h"

namespace ui {

// A control whose main text is its Caption.
class TCaptionControl : public TControl {
 public:
  using TControl::TControl;
  std::string ClassName() const override { return "TCaptionControl"; }
  const std::string& Caption() const { return caption_; }
  void SetCaption(const std::string& value) { caption_ = value; Changed(ccCaption); }
  static const platform::PropertyTable& ClassProperties();
  const platform::PropertyTable& Properties() const override { return ClassProperties(); }

 private:
  std::string caption_;
};

class TLabel : public TCaptionControl {
 public:
  using TCaptionControl::TCaptionControl;
  std::string ClassName() const override { return "TLabel"; }
  bool AutoSize() const { return autoSize_; }
  void SetAutoSize(bool value) { autoSize_ = value; }
  static const platform::PropertyTable& ClassProperties();
  const platform::PropertyTable& Properties() const override { return ClassProperties(); }

 private:
  bool autoSize_ = true;
};

// A window shown modally: a button with a modal result ends the run by setting it.
class TModalHost {
 public:
  virtual ~TModalHost() = default;
  virtual void SetModalResult(int result) = 0;
};

class TButton : public TCaptionControl {
 public:
  explicit TButton(platform::TComponent* owner) : TCaptionControl(owner) { SetTabStop(true); }
  std::string ClassName() const override { return "TButton"; }
  bool Default() const { return default_; }
  void SetDefault(bool value) { default_ = value; }
  bool Cancel() const { return cancel_; }
  void SetCancel(bool value) { cancel_ = value; }
  // Not 0: a press hands it to the nearest owner that is a TModalHost before the click handler runs.
  int ModalResult() const { return modalResult_; }
  void SetModalResult(int value) { modalResult_ = value; }
  void Click() override;
  static const platform::PropertyTable& ClassProperties();
  const platform::PropertyTable& Properties() const override { return ClassProperties(); }

 private:
  bool default_ = false;
  bool cancel_ = false;
  int modalResult_ = 0;
};

// A button with a picture: Glyph names a picture file of the resources folder.
class TBitBtn : public TButton {
 public:
  using TButton::TButton;
  std::string ClassName() const override { return "TBitBtn"; }
  const std::string& Glyph() const { return glyph_; }
  void SetGlyph(const std::string& value) { glyph_ = value; Changed(ccPicture); }
  static const platform::PropertyTable& ClassProperties();
  const platform::PropertyTable& Properties() const override { return ClassProperties(); }

 private:
  std::string glyph_;
};

class TCheckBox : public TCaptionControl {
 public:
  using TCaptionControl::TCaptionControl;
  std::string ClassName() const override { return "TCheckBox"; }
  bool Checked() const { return checked_; }
  void SetChecked(bool value) { checked_ = value; Changed(ccState); }
  static const platform::PropertyTable& ClassProperties();
  const platform::PropertyTable& Properties() const override { return ClassProperties(); }

 private:
  bool checked_ = false;
};

class TGroupBox : public TCaptionControl {
 public:
  using TCaptionControl::TCaptionControl;
  std::string ClassName() const override { return "TGroupBox"; }
};

class TPanel : public TCaptionControl {
 public:
  using TCaptionControl::TCaptionControl;
  std::string ClassName() const override { return "TPanel"; }
};

class TEdit : public TControl {
 public:
  explicit TEdit(platform::TComponent* owner) : TControl(owner) { SetTabStop(true); }
  std::string ClassName() const override { return "TEdit"; }
  const std::string& Text() const { return text_; }
  void SetText(const std::string& value) { text_ = value; Changed(ccText); }
  bool ReadOnly() const { return readOnly_; }
  void SetReadOnly(bool value) { readOnly_ = value; Changed(ccState); }
  static const platform::PropertyTable& ClassProperties();
  const platform::PropertyTable& Properties() const override { return ClassProperties(); }

 private:
  std::string text_;
  bool readOnly_ = false;
};

class TMaskEdit : public TEdit {
 public:
  using TEdit::TEdit;
  std::string ClassName() const override { return "TMaskEdit"; }
  const std::string& EditMask() const { return editMask_; }
  void SetEditMask(const std::string& value) { editMask_ = value; }
  static const platform::PropertyTable& ClassProperties();
  const platform::PropertyTable& Properties() const override { return ClassProperties(); }

 private:
  std::string editMask_;
};

enum TScrollStyle { ssNone, ssHorizontal, ssVertical, ssBoth };

class TMemo : public TControl {
 public:
  explicit TMemo(platform::TComponent* owner) : TControl(owner) { SetTabStop(true); }
  std::string ClassName() const override { return "TMemo"; }
  // The lines change through the setters below only, so that the front end hears of each change.
  const platform::TStringList& Lines() const { return lines_; }
  void SetLines(const platform::TStringList& value);
  // Appends one line (the runtime's Lines.Add).
  void AddLine(const std::string& line);
  void Clear() { SetLines({}); }
  // The whole text, each line ended by CR LF.
  std::string Text() const { return lines_.Text(); }
  void SetText(const std::string& value);
  bool ReadOnly() const { return readOnly_; }
  void SetReadOnly(bool value) { readOnly_ = value; Changed(ccState); }
  bool WordWrap() const { return wordWrap_; }
  void SetWordWrap(bool value) { wordWrap_ = value; Changed(ccState); }
  TScrollStyle ScrollBars() const { return scrollBars_; }
  void SetScrollBars(TScrollStyle value) { scrollBars_ = value; Changed(ccState); }
  static const platform::PropertyTable& ClassProperties();
  const platform::PropertyTable& Properties() const override { return ClassProperties(); }

 private:
  platform::TStringList lines_;
  bool readOnly_ = false;
  bool wordWrap_ = true;
  TScrollStyle scrollBars_ = ssNone;
};

// Items and the selected item, shared by list boxes, combo boxes and radio groups. The selection
// stays while it is still within the items, and becomes -1 otherwise.
class TItemsControl : public TControl {
 public:
  explicit TItemsControl(platform::TComponent* owner) : TControl(owner) { SetTabStop(true); }
  std::string ClassName() const override { return "TItemsControl"; }
  const platform::TStringList& Items() const { return items_; }
  void SetItems(const platform::TStringList& value);
  void SetItem(int index, const std::string& text);
  int ItemIndex() const { return itemIndex_; }
  // -1 or an index of Items; anything else raises platform::Exception.
  void SetItemIndex(int value);
  void Loaded() override;
  static const platform::PropertyTable& ClassProperties();
  const platform::PropertyTable& Properties() const override { return ClassProperties(); }

 private:
  platform::TStringList items_;
  int itemIndex_ = -1;
};

class TCustomListBox : public TItemsControl {
 public:
  using TItemsControl::TItemsControl;
  std::string ClassName() const override { return "TCustomListBox"; }
};

class TListBox : public TCustomListBox {
 public:
  using TCustomListBox::TCustomListBox;
  std::string ClassName() const override { return "TListBox"; }
};

// csDropDownList: the text is always one of the items; the other styles let it be edited.
enum TComboBoxStyle { csDropDown, csSimple, csDropDownList, csOwnerDrawFixed, csOwnerDrawVariable };

class TCustomComboBox : public TItemsControl {
 public:
  using TItemsControl::TItemsControl;
  std::string ClassName() const override { return "TCustomComboBox"; }
  const std::string& Text() const { return text_; }
  void SetText(const std::string& value) { text_ = value; Changed(ccText); }
  TComboBoxStyle Style() const { return style_; }
  void SetStyle(TComboBoxStyle value) { style_ = value; }
  static const platform::PropertyTable& ClassProperties();
  const platform::PropertyTable& Properties() const override { return ClassProperties(); }

 private:
  std::string text_;
  TComboBoxStyle style_ = csDropDown;
};

class TComboBox : public TCustomComboBox {
 public:
  using TCustomComboBox::TCustomComboBox;
  std::string ClassName() const override { return "TComboBox"; }
};

class TCustomRadioGroup : public TItemsControl {
 public:
  using TItemsControl::TItemsControl;
  std::string ClassName() const override { return "TCustomRadioGroup"; }
  const std::string& Caption() const { return caption_; }
  void SetCaption(const std::string& value) { caption_ = value; Changed(ccCaption); }
  int Columns() const { return columns_; }
  void SetColumns(int value) { columns_ = value; }
  static const platform::PropertyTable& ClassProperties();
  const platform::PropertyTable& Properties() const override { return ClassProperties(); }

 private:
  std::string caption_;
  int columns_ = 1;
};

class TRadioGroup : public TCustomRadioGroup {
 public:
  using TCustomRadioGroup::TCustomRadioGroup;
  std::string ClassName() const override { return "TRadioGroup"; }
};

}  // namespace ui
