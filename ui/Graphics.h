// Fonts, colours and character sets as stored forms write them: colours and character sets by
// their names (clBlue, CHINESEBIG5_CHARSET) or as numbers, font styles as a set of names.
#pragma once

#include <cstdint>
#include <string>

#include "platform/Variant.h"

namespace ui {

using TColor = std::int64_t;

constexpr TColor clBlack = 0x000000;
constexpr TColor clBlue = 0xFF0000;  // colours are stored as 0x00BBGGRR
constexpr TColor clWindowText = -16777208;  // the system colour 0xFF000008
constexpr TColor clBtnFace = -16777201;     // the system colour 0xFF00000F

constexpr int ANSI_CHARSET = 0;
constexpr int DEFAULT_CHARSET = 1;
constexpr int CHINESEBIG5_CHARSET = 136;

struct TFont {
  std::string name = "MS Sans Serif";
  int height = -11;  // negative: character height in pixels (8 pt at 96 pixels per inch)
  int charSet = DEFAULT_CHARSET;
  TColor color = clWindowText;
  platform::StringVector style;  // fsBold, fsItalic, fsUnderline, fsStrikeOut

  // Points at 96 pixels per inch, as the stored Height gives them.
  int Size() const;
  void SetSize(int points);
  bool operator==(const TFont&) const = default;
};

// Raise platform::EVariantError for an unknown name or a value out of range.
TColor ColorFromVariant(const platform::Variant& value);
platform::Variant ColorToVariant(TColor color);
int CharSetFromVariant(const platform::Variant& value);
platform::StringVector FontStyleFromVariant(const platform::Variant& value);

}  // namespace ui
