#include "ui/Dialogs.h"

#include "ui/Prompter.h"

namespace ui {

bool TOpenDialog::Execute() {
  std::string chosen;
  if (!Prompter().ChooseFile(TFileRequest{IsSave(), title_, filter_, initialDir_, fileName_}, chosen)) return false;
  fileName_ = chosen;
  return true;
}

const platform::PropertyTable& TOpenDialog::ClassProperties() {
  static const platform::PropertyTable table = platform::PropertyTable(&platform::TComponent::ClassProperties())
                                                   .Property("Title", &TOpenDialog::Title, &TOpenDialog::SetTitle)
                                                   .Property("Filter", &TOpenDialog::Filter, &TOpenDialog::SetFilter)
                                                   .Property("FileName", &TOpenDialog::FileName, &TOpenDialog::SetFileName)
                                                   .Property("InitialDir", &TOpenDialog::InitialDir, &TOpenDialog::SetInitialDir);
  return table;
}

}  // namespace ui
