#include "app/FrontEndChoice.h"

#include <string_view>

namespace {
bool IsSet(const char* value) { return value != nullptr && *value != '\0'; }
}  // namespace

TFrontEndKind ChooseFrontEnd(const char* uiSetting, const char* display, const char* waylandDisplay, bool qtBuilt) {
  if (!qtBuilt) return TFrontEndKind::Headless;
  if (IsSet(uiSetting)) {
    if (std::string_view(uiSetting) == "qt") return TFrontEndKind::Qt;
    if (std::string_view(uiSetting) == "headless") return TFrontEndKind::Headless;
  }
  return IsSet(display) || IsSet(waylandDisplay) ? TFrontEndKind::Qt : TFrontEndKind::Headless;
}
