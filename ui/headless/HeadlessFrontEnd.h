// The front end without a display. While it exists it writes to its stream (standard output by
// default), one line per event (format in LineWriter.h):
//   status: TEXT     a status bar's text changed (its simple text, or a panel's text)
//   listing: LINE    the listing memo's text was set: one line for each of its lines
//   received: NAME   a line was added to the received memo
//   box: CAPTION | TEXT, then answer: BUTTON   a message box and the button taken (HeadlessPrompter.h)
//   error: TEXT      an exception escaped a handler
//   dialog: Select Port | PORTS, then answer: COMn or cancel   the port selection (HeadlessPortSelect.h)
// The application designates the two memos. Run blocks in the platform's message loop itself.
#pragma once

#include <iostream>

#include "platform/Application.h"
#include "port/QsSelPort.h"
#include "port/QsSelPortForm.h"
#include "ui/Changes.h"
#include "ui/FrontEnd.h"
#include "ui/headless/HeadlessPrompter.h"
#include "ui/headless/LineWriter.h"

namespace ui {
class TMemo;
}

namespace headless {

class HeadlessFrontEnd : public ui::TFrontEnd, private ui::TChangeObserver {
 public:
  // Installs its prompter, change observer, exception handler and port selection dialog; the
  // destructor restores the previous ones.
  explicit HeadlessFrontEnd(std::ostream& out = std::cout);
  ~HeadlessFrontEnd() override;
  HeadlessFrontEnd(const HeadlessFrontEnd&) = delete;
  HeadlessFrontEnd& operator=(const HeadlessFrontEnd&) = delete;

  // The memo whose text is written as "listing:" lines when it is set (nullptr: none).
  void SetListingMemo(ui::TMemo* memo) { listingMemo_ = memo; }
  // The memo whose added lines are written as "received:" lines (nullptr: none).
  void SetReceivedMemo(ui::TMemo* memo) { receivedMemo_ = memo; }

  void Present(ui::TForm& form) override { mainForm_ = &form; }
  int Run() override;
  void Quit(int exitCode) override;

 private:
  void ControlChanged(ui::TControl& control, ui::TControlChange change) override;
  void StatusChanged(ui::TControl& control);
  void Forget(const ui::TControl& control);

  LineWriter writer_;
  HeadlessPrompter prompter_;
  ui::TPrompter* previousPrompter_;
  platform::ExceptionHandler previousHandler_;
  TComSelectRunner previousRunner_;
  TPortSelectionDialog previousSelection_;
  ui::TMemo* listingMemo_ = nullptr;
  ui::TMemo* receivedMemo_ = nullptr;
  ui::TForm* mainForm_ = nullptr;
  bool quitting_ = false;
};

}  // namespace headless
