// Message boxes without a display: each box is written as "box: CAPTION | TEXT" and answered at
// once by a policy, and the answer is written as "answer: BUTTON" (yes, no, ok, cancel, abort,
// retry, ignore).
//
// The policy: a box that offers Yes, No and Cancel (the question at the end of a download run)
// takes the button that the environment variable QUILLSTAGE_ANSWER names: "yes", "no" or
// "cancel" (default, and for any other value, "no"). Every other box takes its only button or,
// when it has several, its default button, which is the first of OK, Yes, Abort, Retry, No,
// Cancel, Ignore that it offers (the first button of the system's standard boxes).
// File choosers are cancelled ("file: TITLE" then "answer: cancel").
#pragma once

#include "ui/Prompter.h"
#include "ui/headless/LineWriter.h"

namespace headless {

// The button's name as written after "answer: ".
const char* ButtonName(ui::TModalResult result);
// The policy above; answer is the value of QUILLSTAGE_ANSWER (nullptr when unset).
ui::TModalResult ChooseAnswer(ui::TMsgDlgButtons buttons, const char* answer);

class HeadlessPrompter : public ui::TPrompter {
 public:
  explicit HeadlessPrompter(LineWriter& writer) : writer_(writer) {}
  ui::TModalResult ShowMessageBox(const ui::TMessageRequest& request) override;
  bool ChooseFile(const ui::TFileRequest& request, std::string& fileName) override;

 private:
  LineWriter& writer_;
};

}  // namespace headless
