#include "ui/headless/HeadlessPrompter.h"

#include <cstdlib>
#include <string>
#include <utility>

namespace headless {

namespace {

constexpr ui::TMsgDlgButtons kYesNoCancel = ui::mbYes | ui::mbNo | ui::mbCancel;

// Buttons and their results, in the order in which a box's default button is sought.
constexpr std::pair<ui::TMsgDlgBtn, ui::TModalResult> kDefaultOrder[] = {
    {ui::mbOK, ui::mrOk},         {ui::mbYes, ui::mrYes},       {ui::mbAbort, ui::mrAbort},
    {ui::mbRetry, ui::mrRetry},   {ui::mbNo, ui::mrNo},         {ui::mbCancel, ui::mrCancel},
    {ui::mbIgnore, ui::mrIgnore},
};

ui::TModalResult DefaultButton(ui::TMsgDlgButtons buttons) {
  for (const auto& [button, result] : kDefaultOrder) {
    if ((buttons & button) != 0) return result;
  }
  return ui::mrOk;  // a box without buttons still closes somehow: as by OK
}

ui::TModalResult NamedAnswer(const char* answer) {
  const std::string name = answer != nullptr ? answer : "";
  if (name == "yes") return ui::mrYes;
  if (name == "cancel") return ui::mrCancel;
  return ui::mrNo;
}

}  // namespace

const char* ButtonName(ui::TModalResult result) {
  switch (result) {
    case ui::mrOk: return "ok";
    case ui::mrCancel: return "cancel";
    case ui::mrAbort: return "abort";
    case ui::mrRetry: return "retry";
    case ui::mrIgnore: return "ignore";
    case ui::mrYes: return "yes";
    case ui::mrNo: return "no";
    case ui::mrNone: break;
  }
  return "none";
}

ui::TModalResult ChooseAnswer(ui::TMsgDlgButtons buttons, const char* answer) {
  if ((buttons & kYesNoCancel) == kYesNoCancel) return NamedAnswer(answer);
  return DefaultButton(buttons);
}

ui::TModalResult HeadlessPrompter::ShowMessageBox(const ui::TMessageRequest& request) {
  writer_.Write("box", request.caption + " | " + request.text);
  const ui::TModalResult result = ChooseAnswer(request.buttons, std::getenv("QUILLSTAGE_ANSWER"));
  writer_.Write("answer", ButtonName(result));
  return result;
}

bool HeadlessPrompter::ChooseFile(const ui::TFileRequest& request, std::string&) {
  writer_.Write("file", request.title);
  writer_.Write("answer", ButtonName(ui::mrCancel));
  return false;
}

}  // namespace headless
