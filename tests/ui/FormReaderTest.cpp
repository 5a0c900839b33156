// Reading stored forms: the component tree, values of every kind, properties set in file order
// while loading, Loaded afterwards, events and references by name, and every fault reported with
// its file and line.
#include "ui/FormReader.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "ui/Actions.h"
#include "ui/ComCtrls.h"
#include "ui/Form.h"
#include "ui/Menus.h"
#include "ui/StdCtrls.h"

namespace {

std::vector<std::string> journal;

// Writes each property it receives, with the loading state, and its Loaded, to the journal.
class TRecorder : public platform::TComponent {
 public:
  using platform::TComponent::TComponent;
  std::string ClassName() const override { return "TRecorder"; }
  std::string First() const { return ""; }
  void SetFirst(const std::string& v) { Note("First=" + v); }
  std::string Second() const { return ""; }
  void SetSecond(const std::string& v) { Note("Second=" + v); }
  void Loaded() override {
    platform::TComponent::Loaded();
    journal.push_back("Loaded " + Name());
  }
  static const platform::PropertyTable& ClassProperties() {
    static const platform::PropertyTable table = platform::PropertyTable(&platform::TComponent::ClassProperties())
                                                     .Property("First", &TRecorder::First, &TRecorder::SetFirst)
                                                     .Property("Second", &TRecorder::Second, &TRecorder::SetSecond);
    return table;
  }
  const platform::PropertyTable& Properties() const override { return ClassProperties(); }

 private:
  void Note(const std::string& what) { journal.push_back(Name() + "." + what + (IsLoading() ? " loading" : "")); }
};

class TWindow : public ui::TForm {
 public:
  explicit TWindow(platform::TComponent* owner = nullptr) : ui::TForm(owner) {
    RegisterMethod<platform::TComponent*>("ButtonClick", [this](platform::TComponent* s) { clicks.push_back(s->Name()); });
  }
  std::string ClassName() const override { return "TWindow"; }
  std::vector<std::string> clicks;
};

ui::TClassRegistry Classes() {
  ui::TClassRegistry classes = ui::StandardClasses();
  classes.Register<TRecorder>("TRecorder");
  classes.Register<TWindow>("TWindow");
  return classes;
}

TEST(FormReader, BuildsTheTreeWithValuesOfEveryKind) {
  TWindow window;
  ui::ReadForm(R"(// a comment line
object Main: TWindow
  Caption = 'It''s '#65'x' +
    ' more'#26085
  Font.Style = [fsBold, fsItalic]
  Font.Color = clBlue
  Left = -12
  object Panel1: TPanel
    Width = $20
    object Label1: TLabel
      Caption = ''
    end
  end
  object List: TListBox
    Items = (
      'one' 'two'
      'three')
    ItemIndex = 1
  end
  object Menu: TMainMenu
    object File1: TMenuItem
      Caption = 'File'
      object Exit1: TMenuItem
        Caption = 'Exit'
      end
    end
  end
end
)",
               "test.form", window, Classes());
  EXPECT_EQ(window.Name(), "Main");
  EXPECT_EQ(window.Left(), -12);
  EXPECT_EQ(window.Font().style, (platform::StringVector{"fsBold", "fsItalic"}));
  EXPECT_EQ(window.Font().color, ui::clBlue);
  auto* panel = dynamic_cast<ui::TPanel*>(window.FindComponent("Panel1"));
  auto* label = dynamic_cast<ui::TLabel*>(window.FindComponent("Label1"));
  auto* list = dynamic_cast<ui::TListBox*>(window.FindComponent("List"));
  ASSERT_TRUE(panel && label && list);
  EXPECT_EQ(panel->Width(), 32);
  EXPECT_EQ(label->Owner(), &window);
  EXPECT_EQ(label->Parent(), panel);
  EXPECT_EQ(panel->Parent(), &window);
  EXPECT_EQ(label->Font().style, window.Font().style);  // followed its parents' font
  EXPECT_EQ(list->Items(), (platform::TStringList{"one", "two", "three"}));
  EXPECT_EQ(list->ItemIndex(), 1);
  auto* file = dynamic_cast<ui::TMenuItem*>(window.FindComponent("File1"));
  auto* exit = dynamic_cast<ui::TMenuItem*>(window.FindComponent("Exit1"));
  ASSERT_TRUE(file && exit);
  EXPECT_EQ(exit->Parent(), file);
  EXPECT_FALSE(window.IsLoading());
  EXPECT_FALSE(label->IsLoading());
  // #65 is "A", #26085 is U+65E5 written as UTF-8.
  EXPECT_EQ(window.Caption(), "It's Ax more\xE6\x97\xA5");
}

TEST(FormReader, SetsPropertiesInFileOrderWhileLoadingThenCallsLoadedInOrder) {
  journal.clear();
  TWindow window;
  ui::ReadForm(
      "object Main: TWindow\n"
      "  object B: TRecorder\n"
      "    Second = '1'\n"
      "    First = '2'\n"
      "  end\n"
      "  object A: TRecorder\n"
      "    First = '3'\n"
      "  end\n"
      "end\n",
      "order.form", window, Classes());
  EXPECT_EQ(journal, (std::vector<std::string>{"B.Second=1 loading", "B.First=2 loading", "A.First=3 loading",
                                               "Loaded B", "Loaded A"}));
}

TEST(FormReader, BindsEventsAndForwardReferencesByName) {
  TWindow window;
  ui::ReadForm(
      "object Main: TWindow\n"
      "  object Button1: TButton\n"
      "    Action = Action1\n"
      "    OnClick = buttonclick\n"
      "  end\n"
      "  object Button2: TButton\n"
      "    OnClick = ButtonClick\n"
      "  end\n"
      "  object Action1: TAction\n"
      "    Caption = 'Go'\n"
      "  end\n"
      "end\n",
      "events.form", window, Classes());
  auto* button1 = dynamic_cast<ui::TButton*>(window.FindComponent("Button1"));
  auto* button2 = dynamic_cast<ui::TButton*>(window.FindComponent("Button2"));
  auto* action = dynamic_cast<ui::TAction*>(window.FindComponent("Action1"));
  ASSERT_TRUE(button1 && button2 && action);
  EXPECT_EQ(button1->Action(), action);
  EXPECT_EQ(button1->Caption(), "Go");
  EXPECT_TRUE(button1->OnClick() == button2->OnClick());
  button2->Click();
  EXPECT_EQ(window.clicks, std::vector<std::string>{"Button2"});
  delete action;  // the button forgets an action that goes
  EXPECT_EQ(button1->Action(), nullptr);
  EXPECT_TRUE(button1->GetProperty("Action").IsEmpty());
}

struct FaultCase {
  const char* what;
  std::string text;
  int line;
  std::string reason;
};

// A window whose components are nested depth levels deep (the window counts as one).
std::string NestedForm(int depth) {
  std::string text = "object Main: TWindow\n";
  for (int i = 1; i < depth; ++i) text += "object P" + std::to_string(i) + ": TPanel\n";
  for (int i = 0; i < depth; ++i) text += "end\n";
  return text;
}

TEST(FormReader, ReportsEveryFaultWithFileAndLineAndUndoesTheRead) {
  const std::string head = "object Main: TWindow\n  object L: TLabel\n";
  const std::vector<FaultCase> cases = {
      {"unknown class", head + "  end\n  object X: TNoSuchThing\n  end\nend\n", 4, "unknown class TNoSuchThing"},
      {"unknown property", head + "    Colour = 5\n  end\nend\n", 3, "Unknown property Colour of class TLabel"},
      {"bad value", head + "    Left = 'ten'\n  end\nend\n", 3,
       "Invalid value for property Left: expected an integer, got 'ten'"},
      {"value out of range", head + "    Left = 9999999999\n  end\nend\n", 3,
       "Invalid value for property Left: expected an integer from -2147483648 to 2147483647, got 9999999999"},
      {"unknown enumeration", "object Main: TWindow\n  BorderStyle = bsRound\nend\n", 2,
       "Invalid value for property BorderStyle: unknown value bsRound"},
      {"unknown method", head + "    OnClick = Nowhere\n  end\nend\n", 3,
       "Invalid value for property OnClick: no method Nowhere of a fitting kind"},
      {"unknown reference", head + "  end\n  object B: TButton\n    Action = Nothing\n  end\nend\n", 4,
       "No component named Nothing for B"},
      {"duplicate name", head + "  end\n  object l: TLabel\n  end\nend\n", 4, "A component named l already exists"},
      {"wrong window class", "object Main: TOther\nend\n", 1, "the form is of class TOther, not TWindow"},
      {"missing end", head + "  end\n", 4, "the object Main has no \"end\""},
      {"text not closed", head + "    Caption = 'open\n  end\nend\n", 3, "a text is not closed on its line"},
      {"bad character code", head + "    Caption = #99999999\n  end\nend\n", 3,
       "'#' must be followed by a character code from 0 to 1114111"},
      {"missing '='", head + "    Caption 'x'\n  end\nend\n", 3, "'=' was expected after the property name Caption"},
      {"text after the end", head + "  end\nend\nobject\n", 5, "unexpected text after the window's end"},
      {"bad number", head + "    Left = 12px\n  end\nend\n", 3, "a bad number"},
      {"list of non-texts", head + "    Caption = (1 2)\n  end\nend\n", 3, "a list holds only texts"},
      {"missing value", head + "    Caption =\n  end\nend\n", 3, "a value was expected"},
      {"junk after a value", head + "    Left = 1 2\n  end\nend\n", 3, "unexpected text at the end of the line"},
      {"missing class", "object Main\nend\n", 1, "':' and a class name were expected after the name Main"},
      // Deep nesting once overflowed the stack of the recursive parse; the limit's line is named.
      {"nested too deep", NestedForm(20000), 201, "objects are nested more than 200 deep"},
  };
  for (const FaultCase& c : cases) {
    SCOPED_TRACE(c.what);
    TWindow window;
    try {
      ui::ReadForm(c.text, "faults.form", window, Classes());
      ADD_FAILURE() << "read without complaint";
    } catch (const ui::EFormError& error) {
      EXPECT_EQ(error.FileName(), "faults.form");
      EXPECT_EQ(error.Line(), c.line);
      EXPECT_EQ(error.Reason(), c.reason);
      EXPECT_EQ(error.Message(), "faults.form:" + std::to_string(c.line) + ": " + c.reason);
    }
    EXPECT_EQ(window.ComponentCount(), 0);
  }
}

TEST(FormReader, ReadsNestingUpToTheLimit) {
  TWindow window;
  ui::ReadForm(NestedForm(200), "deep.form", window, Classes());
  EXPECT_EQ(window.ComponentCount(), 199);
}

TEST(FormReader, CreatesTheWindowFromTheRegistry) {
  const auto root = ui::CreateForm("object Main: TWindow\n  Caption = 'made'\nend\n", "made.form", Classes());
  auto* window = dynamic_cast<TWindow*>(root.get());
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(window->Caption(), "made");
  EXPECT_THROW(ui::CreateForm("object Main: TUnknown\nend\n", "x.form", Classes()), ui::EFormError);
}

TEST(FormReader, FindsResourceFilesThroughTheEnvironmentFirst) {
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("qs-resources-" + std::to_string(::getpid()));
  std::filesystem::create_directories(folder);
  std::ofstream(folder / "Probe.form") << "object Main: TWindow\nend\n";
  ::setenv("QUILLSTAGE_RESOURCES", folder.c_str(), 1);
  EXPECT_EQ(ui::FindResourceFile("Probe.form"), (folder / "Probe.form").lexically_normal());
  // The build tree's runs find the source tree's forms.
  EXPECT_TRUE(std::filesystem::exists(ui::FindResourceFile("GetUpdateFile.form")));
  try {
    ui::FindResourceFile("Absent.form");
    ADD_FAILURE() << "found a file that does not exist";
  } catch (const platform::Exception& error) {
    EXPECT_NE(error.Message().find("Absent.form not found (looked in " + folder.string()), std::string::npos);
  }
  ::unsetenv("QUILLSTAGE_RESOURCES");
  std::filesystem::remove_all(folder);
  TWindow window;
  EXPECT_THROW(ui::ReadFormFile(folder / "Probe.form", window, Classes()), ui::EFormError);
}

}  // namespace
