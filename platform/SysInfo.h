// A description of the running system for diagnostic headings.
#pragma once

#include <string>

namespace platform {

// "Linux " followed by the kernel release (for example "Linux 6.8.0-45-generic"); "Unknown" when
// the system does not say.
std::string OperatingSystemDescription();

}  // namespace platform
