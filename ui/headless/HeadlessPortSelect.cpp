#include "ui/headless/HeadlessPortSelect.h"

#include <string>

#include "port/QsSelPortForm.h"

namespace headless {

int AnswerPortSelection(TComSelectForm& dialog, LineWriter& writer, const char* wantedPort) {
  ui::TComboBox& list = dialog.PortsComboBox();
  std::string shown = dialog.Caption() + " |";
  for (const std::string& item : list.Items()) shown += " " + item;
  writer.Write("dialog", shown);

  const int index = wantedPort != nullptr && *wantedPort != '\0' ? list.Items().IndexOf(wantedPort) : -1;
  if (index < 0) {
    dialog.AbortBtn().Click();
    writer.Write("answer", "cancel");
    return dialog.ModalResult();
  }
  list.SetItemIndex(index);
  dialog.OkBtn().Click();
  writer.Write("answer", list.Items().Strings(index));
  return dialog.ModalResult();
}

}  // namespace headless
