// Events of the component model: the platform's comparable handlers (an object and one of its
// methods), which a stored form can also bind to a window's method by name.
#pragma once

#include "platform/Event.h"

namespace platform {
class TComponent;
}

namespace ui {

template <typename... Args>
using TEvent = platform::TEvent<Args...>;

using TNotifyEvent = TEvent<platform::TComponent*>;

}  // namespace ui
