// File controls: the file list box, which lists the files of one folder, and the filter combo
// box, which offers file type filters ("Text files (*.txt)|*.txt|All files|*").
#pragma once

#include <string>

#include "ui/StdCtrls.h"

namespace ui {

class TFileListBox : public TCustomListBox {
 public:
  using TCustomListBox::TCustomListBox;
  std::string ClassName() const override { return "TFileListBox"; }

  // The folder listed; empty lists the current folder. Setting it re-reads the folder.
  const std::string& Directory() const { return directory_; }
  void SetDirectory(const std::string& value);
  // Wildcards of the files shown, separated by ';'. "*.*" shows every file, as on Windows.
  const std::string& Mask() const { return mask_; }
  void SetMask(const std::string& value);

  // Re-reads the folder: its regular files matching Mask, sorted by name ignoring case. A folder
  // that cannot be read gives an empty list.
  void Update();
  void Loaded() override;

  static const platform::PropertyTable& ClassProperties();
  const platform::PropertyTable& Properties() const override { return ClassProperties(); }

 private:
  bool Matches(const std::string& fileName) const;

  std::string directory_;
  std::string mask_ = "*.*";
};

class TFilterComboBox : public TCustomComboBox {
 public:
  using TCustomComboBox::TCustomComboBox;
  std::string ClassName() const override { return "TFilterComboBox"; }

  // Pairs of description and wildcards joined by '|'; the items are the descriptions.
  const std::string& Filter() const { return filter_; }
  void SetFilter(const std::string& value);
  // The wildcards of the selected description (empty when nothing is selected).
  std::string Mask() const;

  static const platform::PropertyTable& ClassProperties();
  const platform::PropertyTable& Properties() const override { return ClassProperties(); }

 private:
  std::string filter_;
};

}  // namespace ui
