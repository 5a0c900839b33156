// The common controls: status bar, tree view, list view, header control and tab control.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/StringList.h"
#include "ui/Control.h"

namespace ui {

enum TAlign { alNone, alTop, alBottom, alLeft, alRight, alClient };

// A status bar shows either one simple text (SimplePanel) or its panels.
class TStatusBar : public TControl {
 public:
  explicit TStatusBar(platform::TComponent* owner) : TControl(owner) {}
  std::string ClassName() const override { return "TStatusBar"; }

  bool SimplePanel() const { return simplePanel_; }
  void SetSimplePanel(bool value) { simplePanel_ = value; Changed(ccStatusText); }
  const std::string& SimpleText() const { return simpleText_; }
  void SetSimpleText(const std::string& value) { simpleText_ = value; Changed(ccStatusText); }
  // The panels' texts; a stored form gives one line per panel.
  const platform::TStringList& Panels() const { return panels_; }
  void SetPanels(const platform::TStringList& value) { panels_ = value; Changed(ccStatusText); }
  int PanelCount() const { return panels_.Count(); }
  void SetPanelText(int index, const std::string& text) { panels_.SetStrings(index, text); Changed(ccStatusText); }
  TAlign Align() const { return align_; }
  void SetAlign(TAlign value) { align_ = value; }
  bool SizeGrip() const { return sizeGrip_; }
  void SetSizeGrip(bool value) { sizeGrip_ = value; }

  static const platform::PropertyTable& ClassProperties();
  const platform::PropertyTable& Properties() const override { return ClassProperties(); }

 private:
  bool simplePanel_ = false;
  std::string simpleText_;
  platform::TStringList panels_;
  TAlign align_ = alBottom;
  bool sizeGrip_ = true;
};

enum TSortType { stNone, stData, stText, stBoth };

// A tree of text nodes. A stored form gives the nodes in tree order, one line each, indented by
// one tab per level. Sorting by text keeps every node's children in order, also when a text changes.
class TTreeView : public TControl {
 public:
  explicit TTreeView(platform::TComponent* owner) : TControl(owner) { SetTabStop(true); }
  ~TTreeView() override;
  std::string ClassName() const override { return "TTreeView"; }

  // The nodes in tree order (a node before its children), each prefixed by its level in tabs.
  platform::TStringList Items() const;
  // Raises platform::Exception for a line indented more than one level below the line before it.
  void SetItems(const platform::TStringList& value);
  int NodeCount() const;
  // Node of index in tree order.
  std::string NodeText(int index) const;
  void SetNodeText(int index, const std::string& text);
  TSortType SortType() const { return sortType_; }
  void SetSortType(TSortType value);

  static const platform::PropertyTable& ClassProperties();
  const platform::PropertyTable& Properties() const override { return ClassProperties(); }

 private:
  struct Node;
  using Nodes = std::vector<std::unique_ptr<Node>>;
  struct Node {
    std::string text;
    Nodes children;
  };
  Node* NodeAt(int index, Nodes** siblings) const;
  bool SortsByText() const { return sortType_ == stText || sortType_ == stBoth; }
  static void SortAll(Nodes& nodes);

  Nodes roots_;
  TSortType sortType_ = stNone;
};

struct TListItem {
  std::string caption;
  platform::TStringList subItems;
};

// A list of items with sub-items under column captions. A stored form gives one line per item:
// the caption, then each sub-item, separated by tabs. Sorting by text orders the items by caption.
class TListView : public TControl {
 public:
  explicit TListView(platform::TComponent* owner) : TControl(owner) { SetTabStop(true); }
  std::string ClassName() const override { return "TListView"; }

  const platform::TStringList& Columns() const { return columns_; }
  void SetColumns(const platform::TStringList& value) { columns_ = value; }
  int ColumnCount() const { return columns_.Count(); }
  void SetColumnCaption(int index, const std::string& text) { columns_.SetStrings(index, text); }

  platform::TStringList Items() const;
  void SetItems(const platform::TStringList& value);
  int ItemCount() const { return static_cast<int>(items_.size()); }
  const TListItem& Item(int index) const;
  void SetItemCaption(int index, const std::string& text);
  void SetSubItems(int index, const platform::TStringList& subItems);

  TSortType SortType() const { return sortType_; }
  void SetSortType(TSortType value);

  static const platform::PropertyTable& ClassProperties();
  const platform::PropertyTable& Properties() const override { return ClassProperties(); }

 private:
  TListItem& CheckedItem(int index);
  void SortIfNeeded();

  platform::TStringList columns_;
  std::vector<TListItem> items_;
  TSortType sortType_ = stNone;
};

class THeaderControl : public TControl {
 public:
  explicit THeaderControl(platform::TComponent* owner) : TControl(owner) {}
  std::string ClassName() const override { return "THeaderControl"; }
  const platform::TStringList& Sections() const { return sections_; }
  void SetSections(const platform::TStringList& value) { sections_ = value; }
  int SectionCount() const { return sections_.Count(); }
  void SetSectionText(int index, const std::string& text) { sections_.SetStrings(index, text); }
  static const platform::PropertyTable& ClassProperties();
  const platform::PropertyTable& Properties() const override { return ClassProperties(); }

 private:
  platform::TStringList sections_;
};

class TTabControl : public TControl {
 public:
  explicit TTabControl(platform::TComponent* owner) : TControl(owner) { SetTabStop(true); }
  std::string ClassName() const override { return "TTabControl"; }
  const platform::TStringList& Tabs() const { return tabs_; }
  void SetTabs(const platform::TStringList& value) { tabs_ = value; }
  int TabIndex() const { return tabIndex_; }
  void SetTabIndex(int value) { tabIndex_ = value; }
  static const platform::PropertyTable& ClassProperties();
  const platform::PropertyTable& Properties() const override { return ClassProperties(); }

 private:
  platform::TStringList tabs_;
  int tabIndex_ = -1;
};

}  // namespace ui
