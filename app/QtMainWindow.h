// The main window shown by the Qt front end: the program's picture as the window icon, and Qt's own
// texts (the buttons of message boxes) in the window's language, following the language button.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "app/uGetUpdateFile.h"
#include "lang/MLBase.h"
#include "ui/qt/QtFrontEnd.h"
#include "ui/qt/StandardTexts.h"

class TRunObserver;

// Qt's locale for a language index of the word table: 1 is Traditional Chinese, the rest English.
QString QtLocaleForLanguage(std::uint8_t language);

class TQtMainWindow {
 public:
  // Creates the window (its start-up included) with params and observer as TGetUpdateFile::Create
  // does, and presents it in front.
  TQtMainWindow(qtfront::QtFrontEnd& front, std::vector<std::string> params, TRunObserver* observer = nullptr);
  ~TQtMainWindow();
  TQtMainWindow(const TQtMainWindow&) = delete;
  TQtMainWindow& operator=(const TQtMainWindow&) = delete;

  TGetUpdateFile& Window() { return *window_; }
  const qtfront::StandardTexts& Texts() const { return texts_; }

 private:
  qtfront::StandardTexts texts_;
  TGlobalLanguageListener previousListener_;
  std::unique_ptr<TGetUpdateFile> window_;
};
