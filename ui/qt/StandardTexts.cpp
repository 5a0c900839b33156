#include "ui/qt/StandardTexts.h"

#include <QCoreApplication>
#include <QLibraryInfo>

namespace qtfront {

StandardTexts::~StandardTexts() { Remove(); }

bool StandardTexts::Use(const QString& locale) {
  Remove();
  if (locale.isEmpty()) return true;
  auto translator = std::make_unique<QTranslator>();
  if (!translator->load("qtbase_" + locale, QLibraryInfo::path(QLibraryInfo::TranslationsPath))) return false;
  QCoreApplication::installTranslator(translator.get());
  translator_ = std::move(translator);
  locale_ = locale;
  return true;
}

void StandardTexts::Remove() {
  if (translator_) QCoreApplication::removeTranslator(translator_.get());
  translator_.reset();
  locale_.clear();
}

}  // namespace qtfront
