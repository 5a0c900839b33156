// The model's fonts and colours as Qt's. Fonts of the old Windows sans faces ("MS Sans Serif",
// "Arial", ...) become a sans face found on Linux at the model's pixel size; a Chinese (or other
// CJK) character set puts a CJK face first, and every font ends with a CJK face so that Chinese
// text never shows as boxes whatever the character set says.
#pragma once

#include <QColor>
#include <QFont>
#include <QStringList>
#include <optional>

#include "ui/Graphics.h"

namespace qtfront {

// The faces tried for font, in order.
QStringList FontFamilies(const ui::TFont& font);
QFont ToQFont(const ui::TFont& font);
// The colour for a stored colour; nothing for a system colour (the platform's own colour applies).
std::optional<QColor> ToQColor(ui::TColor color);

}  // namespace qtfront
