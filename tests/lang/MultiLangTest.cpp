// The switch and the setters of the language component: vetoes, out-of-range languages, the
// default language, fonts, positions per language, changing the number of languages, the
// global language and the registry.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "lang/MLang.h"
#include "tests/lang/LangTestSupport.h"
#include "tests/ui/ScriptedPrompter.h"
#include "ui/FormReader.h"
#include "ui/StdCtrls.h"

using platform::TStringList;

namespace {

const char* const kTooHigh = "Value must not be higher than\rnumber of available languages.";

TEST_F(LangTest, SwitchAppliesTextsAndFiresBothEventsAroundIt) {
  auto* label = Add<ui::TLabel>("Label1");
  SetWords({"%Form%", "Window", "視窗", "Label1", "Name", "名稱"});
  std::vector<std::string> events;
  lang->SetBeforeLanguageChange(TBeforeLanguageChange(
      window.get(), "before", [&](platform::TComponent*, std::uint8_t v, bool&) {
        events.push_back("before " + std::to_string(v) + " caption " + label->Caption());
      }));
  lang->SetAfterLanguageChanged(TAfterLanguageChanged(window.get(), "after", [&](platform::TComponent* sender, std::uint8_t v) {
    events.push_back("after " + std::to_string(v) + " caption " + label->Caption() + (sender == lang ? "" : " (bad sender)"));
  }));
  lang->SetActiveLanguage(1);
  EXPECT_EQ(window->Caption(), "視窗");
  EXPECT_EQ(events, (std::vector<std::string>{"before 1 caption ", "after 1 caption 名稱"}));
}

TEST_F(LangTest, VetoedSwitchLeavesEverythingUntouched) {
  auto* label = Add<ui::TLabel>("Label1");
  label->SetCaption("old");
  SetWords({"Label1", "a", "b"});
  lang->SetCharSets(TStringList{"Arial,0", "SimSun,136"});
  bool afterCalled = false;
  lang->SetBeforeLanguageChange(
      TBeforeLanguageChange(window.get(), "veto", [](platform::TComponent*, std::uint8_t, bool& allow) { allow = false; }));
  lang->SetAfterLanguageChanged(
      TAfterLanguageChanged(window.get(), "after", [&](platform::TComponent*, std::uint8_t) { afterCalled = true; }));
  lang->SetActiveLanguage(1);
  EXPECT_EQ(lang->ActiveLanguage(), 0);
  EXPECT_EQ(label->Caption(), "old");
  EXPECT_EQ(window->Font().name, "MS Sans Serif");
  EXPECT_EQ(lang->CharSets(), (TStringList{"Arial,0", "SimSun,136"}));
  EXPECT_FALSE(afterCalled);
}

TEST_F(LangTest, OutOfRangeLanguagesAreRefusedWithAMessage) {
  ScriptedPrompter prompter;
  lang->SetActiveLanguage(2);
  lang->SetDefaultLanguage(5);
  EXPECT_EQ(lang->ActiveLanguage(), 0);
  EXPECT_EQ(lang->DefaultLanguage(), 0);
  ASSERT_EQ(prompter.boxes.size(), 2u);
  for (const auto& box : prompter.boxes) {
    EXPECT_EQ(box.text, kTooHigh);
    EXPECT_EQ(box.type, ui::mtInformation);
    EXPECT_EQ(box.buttons, ui::mbCancel);
  }
}

TEST_F(LangTest, EmptyTextsFallBackToTheDefaultLanguageOnlyWhenEnabled) {
  struct Case {
    std::string chineseText;
    bool defaultEnabled;
    std::string label, caption;
  };
  const std::vector<Case> cases = {
      {"", false, "", ""}, {"", true, "English", "Form"}, {"中文", true, "中文", "中文"}, {"中文", false, "中文", "中文"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.chineseText + (c.defaultEnabled ? " default on" : " default off"));
    auto label = std::make_unique<ui::TLabel>(window.get());
    label->SetName("Label1");
    label->SetCaption("before");
    SetWords({"Label1", "English", c.chineseText, "%Form%", "Form", c.chineseText});
    lang->SetDefaultEnabled(c.defaultEnabled);
    lang->SetActiveLanguage(1);
    EXPECT_EQ(label->Caption(), c.label);
    EXPECT_EQ(window->Caption(), c.caption);
    lang->SetActiveLanguage(0);
  }
}

TEST_F(LangTest, SettingTheDefaultLanguageSwitchesAgain) {
  auto* label = Add<ui::TLabel>("Label1");
  lang->SetLanguages(3);
  SetWords({"Label1", "zero", "one", ""});
  lang->SetDefaultEnabled(true);
  lang->SetActiveLanguage(2);
  EXPECT_EQ(label->Caption(), "zero");
  lang->SetDefaultLanguage(1);
  EXPECT_EQ(label->Caption(), "one");
}

TEST_F(LangTest, TheWindowsFontFollowsTheLanguageAndTheLeftOneIsSaved) {
  lang->SetCharSets(TStringList{"Arial,0", "SimSun,136"});
  lang->SetActiveLanguage(1);
  EXPECT_EQ(window->Font().name, "SimSun");
  EXPECT_EQ(window->Font().charSet, 136);
  // Leaving language 0 stored the window's font as it was then.
  EXPECT_EQ(lang->CharSets(), (TStringList{"MS Sans Serif,1", "SimSun,136"}));
  lang->SetActiveLanguage(0);
  EXPECT_EQ(window->Font().name, "MS Sans Serif");
  EXPECT_EQ(window->Font().charSet, 1);
}

TEST_F(LangTest, AnEmptyFontListIsFilledForEveryLanguage) {
  lang->SetActiveLanguage(1);
  EXPECT_EQ(lang->CharSets(), (TStringList{"MS Sans Serif,1", "MS Sans Serif,1"}));
}

TEST_F(LangTest, ABadCharacterSetEndsTheSwitchAndLeavesTheComponentUsable) {
  auto* label = Add<ui::TLabel>("Label1");
  SetWords({"Label1", "zero", "one"});
  for (const std::string bad : {"SimSun", "SimSun,", "SimSun,x", "SimSun,12x", "SimSun,256", "SimSun,-1", ""}) {
    SCOPED_TRACE(bad);
    label->SetCaption("before");
    lang->SetCharSets(TStringList{"MS Sans Serif,1", bad});
    EXPECT_THROW(lang->SetActiveLanguage(1), platform::Exception);
    EXPECT_EQ(lang->ActiveLanguage(), 0);
    EXPECT_EQ(label->Caption(), "before");
    EXPECT_EQ(window->Font().name, "MS Sans Serif");
    lang->SetCharSets(TStringList{"MS Sans Serif,1", "SimSun, 136"});
    lang->SetActiveLanguage(1);
    EXPECT_EQ(label->Caption(), "one");
    EXPECT_EQ(window->Font().charSet, 136);
    lang->SetActiveLanguage(0);
  }
}

TEST_F(LangTest, ChangingTheNumberOfLanguagesReshapesEveryGroup) {
  struct Case {
    std::uint8_t from, to, active;
    std::deque<ui::TModalResult> answers;
    std::vector<std::string> words, expected;
    std::vector<std::string> questions;
    std::uint8_t activeAfter;
  };
  const char* const kContinue =
      "You are decreasing the number of languages.\rEntries for the removed language will be lost.\r\rContinue?";
  const char* const kDropShown =
      "You are decreasing the number of languages.\rEntries for the removed language will be lost.\r"
      "The currently displayed language will be deleted, too.\r\rDo you really want to continue?";
  const std::vector<Case> cases = {
      {2, 3, 0, {}, {"A", "a0", "a1", "B", "b0", "b1"}, {"A", "a0", "a1", "?", "B", "b0", "b1", "?"}, {}, 0},
      {2, 4, 0, {}, {"A", "a0", "a1"}, {"A", "a0", "a1", "?", "?"}, {}, 0},
      {2, 1, 0, {ui::mrYes}, {"A", "a0", "a1", "B", "b0", "b1"}, {"A", "a0", "B", "b0"}, {kContinue}, 0},
      {2, 1, 0, {ui::mrNo}, {"A", "a0", "a1"}, {"A", "a0", "a1"}, {kContinue}, 0},
      {2, 1, 1, {ui::mrYes}, {"A", "a0", "a1"}, {"A", "a0"}, {kDropShown}, 0},
      {2, 1, 1, {ui::mrNo}, {"A", "a0", "a1"}, {"A", "a0", "a1"}, {kDropShown}, 1},
      {3, 2, 0, {ui::mrYes}, {"A", "a0", "a1", "a2", "B", "b0"}, {"A", "a0", "a1", "B", "b0"}, {kContinue}, 0},
      {2, 3, 0, {}, {"A", "a0", "a1", "B", "b0"}, {"A", "a0", "a1", "?", "B", "b0", "?"}, {}, 0},
      {2, 0, 0, {}, {"A", "a0", "a1"}, {"A", "a0", "a1"}, {"You have to provide at least 1 language."}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.from) + " to " + std::to_string(c.to) + " showing " + std::to_string(c.active));
    TTestWindow w;
    auto* l = new TMultiLang(&w);
    ScriptedPrompter prompter(c.answers);
    l->SetLanguages(c.from);
    l->SetActiveLanguage(c.active);
    l->SetWords(TStringList(c.words));
    l->SetLanguages(c.to);
    EXPECT_EQ(l->Words().Lines(), c.expected);
    EXPECT_EQ(prompter.Texts(), c.questions);
    EXPECT_EQ(l->ActiveLanguage(), c.activeAfter);
    const bool changed = c.expected != c.words || (c.to > c.from);
    EXPECT_EQ(l->Languages(), changed ? c.to : c.from);
  }
}

TEST_F(LangTest, PositionsAreKeptPerLanguageForTheWindowAndItsControls) {
  auto* label = Add<ui::TLabel>("Label1");
  SetWords({"Label1", "a", "b"});  // positions reach the controls the table names
  label->SetBounds(10, 10, 50, 12);
  window->SetBounds(100, 100, 500, 350);
  lang->SetSwitchPositions(spFormAndControls);
  lang->SetPositions(TStringList{"label1,10.10.50.12,20.20.60.12", "%Form%,100.100.500.350,200.200.600.400"});
  label->SetBounds(99, 98, 97, 96);  // moved while language 0 is shown
  lang->SetActiveLanguage(1);
  EXPECT_EQ((std::vector<int>{label->Left(), label->Top(), label->Width(), label->Height()}),
            (std::vector<int>{20, 20, 60, 12}));
  EXPECT_EQ(window->Left(), 200);
  EXPECT_EQ(window->Width(), 600);
  lang->SetActiveLanguage(0);
  EXPECT_EQ((std::vector<int>{label->Left(), label->Top(), label->Width(), label->Height()}),
            (std::vector<int>{99, 98, 97, 96}));
  EXPECT_EQ(window->Left(), 100);
  EXPECT_EQ(lang->Positions()[0], "label1,99.98.97.96,20.20.60.12");
}

TEST_F(LangTest, ControlsOnlyPositionsLeaveTheWindowAloneAndSkipBadFields) {
  auto* label = Add<ui::TLabel>("Label1");
  SetWords({"Label1", "a", "b"});
  label->SetBounds(1, 2, 3, 4);
  window->SetBounds(5, 6, 7, 8);
  lang->SetSwitchPositions(spControlsOnly);
  lang->SetActiveLanguage(1);
  EXPECT_EQ(lang->Positions(), (TStringList{"label1,1.2.3.4,1.2.3.4"}));
  struct Case {
    std::string field;
    std::vector<int> bounds;
  };
  const std::vector<Case> cases = {
      {"x.6.7", {1, 2, 3, 4}},       // not four parts
      {"1.2.3.4.5", {1, 2, 3, 4}},   // nor here
      {"7..8.9", {7, 2, 8, 9}},      // a part that is no number stays
      {"-5.6.70.80", {-5, 6, 70, 80}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.field);
    lang->SetActiveLanguage(0);
    label->SetBounds(1, 2, 3, 4);
    lang->SetPositions(TStringList{"label1,1.2.3.4," + c.field, "%Form%,1.1.1.1,9.9.9.9"});
    lang->SetActiveLanguage(1);
    EXPECT_EQ((std::vector<int>{label->Left(), label->Top(), label->Width(), label->Height()}), c.bounds);
    EXPECT_EQ(window->Left(), 5);
  }
}

TEST_F(LangTest, DroppingDifferingPositionsAsksFirst) {
  const TStringList differing{"label1,1.1.1.1,2.2.2.2", "%Form%,5.5.5.5,6.6.6.6"};
  {
    ScriptedPrompter prompter({ui::mrNo});
    lang->SetSwitchPositions(spFormAndControls);
    lang->SetPositions(differing);
    lang->SetSwitchPositions(spNone);
    EXPECT_EQ(lang->SwitchPositions(), spFormAndControls);
    EXPECT_EQ(lang->Positions(), differing);
    ASSERT_EQ(prompter.boxes.size(), 2u);
    EXPECT_EQ(prompter.boxes[0].type, ui::mtWarning);
    EXPECT_EQ(prompter.boxes[1].text, "Cancelled.");
  }
  {
    ScriptedPrompter prompter({ui::mrYes});
    lang->SetSwitchPositions(spControlsOnly);
    EXPECT_EQ(lang->SwitchPositions(), spControlsOnly);
    EXPECT_EQ(lang->Positions(), (TStringList{"label1,1.1.1.1,2.2.2.2"}));
    EXPECT_EQ(prompter.Texts(),
              (std::vector<std::string>{"You are going to drop the positions for the form.\rCurrently different values "
                                        "are stored for each language.\rDo you want to drop these values?"}));
  }
  {
    ScriptedPrompter prompter({ui::mrYes, ui::mrYes});
    lang->SetSwitchPositions(spNone);
    EXPECT_EQ(lang->SwitchPositions(), spNone);
    EXPECT_TRUE(lang->Positions().IsEmpty());
  }
}

TEST_F(LangTest, SetGlobalLanguagePassesOverComponentsWithTooFewLanguages) {
  auto* label = Add<ui::TLabel>("Label1");
  label->SetCaption("one language");
  ScriptedPrompter prompter({ui::mrYes});
  lang->SetLanguages(1);
  SetWords({"Label1", "only"});
  prompter.boxes.clear();
  SetGlobalLanguage(1);
  EXPECT_EQ(label->Caption(), "one language");
  EXPECT_EQ(lang->ActiveLanguage(), 0);
  EXPECT_EQ(GlobalLanguage(), 1);
  EXPECT_TRUE(prompter.boxes.empty());

  // A window read afterwards with two languages opens in language 1.
  ui::TClassRegistry classes = ui::StandardClasses();
  RegisterLanguageClasses(classes);
  TTestWindow later;
  ui::ReadForm(
      "object Later: TTestWindow\n"
      "  object Label1: TLabel\n"
      "    Caption = 'stored'\n"
      "  end\n"
      "  object MultiLang1: TMultiLang\n"
      "    Words = ('Label1' 'zero' 'one')\n"
      "  end\n"
      "end\n",
      "later.form", later, classes);
  EXPECT_EQ(dynamic_cast<ui::TLabel*>(later.FindComponent("Label1"))->Caption(), "one");
  // And one with a single language stays in its own without a message.
  lang->Loaded();
  EXPECT_EQ(label->Caption(), "only");
  EXPECT_TRUE(prompter.boxes.empty());
}

TEST_F(LangTest, ComponentsRegisterWhileTheyLive) {
  const auto& live = MultiLangInstances();
  auto* second = new TMultiLang(window.get());
  EXPECT_EQ(std::count(live.begin(), live.end(), lang), 1);
  EXPECT_GT(std::find(live.begin(), live.end(), second), std::find(live.begin(), live.end(), lang));
  delete second;
  EXPECT_EQ(std::count(live.begin(), live.end(), second), 0);
  window.reset();
  EXPECT_EQ(std::count(live.begin(), live.end(), lang), 0);
}

TEST_F(LangTest, StoredPropertiesReadBackInOrder) {
  std::vector<std::string> names;
  for (const auto* info : lang->Properties().All()) names.push_back(info->name);
  EXPECT_EQ(names, (std::vector<std::string>{"Name", "About", "BeforeLanguageChange", "AfterLanguageChanged",
                                             "IdNotFoundError", "DefaultLanguage", "DefaultEnabled", "Languages",
                                             "ActiveLanguage", "Words", "DoNot", "SwitchPositions", "TranslateEdits",
                                             "Positions", "CharSets"}));
  lang->SetProperty("About", "9.99");
  EXPECT_EQ(lang->GetProperty("About").AsString(), "3.76");
  EXPECT_THROW(lang->SetProperty("Languages", 256), platform::Exception);
}

}  // namespace
