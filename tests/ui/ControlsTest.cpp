// The control model: which properties each kind exposes by name (the language switch and the form
// reader rely on them), and the behaviour the kinds hold themselves.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "platform/MessageLoop.h"
#include "tests/ui/ScriptedPrompter.h"
#include "ui/Actions.h"
#include "ui/ClassRegistry.h"
#include "ui/ComCtrls.h"
#include "ui/Dialogs.h"
#include "ui/FileCtrls.h"
#include "ui/Form.h"
#include "ui/StdCtrls.h"
#include "ui/Timer.h"

using platform::TStringList;

namespace {

struct KindCase {
  const char* className;
  std::vector<const char*> has;
  std::vector<const char*> hasNot;
};

TEST(Controls, EachKindExposesTheTextPropertiesOfItsKind) {
  const std::vector<KindCase> cases = {
      {"TForm", {"Caption", "Font.Name", "Font.CharSet", "Left", "Hint", "OnCreate"}, {"Text", "ReadOnly"}},
      {"TLabel", {"Caption", "Hint", "Font.Height", "Action"}, {"Text", "ReadOnly"}},
      {"TButton", {"Caption", "OnClick", "TabOrder"}, {"Text"}},
      {"TBitBtn", {"Caption", "Glyph"}, {"Text"}},
      {"TEdit", {"Text", "ReadOnly", "Hint"}, {"Caption", "Lines"}},
      {"TMaskEdit", {"Text", "ReadOnly", "EditMask"}, {"Caption"}},
      {"TMemo", {"Lines", "ReadOnly", "WordWrap", "ScrollBars"}, {"Caption", "Text"}},
      {"TListBox", {"Items", "ItemIndex"}, {"Caption", "Text", "ReadOnly"}},
      {"TFileListBox", {"Items", "Directory", "Mask"}, {"Caption", "Text"}},
      {"TComboBox", {"Items", "ItemIndex", "Text"}, {"Caption", "ReadOnly"}},
      {"TFilterComboBox", {"Filter", "Items"}, {"Caption"}},
      {"TRadioGroup", {"Caption", "Items", "Columns"}, {"Text"}},
      {"TStatusBar", {"SimpleText", "SimplePanel", "Panels", "Align"}, {"Caption", "Text"}},
      {"TTreeView", {"Items", "SortType"}, {"Caption", "Text"}},
      {"TListView", {"Columns", "Items", "SortType"}, {"Caption", "Text"}},
      {"THeaderControl", {"Sections"}, {"Caption"}},
      {"THeader", {"Sections"}, {"Caption"}},
      {"TTabSet", {"Tabs", "TabIndex"}, {"Caption"}},
      {"TTabControl", {"Tabs", "TabIndex"}, {"Caption"}},
      {"TNotebook", {"Pages", "PageIndex"}, {"Caption"}},
      {"TTabbedNotebook", {"Pages", "PageIndex"}, {"Caption"}},
      {"TImage", {"Picture", "Hint"}, {"Caption", "Text"}},
      {"TMenuItem", {"Caption", "Hint", "OnClick"}, {"Text", "Left"}},
      {"TOpenDialog", {"Title", "Filter", "FileName"}, {"Caption", "Hint"}},
      {"TSaveDialog", {"Title", "Filter"}, {"Caption"}},
      {"TAction", {"Caption", "Hint", "OnExecute"}, {"Text", "Left"}},
      {"TTimer", {"Enabled", "Interval", "OnTimer"}, {"Caption", "Hint"}},
      {"TField", {"FieldName", "DisplayLabel"}, {"Caption", "Hint"}},
      {"TDBListBox", {"Items", "DataField"}, {"Caption"}},
      {"TDBComboBox", {"Items", "Text", "DataField"}, {"Caption"}},
      {"TDBRadioGroup", {"Caption", "Items", "DataField"}, {"Text"}},
      {"TDBGrid", {"Columns", "Hint"}, {"Caption"}},
      {"TDBNavigator", {"Hints", "Hint"}, {"Caption"}},
  };
  for (const KindCase& c : cases) {
    SCOPED_TRACE(c.className);
    std::unique_ptr<platform::TComponent> component(ui::StandardClasses().Create(c.className, nullptr));
    ASSERT_NE(component, nullptr);
    EXPECT_EQ(component->ClassName(), c.className);
    for (const char* name : c.has) EXPECT_TRUE(component->HasProperty(name)) << name;
    for (const char* name : c.hasNot) EXPECT_FALSE(component->HasProperty(name)) << name;
  }
}

TEST(Controls, TreeNodesFollowTheirIndentationAndSortByTextWithinTheirParent) {
  ui::TTreeView tree(nullptr);
  tree.SetItems(TStringList{"b", "\tz", "\ty", "\t\tdeep", "a"});
  EXPECT_EQ(tree.NodeCount(), 5);
  EXPECT_EQ(tree.NodeText(3), "deep");
  tree.SetSortType(ui::stText);
  EXPECT_EQ(tree.Items(), (TStringList{"a", "b", "\ty", "\t\tdeep", "\tz"}));
  tree.SetNodeText(0, "c");  // sorted trees keep sorting as texts change
  EXPECT_EQ(tree.Items(), (TStringList{"b", "\ty", "\t\tdeep", "\tz", "c"}));
  EXPECT_THROW(tree.NodeText(5), platform::Exception);
  EXPECT_THROW(tree.SetItems(TStringList{"a", "\t\ttoo deep"}), platform::Exception);
  EXPECT_EQ(tree.NodeCount(), 5);  // a refused list changes nothing
}

TEST(Controls, ListViewItemsCarryTheirSubItems) {
  ui::TListView view(nullptr);
  view.SetItems(TStringList{"b\t1\t2", "a", "c\t\t3"});
  EXPECT_EQ(view.Item(0).subItems, (TStringList{"1", "2"}));
  EXPECT_TRUE(view.Item(1).subItems.IsEmpty());
  EXPECT_EQ(view.Item(2).subItems, (TStringList{"", "3"}));
  view.SetSortType(ui::stText);
  EXPECT_EQ(view.Items(), (TStringList{"a", "b\t1\t2", "c\t\t3"}));
  EXPECT_THROW(view.SetItemCaption(3, "x"), platform::Exception);
}

TEST(Controls, FileListBoxListsTheFilesOfItsFolder) {
  const std::filesystem::path folder = std::filesystem::temp_directory_path() / ("qs-files-" + std::to_string(::getpid()));
  std::filesystem::create_directories(folder / "sub");
  for (const char* name : {"b.txt", "A.exe", "c", "Setup.EXE"}) std::ofstream(folder / name) << "x";
  ui::TFileListBox list(nullptr);
  list.SetDirectory(folder.string());
  EXPECT_EQ(list.Items(), (TStringList{"A.exe", "b.txt", "c", "Setup.EXE"}));
  list.SetMask("*.exe;*.txt");
  EXPECT_EQ(list.Items(), (TStringList{"A.exe", "b.txt", "Setup.EXE"}));
  std::filesystem::remove(folder / "b.txt");
  list.Update();
  EXPECT_EQ(list.Items(), (TStringList{"A.exe", "Setup.EXE"}));
  std::filesystem::remove_all(folder);
  list.Update();
  EXPECT_TRUE(list.Items().IsEmpty());
}

TEST(Controls, ControlsFollowTheirParentsFontUntilGivenTheirOwn) {
  ui::TForm form(nullptr);
  auto* label = new ui::TLabel(&form);
  auto* button = new ui::TButton(&form);
  label->SetParent(&form);
  button->SetParent(&form);
  ui::TFont big5 = form.Font();
  big5.charSet = ui::CHINESEBIG5_CHARSET;
  button->SetFont(big5);
  EXPECT_FALSE(button->ParentFont());
  form.SetProperty("Font.Name", "SimSun");
  EXPECT_EQ(label->Font().name, "SimSun");
  EXPECT_EQ(button->Font().name, "MS Sans Serif");
  form.SetProperty("Font.Size", 9);
  EXPECT_EQ(form.Font().height, -12);
  EXPECT_THROW(form.SetProperty("Font.CharSet", 256), platform::Exception);
  EXPECT_THROW(form.SetProperty("Font.Style", platform::StringVector{"fsBlinking"}), platform::Exception);
  EXPECT_THROW(label->SetParent(label), platform::Exception);
}

TEST(Controls, ListSelectionStaysWithinTheItems) {
  ui::TComboBox combo(nullptr);
  combo.SetItems(TStringList{"a", "b", "c"});
  combo.SetItemIndex(2);
  EXPECT_THROW(combo.SetItemIndex(3), platform::Exception);
  EXPECT_THROW(combo.SetItemIndex(-2), platform::Exception);
  combo.SetItems(TStringList{"a"});
  EXPECT_EQ(combo.ItemIndex(), -1);

  ui::TFilterComboBox filter(nullptr);
  filter.SetFilter("Programs|*.exe;*.com|All files|*");
  EXPECT_EQ(filter.Items(), (TStringList{"Programs", "All files"}));
  EXPECT_EQ(filter.Mask(), "*.exe;*.com");
  filter.SetItemIndex(1);
  EXPECT_EQ(filter.Mask(), "*");
}

TEST(Controls, ActionsSupplyTheirControlsTextsAndClicks) {
  ui::TForm form(nullptr);
  auto* action = new ui::TAction(&form);
  auto* button = new ui::TButton(&form);
  int executed = 0;
  int clicked = 0;
  action->SetOnExecute(ui::TNotifyEvent(&form, "Execute", [&](platform::TComponent*) { ++executed; }));
  button->SetOnClick(ui::TNotifyEvent(&form, "Click", [&](platform::TComponent*) { ++clicked; }));
  button->SetAction(action);
  action->SetCaption("Run");
  action->SetHint("Runs it");
  EXPECT_EQ(button->Caption(), "Run");
  EXPECT_EQ(button->Hint(), "Runs it");
  button->Click();
  action->SetEnabled(false);
  button->Click();
  EXPECT_EQ(executed, 1);
  EXPECT_EQ(clicked, 1);
  EXPECT_THROW(button->SetAction(button), platform::Exception);
}

TEST(Controls, TimersTickFromTheMessageLoopOnlyWhileRunning) {
  ui::TForm form(nullptr);
  auto* timer = new ui::TTimer(&form);
  int ticks = 0;
  timer->SetInterval(10);
  timer->SetEnabled(false);
  timer->SetOnTimer(ui::TNotifyEvent(&form, "Tick", [&](platform::TComponent*) { ++ticks; }));
  EXPECT_FALSE(timer->Running());
  const auto pumpUntil = [&](int wanted) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    platform::MSG msg;
    while (ticks < wanted && std::chrono::steady_clock::now() < deadline) {
      platform::WaitMessage(50);
      while (platform::PeekMessage(msg)) platform::DispatchMessage(msg);
    }
  };
  timer->SetEnabled(true);
  EXPECT_TRUE(timer->Running());
  pumpUntil(2);
  EXPECT_GE(ticks, 2);
  timer->SetEnabled(false);
  EXPECT_FALSE(timer->Running());
  const int stopped = ticks;
  platform::MSG msg;
  for (int i = 0; i < 3; ++i) {
    platform::WaitMessage(20);
    while (platform::PeekMessage(msg)) platform::DispatchMessage(msg);
  }
  EXPECT_EQ(ticks, stopped);

  timer->BeginLoading();  // a form being read starts its timers only once it is loaded
  timer->SetEnabled(true);
  EXPECT_FALSE(timer->Running());
  timer->Loaded();
  EXPECT_TRUE(timer->Running());
  delete timer;  // a freed timer's tick never arrives
  for (int i = 0; i < 3; ++i) {
    platform::WaitMessage(20);
    while (platform::PeekMessage(msg)) platform::DispatchMessage(msg);
  }

  // A handler may free its own timer.
  auto* once = new ui::TTimer(&form);
  once->SetInterval(5);
  once->SetOnTimer(ui::TNotifyEvent(&form, "Once", [&](platform::TComponent* sender) {
    ++ticks;
    delete sender;
  }));
  const int before = ticks;
  pumpUntil(before + 1);
  EXPECT_EQ(ticks, before + 1);
  EXPECT_EQ(form.ComponentCount(), 0);
}

TEST(Prompter, MessageDialogsCarryTheirTypesCaption) {
  ScriptedPrompter prompter({ui::mrYes});
  ui::SetApplicationTitle("ORV Data Downloader Setup");
  EXPECT_EQ(ui::MessageDlg("Sure?", ui::mtConfirmation, ui::mbYes | ui::mbNo), ui::mrYes);
  ui::MessageDlg("w", ui::mtWarning, ui::mbOK);
  ui::MessageDlg("e", ui::mtError, ui::mbOK);
  ui::MessageDlg("i", ui::mtInformation, ui::mbOK);
  ui::ShowMessage("plain");
  ui::MessageBox("FTP Error: 550", "No such file", ui::mtWarning, ui::mbOK);
  std::vector<std::string> captions;
  for (const auto& box : prompter.boxes) captions.push_back(box.caption);
  EXPECT_EQ(captions, (std::vector<std::string>{"Confirm", "Warning", "Error", "Information",
                                                "ORV Data Downloader Setup", "FTP Error: 550"}));
}

TEST(Prompter, WithoutAFrontEndBoxesGetTheAnswerThatChangesNothing) {
  const std::vector<std::pair<ui::TMsgDlgButtons, ui::TModalResult>> cases = {
      {ui::mbYes | ui::mbNo, ui::mrNo},
      {ui::mbYes | ui::mbNo | ui::mbCancel, ui::mrNo},
      {ui::mbOK | ui::mbCancel, ui::mrCancel},
      {ui::mbCancel, ui::mrCancel},
      {ui::mbOK, ui::mrOk},
  };
  for (const auto& [buttons, answer] : cases) {
    SCOPED_TRACE(buttons);
    EXPECT_EQ(ui::MessageDlg("?", ui::mtConfirmation, buttons), answer);
  }
  ui::TOpenDialog dialog(nullptr);
  EXPECT_FALSE(dialog.Execute());
  ScriptedPrompter prompter;
  prompter.chosenFile = "/tmp/chosen.txt";
  dialog.SetTitle("Open");
  EXPECT_TRUE(dialog.Execute());
  EXPECT_EQ(dialog.FileName(), "/tmp/chosen.txt");
  ASSERT_EQ(prompter.files.size(), 1u);
  EXPECT_EQ(prompter.files[0].title, "Open");
  EXPECT_FALSE(prompter.files[0].save);
}

}  // namespace
