// Chinese texts need a Traditional Chinese font; without one they show as boxes. The program calls
// WarnWithoutChineseFont at start-up, once the Qt application exists.
#pragma once

#include <iostream>

namespace qtfront {

bool HasTraditionalChineseFont();
// Writes a warning naming the package to install when no Traditional Chinese font is present.
// Returns whether one is present.
bool WarnWithoutChineseFont(std::ostream& err = std::cerr);

}  // namespace qtfront
