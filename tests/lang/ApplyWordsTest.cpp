// How each kind of component receives its texts, the walks over continuation and hint groups,
// and tables that are short, cut off or oddly keyed.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "lang/MLang.h"
#include "tests/lang/LangTestSupport.h"
#include "ui/Actions.h"
#include "ui/ComCtrls.h"
#include "ui/DBCtrls.h"
#include "ui/Dialogs.h"
#include "ui/ExtCtrls.h"
#include "ui/FileCtrls.h"
#include "ui/Menus.h"
#include "ui/StdCtrls.h"
#include "ui/Timer.h"

using platform::TStringList;

namespace {

const std::string Q = "\"";        // continuation key
const std::string H = "\".Hint";   // hint key

template <typename T>
T* Make(ui::TForm& window, const std::string& name) {
  T* component = new T(&window);
  component->SetName(name);
  return component;
}

template <typename T>
T& Get(ui::TForm& window, const std::string& name) {
  return *dynamic_cast<T*>(window.FindComponent(name));
}

// A label whose caption cannot be set: its texts fail to apply.
class TFailingLabel : public ui::TLabel {
 public:
  using TLabel::TLabel;
  static const platform::PropertyTable& ClassProperties() {
    static const platform::PropertyTable table = platform::PropertyTable(&TLabel::ClassProperties())
                                                      .Add("Caption", nullptr, [](platform::TComponent&, const platform::Variant&) {
                                                        throw platform::Exception("caption refused");
                                                      });
    return table;
  }
  const platform::PropertyTable& Properties() const override { return ClassProperties(); }
};

struct WalkCase {
  const char* what;
  std::function<void(ui::TForm&)> build;
  std::vector<std::string> words;  // two languages; the switch goes to language 1
  std::function<std::string(ui::TForm&)> read;
  std::string expected;
};

std::string RunCase(const WalkCase& c) {
  TTestWindow window;
  window.SetCaption("Window");
  auto* lang = Make<TMultiLang>(window, "MultiLang1");
  c.build(window);
  lang->SetWords(TStringList(c.words));
  lang->SetActiveLanguage(1);
  return c.read(window);
}

ui::TStatusBar* StatusBarWithPanels(ui::TForm& w) {
  auto* bar = Make<ui::TStatusBar>(w, "sb");
  bar->SetSimpleText("simple");
  bar->SetPanels(TStringList{"p", "q", "r"});
  return bar;
}

std::string StatusBarTexts(ui::TForm& w) {
  auto& bar = Get<ui::TStatusBar>(w, "sb");
  return bar.SimpleText() + ";" + Joined(bar.Panels());
}

TEST(ApplyWords, EveryKindReceivesItsTextsByItsWalk) {
  const std::vector<WalkCase> cases = {
      {"list box: one group and one continuation for three items empties the third",
       [](ui::TForm& w) { Make<ui::TListBox>(w, "lb")->SetItems(TStringList{"a", "b", "c"}); },
       {"lb", "a0", "a1", Q, "b0", "b1"},
       [](ui::TForm& w) { return Joined(Get<ui::TListBox>(w, "lb").Items()); },
       "a1|b1|"},
      {"data-aware list box takes the same walk",
       [](ui::TForm& w) { Make<ui::TDBListBox>(w, "lb")->SetItems(TStringList{"a", "b"}); },
       {"lb", "a0", "a1", Q, "b0", "b1"},
       [](ui::TForm& w) { return Joined(Get<ui::TDBListBox>(w, "lb").Items()); },
       "a1|b1"},
      {"radio group: caption, then its items",
       [](ui::TForm& w) { Make<ui::TRadioGroup>(w, "rg")->SetItems(TStringList{"x", "y"}); },
       {"rg", "C0", "C1", Q, "a0", "a1", Q, "b0", "b1"},
       [](ui::TForm& w) {
         auto& g = Get<ui::TRadioGroup>(w, "rg");
         return g.Caption() + ";" + Joined(g.Items());
       },
       "C1;a1|b1"},
      {"data-aware radio group",
       [](ui::TForm& w) { Make<ui::TDBRadioGroup>(w, "rg")->SetItems(TStringList{"x"}); },
       {"rg", "C0", "C1", Q, "a0", "a1"},
       [](ui::TForm& w) {
         auto& g = Get<ui::TDBRadioGroup>(w, "rg");
         return g.Caption() + ";" + Joined(g.Items());
       },
       "C1;a1"},
      {"grid: column titles in sequence; a column without a group keeps its title",
       [](ui::TForm& w) { Make<ui::TDBGrid>(w, "grid")->SetColumns(TStringList{"x", "y", "z"}); },
       {"grid", "T0", "T1", Q, "U0", "U1"},
       [](ui::TForm& w) { return Joined(Get<ui::TDBGrid>(w, "grid").Columns()); },
       "T1|U1|z"},
      {"data-aware combo box keeps its selection",
       [](ui::TForm& w) {
         auto* c = Make<ui::TDBComboBox>(w, "cb");
         c->SetItems(TStringList{"x", "y"});
         c->SetItemIndex(1);
       },
       {"cb", "a0", "a1", Q, "b0", "b1"},
       [](ui::TForm& w) {
         auto& c = Get<ui::TDBComboBox>(w, "cb");
         return Joined(c.Items()) + ";" + std::to_string(c.ItemIndex());
       },
       "a1|b1;1"},
      {"database field: display label",
       [](ui::TForm& w) { Make<ui::TField>(w, "fld")->SetFieldName("NAME"); },
       {"fld", "Name", "名稱"},
       [](ui::TForm& w) { return Get<ui::TField>(w, "fld").DisplayLabel(); },
       "名稱"},
      {"navigator: hints from the own group and every continuation group",
       [](ui::TForm& w) { Make<ui::TDBNavigator>(w, "nav"); },
       {"nav", "F0", "F1", Q, "P0", "P1", Q, "N0", ""},
       [](ui::TForm& w) { return Joined(Get<ui::TDBNavigator>(w, "nav").Hints()); },
       "F1|P1|"},
      {"a window held by the window: its caption",
       [](ui::TForm& w) { Make<ui::TForm>(w, "child"); },
       {"child", "Child", "子"},
       [](ui::TForm& w) { return Get<ui::TForm>(w, "child").Caption(); },
       "子"},
      {"memo: lines by the strings walk",
       [](ui::TForm& w) {
         auto* m = Make<ui::TMemo>(w, "memo");
         m->SetLines(TStringList{"l1", "l2"});
         m->SetReadOnly(true);
       },
       {"memo", "m0", "m1"},
       [](ui::TForm& w) { return Joined(Get<ui::TMemo>(w, "memo").Lines()); },
       "m1|"},
      {"header sections",
       [](ui::TForm& w) { Make<ui::THeader>(w, "hd")->SetTitles(TStringList{"a", "b"}); },
       {"hd", "a0", "a1", Q, "b0", "b1"},
       [](ui::TForm& w) { return Joined(Get<ui::THeader>(w, "hd").Sections()); },
       "a1|b1"},
      {"tab set",
       [](ui::TForm& w) { Make<ui::TTabSet>(w, "ts")->SetTitles(TStringList{"a", "b"}); },
       {"ts", "a0", "a1"},
       [](ui::TForm& w) { return Joined(Get<ui::TTabSet>(w, "ts").Tabs()); },
       "a1|"},
      {"notebook pages",
       [](ui::TForm& w) { Make<ui::TNotebook>(w, "nb")->SetTitles(TStringList{"a"}); },
       {"nb", "a0", "a1"},
       [](ui::TForm& w) { return Joined(Get<ui::TNotebook>(w, "nb").Pages()); },
       "a1"},
      {"tabbed notebook pages",
       [](ui::TForm& w) { Make<ui::TTabbedNotebook>(w, "tn")->SetTitles(TStringList{"a", "b"}); },
       {"tn", "a0", "a1", Q, "b0", "b1"},
       [](ui::TForm& w) { return Joined(Get<ui::TTabbedNotebook>(w, "tn").Pages()); },
       "a1|b1"},
      {"tab control tabs",
       [](ui::TForm& w) { Make<ui::TTabControl>(w, "tc")->SetTabs(TStringList{"a", "b"}); },
       {"tc", "a0", "a1", Q, "b0", "b1"},
       [](ui::TForm& w) { return Joined(Get<ui::TTabControl>(w, "tc").Tabs()); },
       "a1|b1"},
      {"tree view: nodes in tree order, sorted again afterwards",
       [](ui::TForm& w) {
         auto* t = Make<ui::TTreeView>(w, "tv");
         t->SetItems(TStringList{"a", "\tchild", "b"});
         t->SetSortType(ui::stText);
       },
       {"tv", "a0", "zeta", Q, "c0", "kid", Q, "b0", "alpha"},
       [](ui::TForm& w) {
         auto& t = Get<ui::TTreeView>(w, "tv");
         return Joined(t.Items()) + ";" + std::to_string(t.SortType());
       },
       "alpha|zeta|\tkid;2"},
      {"list view: columns, then each item's caption and sub-items; sorted again afterwards",
       [](ui::TForm& w) {
         auto* v = Make<ui::TListView>(w, "lv");
         v->SetColumns(TStringList{"c1", "c2"});
         v->SetItems(TStringList{"i1\ts1", "i2\ts2"});
         v->SetSortType(ui::stText);
       },
       {"lv", "A0", "Col A", Q, "B0", "Col B", Q, "x0", "zz", Q, "y0", "sub zz", Q, "z0", "aa", Q, "w0", "sub aa"},
       [](ui::TForm& w) {
         auto& v = Get<ui::TListView>(w, "lv");
         return Joined(v.Columns()) + ";" + Joined(v.Items());
       },
       "Col A|Col B;aa\tsub aa|zz\tsub zz"},
      {"status bar: simple text, then panels while continuation groups remain",
       [](ui::TForm& w) { StatusBarWithPanels(w); },
       {"sb", "s0", "s1", Q, "p0", "p1", Q, "q0", "q1"},
       StatusBarTexts,
       "s1;p1|q1|r"},
      {"header control sections in sequence",
       [](ui::TForm& w) { Make<ui::THeaderControl>(w, "hc")->SetSections(TStringList{"a", "b", "c"}); },
       {"hc", "a0", "a1", Q, "b0", "b1"},
       [](ui::TForm& w) { return Joined(Get<ui::THeaderControl>(w, "hc").Sections()); },
       "a1|b1|c"},
      {"combo box keeps its selection",
       [](ui::TForm& w) {
         auto* c = Make<ui::TComboBox>(w, "cb");
         c->SetItems(TStringList{"x", "y", "z"});
         c->SetItemIndex(2);
       },
       {"cb", "a0", "a1", Q, "b0", "b1", Q, "c0", "c1"},
       [](ui::TForm& w) {
         auto& c = Get<ui::TComboBox>(w, "cb");
         return Joined(c.Items()) + ";" + std::to_string(c.ItemIndex());
       },
       "a1|b1|c1;2"},
      {"filter combo box: its filter",
       [](ui::TForm& w) { Make<ui::TFilterComboBox>(w, "fc"); },
       {"fc", "Text|*.txt", "文字|*.txt|全部|*"},
       [](ui::TForm& w) { return Joined(Get<ui::TFilterComboBox>(w, "fc").Items()); },
       "文字|全部"},
      {"open dialog: title, then filter from the next group",
       [](ui::TForm& w) { Make<ui::TOpenDialog>(w, "od"); },
       {"od", "Open", "開啟", Q, "All|*", "全部|*"},
       [](ui::TForm& w) {
         auto& d = Get<ui::TOpenDialog>(w, "od");
         return d.Title() + ";" + d.Filter();
       },
       "開啟;全部|*"},
      {"save dialog",
       [](ui::TForm& w) { Make<ui::TSaveDialog>(w, "sd"); },
       {"sd", "Save", "儲存", Q, "All|*", "全部|*"},
       [](ui::TForm& w) {
         auto& d = Get<ui::TSaveDialog>(w, "sd");
         return d.Title() + ";" + d.Filter();
       },
       "儲存;全部|*"},
      {"menu item: caption",
       [](ui::TForm& w) { Make<ui::TMenuItem>(w, "mi"); },
       {"mi", "File", "檔案"},
       [](ui::TForm& w) { return Get<ui::TMenuItem>(w, "mi").Caption(); },
       "檔案"},
      {"a button named with a hint group gets caption and hint",
       [](ui::TForm& w) { Make<ui::TButton>(w, "btn"); },
       {"btn", "OK", "確定", H, "Go", "執行"},
       [](ui::TForm& w) {
         auto& b = Get<ui::TButton>(w, "btn");
         return b.Caption() + ";" + b.Hint();
       },
       "確定;執行"},
      {"read-only edit: its text",
       [](ui::TForm& w) { Make<ui::TEdit>(w, "ed")->SetReadOnly(true); },
       {"ed", "e0", "e1"},
       [](ui::TForm& w) { return Get<ui::TEdit>(w, "ed").Text(); },
       "e1"},
      {"editable edit: left alone, its group passed over",
       [](ui::TForm& w) {
         Make<ui::TEdit>(w, "ed")->SetText("typed");
         Make<ui::TLabel>(w, "lbl");
       },
       {"ed", "e0", "e1", "lbl", "l0", "l1"},
       [](ui::TForm& w) { return Get<ui::TEdit>(w, "ed").Text() + ";" + Get<ui::TLabel>(w, "lbl").Caption(); },
       "typed;l1"},
      {"masked edit: its text is never set",
       [](ui::TForm& w) {
         auto* m = Make<ui::TMaskEdit>(w, "me");
         m->SetReadOnly(true);
         m->SetText("12:00");
       },
       {"me", "m0", "m1"},
       [](ui::TForm& w) { return Get<ui::TMaskEdit>(w, "me").Text(); },
       "12:00"},
      {"a control with an action: the action's texts stay, the table's hint still applies",
       [](ui::TForm& w) {
         auto* action = Make<ui::TAction>(w, "act");
         action->SetCaption("Run");
         Make<ui::TButton>(w, "btn")->SetAction(action);
       },
       {"btn", "B0", "B1", H, "h0", "h1"},
       [](ui::TForm& w) {
         auto& b = Get<ui::TButton>(w, "btn");
         return b.Caption() + ";" + b.Hint();
       },
       "Run;h1"},
      {"an action: its caption",
       [](ui::TForm& w) { Make<ui::TAction>(w, "act"); },
       {"act", "Run", "執行"},
       [](ui::TForm& w) { return Get<ui::TAction>(w, "act").Caption(); },
       "執行"},
      {"a component with neither caption, text nor hint is passed over with its group",
       [](ui::TForm& w) {
         Make<ui::TTimer>(w, "tmr");
         Make<ui::TLabel>(w, "lbl");
       },
       {"tmr", "t0", "t1", "lbl", "l0", "l1"},
       [](ui::TForm& w) { return Get<ui::TLabel>(w, "lbl").Caption(); },
       "l1"},
  };
  for (const WalkCase& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(RunCase(c), c.expected);
  }
}

TEST(ApplyWords, OddTablesAreWalkedWithoutHarm) {
  const auto labels = [](ui::TForm& w) {
    Make<ui::TLabel>(w, "A")->SetCaption("a");
    Make<ui::TLabel>(w, "B")->SetCaption("b");
  };
  const auto captions = [](ui::TForm& w) {
    return w.Caption() + ";" + Get<ui::TLabel>(w, "A").Caption() + ";" + Get<ui::TLabel>(w, "B").Caption();
  };
  const std::vector<WalkCase> cases = {
      {"empty table", labels, {}, captions, "Window;a;b"},
      {"a group cut off before the active text ends the walk", labels, {"A", "a0"}, captions, "Window;a;b"},
      {"a cut-off form group ends the walk", labels, {"B", "b0", "b1", "%Form%", "F0"}, captions, "Window;a;b1"},
      {"a name the window does not hold is skipped with its group", labels,
       {"Nobody", "n0", "n1", "B", "b0", "b1"}, captions, "Window;a;b1"},
      {"continuation and hint keys at the top level are skipped", labels,
       {Q, "x0", "x1", H, "y0", "y1", "A", "a0", "a1"}, captions, "Window;a1;b"},
      {"continuation groups after a label are passed over", labels,
       {"A", "a0", "a1", Q, "x0", "x1", Q, "y0", "y1", "B", "b0", "b1"}, captions, "Window;a1;b1"},
      {"a hint key after the caption's continuation group is not the label's", labels,
       {"A", "a0", "a1", Q, "x0", "x1", H, "h0", "h1"},
       [](ui::TForm& w) { return Get<ui::TLabel>(w, "A").Caption() + ";" + Get<ui::TLabel>(w, "A").Hint(); },
       "a1;"},
      {"a hint group cut off", labels, {"A", "a0", "a1", H, "h0"},
       [](ui::TForm& w) { return Get<ui::TLabel>(w, "A").Caption() + ";" + Get<ui::TLabel>(w, "A").Hint(); },
       "a1;"},
      {"list box whose continuation group is cut off",
       [](ui::TForm& w) { Make<ui::TListBox>(w, "lb")->SetItems(TStringList{"x", "y", "z"}); },
       {"lb", "a0", "a1", Q, "b0"},
       [](ui::TForm& w) { return Joined(Get<ui::TListBox>(w, "lb").Items()); },
       "a1||"},
      {"navigator whose last continuation key has no texts",
       [](ui::TForm& w) { Make<ui::TDBNavigator>(w, "nav"); },
       {"nav", "f0", "f1", Q},
       [](ui::TForm& w) { return Joined(Get<ui::TDBNavigator>(w, "nav").Hints()); },
       "f1|"},
      {"status bar with a continuation key and no texts at the end",
       [](ui::TForm& w) { StatusBarWithPanels(w); },
       {"sb", "s0", "s1", Q, "p0", "p1", Q},
       StatusBarTexts,
       "s1;p1|q|r"},
      {"list box with no items: its continuation groups are skipped as names",
       [](ui::TForm& w) {
         Make<ui::TListBox>(w, "lb");
         Make<ui::TLabel>(w, "A");
       },
       {"lb", "a0", "a1", Q, "b0", "b1", "A", "c0", "c1"},
       [](ui::TForm& w) { return Joined(Get<ui::TListBox>(w, "lb").Items()) + ";" + Get<ui::TLabel>(w, "A").Caption(); },
       ";c1"},
      {"a component whose texts fail is skipped and the walk goes on",
       [](ui::TForm& w) {
         Make<TFailingLabel>(w, "bad");
         Make<ui::TLabel>(w, "A");
       },
       {"bad", "x0", "x1", "A", "a0", "a1"},
       [](ui::TForm& w) { return Get<ui::TLabel>(w, "A").Caption(); },
       "a1"},
      {"the language component itself named in the table is passed over", labels,
       {"MultiLang1", "m0", "m1", "A", "a0", "a1"}, captions, "Window;a1;b"},
  };
  for (const WalkCase& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(RunCase(c), c.expected);
  }
}

TEST_F(LangTest, ApplyWordsMovesThePositionPastTheGroupsItRead) {
  auto* bar = Add<ui::TStatusBar>("sb");
  bar->SetPanels(TStringList{"p", "q"});
  SetWords({"sb", "s0", "s1", Q, "p0", "p1", Q, "q0", "q1", Q, "r0", "r1", "next", "n0", "n1"});
  lang->SetActiveLanguage(1);
  int index = 0;
  lang->ApplyWords(bar, index);
  EXPECT_EQ(index, 9);  // the own group and two panels; the third continuation is not the bar's
}

TEST_F(LangTest, ApplyWordsOfAFailingComponentStillMovesOn) {
  auto* bad = Add<TFailingLabel>("bad");
  SetWords({"bad", "x0", "x1", "A", "a0", "a1"});
  int index = 0;
  EXPECT_THROW(lang->ApplyWords(bad, index), platform::Exception);
  EXPECT_EQ(index, 3);
}

TEST_F(LangTest, CollectWordsWritesRowsInTheOrderApplyWordsReadsThem) {
  auto* bar = Add<ui::TStatusBar>("sb");
  bar->SetSimpleText("ready");
  bar->SetPanels(TStringList{"p", "q"});
  bar->SetHint("bar hint");
  auto* timer = Add<ui::TTimer>("tmr");
  lang->SetActiveLanguage(1);
  TWordGrid grid(1);
  lang->CollectWords(bar, 0, &grid);
  lang->CollectWords(timer, grid.RowCount() - 1, &grid);  // nothing to write
  ASSERT_EQ(grid.RowCount(), 5);
  const std::vector<std::pair<std::string, std::string>> rows = {
      {"sb", "ready"}, {Q, "p"}, {Q, "q"}, {H, "bar hint"}, {"", ""}};
  for (int r = 0; r < grid.RowCount(); ++r) {
    SCOPED_TRACE(r);
    EXPECT_EQ(grid.Cell(0, r), rows[static_cast<std::size_t>(r)].first);
    EXPECT_EQ(grid.Cell(2, r), rows[static_cast<std::size_t>(r)].second);
    EXPECT_EQ(grid.Cell(1, r), "");
  }
  EXPECT_THROW(lang->CollectWords(bar, 0, nullptr), platform::Exception);
}

TEST_F(LangTest, CollectWordsOfAHintOnlyComponentWritesAnEmptyOwnRowFirst) {
  auto* image = Add<ui::TImage>("img");
  image->SetHint("picture");
  TWordGrid grid(1);
  lang->CollectWords(image, 0, &grid);
  ASSERT_EQ(grid.RowCount(), 3);
  EXPECT_EQ(grid.Cell(0, 0), "img");
  EXPECT_EQ(grid.Cell(1, 0), "");
  EXPECT_EQ(grid.Cell(0, 1), H);
  EXPECT_EQ(grid.Cell(1, 1), "picture");
}

}  // namespace
