#include "ui/headless/HeadlessFrontEnd.h"

#include <cstdlib>

#include "platform/MessageLoop.h"
#include "ui/ComCtrls.h"
#include "ui/Form.h"
#include "ui/StdCtrls.h"
#include "ui/headless/HeadlessPortSelect.h"

namespace headless {

HeadlessFrontEnd::HeadlessFrontEnd(std::ostream& out)
    : writer_(out),
      prompter_(writer_),
      previousPrompter_(ui::SetPrompter(&prompter_)),
      previousHandler_(platform::SetExceptionHandler([this](const std::exception& e) { writer_.Write("error", e.what()); })),
      previousRunner_(SetComSelectRunner([this](TComSelectForm& dialog) {
        return AnswerPortSelection(dialog, writer_, std::getenv("QUILLSTAGE_SERIAL_PORT"));
      })),
      previousSelection_(SetPortSelectionDialog(&RunComSelectDialog)) {
  ui::AddChangeObserver(this);
}

HeadlessFrontEnd::~HeadlessFrontEnd() {
  ui::RemoveChangeObserver(this);
  SetPortSelectionDialog(previousSelection_);
  SetComSelectRunner(previousRunner_);
  platform::SetExceptionHandler(previousHandler_);
  ui::SetPrompter(previousPrompter_);
}

int HeadlessFrontEnd::Run() {
  platform::MSG msg;
  while (platform::GetMessage(msg)) {
    platform::TranslateMessage(msg);
    platform::GuardHandler([&msg] { platform::DispatchMessage(msg); });
  }
  quitting_ = false;
  return static_cast<int>(msg.wParam);
}

void HeadlessFrontEnd::Quit(int exitCode) {
  quitting_ = true;
  platform::PostQuitMessage(exitCode);
}

void HeadlessFrontEnd::ControlChanged(ui::TControl& control, ui::TControlChange change) {
  switch (change) {
    case ui::ccStatusText:
      StatusChanged(control);
      break;
    case ui::ccLines:
      if (&control == listingMemo_) {
        for (const std::string& line : listingMemo_->Lines()) writer_.Write("listing", line);
      }
      break;
    case ui::ccLineAdded:
      if (&control == receivedMemo_ && !receivedMemo_->Lines().IsEmpty()) {
        writer_.Write("received", receivedMemo_->Lines()[receivedMemo_->Lines().Count() - 1]);
      }
      break;
    case ui::ccClosed:
      // Closing the main window ends the program, as closing it on screen does.
      if (&control == mainForm_ && !quitting_) Quit(0);
      break;
    case ui::ccDestroyed:
      Forget(control);
      break;
    default:
      break;
  }
}

void HeadlessFrontEnd::StatusChanged(ui::TControl& control) {
  const auto* bar = dynamic_cast<const ui::TStatusBar*>(&control);
  if (bar == nullptr) return;
  if (bar->SimplePanel() || bar->PanelCount() == 0) {
    writer_.Write("status", bar->SimpleText());
    return;
  }
  std::string text;
  for (int i = 0; i < bar->PanelCount(); ++i) text += (i > 0 ? " | " : "") + bar->Panels()[i];
  writer_.Write("status", text);
}

void HeadlessFrontEnd::Forget(const ui::TControl& control) {
  if (&control == listingMemo_) listingMemo_ = nullptr;
  if (&control == receivedMemo_) receivedMemo_ = nullptr;
  if (&control == mainForm_) mainForm_ = nullptr;
}

}  // namespace headless
