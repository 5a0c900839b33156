#include "ui/ComCtrls.h"

#include <algorithm>
#include <functional>

namespace ui {

using platform::PropertyTable;
using platform::TStringList;

namespace {

const std::vector<std::pair<std::string, TSortType>> kSortTypes = {
    {"stNone", stNone}, {"stData", stData}, {"stText", stText}, {"stBoth", stBoth}};

bool TextLess(const std::string& a, const std::string& b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) < std::tolower(static_cast<unsigned char>(y));
  });
}

}  // namespace

// ---- TStatusBar ----

const PropertyTable& TStatusBar::ClassProperties() {
  static const PropertyTable table =
      PropertyTable(&TControl::ClassProperties())
          .Property("SimplePanel", &TStatusBar::SimplePanel, &TStatusBar::SetSimplePanel)
          .Property("SimpleText", &TStatusBar::SimpleText, &TStatusBar::SetSimpleText)
          .Property("Panels", &TStatusBar::Panels, &TStatusBar::SetPanels)
          .Enumeration("Align", &TStatusBar::Align, &TStatusBar::SetAlign,
                       {{"alNone", alNone}, {"alTop", alTop}, {"alBottom", alBottom}, {"alLeft", alLeft},
                        {"alRight", alRight}, {"alClient", alClient}})
          .Property("SizeGrip", &TStatusBar::SizeGrip, &TStatusBar::SetSizeGrip);
  return table;
}

// ---- TTreeView ----

TTreeView::~TTreeView() = default;

TStringList TTreeView::Items() const {
  TStringList lines;
  const std::function<void(const Nodes&, int)> walk = [&](const Nodes& nodes, int level) {
    for (const auto& node : nodes) {
      lines.Add(std::string(static_cast<std::size_t>(level), '\t') + node->text);
      walk(node->children, level + 1);
    }
  };
  walk(roots_, 0);
  return lines;
}

void TTreeView::SetItems(const TStringList& value) {
  Nodes roots;
  std::vector<Nodes*> levels{&roots};  // levels[n]: where a node of level n goes
  for (const std::string& line : value) {
    const std::size_t level = std::min(line.find_first_not_of('\t'), line.size());
    if (level >= levels.size()) {
      throw platform::Exception("Tree node \"" + line.substr(level) + "\" has no parent at level " +
                                std::to_string(level - 1));
    }
    levels.resize(level + 1);
    auto node = std::make_unique<Node>();
    node->text = line.substr(level);
    Nodes* children = &node->children;
    levels[level]->push_back(std::move(node));
    levels.push_back(children);
  }
  roots_ = std::move(roots);
  if (SortsByText()) SortAll(roots_);
}

int TTreeView::NodeCount() const { return Items().Count(); }

TTreeView::Node* TTreeView::NodeAt(int index, Nodes** siblings) const {
  int remaining = index;
  const std::function<Node*(const Nodes&)> find = [&](const Nodes& nodes) -> Node* {
    for (const auto& node : nodes) {
      if (remaining-- == 0) {
        *siblings = const_cast<Nodes*>(&nodes);
        return node.get();
      }
      if (Node* found = find(node->children)) return found;
    }
    return nullptr;
  };
  Node* node = index >= 0 ? find(roots_) : nullptr;
  if (node == nullptr) throw platform::Exception("Tree node index out of bounds (" + std::to_string(index) + ")");
  return node;
}

std::string TTreeView::NodeText(int index) const {
  Nodes* siblings = nullptr;
  return NodeAt(index, &siblings)->text;
}

void TTreeView::SetNodeText(int index, const std::string& text) {
  Nodes* siblings = nullptr;
  NodeAt(index, &siblings)->text = text;
  if (SortsByText()) {
    std::stable_sort(siblings->begin(), siblings->end(),
                     [](const auto& a, const auto& b) { return TextLess(a->text, b->text); });
  }
}

void TTreeView::SortAll(Nodes& nodes) {
  std::stable_sort(nodes.begin(), nodes.end(), [](const auto& a, const auto& b) { return TextLess(a->text, b->text); });
  for (auto& node : nodes) SortAll(node->children);
}

void TTreeView::SetSortType(TSortType value) {
  sortType_ = value;
  if (SortsByText()) SortAll(roots_);
}

const PropertyTable& TTreeView::ClassProperties() {
  static const PropertyTable table = PropertyTable(&TControl::ClassProperties())
                                         .Property("Items", &TTreeView::Items, &TTreeView::SetItems)
                                         .Enumeration("SortType", &TTreeView::SortType, &TTreeView::SetSortType, kSortTypes);
  return table;
}

// ---- TListView ----

TStringList TListView::Items() const {
  TStringList lines;
  for (const TListItem& item : items_) {
    std::string line = item.caption;
    for (const std::string& sub : item.subItems) line += "\t" + sub;
    lines.Add(std::move(line));
  }
  return lines;
}

void TListView::SetItems(const TStringList& value) {
  std::vector<TListItem> items;
  for (const std::string& line : value) {
    TListItem item;
    std::size_t start = 0;
    std::size_t tab = line.find('\t');
    item.caption = line.substr(0, tab);
    while (tab != std::string::npos) {
      start = tab + 1;
      tab = line.find('\t', start);
      item.subItems.Add(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
    }
    items.push_back(std::move(item));
  }
  items_ = std::move(items);
  SortIfNeeded();
}

TListItem& TListView::CheckedItem(int index) {
  if (index < 0 || index >= ItemCount()) {
    throw platform::Exception("List item index out of bounds (" + std::to_string(index) + ")");
  }
  return items_[static_cast<std::size_t>(index)];
}

const TListItem& TListView::Item(int index) const { return const_cast<TListView*>(this)->CheckedItem(index); }

void TListView::SetItemCaption(int index, const std::string& text) {
  CheckedItem(index).caption = text;
  SortIfNeeded();
}

void TListView::SetSubItems(int index, const TStringList& subItems) { CheckedItem(index).subItems = subItems; }

void TListView::SortIfNeeded() {
  if (sortType_ != stText && sortType_ != stBoth) return;
  std::stable_sort(items_.begin(), items_.end(),
                   [](const TListItem& a, const TListItem& b) { return TextLess(a.caption, b.caption); });
}

void TListView::SetSortType(TSortType value) {
  sortType_ = value;
  SortIfNeeded();
}

const PropertyTable& TListView::ClassProperties() {
  static const PropertyTable table = PropertyTable(&TControl::ClassProperties())
                                         .Property("Columns", &TListView::Columns, &TListView::SetColumns)
                                         .Property("Items", &TListView::Items, &TListView::SetItems)
                                         .Enumeration("SortType", &TListView::SortType, &TListView::SetSortType, kSortTypes);
  return table;
}

// ---- THeaderControl, TTabControl ----

const PropertyTable& THeaderControl::ClassProperties() {
  static const PropertyTable table = PropertyTable(&TControl::ClassProperties())
                                         .Property("Sections", &THeaderControl::Sections, &THeaderControl::SetSections);
  return table;
}

const PropertyTable& TTabControl::ClassProperties() {
  static const PropertyTable table = PropertyTable(&TControl::ClassProperties())
                                         .Property("Tabs", &TTabControl::Tabs, &TTabControl::SetTabs)
                                         .Property("TabIndex", &TTabControl::TabIndex, &TTabControl::SetTabIndex);
  return table;
}

}  // namespace ui
