// The main window's stored form: every control where the window's layout puts it, with its fonts,
// tab order, timers and word table, and the language switch over it in both directions.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "lang/MLang.h"
#include "tests/lang/LangTestSupport.h"
#include "ui/ComCtrls.h"
#include "ui/ExtCtrls.h"
#include "ui/FileCtrls.h"
#include "ui/FormReader.h"
#include "ui/StdCtrls.h"
#include "ui/Timer.h"

namespace {

const std::vector<std::string> kHandlers = {"FormCreate",  "FormClose",      "FormDestroy",  "BitBtn1Click",
                                            "btnFileDownloadClick", "btnInstallClick", "btnExitClick",
                                            "Timer1Timer", "Timer2Timer",    "Timer3Timer"};

// Stands in for the application's main window: the class the form names, with its handlers.
class TMainWindow : public ui::TForm {
 public:
  TMainWindow() : ui::TForm(nullptr) {
    for (const std::string& name : kHandlers) {
      RegisterMethod<platform::TComponent*>(
          name, [this, name](platform::TComponent* sender) { calls.push_back(name + " from " + sender->Name()); });
    }
  }
  std::string ClassName() const override { return "TGetUpdateFile"; }
  std::vector<std::string> calls;
};

class MainWindowForm : public testing::Test {
 protected:
  void SetUp() override { SetGlobalLanguageIndex(0); }
  void TearDown() override { SetGlobalLanguageIndex(0); }

  std::unique_ptr<TMainWindow> Load() {
    ui::TClassRegistry classes = ui::StandardClasses();
    RegisterLanguageClasses(classes);
    auto window = std::make_unique<TMainWindow>();
    ui::ReadFormFile(ui::FindResourceFile("GetUpdateFile.form"), *window, classes);
    return window;
  }

  template <typename T>
  static T& Get(ui::TForm& window, const std::string& name) {
    auto* component = dynamic_cast<T*>(window.FindComponent(name));
    if (component == nullptr) throw platform::Exception("no " + name);
    return *component;
  }
};

struct Placement {
  const char* name;
  const char* className;
  int left, top, width, height;
};

TEST_F(MainWindowForm, HoldsEveryControlAtItsPlace) {
  const auto window = Load();
  EXPECT_EQ(window->Name(), "GetUpdateFile");
  EXPECT_EQ(window->ClientWidth(), 494);
  EXPECT_EQ(window->ClientHeight(), 327);
  EXPECT_EQ(window->BorderStyle(), ui::bsDialog);
  EXPECT_EQ(window->Position(), ui::poScreenCenter);
  const std::vector<Placement> placements = {
      {"ProgramIcon", "TImage", 16, 12, 33, 33},        {"Label3", "TLabel", 72, 18, 150, 15},
      {"BitBtn1", "TBitBtn", 430, 16, 50, 22},          {"Label2", "TLabel", 16, 56, 203, 12},
      {"Label4", "TLabel", 16, 80, 48, 12},             {"Label5", "TLabel", 176, 80, 84, 12},
      {"Label6", "TLabel", 336, 80, 67, 12},            {"InfoMemo", "TMemo", 16, 104, 140, 137},
      {"Memo1", "TMemo", 176, 104, 140, 137},           {"FileListBox1", "TFileListBox", 336, 104, 140, 137},
      {"Label1", "TLabel", 16, 260, 51, 12},            {"StatusBar1", "TStatusBar", 80, 256, 393, 19},
      {"btnFileDownload", "TBitBtn", 16, 288, 90, 25},  {"btnInstall", "TButton", 272, 288, 90, 25},
      {"btnExit", "TButton", 388, 288, 90, 25},
  };
  for (const Placement& p : placements) {
    SCOPED_TRACE(p.name);
    auto& control = Get<ui::TControl>(*window, p.name);
    EXPECT_EQ(control.ClassName(), p.className);
    EXPECT_EQ(control.Owner(), window.get());
    EXPECT_EQ(control.Parent(), window.get());
    EXPECT_EQ(control.Left(), p.left);
    EXPECT_EQ(control.Top(), p.top);
    EXPECT_EQ(control.Width(), p.width);
    EXPECT_EQ(control.Height(), p.height);
  }
  EXPECT_FALSE(Get<ui::TMemo>(*window, "InfoMemo").WordWrap());
  EXPECT_TRUE(Get<ui::TStatusBar>(*window, "StatusBar1").SimplePanel());
  EXPECT_EQ(Get<ui::TStatusBar>(*window, "StatusBar1").Align(), ui::alNone);
  EXPECT_EQ(Get<ui::TBitBtn>(*window, "BitBtn1").Caption(), "");
}

TEST_F(MainWindowForm, FontsAndTabOrder) {
  const auto window = Load();
  struct FontCase {
    const char* name;
    int height;
    int charSet;
    ui::TColor color;
  };
  const std::vector<FontCase> fonts = {
      {"Label1", -12, ui::CHINESEBIG5_CHARSET, ui::clWindowText}, {"Label2", -12, ui::CHINESEBIG5_CHARSET, ui::clWindowText},
      {"Label3", -15, ui::CHINESEBIG5_CHARSET, ui::clBlue},       {"Label4", -12, ui::CHINESEBIG5_CHARSET, ui::clWindowText},
      {"Label5", -12, ui::CHINESEBIG5_CHARSET, ui::clWindowText}, {"Label6", -12, ui::CHINESEBIG5_CHARSET, ui::clWindowText},
      {"btnExit", -12, ui::CHINESEBIG5_CHARSET, ui::clWindowText}, {"btnInstall", -12, ui::CHINESEBIG5_CHARSET, ui::clWindowText},
      {"btnFileDownload", -11, ui::DEFAULT_CHARSET, ui::clBlue},
  };
  for (const FontCase& f : fonts) {
    SCOPED_TRACE(f.name);
    const ui::TFont& font = Get<ui::TControl>(*window, f.name).Font();
    EXPECT_EQ(font.name, "MS Sans Serif");
    EXPECT_EQ(font.height, f.height);
    EXPECT_EQ(font.charSet, f.charSet);
    EXPECT_EQ(font.color, f.color);
  }
  EXPECT_EQ(window->Font().name, "MS Sans Serif");
  EXPECT_EQ(window->Font().Size(), 8);
  EXPECT_EQ(window->Font().charSet, 1);

  std::vector<std::string> order;
  for (const ui::TControl* control : window->TabOrderList()) {
    if (control->TabOrder() >= 0) order.push_back(control->Name());
  }
  EXPECT_EQ(order, (std::vector<std::string>{"InfoMemo", "btnExit", "Memo1", "btnInstall", "FileListBox1",
                                             "btnFileDownload", "BitBtn1"}));
}

TEST_F(MainWindowForm, TimersAreStoredDisabledWithTheirHandlers) {
  const auto window = Load();
  const std::vector<std::pair<std::string, unsigned>> timers = {{"Timer1", 2000}, {"Timer2", 3000}, {"Timer3", 5000}};
  for (const auto& [name, interval] : timers) {
    SCOPED_TRACE(name);
    auto& timer = Get<ui::TTimer>(*window, name);
    EXPECT_EQ(timer.Interval(), interval);
    EXPECT_FALSE(timer.Enabled());
    EXPECT_FALSE(timer.Running());
    EXPECT_EQ(timer.GetProperty("OnTimer"), platform::Variant(platform::Identifier{name + "Timer"}));
  }
}

TEST_F(MainWindowForm, EventsReachTheWindowsMethods) {
  const auto window = Load();
  Get<ui::TButton>(*window, "btnExit").Click();
  Get<ui::TBitBtn>(*window, "BitBtn1").Click();
  window->DoCreate();
  EXPECT_EQ(window->calls,
            (std::vector<std::string>{"btnExitClick from btnExit", "BitBtn1Click from BitBtn1", "FormCreate from GetUpdateFile"}));
}

TEST_F(MainWindowForm, LanguageComponentHoldsTheWordTable) {
  const auto window = Load();
  auto& lang = Get<TMultiLang>(*window, "MultiLang1");
  EXPECT_EQ(lang.Languages(), 2);
  EXPECT_EQ(lang.ActiveLanguage(), 0);  // Loaded switched to the global language
  EXPECT_EQ(lang.Words().Count(), 27);
  EXPECT_EQ(lang.Words()[0], "%Form%");
  EXPECT_EQ(lang.CharSets(), (platform::TStringList{"MS Sans Serif,1", "MS Sans Serif,1"}));
}

struct Texts {
  const char* control;  // "" for the window's caption
  const char* english;
  const char* chinese;
};

const std::vector<Texts> kWordTableTexts = {
    {"", "Program Installation System", "軟件安裝糸統"},
    {"btnExit", "Exit", "離開"},
    {"Label1", "Status:", "工作狀態:"},
    {"Label2", "Download required files for program setup (about 15 minutes)", "下載軟件安裝所需檔案 (約需時15分鐘)"},
    {"Label3", "Program (Download / Installation) System", "軟件 (下載 / 安裝) 系統"},
    {"Label4", "Files List", "檔案列表"},
    {"Label5", "Received Files", "成功下載之檔案"},
    {"btnInstall", "Install Program", "安裝軟件"},
    {"btnFileDownload", "Download File", "下載檔案"},
};

void ExpectTexts(ui::TForm& window, bool chinese) {
  for (const Texts& t : kWordTableTexts) {
    SCOPED_TRACE(std::string(t.control) + (chinese ? " in Chinese" : " in English"));
    const std::string expected = chinese ? t.chinese : t.english;
    if (*t.control == '\0') {
      EXPECT_EQ(window.Caption(), expected);
    } else {
      EXPECT_EQ(window.FindComponent(t.control)->GetProperty("Caption").AsString(), expected);
    }
  }
}

TEST_F(MainWindowForm, SwitchingToChineseAndBackChangesOnlyTheWordTablesControls) {
  const auto window = Load();
  ExpectTexts(*window, false);
  Get<ui::TMemo>(*window, "InfoMemo").SetText("listing\r\n");
  Get<ui::TMemo>(*window, "Memo1").SetText("SetupORV.exe\r\n");
  Get<ui::TStatusBar>(*window, "StatusBar1").SetSimpleText("Please wait.....");
  window->SetCaption(window->Caption() + "  (Updated on 2017/10/12)");

  for (const bool chinese : {true, false, true, false}) {
    SetGlobalLanguage(chinese ? 1 : 0);
    ExpectTexts(*window, chinese);
    EXPECT_EQ(Get<ui::TLabel>(*window, "Label6").Caption(), "C:\\Quillstage");
    EXPECT_EQ(Get<ui::TMemo>(*window, "InfoMemo").Lines(), platform::TStringList{"listing"});
    EXPECT_EQ(Get<ui::TMemo>(*window, "Memo1").Lines(), platform::TStringList{"SetupORV.exe"});
    EXPECT_EQ(Get<ui::TStatusBar>(*window, "StatusBar1").SimpleText(), "Please wait.....");
    EXPECT_EQ(Get<ui::TBitBtn>(*window, "BitBtn1").Caption(), "");
    EXPECT_EQ(window->Font().name, "MS Sans Serif");
    EXPECT_EQ(window->Font().charSet, 1);
    EXPECT_EQ(Get<ui::TLabel>(*window, "Label2").Font().charSet, ui::CHINESEBIG5_CHARSET);
  }
}

TEST_F(MainWindowForm, AWindowReadAfterAGlobalSwitchOpensInThatLanguage) {
  SetGlobalLanguage(1);
  const auto window = Load();
  EXPECT_EQ(Get<TMultiLang>(*window, "MultiLang1").ActiveLanguage(), 1);
  ExpectTexts(*window, true);
}

}  // namespace
