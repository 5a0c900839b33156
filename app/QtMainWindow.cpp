#include "app/QtMainWindow.h"

#include <QApplication>
#include <QIcon>
#include <iostream>

#include "ui/FormReader.h"

namespace {

constexpr const char* kProgramPicture = "ProgramIcon.png";

// The picture of the window's ProgramIcon, for the title bar and the task bar of every window.
void UseProgramPicture() {
  try {
    const QIcon icon(QString::fromStdString(ui::FindResourceFile(kProgramPicture).string()));
    if (icon.isNull()) std::cerr << "cannot read the picture " << kProgramPicture << '\n';
    QApplication::setWindowIcon(icon);
  } catch (const std::exception& e) {
    std::cerr << e.what() << '\n';
  }
}

}  // namespace

QString QtLocaleForLanguage(std::uint8_t language) { return language == 1 ? QStringLiteral("zh_TW") : QString(); }

TQtMainWindow::TQtMainWindow(qtfront::QtFrontEnd& front, std::vector<std::string> params, TRunObserver* observer)
    : previousListener_(SetGlobalLanguageListener([this](std::uint8_t language) {
        if (!texts_.Use(QtLocaleForLanguage(language))) {
          std::cerr << "Qt's translation for " << QtLocaleForLanguage(language).toStdString()
                    << " is not installed (package qt6-translations-l10n): dialog buttons stay in English\n";
        }
      })) {
  UseProgramPicture();
  // The start-up sets the language, which the listener passes on to Qt's texts.
  try {
    window_ = TGetUpdateFile::Create(std::move(params), observer);
    front.Present(*window_);
  } catch (...) {
    // The listener refers to this object, which will not exist.
    SetGlobalLanguageListener(std::move(previousListener_));
    throw;
  }
}

TQtMainWindow::~TQtMainWindow() {
  window_.reset();
  SetGlobalLanguageListener(std::move(previousListener_));
}
