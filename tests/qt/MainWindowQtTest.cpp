// The Qt front end on the main window's stored form, on Qt's offscreen platform: every control
// mirrored at its place with its text in both languages, clicks reaching the model's handlers,
// model changes reaching the widgets, message boxes that keep our messages flowing, and the close
// box ending the run. Screenshots of both languages are saved as test artefacts in
// <build>/tests/qt/screenshots/.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QElapsedTimer>
#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "lang/MLang.h"
#include "platform/MessageLoop.h"
#include "ui/ComCtrls.h"
#include "ui/ExtCtrls.h"
#include "ui/FileCtrls.h"
#include "ui/FormReader.h"
#include "ui/StdCtrls.h"
#include "ui/qt/Appearance.h"
#include "ui/qt/ChineseFontCheck.h"
#include "ui/qt/QtFrontEnd.h"
#include "ui/qt/StatusBarWidget.h"

namespace {

// Stands in for the application's main window: the class the form names, with its handlers.
class TMainWindow : public ui::TForm {
 public:
  TMainWindow() : ui::TForm(nullptr) {
    RegisterMethod<platform::TComponent*>("BitBtn1Click", [this](platform::TComponent*) {
      calls.push_back("BitBtn1Click");
      SetGlobalLanguage(GlobalLanguage() == 0 ? 1 : 0);
    });
    for (const char* name : {"FormCreate", "FormClose", "FormDestroy", "btnFileDownloadClick", "btnInstallClick",
                             "btnExitClick", "Timer1Timer", "Timer2Timer", "Timer3Timer"}) {
      RegisterMethod<platform::TComponent*>(name, [this, name](platform::TComponent*) { calls.push_back(name); });
    }
  }
  std::string ClassName() const override { return "TGetUpdateFile"; }
  template <typename T>
  T& Get(const std::string& name) {
    return dynamic_cast<T&>(*FindComponent(name));
  }
  std::vector<std::string> calls;
};

class MainWindowQt : public testing::Test {
 protected:
  void SetUp() override {
    SetGlobalLanguageIndex(0);
    folder_ = std::filesystem::temp_directory_path() / ("qs-qt-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder_);
    std::ofstream(folder_ / "SetupORV.exe") << "MZ";
    std::ofstream(folder_ / "readme.txt") << "x";
    ui::TClassRegistry classes = ui::StandardClasses();
    RegisterLanguageClasses(classes);
    window = std::make_unique<TMainWindow>();
    ui::ReadFormFile(ui::FindResourceFile("GetUpdateFile.form"), *window, classes);
    window->Get<ui::TFileListBox>("FileListBox1").SetDirectory(folder_.string());
    window->Get<ui::TStatusBar>("StatusBar1").SetSimpleText("/home/user/SetupORV.exe downloaded on 2017/10/12");
    front = std::make_unique<qtfront::QtFrontEnd>();
  }
  void TearDown() override {
    window.reset();
    front.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    SetGlobalLanguageIndex(0);
    std::filesystem::remove_all(folder_);
  }

  template <typename W = QWidget>
  W* Widget(const std::string& name) {
    QWidget* widget = front->WidgetOf(window->Get<ui::TControl>(name));
    return qobject_cast<W*>(widget);
  }

  // Whether the status bar's widget shows text within a second (its repaints are spaced out).
  bool StatusShows(const std::string& text) {
    QElapsedTimer waited;
    waited.start();
    auto* bar = Widget<QStatusBar>("StatusBar1");
    while (bar->currentMessage().toStdString() != text && waited.elapsed() < 1000)
      QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return bar->currentMessage().toStdString() == text;
  }

  static void SaveScreenshot(QWidget& widget, const std::string& name) {
    const std::filesystem::path dir = QS_SCREENSHOT_DIR;
    std::filesystem::create_directories(dir);
    EXPECT_TRUE(widget.grab().save(QString::fromStdString((dir / name).string()))) << name;
  }

  std::filesystem::path folder_;
  std::unique_ptr<TMainWindow> window;
  std::unique_ptr<qtfront::QtFrontEnd> front;
};

struct Placement {
  const char* name;
  int left, top, width, height;
  bool sizedToText;  // a label that takes its text's size
};

const std::vector<Placement> kPlacements = {
    {"ProgramIcon", 16, 12, 33, 33, false},    {"Label3", 72, 18, 150, 15, true},
    {"BitBtn1", 430, 16, 50, 22, false},       {"Label2", 16, 56, 203, 12, true},
    {"Label4", 16, 80, 48, 12, true},          {"Label5", 176, 80, 84, 12, true},
    {"Label6", 336, 80, 67, 12, true},         {"InfoMemo", 16, 104, 140, 137, false},
    {"Memo1", 176, 104, 140, 137, false},      {"FileListBox1", 336, 104, 140, 137, false},
    {"Label1", 16, 260, 51, 12, true},         {"StatusBar1", 80, 256, 393, 19, false},
    {"btnFileDownload", 16, 288, 90, 25, false}, {"btnInstall", 272, 288, 90, 25, false},
    {"btnExit", 388, 288, 90, 25, false},
};

const char* const kTextControls[] = {"Label1", "Label2", "Label3", "Label4", "Label5", "Label6",
                                     "btnFileDownload", "btnInstall", "btnExit"};

// Each widget's text is its control's caption, rendered by a font that has every character.
void ExpectTextsOfTheModel(TMainWindow& window, QWidget& formWindow) {
  EXPECT_EQ(formWindow.windowTitle().toStdString(), window.Caption());
  for (const char* name : kTextControls) {
    SCOPED_TRACE(name);
    const std::string caption = window.Get<ui::TCaptionControl>(name).Caption();
    QWidget* widget = formWindow.findChild<QWidget*>(name);
    ASSERT_NE(widget, nullptr);
    QString shown;
    if (auto* label = qobject_cast<QLabel*>(widget)) shown = label->text();
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) shown = button->text();
    EXPECT_EQ(shown.toStdString(), caption);
    const QFontMetrics metrics(widget->font());
    for (const char32_t c : shown.toUcs4()) EXPECT_TRUE(metrics.inFontUcs4(c)) << "U+" << std::hex << static_cast<unsigned>(c);
    // The whole text is visible: the widget is at least as wide as the text.
    EXPECT_GE(widget->width(), metrics.horizontalAdvance(shown)) << shown.toStdString();
  }
}

TEST_F(MainWindowQt, MirrorsEveryControlAtItsPlaceInBothLanguagesAndTheToggleSwitchesThem) {
  EXPECT_TRUE(qtfront::WarnWithoutChineseFont()) << "the tests need a Traditional Chinese font (fonts-wqy-microhei)";
  front->Present(*window);
  QWidget* formWindow = front->WidgetOf(*window);
  ASSERT_NE(formWindow, nullptr);
  EXPECT_TRUE(formWindow->isVisible());
  EXPECT_EQ(formWindow->size(), QSize(494, 327));
  EXPECT_EQ(formWindow->minimumSize(), formWindow->maximumSize()) << "a dialog frame is not resizable";

  for (const Placement& p : kPlacements) {
    SCOPED_TRACE(p.name);
    QWidget* widget = Widget(p.name);
    ASSERT_NE(widget, nullptr);
    EXPECT_EQ(widget->objectName().toStdString(), p.name);
    EXPECT_EQ(widget->parentWidget(), formWindow);
    EXPECT_EQ(widget->pos(), QPoint(p.left, p.top));
    if (!p.sizedToText) {
      EXPECT_EQ(widget->size(), QSize(p.width, p.height));
    }
    EXPECT_TRUE(widget->isVisible());
  }

  // Pictures, the language toggle without text, fonts and colours.
  auto* icon = Widget<QLabel>("ProgramIcon");
  ASSERT_NE(icon, nullptr);
  EXPECT_EQ(icon->pixmap().size(), QSize(32, 32));
  auto* toggle = Widget<QPushButton>("BitBtn1");
  ASSERT_NE(toggle, nullptr);
  EXPECT_TRUE(toggle->text().isEmpty());
  EXPECT_FALSE(toggle->icon().isNull());
  EXPECT_EQ(toggle->iconSize(), QSize(37, 18));
  EXPECT_EQ(Widget("Label3")->font().pixelSize(), 15);
  EXPECT_EQ(Widget("Label3")->palette().color(QPalette::WindowText), QColor(Qt::blue));
  EXPECT_EQ(Widget("btnFileDownload")->palette().color(QPalette::ButtonText), QColor(Qt::blue));
  EXPECT_EQ(Widget("btnExit")->font().pixelSize(), 12);
  EXPECT_EQ(Widget("Label2")->font().families().front().toStdString(), "WenQuanYi Micro Hei") << "a Big5 font";

  // The other kinds show the model's state.
  EXPECT_EQ(Widget<QStatusBar>("StatusBar1")->currentMessage().toStdString(),
            "/home/user/SetupORV.exe downloaded on 2017/10/12");
  auto* files = Widget<QListWidget>("FileListBox1");
  ASSERT_NE(files, nullptr);
  ASSERT_EQ(files->count(), 2);
  EXPECT_EQ(files->item(0)->text().toStdString(), "readme.txt");
  EXPECT_EQ(files->item(1)->text().toStdString(), "SetupORV.exe");
  EXPECT_EQ(Widget<QPlainTextEdit>("InfoMemo")->lineWrapMode(), QPlainTextEdit::NoWrap);
  EXPECT_EQ(Widget<QPlainTextEdit>("Memo1")->lineWrapMode(), QPlainTextEdit::WidgetWidth);

  // The tab order of the form.
  std::vector<std::string> order;
  QWidget* w = Widget("InfoMemo");
  for (int i = 0; i < 40 && order.size() < 7; ++i, w = w->nextInFocusChain()) {
    if ((w->focusPolicy() & Qt::TabFocus) != 0 && w->parentWidget() == formWindow) order.push_back(w->objectName().toStdString());
  }
  EXPECT_EQ(order, (std::vector<std::string>{"InfoMemo", "btnExit", "Memo1", "btnInstall", "FileListBox1", "btnFileDownload",
                                             "BitBtn1"}));

  ExpectTextsOfTheModel(*window, *formWindow);
  EXPECT_EQ(Widget<QLabel>("Label3")->text().toStdString(), "Program (Download / Installation) System");
  SaveScreenshot(*formWindow, "GetUpdateFile-english.png");

  // The toggle, clicked through Qt, runs the model's handler, and the switch reaches the widgets.
  toggle->click();
  EXPECT_EQ(window->calls, std::vector<std::string>{"BitBtn1Click"});
  EXPECT_EQ(Widget<QLabel>("Label3")->text().toStdString(), "軟件 (下載 / 安裝) 系統");
  EXPECT_EQ(formWindow->windowTitle().toStdString(), "軟件安裝糸統");
  ExpectTextsOfTheModel(*window, *formWindow);
  for (const Placement& p : kPlacements) {
    SCOPED_TRACE(p.name);
    EXPECT_EQ(Widget(p.name)->pos(), QPoint(p.left, p.top));
  }
  SaveScreenshot(*formWindow, "GetUpdateFile-chinese.png");

  toggle->click();
  EXPECT_EQ(Widget<QAbstractButton>("btnExit")->text().toStdString(), "Exit");
}

TEST_F(MainWindowQt, ModelChangesReachTheWidgets) {
  front->Present(*window);
  auto& memo1 = window->Get<ui::TMemo>("Memo1");
  memo1.AddLine("SetupORV.exe");
  memo1.AddLine("readme.txt");
  EXPECT_EQ(Widget<QPlainTextEdit>("Memo1")->toPlainText().toStdString(), "SetupORV.exe\nreadme.txt");
  window->Get<ui::TMemo>("InfoMemo").SetText("SetupORV.exe\r\nreadme.txt\r\noperation complete\r\n");
  EXPECT_EQ(Widget<QPlainTextEdit>("InfoMemo")->toPlainText().toStdString(), "SetupORV.exe\nreadme.txt\noperation complete");
  window->Get<ui::TMemo>("InfoMemo").Clear();
  EXPECT_TRUE(Widget<QPlainTextEdit>("InfoMemo")->toPlainText().isEmpty());
  window->Get<ui::TMemo>("Memo1").SetReadOnly(true);
  EXPECT_TRUE(Widget<QPlainTextEdit>("Memo1")->isReadOnly());

  window->Get<ui::TStatusBar>("StatusBar1").SetSimpleText("SetupORV.exe 下載中...40960");
  EXPECT_TRUE(StatusShows("SetupORV.exe 下載中...40960"));

  std::ofstream(folder_ / "new.dat") << "y";
  window->Get<ui::TFileListBox>("FileListBox1").Update();
  EXPECT_EQ(Widget<QListWidget>("FileListBox1")->count(), 3);

  auto& install = window->Get<ui::TButton>("btnInstall");
  install.SetEnabled(false);
  EXPECT_FALSE(Widget("btnInstall")->isEnabled());
  install.SetBounds(200, 290, 100, 24);
  EXPECT_EQ(Widget("btnInstall")->geometry(), QRect(200, 290, 100, 24));
  install.SetVisible(false);
  EXPECT_FALSE(Widget("btnInstall")->isVisible());
  window->SetCaption("Program Installation System  (Updated on 2017/10/12)");
  EXPECT_EQ(front->WidgetOf(*window)->windowTitle().toStdString(), "Program Installation System  (Updated on 2017/10/12)");

  // Clicks reach the handlers; a disabled button takes none.
  Widget<QAbstractButton>("btnFileDownload")->click();
  Widget<QAbstractButton>("btnExit")->click();
  Widget<QAbstractButton>("btnInstall")->click();
  EXPECT_EQ(window->calls, (std::vector<std::string>{"btnFileDownloadClick", "btnExitClick"}));
}

struct BoxProbe {
  int ticks = 0;
  int ticksInBox = 0;
  std::string text;
  bool yesWasDefault = false;
};
BoxProbe* gBox = nullptr;

void BoxTick(platform::HWND, platform::UINT, platform::UINT_PTR, std::uint32_t) {
  BoxProbe& p = *gBox;
  ++p.ticks;
  auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
  if (box == nullptr) return;
  if (++p.ticksInBox < 3) return;
  p.text = box->text().toStdString();
  p.yesWasDefault = box->defaultButton() == box->button(QMessageBox::Yes);
  box->button(QMessageBox::Yes)->click();
}

TEST_F(MainWindowQt, AStatusTextBurstIsRepaintedAFewTimesAndEndsOnTheLastText) {
  front->Present(*window);
  auto& bar = window->Get<ui::TStatusBar>("StatusBar1");
  int shown = 0;
  QObject::connect(Widget<QStatusBar>("StatusBar1"), &QStatusBar::messageChanged, [&shown] { ++shown; });
  QElapsedTimer burst;
  burst.start();
  for (int i = 1; i <= 1000; ++i) bar.SetSimpleText("b.bin Downloading..." + std::to_string(i * 262144));
  const qint64 burstMs = burst.elapsed();
  EXPECT_TRUE(StatusShows("b.bin Downloading..." + std::to_string(1000 * 262144LL)));
  // One repaint per interval the burst lasted, and the last text's.
  EXPECT_LE(shown, 2 + burstMs / qtfront::kStatusRepaintMilliseconds) << "over " << burstMs << " ms";

  // After a quiet spell a text shows at once.
  QElapsedTimer quiet;
  quiet.start();
  while (quiet.elapsed() < qtfront::kStatusRepaintMilliseconds + 20) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  bar.SetSimpleText("b.bin Download completed");
  EXPECT_EQ(Widget<QStatusBar>("StatusBar1")->currentMessage().toStdString(), "b.bin Download completed");
}

TEST_F(MainWindowQt, AMessageBoxIsModalWhileOurTimerKeepsTicking) {
  front->Present(*window);
  BoxProbe probe;
  gBox = &probe;
  const platform::UINT_PTR timer = platform::SetTimer(0, 0, 20, BoxTick);
  // A guard so that a box that nobody answers fails the test instead of hanging it.
  QTimer::singleShot(10000, [] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) box->reject();
  });
  const ui::TModalResult answer =
      ui::MessageBox("Confirm", "Required files had been completely downloaded,\rinstall program now?", ui::mtConfirmation,
                     ui::mbYes | ui::mbNo | ui::mbCancel);
  platform::KillTimer(0, timer);
  gBox = nullptr;
  EXPECT_EQ(answer, ui::mrYes);
  EXPECT_GE(probe.ticksInBox, 3);
  EXPECT_TRUE(probe.yesWasDefault);
  EXPECT_EQ(probe.text, "Required files had been completely downloaded,\ninstall program now?");
}

TEST_F(MainWindowQt, TheCloseBoxRunsOnCloseAndEndsTheRunAndQuitGivesItsCode) {
  front->Present(*window);
  QWidget* formWindow = front->WidgetOf(*window);
  QTimer::singleShot(10000, [] { QCoreApplication::exit(99); });
  QTimer::singleShot(20, formWindow, [formWindow] { formWindow->close(); });
  EXPECT_EQ(front->Run(), 0);
  EXPECT_EQ(window->calls, std::vector<std::string>{"FormClose"});
  EXPECT_TRUE(window->IsClosed());
  EXPECT_FALSE(formWindow->isVisible());

  QTimer::singleShot(20, [this] { front->Quit(4); });
  EXPECT_EQ(front->Run(), 4);
}

TEST_F(MainWindowQt, DestroyingTheFormTakesItsWindowAway) {
  front->Present(*window);
  QPointer<QWidget> formWindow = front->WidgetOf(*window);
  const ui::TControl& label = window->Get<ui::TControl>("Label1");
  window.reset();
  EXPECT_EQ(front->WidgetOf(label), nullptr);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(formWindow.isNull());
}

}  // namespace
