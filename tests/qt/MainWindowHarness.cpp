#include "tests/qt/MainWindowHarness.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QTimer>
#include <cstdlib>
#include <filesystem>

#include "lang/MLang.h"
#include "tests/support/FtpServers.h"
#include "ui/Prompter.h"

MainWindowHarness::MainWindowHarness(std::vector<std::string> params) {
  SetGlobalLanguageIndex(0);
  driveC_ = ftpserver::MakeTempDir("qs-qtwin-c-");
  setenv("QUILLSTAGE_DRIVE_C", driveC_.c_str(), 1);
  front_ = std::make_unique<qtfront::QtFrontEnd>();
  main_ = std::make_unique<TQtMainWindow>(*front_, std::move(params));
  Settle();
}

MainWindowHarness::~MainWindowHarness() {
  main_.reset();
  front_.reset();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  SetGlobalLanguageIndex(0);
  unsetenv("QUILLSTAGE_DRIVE_C");
  std::filesystem::current_path(std::filesystem::temp_directory_path());
  ftpserver::RemoveTree(driveC_);
}

QWidget& MainWindowHarness::Widget() { return *front_->WidgetOf(Window()); }

QWidget& MainWindowHarness::ControlWidget(const char* name) {
  return *front_->WidgetOf(dynamic_cast<ui::TControl&>(*Window().FindComponent(name)));
}

void MainWindowHarness::ClickLanguage() { static_cast<QAbstractButton&>(ControlWidget("BitBtn1")).click(); }

void MainWindowHarness::Settle(int ms) {
  QElapsedTimer timer;
  timer.start();
  do {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  } while (timer.elapsed() < ms);
}

std::vector<std::string> MainWindowHarness::BoxButtonTexts() {
  std::vector<std::string> texts;
  QTimer looker;
  QObject::connect(&looker, &QTimer::timeout, [&texts] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr || !box->isVisible() || !texts.empty()) return;
    for (const auto which : {QMessageBox::Yes, QMessageBox::No, QMessageBox::Cancel}) {
      QAbstractButton* button = box->button(which);
      texts.push_back(button != nullptr ? button->text().toStdString() : "(none)");
    }
    box->buttons().front()->click();
  });
  looker.start(10);
  ui::MessageDlg("Question", ui::mtConfirmation, ui::mbYes | ui::mbNo | ui::mbCancel);
  return texts;
}

const std::vector<FormChange>& FormChanges() {
  static const std::vector<FormChange> changes = {
      {"LanguageButton", [](MainWindowHarness& h) { h.ClickLanguage(); }},
      {"LanguageButtonTwice",
       [](MainWindowHarness& h) {
         h.ClickLanguage();
         MainWindowHarness::Settle();
         h.ClickLanguage();
       }},
      {"Caption", [](MainWindowHarness& h) { h.Window().SetCaption("Another caption"); }},
      {"Font",
       [](MainWindowHarness& h) {
         ui::TFont font = h.Window().Font();
         font.height = -15;
         h.Window().SetFont(font);
       }},
      // The end of a run: the client's disconnect puts the start-up caption back.
      {"RunEnds",
       [](MainWindowHarness& h) {
         h.Window().SetCaption("during a run");
         h.Window().QsFtpClient1FtpStatus(&h.Window().Client(), fsDisconnected, "");
       }},
      {"MessageBox", [](MainWindowHarness& h) { h.BoxButtonTexts(); }},
  };
  return changes;
}
