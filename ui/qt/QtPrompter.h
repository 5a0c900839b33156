// Message boxes and file choosers as modal Qt dialogs. Our messages keep flowing while one is open
// as long as a MessageLoopBridge exists (the front end holds one).
#pragma once

#include <QString>
#include <string>

#include "ui/Prompter.h"

namespace qtfront {

// The model's text for Qt: CR LF, a lone CR and a lone LF each become one line break.
QString ToQtText(const std::string& text);

class QtPrompter : public ui::TPrompter {
 public:
  ui::TModalResult ShowMessageBox(const ui::TMessageRequest& request) override;
  bool ChooseFile(const ui::TFileRequest& request, std::string& fileName) override;
};

}  // namespace qtfront
