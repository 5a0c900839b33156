#include "ui/Prompter.h"

namespace ui {

namespace {

class TUnattendedPrompter : public TPrompter {
 public:
  TModalResult ShowMessageBox(const TMessageRequest& request) override {
    if ((request.buttons & mbNo) != 0) return mrNo;
    if ((request.buttons & mbCancel) != 0) return mrCancel;
    return mrOk;
  }
  bool ChooseFile(const TFileRequest&, std::string&) override { return false; }
};

TUnattendedPrompter unattended;
TPrompter* current = &unattended;
std::string applicationTitle;

}  // namespace

TPrompter& Prompter() { return *current; }

TPrompter* SetPrompter(TPrompter* prompter) {
  TPrompter* previous = current == &unattended ? nullptr : current;
  current = prompter != nullptr ? prompter : &unattended;
  return previous;
}

TModalResult MessageBox(const std::string& caption, const std::string& text, TMsgDlgType type, TMsgDlgButtons buttons) {
  return Prompter().ShowMessageBox(TMessageRequest{caption, text, type, buttons});
}

TModalResult MessageDlg(const std::string& text, TMsgDlgType type, TMsgDlgButtons buttons) {
  static const char* const kCaptions[] = {"Warning", "Error", "Information", "Confirm"};
  const std::string caption = type == mtCustom ? applicationTitle : kCaptions[type];
  return MessageBox(caption, text, type, buttons);
}

void ShowMessage(const std::string& text) { MessageBox(applicationTitle, text, mtCustom, mbOK); }

const std::string& ApplicationTitle() { return applicationTitle; }
void SetApplicationTitle(const std::string& title) { applicationTitle = title; }

}  // namespace ui
