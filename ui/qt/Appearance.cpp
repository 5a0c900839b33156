#include "ui/qt/Appearance.h"

#include <algorithm>
#include <cstdlib>

#include "platform/StringList.h"

namespace qtfront {

namespace {

constexpr int kShiftJisCharSet = 128;
constexpr int kHangulCharSet = 129;
constexpr int kGb2312CharSet = 134;

const QStringList kSansFaces = {"DejaVu Sans", "Liberation Sans", "Noto Sans", "FreeSans"};
const QStringList kCjkFaces = {"WenQuanYi Micro Hei", "WenQuanYi Zen Hei", "Noto Sans CJK TC", "AR PL UMing TW"};
const char* const kWindowsSansFaces[] = {"MS Sans Serif", "MS Shell Dlg", "MS Shell Dlg 2", "Arial", "Tahoma", "System"};

bool IsCjkCharSet(int charSet) {
  return charSet == ui::CHINESEBIG5_CHARSET || charSet == kGb2312CharSet || charSet == kShiftJisCharSet ||
         charSet == kHangulCharSet;
}

bool IsWindowsSansFace(const std::string& name) {
  return std::any_of(std::begin(kWindowsSansFaces), std::end(kWindowsSansFaces),
                     [&name](const char* face) { return platform::SameText(name, face); });
}

bool HasStyle(const ui::TFont& font, const char* style) {
  return std::find(font.style.begin(), font.style.end(), style) != font.style.end();
}

}  // namespace

QStringList FontFamilies(const ui::TFont& font) {
  QStringList families;
  if (!IsWindowsSansFace(font.name)) families << QString::fromStdString(font.name);
  if (IsCjkCharSet(font.charSet)) {
    families << kCjkFaces << kSansFaces;
  } else {
    families << kSansFaces << kCjkFaces;
  }
  families << "sans-serif";
  return families;
}

QFont ToQFont(const ui::TFont& font) {
  QFont result;
  result.setFamilies(FontFamilies(font));
  result.setStyleHint(QFont::SansSerif);
  // A negative height is the character height in pixels; a positive one includes the leading.
  const int pixels = font.height < 0 ? -font.height : std::max(1, font.height * 4 / 5);
  result.setPixelSize(pixels > 0 ? pixels : 11);
  result.setBold(HasStyle(font, "fsBold"));
  result.setItalic(HasStyle(font, "fsItalic"));
  result.setUnderline(HasStyle(font, "fsUnderline"));
  result.setStrikeOut(HasStyle(font, "fsStrikeOut"));
  return result;
}

std::optional<QColor> ToQColor(ui::TColor color) {
  if (color < 0 || color > 0xFFFFFF) return std::nullopt;  // a system colour
  return QColor(static_cast<int>(color & 0xFF), static_cast<int>((color >> 8) & 0xFF), static_cast<int>((color >> 16) & 0xFF));
}

}  // namespace qtfront
