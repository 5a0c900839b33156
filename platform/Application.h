// The application's standard exception handler: where an exception that escapes a window
// procedure's handler ends up. The front end installs one that shows the message to the user;
// until then the message goes to standard error.
#pragma once

#include <exception>
#include <functional>

namespace platform {

using ExceptionHandler = std::function<void(const std::exception&)>;

// Installs handler (an empty one restores the default) and returns the previous one.
ExceptionHandler SetExceptionHandler(ExceptionHandler handler);
void HandleException(const std::exception& e);
// Runs body and hands any exception it raises to HandleException.
void GuardHandler(const std::function<void()>& body);

}  // namespace platform
