// Which front end the program uses: QUILLSTAGE_UI ("qt" or "headless") when it is set to one of
// them, otherwise Qt when a display is available (DISPLAY or WAYLAND_DISPLAY set) and headless
// when not. Without Qt in the build it is always headless.
#pragma once

enum class TFrontEndKind { Qt, Headless };

TFrontEndKind ChooseFrontEnd(const char* uiSetting, const char* display, const char* waylandDisplay, bool qtBuilt);
