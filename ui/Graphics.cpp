#include "ui/Graphics.h"

#include <array>
#include <cmath>
#include <utility>

#include "platform/StringList.h"

namespace ui {

namespace {

constexpr int kPixelsPerInch = 96;

const std::array<std::pair<const char*, TColor>, 10> kColorNames = {{
    {"clBlack", clBlack},
    {"clMaroon", 0x000080},
    {"clGreen", 0x008000},
    {"clNavy", 0x800000},
    {"clRed", 0x0000FF},
    {"clBlue", clBlue},
    {"clWhite", 0xFFFFFF},
    {"clGray", 0x808080},
    {"clWindowText", clWindowText},
    {"clBtnFace", clBtnFace},
}};

const std::array<std::pair<const char*, int>, 6> kCharSetNames = {{
    {"ANSI_CHARSET", ANSI_CHARSET},
    {"DEFAULT_CHARSET", DEFAULT_CHARSET},
    {"SYMBOL_CHARSET", 2},
    {"SHIFTJIS_CHARSET", 128},
    {"GB2312_CHARSET", 134},
    {"CHINESEBIG5_CHARSET", CHINESEBIG5_CHARSET},
}};

const std::array<const char*, 4> kStyleNames = {"fsBold", "fsItalic", "fsUnderline", "fsStrikeOut"};

}  // namespace

int TFont::Size() const {
  return static_cast<int>(std::lround(-static_cast<double>(height) * 72 / kPixelsPerInch));
}

void TFont::SetSize(int points) {
  height = -static_cast<int>(std::lround(static_cast<double>(points) * kPixelsPerInch / 72));
}

TColor ColorFromVariant(const platform::Variant& value) {
  if (value.Is<platform::Identifier>()) {
    for (const auto& [name, color] : kColorNames) {
      if (platform::SameText(name, value.AsIdentifier().name)) return color;
    }
    throw platform::EVariantError("unknown colour " + value.AsIdentifier().name);
  }
  const std::int64_t color = value.AsInt();
  if (color < INT32_MIN || color > INT32_MAX) throw platform::EVariantError("colour out of range: " + value.ToString());
  return color;
}

platform::Variant ColorToVariant(TColor color) {
  for (const auto& [name, known] : kColorNames) {
    if (known == color) return platform::Variant(platform::Identifier{name});
  }
  return platform::Variant(color);
}

int CharSetFromVariant(const platform::Variant& value) {
  if (value.Is<platform::Identifier>()) {
    for (const auto& [name, charSet] : kCharSetNames) {
      if (platform::SameText(name, value.AsIdentifier().name)) return charSet;
    }
    throw platform::EVariantError("unknown character set " + value.AsIdentifier().name);
  }
  const std::int64_t charSet = value.AsInt();
  if (charSet < 0 || charSet > 255) throw platform::EVariantError("character set out of range: " + value.ToString());
  return static_cast<int>(charSet);
}

platform::StringVector FontStyleFromVariant(const platform::Variant& value) {
  platform::StringVector style;
  for (const std::string& member : value.AsStrings()) {
    bool known = false;
    for (const char* name : kStyleNames) known = known || platform::SameText(name, member);
    if (!known) throw platform::EVariantError("unknown font style " + member);
    style.push_back(member);
  }
  return style;
}

}  // namespace ui
