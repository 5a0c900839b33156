// The port selection dialog: "Select Port", the ports that can be opened as "COMn" in a drop-down
// list, OK and Cancel. Its layout is the form file ComSelect.form; the front end shows it modally
// through the runner it installs, and a press of OK or Cancel sets the dialog's modal result.
#pragma once

#include <functional>
#include <memory>

#include "ui/ExtCtrls.h"
#include "ui/Form.h"
#include "ui/StdCtrls.h"

class TComSelectForm : public ui::TForm, public ui::TModalHost {
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
  ui::TBitBtn& OkBtn() const;
  ui::TBitBtn& AbortBtn() const;

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
