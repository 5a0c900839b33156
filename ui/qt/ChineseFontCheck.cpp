#include "ui/qt/ChineseFontCheck.h"

#include <QFontDatabase>
#include <QStringList>

namespace qtfront {

bool HasTraditionalChineseFont() { return !QFontDatabase::families(QFontDatabase::TraditionalChinese).isEmpty(); }

bool WarnWithoutChineseFont(std::ostream& err) {
  if (HasTraditionalChineseFont()) return true;
  err << "warning: no Traditional Chinese font is installed, so Chinese texts will show as boxes; "
         "install one, for example the package fonts-wqy-microhei\n";
  err.flush();
  return false;
}

}  // namespace qtfront
