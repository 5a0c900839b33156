// Qt's own texts (the standard buttons of message boxes and dialogs: "Yes", "No", "Cancel", "OK")
// in the windows' language: Qt's translation for a locale, or Qt's built-in English.
#pragma once

#include <QString>
#include <QTranslator>
#include <memory>

namespace qtfront {

class StandardTexts {
 public:
  StandardTexts() = default;
  ~StandardTexts();
  StandardTexts(const StandardTexts&) = delete;
  StandardTexts& operator=(const StandardTexts&) = delete;

  // Installs Qt's translation for locale (for example "zh_TW": qtbase_zh_TW.qm from Qt's
  // translations folder) in place of the current one; an empty locale goes back to English.
  // False when the translation cannot be read: English texts are shown then.
  bool Use(const QString& locale);
  // The locale in use, empty for English.
  const QString& Locale() const { return locale_; }

 private:
  void Remove();

  std::unique_ptr<QTranslator> translator_;
  QString locale_;
};

}  // namespace qtfront
