#include "platform/Component.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

using platform::Identifier;
using platform::PropertyTable;
using platform::StringVector;
using platform::TComponent;
using platform::TOperation;
using platform::TStringList;
using platform::Variant;

namespace {

// A component that records what it hears and keeps one reference that it must drop when the
// referenced component goes away. Its destruction is written to a shared log.
class TProbe : public TComponent {
 public:
  TProbe(TComponent* owner, const std::string& name, std::vector<std::string>* log = nullptr)
      : TComponent(owner), log_(log) {
    SetName(name);
  }
  ~TProbe() override {
    if (log_ == nullptr) return;
    log_->push_back("destroy " + Name());
    // Reading a reference that was not dropped is a use after free under AddressSanitizer.
    if (peer != nullptr) log_->push_back(Name() + " still holds " + peer->Name());
  }
  std::string ClassName() const override { return "TProbe"; }

  TComponent* peer = nullptr;
  std::vector<std::pair<const TComponent*, TOperation>> heard;
  bool sawOwnerDestroying = false;

  bool Heard(const TComponent* component, TOperation operation) const {
    for (const auto& [c, op] : heard) {
      if (c == component && op == operation) return true;
    }
    return false;
  }

 protected:
  void Notification(TComponent* component, TOperation operation) override {
    TComponent::Notification(component, operation);
    heard.emplace_back(component, operation);
    if (Owner() != nullptr && Owner()->IsDestroying()) sawOwnerDestroying = true;
    if (operation == platform::opRemove && component == peer) peer = nullptr;
  }

 private:
  std::vector<std::string>* log_;
};

std::string ExceptionMessage(const std::function<void()>& action) {
  try {
    action();
  } catch (const platform::Exception& e) {
    return e.Message();
  }
  return "(no exception)";
}

// ---- ownership and order ----

TEST(ComponentOwnership, KeepsInsertionOrderAndFindsNamesIgnoringCase) {
  TComponent form(nullptr);
  auto* a = new TProbe(&form, "Label1");
  auto* b = new TProbe(&form, "Memo1");
  auto* c = new TProbe(&form, "");
  ASSERT_EQ(form.ComponentCount(), 3);
  EXPECT_EQ(form.Components(0), a);
  EXPECT_EQ(form.Components(1), b);
  EXPECT_EQ(form.Components(2), c);
  EXPECT_EQ(a->Owner(), &form);
  EXPECT_EQ(form.FindComponent("MEMO1"), b);
  EXPECT_EQ(form.FindComponent("label1"), a);
  EXPECT_EQ(form.FindComponent(""), nullptr);  // the unnamed one is not found by an empty name
  EXPECT_EQ(form.FindComponent("Memo"), nullptr);
}

TEST(ComponentOwnership, RefusesADuplicateNameAmongTheOwnersComponents) {
  TComponent form(nullptr);
  new TProbe(&form, "Button1");
  auto* other = new TProbe(&form, "Other");
  EXPECT_EQ(ExceptionMessage([&] { other->SetName("button1"); }), "A component named button1 already exists");
  EXPECT_EQ(other->Name(), "Other");
  other->SetName("OTHER");  // its own name in another case is not a clash
  EXPECT_EQ(other->Name(), "OTHER");
  new TProbe(&form, "");
  new TProbe(&form, "");  // any number of unnamed components
  EXPECT_EQ(form.ComponentCount(), 4);

  TComponent otherForm(nullptr);
  auto* elsewhere = new TProbe(&otherForm, "Button1");  // other owners do not matter
  EXPECT_EQ(elsewhere->Name(), "Button1");
  EXPECT_EQ(ExceptionMessage([&] { new TProbe(&form, "BUTTON1"); }), "A component named BUTTON1 already exists");
}

TEST(ComponentOwnership, MovingToAnotherOwnerLeavesTheFirst) {
  TComponent first(nullptr);
  TComponent second(nullptr);
  auto* a = new TProbe(&first, "A");
  new TProbe(&first, "B");
  second.InsertComponent(a);
  EXPECT_EQ(a->Owner(), &second);
  ASSERT_EQ(first.ComponentCount(), 1);
  EXPECT_EQ(first.Components(0)->Name(), "B");
  EXPECT_EQ(first.FindComponent("A"), nullptr);
  EXPECT_EQ(second.FindComponent("a"), a);

  // A clash in the new owner refuses the move and leaves the component where it was.
  auto* b = first.Components(0);
  auto* clash = new TProbe(&second, "b");
  EXPECT_EQ(ExceptionMessage([&] { second.InsertComponent(b); }), "A component named B already exists");
  EXPECT_EQ(b->Owner(), &first);
  EXPECT_EQ(first.ComponentCount(), 1);
  EXPECT_EQ(second.ComponentCount(), 2);
  (void)clash;
}

TEST(ComponentOwnership, RefusesOwnershipCycles) {
  TComponent form(nullptr);
  auto* panel = new TProbe(&form, "Panel");
  auto* button = new TProbe(panel, "Button");
  const std::string cycle = "A component cannot own itself or one of its owners";
  EXPECT_EQ(ExceptionMessage([&] { panel->InsertComponent(panel); }), cycle);
  EXPECT_EQ(ExceptionMessage([&] { button->InsertComponent(&form); }), cycle);
  EXPECT_EQ(form.Owner(), nullptr);
  EXPECT_EQ(button->Owner(), panel);
}

TEST(ComponentOwnership, RemovedComponentLivesOnWithoutOwner) {
  std::vector<std::string> log;
  std::unique_ptr<TProbe> kept;
  {
    TComponent form(nullptr);
    auto* a = new TProbe(&form, "A", &log);
    new TProbe(&form, "B", &log);
    form.RemoveComponent(a);
    kept.reset(a);
    EXPECT_EQ(a->Owner(), nullptr);
    EXPECT_EQ(form.ComponentCount(), 1);
  }
  EXPECT_EQ(log, (std::vector<std::string>{"destroy B"}));
  EXPECT_EQ(kept->Name(), "A");
}

// ---- freeing ----

TEST(ComponentDestruction, OwnerFreesEveryComponentLastInsertedFirst) {
  std::vector<std::string> log;
  {
    auto form = std::make_unique<TProbe>(nullptr, "Form", &log);
    new TProbe(form.get(), "A", &log);
    auto* panel = new TProbe(form.get(), "Panel", &log);
    new TProbe(panel, "Inner1", &log);
    new TProbe(panel, "Inner2", &log);
    new TProbe(form.get(), "C", &log);
  }
  // Each probe logs in its own destructor, which runs before the base frees what it owns.
  EXPECT_EQ(log, (std::vector<std::string>{"destroy Form", "destroy C", "destroy Panel", "destroy Inner2",
                                           "destroy Inner1", "destroy A"}));
}

TEST(ComponentDestruction, DeletingAnOwnedComponentTakesItOutOfItsOwner) {
  std::vector<std::string> log;
  {
    TComponent form(nullptr);
    new TProbe(&form, "A", &log);
    auto* b = new TProbe(&form, "B", &log);
    new TProbe(&form, "C", &log);
    delete b;
    ASSERT_EQ(form.ComponentCount(), 2);
    EXPECT_EQ(form.Components(1)->Name(), "C");
    EXPECT_EQ(form.FindComponent("B"), nullptr);
  }
  EXPECT_EQ(log, (std::vector<std::string>{"destroy B", "destroy C", "destroy A"}));
}

// ---- notification ----

TEST(ComponentNotification, SiblingsHearInsertionAndRemoval) {
  TComponent form(nullptr);
  auto* a = new TProbe(&form, "A");
  auto* panel = new TProbe(&form, "Panel");
  auto* inner = new TProbe(panel, "Inner");
  auto* b = new TProbe(&form, "B");
  EXPECT_TRUE(a->Heard(b, platform::opInsert));
  EXPECT_TRUE(inner->Heard(b, platform::opInsert));  // passed down through the panel

  a->peer = b;
  inner->peer = b;
  delete b;
  EXPECT_EQ(a->peer, nullptr);
  EXPECT_EQ(inner->peer, nullptr);
  EXPECT_TRUE(panel->Heard(b, platform::opRemove));

  // Removal without destruction is heard too, by the leaving component as well.
  auto* c = new TProbe(&form, "C");
  a->peer = c;
  form.RemoveComponent(c);
  std::unique_ptr<TProbe> owned(c);
  EXPECT_EQ(a->peer, nullptr);
  EXPECT_TRUE(c->Heard(c, platform::opRemove));

  // Inserting an existing component tells it and its new siblings.
  form.InsertComponent(owned.release());
  EXPECT_TRUE(c->Heard(c, platform::opInsert));
  EXPECT_TRUE(a->Heard(c, platform::opInsert));
}

TEST(ComponentNotification, SurvivorsHearEachSiblingFreedWithTheirOwner) {
  std::vector<std::string> log;
  auto form = std::make_unique<TComponent>(nullptr);
  auto* a = new TProbe(form.get(), "A", &log);
  auto* b = new TProbe(form.get(), "B", &log);
  auto* c = new TProbe(form.get(), "C", &log);
  a->peer = c;  // A is freed last and must not keep C after C is gone
  b->peer = a;  // B is freed before A and may use A until then
  form.reset();
  EXPECT_EQ(log, (std::vector<std::string>{"destroy C", "destroy B", "B still holds A", "destroy A"}));
}

TEST(ComponentNotification, OwnedComponentsSeeTheirOwnerDestroying) {
  auto form = std::make_unique<TComponent>(nullptr);
  bool seen = false;
  struct TWatcher : TProbe {
    TWatcher(TComponent* owner, bool* seen) : TProbe(owner, "Watcher"), seen_(seen) {}
    ~TWatcher() override { *seen_ = sawOwnerDestroying; }
    bool* seen_;
  };
  new TWatcher(form.get(), &seen);
  new TProbe(form.get(), "Later");  // freed first, so the watcher hears of it during destruction
  form.reset();
  EXPECT_TRUE(seen);
}

// ---- free notification ----

TEST(ComponentFreeNotification, ComponentOfAnotherOwnerIsForgottenWhenFreed) {
  auto form1 = std::make_unique<TComponent>(nullptr);
  auto form2 = std::make_unique<TComponent>(nullptr);
  auto* target = new TProbe(form1.get(), "Target");
  auto* watcher = new TProbe(form2.get(), "Watcher");
  watcher->peer = target;
  watcher->FreeNotification(target);
  form1.reset();
  EXPECT_EQ(watcher->peer, nullptr);
  EXPECT_TRUE(watcher->Heard(target, platform::opRemove));
  form2.reset();  // the watcher must not tell the freed target anything
}

TEST(ComponentFreeNotification, LinkWorksWhicheverSideIsFreedFirst) {
  auto form1 = std::make_unique<TComponent>(nullptr);
  auto form2 = std::make_unique<TComponent>(nullptr);
  auto* target = new TProbe(form1.get(), "Target");
  auto* watcher = new TProbe(form2.get(), "Watcher");
  watcher->FreeNotification(target);
  target->peer = watcher;
  form2.reset();  // the watcher goes first: the target hears and forgets it
  EXPECT_EQ(target->peer, nullptr);
  form1.reset();
}

TEST(ComponentFreeNotification, RemovedLinkIsSilent) {
  auto form1 = std::make_unique<TComponent>(nullptr);
  TProbe watcher(nullptr, "Watcher");
  auto* target = new TProbe(form1.get(), "Target");
  watcher.FreeNotification(target);
  watcher.FreeNotification(target);  // asking twice links once
  watcher.RemoveFreeNotification(target);
  form1.reset();
  EXPECT_FALSE(watcher.Heard(target, platform::opRemove));
}

// ---- loading and designing ----

TEST(ComponentState, LoadingAndDesigningReachOwnedComponents) {
  TComponent form(nullptr);
  auto* panel = new TProbe(&form, "Panel");
  auto* inner = new TProbe(panel, "Inner");
  form.BeginLoading();
  EXPECT_TRUE(form.IsLoading());
  EXPECT_TRUE(inner->IsLoading());
  panel->Loaded();
  EXPECT_FALSE(panel->IsLoading());
  EXPECT_TRUE(form.IsLoading());  // each component is told on its own
  EXPECT_TRUE(inner->IsLoading());

  form.SetDesigning(true);
  EXPECT_TRUE(inner->IsDesigning());
  auto* added = new TProbe(panel, "Added");
  EXPECT_TRUE(added->IsDesigning());
  EXPECT_FALSE(added->IsLoading());
  form.SetDesigning(false);
  EXPECT_FALSE(added->IsDesigning());
  EXPECT_EQ(form.ComponentState(), static_cast<unsigned>(platform::csLoading));
}

// ---- properties by name ----

enum TAlign { alNone, alTop, alClient };

class TWidget : public TComponent {
 public:
  using TComponent::TComponent;
  std::string ClassName() const override { return "TWidget"; }
  static const PropertyTable& ClassProperties() {
    static const PropertyTable table =
        PropertyTable(&TComponent::ClassProperties())
            .Property("Width", &TWidget::Width, &TWidget::SetWidth)
            .Property("Visible", &TWidget::Visible, &TWidget::SetVisible)
            .Property("Caption", &TWidget::Caption, &TWidget::SetCaption)
            .Property("Lines", &TWidget::Lines, &TWidget::SetLines)
            .Enumeration("Align", &TWidget::Align, &TWidget::SetAlign,
                         {{"alNone", alNone}, {"alTop", alTop}, {"alClient", alClient}})
            .Property("FocusControl", &TWidget::FocusControl, &TWidget::SetFocusControl)
            .Property("Languages", &TWidget::Languages, &TWidget::SetLanguages)
            .ReadOnly("Version", &TWidget::Version)
            .Add("Password", nullptr, [](TComponent& c, const Variant& v) {
              static_cast<TWidget&>(c).password_ = v.AsString();
            });
    return table;
  }
  const PropertyTable& Properties() const override { return ClassProperties(); }

  int Width() const { return width_; }
  void SetWidth(int v) { width_ = v; }
  bool Visible() const { return visible_; }
  void SetVisible(bool v) { visible_ = v; }
  virtual std::string Caption() const { return caption_; }
  void SetCaption(const std::string& v) { caption_ = v; }
  const TStringList& Lines() const { return lines_; }
  void SetLines(const TStringList& v) { lines_ = v; }
  TAlign Align() const { return align_; }
  void SetAlign(TAlign v) { align_ = v; }
  Identifier FocusControl() const { return focus_; }
  void SetFocusControl(Identifier v) { focus_ = std::move(v); }
  std::uint8_t Languages() const { return languages_; }
  void SetLanguages(std::uint8_t v) { languages_ = v; }
  std::string Version() const { return "3.76"; }

  std::string password_;

 private:
  int width_ = 0;
  bool visible_ = true;
  std::string caption_;
  TStringList lines_;
  TAlign align_ = alNone;
  Identifier focus_;
  std::uint8_t languages_ = 2;
};

// Adds a property and registers Caption again with its own reading.
class TFancyWidget : public TWidget {
 public:
  using TWidget::TWidget;
  std::string ClassName() const override { return "TFancyWidget"; }
  static const PropertyTable& ClassProperties() {
    static const PropertyTable table = PropertyTable(&TWidget::ClassProperties())
                                           .Property("Hint", &TFancyWidget::Hint, &TFancyWidget::SetHint)
                                           .ReadOnly("caption", &TFancyWidget::ShoutedCaption);
    return table;
  }
  const PropertyTable& Properties() const override { return ClassProperties(); }
  std::string Hint() const { return hint_; }
  void SetHint(std::string v) { hint_ = std::move(v); }
  std::string ShoutedCaption() const { return TWidget::Caption() + "!"; }

 private:
  std::string hint_;
};

TEST(ComponentProperties, SetAndGetByNameIgnoringCase) {
  struct Case {
    const char* name;
    Variant value;
    Variant expected;  // what reading it back gives
  };
  const std::vector<Case> cases = {
      {"Name", "Widget1", "Widget1"},
      {"width", 120, 120},
      {"WIDTH", 7.0, 7},  // a real without fraction is an integer
      {"Visible", false, false},
      {"visible", Identifier{"TRUE"}, true},  // stored forms write booleans as words
      {"Caption", "Hello 'world'", "Hello 'world'"},
      {"Lines", StringVector{"one", "", "three"}, StringVector{"one", "", "three"}},
      {"Align", Identifier{"alTop"}, Identifier{"alTop"}},
      {"align", Identifier{"ALCLIENT"}, Identifier{"alClient"}},
      {"FocusControl", Identifier{"Edit1"}, Identifier{"Edit1"}},
      {"Languages", 255, 255},
  };
  TWidget widget(nullptr);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    widget.SetProperty(c.name, c.value);
    EXPECT_EQ(widget.GetProperty(c.name), c.expected) << widget.GetProperty(c.name).ToString();
  }
  EXPECT_EQ(widget.Name(), "Widget1");
  EXPECT_EQ(widget.Width(), 7);
  EXPECT_EQ(widget.Lines().Count(), 3);
  EXPECT_EQ(widget.Align(), alClient);
  EXPECT_EQ(widget.GetProperty("Version"), Variant("3.76"));
  widget.SetProperty("Password", "secret");
  EXPECT_EQ(widget.password_, "secret");
  EXPECT_TRUE(widget.HasProperty("focuscontrol"));
  EXPECT_FALSE(widget.HasProperty("Hint"));
}

TEST(ComponentProperties, ErrorsNameThePropertyAndTheFault) {
  struct Case {
    const char* name;
    Variant value;  // empty: read instead of write
    const char* message;
  };
  const std::vector<Case> cases = {
      {"Colour", 1, "Unknown property Colour of class TWidget"},
      {"Colour", {}, "Unknown property Colour of class TWidget"},
      {"version", "4.0", "Property Version is read-only"},
      {"Password", {}, "Property Password is write-only"},
      {"Width", "abc", "Invalid value for property Width: expected an integer, got 'abc'"},
      {"Width", 2.5, "Invalid value for property Width: expected an integer, got 2.5"},
      {"Width", 3000000000.0,
       "Invalid value for property Width: expected an integer from -2147483648 to 2147483647, got 3000000000"},
      {"Languages", -1, "Invalid value for property Languages: expected an integer from 0 to 255, got -1"},
      {"Visible", 1, "Invalid value for property Visible: expected a boolean, got 1"},
      {"Visible", Identifier{"Yes"}, "Invalid value for property Visible: expected a boolean, got Yes"},
      {"Caption", Identifier{"Hello"}, "Invalid value for property Caption: expected a text, got Hello"},
      {"Lines", "x", "Invalid value for property Lines: expected a list of texts, got 'x'"},
      {"Align", Identifier{"alMiddle"}, "Invalid value for property Align: unknown value alMiddle"},
      {"Align", "alTop", "Invalid value for property Align: expected an identifier, got 'alTop'"},
      {"FocusControl", StringVector{"a", "b"},
       "Invalid value for property FocusControl: expected an identifier, got ('a', 'b')"},
      {"Name", Variant(), "Invalid value for property Name: expected a text, got (empty)"},
  };
  TWidget widget(nullptr);
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " " + c.value.ToString());
    const bool read = c.value.IsEmpty() && std::string(c.name) != "Name";
    EXPECT_EQ(ExceptionMessage([&] {
                if (read) {
                  widget.GetProperty(c.name);
                } else {
                  widget.SetProperty(c.name, c.value);
                }
              }),
              c.message);
  }
  EXPECT_EQ(widget.Width(), 0);  // no failed assignment changed anything
  EXPECT_EQ(widget.Languages(), 2);
  EXPECT_EQ(widget.Align(), alNone);
}

TEST(ComponentProperties, SetterErrorsPassUnchanged) {
  TComponent form(nullptr);
  auto* a = new TWidget(&form);
  a->SetName("A");
  auto* b = new TWidget(&form);
  EXPECT_EQ(ExceptionMessage([&] { b->SetProperty("Name", "a"); }), "A component named a already exists");
}

TEST(ComponentProperties, TablesInheritFromTheBaseClass) {
  auto names = [](const PropertyTable& table) {
    std::vector<std::string> out;
    for (const auto* info : table.All()) out.push_back(info->name);
    return out;
  };
  EXPECT_EQ(names(TComponent::ClassProperties()), (std::vector<std::string>{"Name"}));
  EXPECT_EQ(names(TFancyWidget::ClassProperties()),
            (std::vector<std::string>{"Name", "Width", "Visible", "caption", "Lines", "Align", "FocusControl",
                                      "Languages", "Version", "Password", "Hint"}));

  TFancyWidget fancy(nullptr);
  fancy.SetProperty("Width", 5);  // found in the base class's table
  fancy.SetProperty("Hint", "tip");
  fancy.SetCaption("Go");
  EXPECT_EQ(fancy.GetProperty("Width"), Variant(5));
  EXPECT_EQ(fancy.GetProperty("hint"), Variant("tip"));
  EXPECT_EQ(fancy.GetProperty("Caption"), Variant("Go!"));  // the class's own registration wins
  EXPECT_EQ(ExceptionMessage([&] { fancy.SetProperty("Caption", "x"); }), "Property caption is read-only");
  EXPECT_EQ(ExceptionMessage([&] { fancy.GetProperty("Colour"); }), "Unknown property Colour of class TFancyWidget");
}

TEST(ComponentProperties, LookupsMatchWholeNamesOnlyAndFollowCopies) {
  auto table = std::make_unique<PropertyTable>(&TComponent::ClassProperties());
  table->Property("Width", &TWidget::Width, &TWidget::SetWidth).Property("Wide", &TWidget::Width, &TWidget::SetWidth);
  const PropertyTable copy = *table;  // classes keep a copy of the table they build
  table.reset();
  for (const char* name : {"Width", "WIDTH", "wIdTh", "Wide", "name"}) {
    SCOPED_TRACE(name);
    const platform::PropertyInfo* info = copy.Find(name);
    ASSERT_NE(info, nullptr);
    EXPECT_TRUE(platform::SameText(info->name, name));
  }
  for (const char* name : {"Widt", "Widths", "Width ", " Width", "W\xc3\xad" "dth", "Wid", ""}) {
    EXPECT_EQ(copy.Find(name), nullptr) << name;
  }
}

// ---- values ----

TEST(Variant, RendersEachKindReadably) {
  const std::vector<std::pair<Variant, std::string>> cases = {
      {Variant(), "(empty)"},
      {true, "True"},
      {-42, "-42"},
      {2.5, "2.5"},
      {"it's", "'it''s'"},
      {StringVector{}, "()"},
      {StringVector{"a", "b"}, "('a', 'b')"},
      {Identifier{"alTop"}, "alTop"},
  };
  for (const auto& [value, text] : cases) EXPECT_EQ(value.ToString(), text);
}

TEST(Variant, IntegerConversionRefusesRealsThatDoNotFit) {
  const std::vector<double> refused = {0.5, 9223372036854775808.0, -1e19, std::numeric_limits<double>::infinity(),
                                       std::nan("")};
  for (double d : refused) {
    SCOPED_TRACE(d);
    EXPECT_THROW(Variant(d).AsInt(), platform::EVariantError);
  }
  EXPECT_EQ(Variant(-9223372036854775808.0).AsInt(), std::numeric_limits<std::int64_t>::min());
  EXPECT_DOUBLE_EQ(Variant(3).AsDouble(), 3.0);
  EXPECT_EQ(ExceptionMessage([] { Variant("x").AsBool(); }), "Invalid property value: expected a boolean, got 'x'");
}

}  // namespace
