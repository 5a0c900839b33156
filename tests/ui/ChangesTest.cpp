// Change notification: which change each setter reports, that changes made while a form is read
// are not reported, and that observers are told in order and may leave at any time.
#include <gtest/gtest.h>

#include <cstdint>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ui/Changes.h"
#include "ui/ComCtrls.h"
#include "ui/ExtCtrls.h"
#include "ui/FileCtrls.h"
#include "ui/Form.h"
#include "ui/FormReader.h"
#include "ui/StdCtrls.h"

namespace {

class RecordingObserver : public ui::TChangeObserver {
 public:
  RecordingObserver() { ui::AddChangeObserver(this); }
  ~RecordingObserver() override { ui::RemoveChangeObserver(this); }
  void ControlChanged(ui::TControl& control, ui::TControlChange change) override {
    seen.emplace_back(&control, change);
    if (onChange) onChange();
  }
  std::vector<std::pair<const ui::TControl*, ui::TControlChange>> seen;
  std::function<void()> onChange;
};

class TTestForm : public ui::TForm {
 public:
  TTestForm() : ui::TForm(nullptr) {}
  std::string ClassName() const override { return "TTestForm"; }
};

struct SetterCase {
  const char* what;
  std::function<ui::TControl&(TTestForm&)> act;  // does the change, returns the control changed
  ui::TControlChange expected;
  int times = 1;  // how often the control reports it (a preparing change may report it too)
};

template <typename T>
T& Make(TTestForm& form) {
  auto* control = new T(&form);
  control->SetParent(&form);
  return *control;
}

// A case's action: makes a control of kind T on the form and changes it.
template <typename T>
std::function<ui::TControl&(TTestForm&)> On(std::function<void(T&)> change) {
  return [change](TTestForm& form) -> ui::TControl& {
    T& control = Make<T>(form);
    change(control);
    return control;
  };
}

std::function<ui::TControl&(TTestForm&)> OnForm(std::function<void(TTestForm&)> change) {
  return [change](TTestForm& form) -> ui::TControl& {
    change(form);
    return form;
  };
}

TEST(Changes, EachSetterReportsItsChangeOnce) {
  const std::vector<SetterCase> cases = {
      {"label caption", On<ui::TLabel>([](auto& c) { c.SetCaption("a"); }), ui::ccCaption},
      {"form caption", OnForm([](TTestForm& f) { f.SetCaption("Window"); }), ui::ccCaption},
      {"left", On<ui::TButton>([](auto& c) { c.SetLeft(3); }), ui::ccBounds},
      {"bounds", On<ui::TButton>([](auto& c) { c.SetBounds(1, 2, 3, 4); }), ui::ccBounds},
      {"enabled", On<ui::TButton>([](auto& c) { c.SetEnabled(false); }), ui::ccEnabled},
      {"visible", On<ui::TButton>([](auto& c) { c.SetVisible(false); }), ui::ccVisible},
      {"colour", On<ui::TLabel>([](auto& c) { c.SetColor(ui::clBlue); }), ui::ccColor},
      {"edit text", On<ui::TEdit>([](auto& c) { c.SetText("x"); }), ui::ccText},
      {"memo text", On<ui::TMemo>([](auto& c) { c.SetText("a\r\nb"); }), ui::ccLines},
      {"memo lines", On<ui::TMemo>([](auto& c) { c.SetLines({"a"}); }), ui::ccLines},
      {"memo cleared", On<ui::TMemo>([](auto& c) { c.Clear(); }), ui::ccLines},
      {"memo line added", On<ui::TMemo>([](auto& c) { c.AddLine("n"); }), ui::ccLineAdded},
      {"memo read-only", On<ui::TMemo>([](auto& c) { c.SetReadOnly(true); }), ui::ccState},
      {"list items", On<ui::TListBox>([](auto& c) { c.SetItems({"a", "b"}); }), ui::ccItems},
      {"one item", On<ui::TListBox>([](auto& c) { c.SetItems({"a"}); c.SetItem(0, "b"); }), ui::ccItems, 2},
      {"file list re-read", On<ui::TFileListBox>([](auto& c) { c.Update(); }), ui::ccItems},
      {"status text", On<ui::TStatusBar>([](auto& c) { c.SetSimpleText("s"); }), ui::ccStatusText},
      {"panel text", On<ui::TStatusBar>([](auto& c) { c.SetPanels({"a"}); c.SetPanelText(0, "b"); }), ui::ccStatusText, 2},
      {"picture", On<ui::TImage>([](auto& c) { c.SetPicture("p.png"); }), ui::ccPicture},
      {"glyph", On<ui::TBitBtn>([](auto& c) { c.SetGlyph("g.png"); }), ui::ccPicture},
      {"form closed", OnForm([](TTestForm& f) { f.Close(); }), ui::ccClosed},
  };
  for (const SetterCase& c : cases) {
    SCOPED_TRACE(c.what);
    TTestForm form;
    RecordingObserver observer;
    ui::TControl& changed = c.act(form);
    ASSERT_FALSE(observer.seen.empty());
    // A case may need a preparing change (one item needs items first): the last one is the case's.
    EXPECT_EQ(observer.seen.back().first, &changed);
    EXPECT_EQ(observer.seen.back().second, c.expected);
    const auto sameAsLast = [&](const auto& s) { return s == observer.seen.back(); };
    EXPECT_EQ(std::count_if(observer.seen.begin(), observer.seen.end(), sameAsLast), c.times);
  }
}

TEST(Changes, AParentsFontReachesTheControlsThatFollowIt) {
  TTestForm form;
  auto& follower = Make<ui::TLabel>(form);
  auto& own = Make<ui::TLabel>(form);
  ui::TFont big;
  big.height = -20;
  own.SetFont(big);
  RecordingObserver observer;
  ui::TFont font;
  font.name = "Arial";
  form.SetFont(font);
  std::vector<const ui::TControl*> told;
  for (const auto& [control, change] : observer.seen) {
    if (change == ui::ccFont) told.push_back(control);
  }
  EXPECT_EQ(told, (std::vector<const ui::TControl*>{&form, &follower}));
  EXPECT_EQ(follower.Font().name, "Arial");
}

TEST(Changes, NothingIsReportedWhileAFormIsReadButChangesAfterwardsAre) {
  RecordingObserver observer;
  TTestForm form;
  ui::ReadForm(R"(object Form1: TTestForm
  Caption = 'Loading'
  object Bar: TStatusBar
    SimplePanel = True
    SimpleText = 'stored'
  end
  object Memo: TMemo
    Lines = ('one' 'two')
  end
end
)",
               "test.form", form);
  for (const auto& [control, change] : observer.seen) {
    EXPECT_NE(change, ui::ccCaption);
    EXPECT_NE(change, ui::ccStatusText);
    EXPECT_NE(change, ui::ccLines);
  }
  observer.seen.clear();
  auto* bar = dynamic_cast<ui::TStatusBar*>(form.FindComponent("Bar"));
  ASSERT_NE(bar, nullptr);
  bar->SetSimpleText("now");
  ASSERT_EQ(observer.seen.size(), 1u);
  EXPECT_EQ(observer.seen[0].first, bar);
}

TEST(Changes, DestructionIsReportedAndRemovedObserversHearNothing) {
  auto form = std::make_unique<TTestForm>();
  auto& label = Make<ui::TLabel>(*form);
  // Identities kept as numbers: the objects are gone when they are compared.
  const auto formAddress = reinterpret_cast<std::uintptr_t>(static_cast<const ui::TControl*>(form.get()));
  const auto labelAddress = reinterpret_cast<std::uintptr_t>(static_cast<const ui::TControl*>(&label));
  RecordingObserver first;
  // Outlives the block: first is told again (the destructions) after it.
  RecordingObserver* leaving = &first;
  {
    RecordingObserver second;
    // An observer that leaves while it is told: the one after it is still told this change.
    first.onChange = [&leaving] {
      if (leaving != nullptr) ui::RemoveChangeObserver(leaving);
      leaving = nullptr;
    };
    label.SetCaption("x");
    EXPECT_EQ(first.seen.size(), 1u);
    EXPECT_EQ(second.seen.size(), 1u);
    label.SetCaption("y");
    EXPECT_EQ(first.seen.size(), 1u) << "removed";
    EXPECT_EQ(second.seen.size(), 2u);
  }
  ui::AddChangeObserver(&first);
  ui::AddChangeObserver(&first);  // a second add is ignored
  form.reset();
  std::vector<std::uintptr_t> destroyed;
  for (const auto& [control, change] : first.seen) {
    if (change == ui::ccDestroyed) destroyed.push_back(reinterpret_cast<std::uintptr_t>(control));
  }
  EXPECT_EQ(destroyed, (std::vector<std::uintptr_t>{formAddress, labelAddress}));
}

}  // namespace
