// The port selection dialog: "Select Port", the ports that can be opened as "COMn" in a drop-down
// list, OK and Cancel. Its layout is the form file ComSelect.form; the front end shows it modally
// through the runner it installs, and a press of OK or Cancel sets the dialog's modal result.
#pragma once

#include <functional>
#include <memory>

#include "ui/ExtCtrls.h"
#include "ui/Form.h"
#include "ui/StdCtrls.h"

// The controls of the dialog the standard model lacks, registered for its form only.
namespace comselect {

// What a button with a modal result reports its press to.
class TModalHost {
 public:
  virtual ~TModalHost() = default;
  virtual void SetModalResult(int result) = 0;
};

// A picture button whose press ends its window's modal run with ModalResult (when not 0).
class TModalBitBtn : public ui::TBitBtn {
 public:
  using ui::TBitBtn::TBitBtn;
  int ModalResult() const { return modalResult_; }
  void SetModalResult(int value) { modalResult_ = value; }
  void Click() override;
  static const platform::PropertyTable& ClassProperties();
  const platform::PropertyTable& Properties() const override { return ClassProperties(); }

 private:
  int modalResult_ = 0;
};

enum TBevelShape { bsBox, bsFrame, bsTopLine, bsBottomLine, bsLeftLine, bsRightLine, bsSpacer };
enum TBevelStyle { bsLowered, bsRaised };

// A drawn frame or line around other controls.
class TBevel : public ui::TControl {
 public:
  using ui::TControl::TControl;
  std::string ClassName() const override { return "TBevel"; }
  TBevelShape Shape() const { return shape_; }
  void SetShape(TBevelShape value) { shape_ = value; }
  TBevelStyle Style() const { return style_; }
  void SetStyle(TBevelStyle value) { style_ = value; }
  static const platform::PropertyTable& ClassProperties();
  const platform::PropertyTable& Properties() const override { return ClassProperties(); }

 private:
  TBevelShape shape_ = bsBox;
  TBevelStyle style_ = bsLowered;
};

enum TComboBoxStyle { csDropDown, csSimple, csDropDownList, csOwnerDrawFixed, csOwnerDrawVariable };

// A combo box that knows whether its text can be edited (csDropDownList: only the items).
class TStyledComboBox : public ui::TComboBox {
 public:
  using ui::TComboBox::TComboBox;
  TComboBoxStyle Style() const { return style_; }
  void SetStyle(TComboBoxStyle value) { style_ = value; }
  static const platform::PropertyTable& ClassProperties();
  const platform::PropertyTable& Properties() const override { return ClassProperties(); }

 private:
  TComboBoxStyle style_ = csDropDown;
};

}  // namespace comselect

class TComSelectForm : public ui::TForm, public comselect::TModalHost {
 public:
  // Reads the dialog's form file (ComSelect.form from the resources folder); OnCreate runs when
  // the caller calls DoCreate.
  explicit TComSelectForm(platform::TComponent* owner = nullptr);
  std::string ClassName() const override { return "TComSelectForm"; }

  // Lists COM1 to COM50 where IsPortAvailable says so, and selects the first.
  void FormCreate(platform::TComponent* sender);
  // The number of the selected port; 0 when nothing is selected.
  int SelectedPort() const;

  int ModalResult() const { return modalResult_; }
  void SetModalResult(int result) override { modalResult_ = result; }

  ui::TComboBox& PortsComboBox() const;
  comselect::TModalBitBtn& OkBtn() const;
  comselect::TModalBitBtn& AbortBtn() const;

 private:
  int modalResult_ = 0;
};

// Shows a dialog modally and returns its modal result (0 or the system's cancel result when the
// window was closed). The front end installs it.
using TComSelectRunner = std::function<int(TComSelectForm& dialog)>;
// Installs the runner (empty: none); returns the previous one. Without a runner nobody can answer,
// and the dialog is cancelled.
TComSelectRunner SetComSelectRunner(TComSelectRunner runner);

// One selection: makes the dialog, lists the ports, runs it, frees it. The modal result, and with
// OK the chosen port; OK with no port in the list counts as Cancel.
int RunComSelectDialog(int& selectedPort);
// Makes RunComSelectDialog the port component's selection dialog (port/QsSelPort.h).
void InstallComSelectDialog();
