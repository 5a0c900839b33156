// Message boxes, questions and file choosers go through the front end: the Qt front end shows
// modal dialogs, the headless one answers by a policy and prints what it was asked, and tests
// answer through a scripted prompter. The model calls only this interface.
#pragma once

#include <string>

namespace ui {

enum TMsgDlgType { mtWarning, mtError, mtInformation, mtConfirmation, mtCustom };

enum TMsgDlgBtn : unsigned {
  mbYes = 1u << 0,
  mbNo = 1u << 1,
  mbOK = 1u << 2,
  mbCancel = 1u << 3,
  mbAbort = 1u << 4,
  mbRetry = 1u << 5,
  mbIgnore = 1u << 6,
};
using TMsgDlgButtons = unsigned;

enum TModalResult { mrNone, mrOk, mrCancel, mrAbort, mrRetry, mrIgnore, mrYes, mrNo };

struct TMessageRequest {
  std::string caption;  // the box's title
  std::string text;     // may hold CR characters as line breaks
  TMsgDlgType type = mtInformation;
  TMsgDlgButtons buttons = mbOK;
};

struct TFileRequest {
  bool save = false;  // a save dialog rather than an open dialog
  std::string title;
  std::string filter;  // description|wildcards pairs
  std::string initialDir;
  std::string fileName;
};

class TPrompter {
 public:
  virtual ~TPrompter() = default;
  // Shows the box modally and returns the button pressed (one of request.buttons).
  virtual TModalResult ShowMessageBox(const TMessageRequest& request) = 0;
  // Lets the user choose a file; false when cancelled.
  virtual bool ChooseFile(const TFileRequest& request, std::string& fileName) = 0;
};

// The prompter in use. Until a front end installs one, boxes are answered unattended with the
// answer that changes nothing: No, else Cancel, else OK; file choosers are cancelled.
TPrompter& Prompter();
// Installs prompter (not owned; nullptr restores the unattended one). Returns the previous one.
TPrompter* SetPrompter(TPrompter* prompter);

// The runtime's message dialog: the caption is the type's name ("Warning", "Error",
// "Information", "Confirm") or, for mtCustom, the application title.
TModalResult MessageDlg(const std::string& text, TMsgDlgType type, TMsgDlgButtons buttons);
// A box with a caption of the caller's choosing.
TModalResult MessageBox(const std::string& caption, const std::string& text, TMsgDlgType type, TMsgDlgButtons buttons);
// An information box with an OK button and the application title as caption.
void ShowMessage(const std::string& text);

const std::string& ApplicationTitle();
void SetApplicationTitle(const std::string& title);

}  // namespace ui
