// The program's real main window (TGetUpdateFile, with its Qt side TQtMainWindow) in the Qt front
// end, with drive C in a folder of its own, and the form changes a user's actions make: language
// switches, caption and font changes, the end of a run, message boxes. Shared by the offscreen
// tests and the tests on a real X server.
#pragma once

#include <QWidget>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "app/QtMainWindow.h"
#include "ui/qt/QtFrontEnd.h"

class MainWindowHarness {
 public:
  explicit MainWindowHarness(std::vector<std::string> params);
  ~MainWindowHarness();

  QWidget& Widget();
  QWidget& ControlWidget(const char* name);
  TGetUpdateFile& Window() { return main_->Window(); }
  // Presses the language button as a user does.
  void ClickLanguage();
  // Lets Qt handle what is pending for about ms milliseconds.
  static void Settle(int ms = 50);
  // Opens a box with Yes, No and Cancel through the model, answers it once it shows, and returns
  // the texts of its Yes, No and Cancel buttons.
  std::vector<std::string> BoxButtonTexts();

 private:
  std::string driveC_;
  std::unique_ptr<qtfront::QtFrontEnd> front_;
  std::unique_ptr<TQtMainWindow> main_;
};

struct FormChange {
  const char* name;
  std::function<void(MainWindowHarness&)> apply;
};
inline void PrintTo(const FormChange& change, std::ostream* os) { *os << change.name; }

// Every kind of change the main window goes through while the program runs.
const std::vector<FormChange>& FormChanges();
