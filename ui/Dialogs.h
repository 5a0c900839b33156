// The open and save dialogs: a title, a filter and the file chosen, shown through the front end.
#pragma once

#include <string>

#include "platform/Component.h"

namespace ui {

class TOpenDialog : public platform::TComponent {
 public:
  explicit TOpenDialog(platform::TComponent* owner) : platform::TComponent(owner) {}
  std::string ClassName() const override { return "TOpenDialog"; }

  const std::string& Title() const { return title_; }
  void SetTitle(const std::string& value) { title_ = value; }
  const std::string& Filter() const { return filter_; }
  void SetFilter(const std::string& value) { filter_ = value; }
  const std::string& FileName() const { return fileName_; }
  void SetFileName(const std::string& value) { fileName_ = value; }
  const std::string& InitialDir() const { return initialDir_; }
  void SetInitialDir(const std::string& value) { initialDir_ = value; }
  // Asks the front end; true with FileName set when the user chose a file.
  bool Execute();

  static const platform::PropertyTable& ClassProperties();
  const platform::PropertyTable& Properties() const override { return ClassProperties(); }

 protected:
  virtual bool IsSave() const { return false; }

 private:
  std::string title_;
  std::string filter_;
  std::string fileName_;
  std::string initialDir_;
};

class TSaveDialog : public TOpenDialog {
 public:
  using TOpenDialog::TOpenDialog;
  std::string ClassName() const override { return "TSaveDialog"; }

 protected:
  bool IsSave() const override { return true; }
};

}  // namespace ui
