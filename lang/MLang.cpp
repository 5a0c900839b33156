#include "lang/MLang.h"

#include <algorithm>
#include <exception>
#include <functional>
#include <vector>

#include "ui/ComCtrls.h"
#include "ui/DBCtrls.h"
#include "ui/Dialogs.h"
#include "ui/ExtCtrls.h"
#include "ui/FileCtrls.h"
#include "ui/Form.h"
#include "ui/Menus.h"
#include "ui/StdCtrls.h"

using platform::TComponent;
using platform::TStringList;

namespace {

template <typename T>
T* As(TComponent* component) {
  return dynamic_cast<T*>(component);
}

// Turns a sorted control's sorting off for the lifetime of the guard, then restores it (which
// sorts again by the new texts).
template <typename T>
class TSortingOff {
 public:
  explicit TSortingOff(T& control) : control_(control), saved_(control.SortType()) { control_.SetSortType(ui::stNone); }
  ~TSortingOff() { control_.SetSortType(saved_); }
  TSortingOff(const TSortingOff&) = delete;
  TSortingOff& operator=(const TSortingOff&) = delete;

 private:
  T& control_;
  ui::TSortType saved_;
};

// The kinds whose texts are one list of titles (header sections, tabs, pages).
bool IsTitled(TComponent* k) { return As<ui::TTitledControl>(k) != nullptr || As<ui::TTabControl>(k) != nullptr; }

TStringList TitlesOf(TComponent* k) {
  if (auto* c = As<ui::TTitledControl>(k)) return c->Titles();
  return As<ui::TTabControl>(k)->Tabs();
}

void SetTitlesOf(TComponent* k, const TStringList& lines) {
  if (auto* c = As<ui::TTitledControl>(k)) return c->SetTitles(lines);
  As<ui::TTabControl>(k)->SetTabs(lines);
}

bool IsListBox(TComponent* k) { return As<ui::TListBox>(k) != nullptr || As<ui::TDBListBox>(k) != nullptr; }
bool IsRadioGroup(TComponent* k) { return As<ui::TDBRadioGroup>(k) != nullptr || As<ui::TRadioGroup>(k) != nullptr; }

TStringList ColumnCaptions(const ui::TListView& view) { return view.Columns(); }

}  // namespace

// Reads the groups of one component, keeping the position j in the table.
class TMultiLang::TWalker {
 public:
  TWalker(TMultiLang& lang, int& j) : lang_(lang), j_(j) {}

  bool Next(std::string& word) { return lang_.NextWord(j_, word); }
  // The next group's text when that group is a continuation group.
  bool NextContinuation(std::string& word) { return lang_.IsContinuation(j_) && lang_.NextWord(j_, word); }

  void Text(const std::function<void(const std::string&)>& set) {
    std::string word;
    if (Next(word)) set(word);
  }

  // Strings walk: line 0 from the next group, each further line from a continuation group; the
  // lines after the last one set become empty.
  TStringList Strings(TStringList lines) {
    if (!lang_.HasText(j_) || lines.IsEmpty()) return lines;
    int set = -1;
    std::string word;
    for (int k = 0; Next(word); ++k) {
      lines.SetStrings(k, word);
      set = k;
      if (!lang_.HasText(j_) || !lang_.IsContinuation(j_) || k + 1 >= lines.Count()) break;
    }
    for (int k = set + 1; k < lines.Count(); ++k) lines.SetStrings(k, "");
    return lines;
  }

  // Sequence walk: item 0 from the next group, further items from continuation groups; items
  // without a group keep their texts.
  void Sequence(int count, const std::function<void(int, const std::string&)>& set) {
    std::string word;
    if (count <= 0 || !Next(word)) return;
    set(0, word);
    for (int k = 1; k < count && NextContinuation(word); ++k) set(k, word);
  }

  // Hint walk: the own group's text and every following continuation group's, empty where the
  // table has none.
  TStringList Hints() {
    TStringList hints;
    std::string word;
    hints.Add(Next(word) ? word : "");
    while (lang_.IsContinuation(j_)) {
      if (!Next(word)) {
        hints.Add("");
        break;
      }
      hints.Add(word);
    }
    return hints;
  }

  void Items(ui::TItemsControl& control, bool keepIndex) {
    const int index = control.ItemIndex();
    control.SetItems(Strings(control.Items()));
    if (keepIndex && index < control.Items().Count()) control.SetItemIndex(index);
  }

  void RadioGroup(ui::TCustomRadioGroup& group) {
    Text([&](const std::string& w) { group.SetCaption(w); });
    Items(group, false);
  }

  void TreeView(ui::TTreeView& tree) {
    TSortingOff<ui::TTreeView> unsorted(tree);
    Sequence(tree.NodeCount(), [&](int k, const std::string& w) { tree.SetNodeText(k, w); });
  }

  void ListView(ui::TListView& view) {
    Sequence(view.ColumnCount(), [&](int k, const std::string& w) { view.SetColumnCaption(k, w); });
    TSortingOff<ui::TListView> unsorted(view);
    std::string word;
    for (int item = 0; item < view.ItemCount() && NextContinuation(word); ++item) {
      view.SetItemCaption(item, word);
      view.SetSubItems(item, Strings(view.Item(item).subItems));
    }
  }

  void StatusBar(ui::TStatusBar& bar) {
    Text([&](const std::string& w) { bar.SetSimpleText(w); });
    std::string word;
    for (int panel = 0; panel < bar.PanelCount() && NextContinuation(word); ++panel) bar.SetPanelText(panel, word);
  }

  // Anything else: Caption, then Text (not of a masked edit), each from the next group.
  void CaptionAndText(TComponent& k) {
    if (k.HasProperty("Caption")) Text([&](const std::string& w) { k.SetProperty("Caption", w); });
    if (k.HasProperty("Text") && As<ui::TMaskEdit>(&k) == nullptr) {
      Text([&](const std::string& w) { k.SetProperty("Text", w); });
    }
  }

 private:
  TMultiLang& lang_;
  int& j_;
};

void TMultiLang::ApplyWords(TComponent* component, int& index) {
  TComponent* k = component;
  ApplyPositions(*k, index);
  int j = index;
  try {
    TWalker walk(*this, j);
    if (ShouldTranslate(*k)) {
      // The first matching kind wins, in this order.
      if (IsListBox(k)) {
        walk.Items(*As<ui::TItemsControl>(k), false);
      } else if (auto* dbRadio = As<ui::TDBRadioGroup>(k)) {
        walk.RadioGroup(*dbRadio);
      } else if (auto* grid = As<ui::TDBGrid>(k)) {
        walk.Sequence(grid->ColumnCount(), [&](int c, const std::string& w) { grid->SetColumnTitle(c, w); });
      } else if (auto* dbCombo = As<ui::TDBComboBox>(k)) {
        walk.Items(*dbCombo, true);
      } else if (auto* field = As<ui::TField>(k)) {
        walk.Text([&](const std::string& w) { field->SetDisplayLabel(w); });
      } else if (auto* navigator = As<ui::TDBNavigator>(k)) {
        navigator->SetHints(walk.Hints());
      } else if (auto* form = As<ui::TForm>(k)) {
        walk.Text([&](const std::string& w) { form->SetCaption(w); });
      } else if (auto* radio = As<ui::TRadioGroup>(k)) {
        walk.RadioGroup(*radio);
      } else if (auto* memo = As<ui::TMemo>(k)) {
        memo->SetLines(walk.Strings(memo->Lines()));
      } else if (IsTitled(k)) {
        SetTitlesOf(k, walk.Strings(TitlesOf(k)));
      } else if (auto* tree = As<ui::TTreeView>(k)) {
        walk.TreeView(*tree);
      } else if (auto* view = As<ui::TListView>(k)) {
        walk.ListView(*view);
      } else if (auto* bar = As<ui::TStatusBar>(k)) {
        walk.StatusBar(*bar);
      } else if (auto* header = As<ui::THeaderControl>(k)) {
        walk.Sequence(header->SectionCount(), [&](int s, const std::string& w) { header->SetSectionText(s, w); });
      } else if (auto* combo = As<ui::TComboBox>(k)) {
        walk.Items(*combo, true);
      } else if (auto* filter = As<ui::TFilterComboBox>(k)) {
        walk.Text([&](const std::string& w) { filter->SetFilter(w); });
      } else if (auto* dialog = As<ui::TOpenDialog>(k)) {  // a save dialog is one too
        walk.Text([&](const std::string& w) { dialog->SetTitle(w); });
        walk.Text([&](const std::string& w) { dialog->SetFilter(w); });
      } else if (auto* item = As<ui::TMenuItem>(k)) {
        walk.Text([&](const std::string& w) { item->SetCaption(w); });
      } else {
        walk.CaptionAndText(*k);
      }
    }
    if (k->HasProperty("Hint")) {
      if (j == index) j += GroupSize();  // the own group, unused
      std::string hint;
      if (IsHintKey(j) && NextWord(j, hint) && !hint.empty()) k->SetProperty("Hint", hint);
    }
    if (j == index) j += GroupSize();
  } catch (...) {
    // The walk resumes after the groups read so far, and at least after the own group.
    index = std::max(j, index + GroupSize());
    throw;
  }
  index = j;
}

// Writes one component's texts as rows of a word grid.
class TMultiLang::TCollector {
 public:
  TCollector(const TMultiLang& lang, TWordGrid& grid) : lang_(lang), grid_(grid) {}

  // Writes the continuation key and text into the last row, then adds an empty last row.
  void Row(const std::string& text) {
    const int row = grid_.RowCount() - 1;
    grid_.SetCell(0, row, "\"");
    grid_.SetCell(lang_.ActiveLanguage() + 1, row, text);
    grid_.SetRowCount(grid_.RowCount() + 1);
    grid_.ClearRow(grid_.RowCount() - 1);
    ++written_;
  }
  void Rows(const TStringList& lines) {
    for (const std::string& line : lines) Row(line);
  }
  int Written() const { return written_; }

  void Texts(TComponent* k) {
    if (IsListBox(k)) {
      Rows(As<ui::TItemsControl>(k)->Items());
    } else if (auto* radio = As<ui::TCustomRadioGroup>(k); radio != nullptr && IsRadioGroup(k)) {
      Row(radio->Caption());
      Rows(radio->Items());
    } else if (auto* grid = As<ui::TDBGrid>(k)) {
      Rows(grid->Columns());
    } else if (auto* dbCombo = As<ui::TDBComboBox>(k)) {
      Rows(dbCombo->Items());
    } else if (auto* field = As<ui::TField>(k)) {
      Row(field->DisplayLabel());
    } else if (auto* navigator = As<ui::TDBNavigator>(k)) {
      Rows(navigator->Hints());
    } else if (auto* form = As<ui::TForm>(k)) {
      Row(form->Caption());
    } else if (auto* memo = As<ui::TMemo>(k)) {
      Rows(memo->Lines());
    } else if (IsTitled(k)) {
      Rows(TitlesOf(k));
    } else if (auto* tree = As<ui::TTreeView>(k)) {
      for (int n = 0; n < tree->NodeCount(); ++n) Row(tree->NodeText(n));
    } else if (auto* view = As<ui::TListView>(k)) {
      Rows(ColumnCaptions(*view));
      for (int item = 0; item < view->ItemCount(); ++item) {
        Row(view->Item(item).caption);
        Rows(view->Item(item).subItems);
      }
    } else if (auto* bar = As<ui::TStatusBar>(k)) {
      Row(bar->SimpleText());
      Rows(bar->Panels());
    } else if (auto* header = As<ui::THeaderControl>(k)) {
      Rows(header->Sections());
    } else if (auto* combo = As<ui::TComboBox>(k)) {
      Rows(combo->Items());
    } else if (auto* filter = As<ui::TFilterComboBox>(k)) {
      Row(filter->Filter());
    } else if (auto* dialog = As<ui::TOpenDialog>(k)) {
      Row(dialog->Title());
      Row(dialog->Filter());
    } else if (auto* item = As<ui::TMenuItem>(k)) {
      Row(item->Caption());
    } else {
      if (k->HasProperty("Caption")) Row(k->GetProperty("Caption").AsString());
      if (k->HasProperty("Text") && As<ui::TMaskEdit>(k) == nullptr) Row(k->GetProperty("Text").AsString());
    }
  }

  void Hint(const std::string& hint) {
    if (written_ == 0) Row("");
    Row(hint);
    grid_.SetCell(0, grid_.RowCount() - 2, "\".Hint");
  }

 private:
  const TMultiLang& lang_;
  TWordGrid& grid_;
  int written_ = 0;
};

void TMultiLang::CollectWords(TComponent* component, int firstRow, TWordGrid* grid) {
  StorePositions(*component, firstRow);
  if (grid == nullptr) throw platform::Exception("CollectWords needs a grid");
  TCollector collect(*this, *grid);
  if (ShouldTranslate(*component)) collect.Texts(component);
  if (component->HasProperty("Hint")) {
    const std::string hint = component->GetProperty("Hint").AsString();
    if (!hint.empty()) collect.Hint(hint);
  }
  if (collect.Written() > 0) grid->SetCell(0, firstRow, component->Name());
}

void SetGlobalLanguage(std::uint8_t language) {
  std::exception_ptr firstError;
  // A copy: a switch may create or free windows; a component freed meanwhile is passed over.
  const std::vector<TBaseMultiLang*> components = MultiLangInstances();
  for (TBaseMultiLang* component : components) {
    const auto& live = MultiLangInstances();
    if (std::find(live.begin(), live.end(), component) == live.end()) continue;
    if (component->Languages() <= language) continue;
    try {
      component->SetActiveLanguage(language);
    } catch (...) {
      if (!firstError) firstError = std::current_exception();
    }
  }
  SetGlobalLanguageIndex(language);
  TellGlobalLanguageListener(language);
  if (firstError) std::rethrow_exception(firstError);
}

void RegisterLanguageClasses(ui::TClassRegistry& classes) { classes.Register<TMultiLang>("TMultiLang"); }
