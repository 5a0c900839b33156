// The picture, the bevel, and the older paged and tabbed controls: header (sections as strings),
// tab set, notebook and tabbed notebook, each holding its titles as a list of lines.
#pragma once

#include <string>

#include "platform/StringList.h"
#include "ui/Control.h"

namespace ui {

// A picture: Picture names a picture file of the resources folder.
class TImage : public TControl {
 public:
  using TControl::TControl;
  std::string ClassName() const override { return "TImage"; }
  const std::string& Picture() const { return picture_; }
  void SetPicture(const std::string& value) { picture_ = value; Changed(ccPicture); }
  bool Stretch() const { return stretch_; }
  void SetStretch(bool value) { stretch_ = value; }
  static const platform::PropertyTable& ClassProperties();
  const platform::PropertyTable& Properties() const override { return ClassProperties(); }

 private:
  std::string picture_;
  bool stretch_ = false;
};

enum TBevelShape { bsBox, bsFrame, bsTopLine, bsBottomLine, bsLeftLine, bsRightLine, bsSpacer };
enum TBevelStyle { bsLowered, bsRaised };

// A drawn frame or line around other controls.
class TBevel : public TControl {
 public:
  using TControl::TControl;
  std::string ClassName() const override { return "TBevel"; }
  TBevelShape Shape() const { return shape_; }
  void SetShape(TBevelShape value) { shape_ = value; }
  TBevelStyle Style() const { return style_; }
  void SetStyle(TBevelStyle value) { style_ = value; }
  static const platform::PropertyTable& ClassProperties();
  const platform::PropertyTable& Properties() const override { return ClassProperties(); }

 private:
  TBevelShape shape_ = bsBox;
  TBevelStyle style_ = bsLowered;
};

// A control whose titles are one list of lines under a given property name, with the index of
// the one shown.
class TTitledControl : public TControl {
 public:
  using TControl::TControl;
  std::string ClassName() const override { return "TTitledControl"; }
  const platform::TStringList& Titles() const { return titles_; }
  void SetTitles(const platform::TStringList& value) { titles_ = value; }
  int TitleIndex() const { return titleIndex_; }
  void SetTitleIndex(int value) { titleIndex_ = value; }

 protected:
  // Registers the titles and index under the names the kind uses (Sections; Tabs and TabIndex ...).
  static platform::PropertyTable TitlesTable(const char* titles, const char* index);

 private:
  platform::TStringList titles_;
  int titleIndex_ = 0;
};

class THeader : public TTitledControl {
 public:
  using TTitledControl::TTitledControl;
  std::string ClassName() const override { return "THeader"; }
  const platform::TStringList& Sections() const { return Titles(); }
  static const platform::PropertyTable& ClassProperties();
  const platform::PropertyTable& Properties() const override { return ClassProperties(); }
};

class TTabSet : public TTitledControl {
 public:
  using TTitledControl::TTitledControl;
  std::string ClassName() const override { return "TTabSet"; }
  const platform::TStringList& Tabs() const { return Titles(); }
  static const platform::PropertyTable& ClassProperties();
  const platform::PropertyTable& Properties() const override { return ClassProperties(); }
};

class TNotebook : public TTitledControl {
 public:
  using TTitledControl::TTitledControl;
  std::string ClassName() const override { return "TNotebook"; }
  const platform::TStringList& Pages() const { return Titles(); }
  static const platform::PropertyTable& ClassProperties();
  const platform::PropertyTable& Properties() const override { return ClassProperties(); }
};

class TTabbedNotebook : public TTitledControl {
 public:
  using TTitledControl::TTitledControl;
  std::string ClassName() const override { return "TTabbedNotebook"; }
  const platform::TStringList& Pages() const { return Titles(); }
  static const platform::PropertyTable& ClassProperties();
  const platform::PropertyTable& Properties() const override { return ClassProperties(); }
};

}  // namespace ui
