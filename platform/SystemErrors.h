// The system's texts for the system error numbers the platform reports. The serial layer speaks
// in the Windows numbering (platform/Serial.h: 1, 2, 3, 5, 6, 8, 31, 87, 1117), which overlaps the
// C library's errno values: 87 is EUSERS there, so the C library's text would read "Too many
// users" for a setting the device refused.
#pragma once

#include <string>

namespace platform {

// The text of a serial-layer number, else the C library's description of the number, else empty.
std::string SystemErrorText(int number);

// The C library's description of an errno value (a file's failure), else empty. Never the serial
// layer's text: errno 1 is EPERM, not that layer's "Incorrect function.".
std::string ErrnoText(int number);

}  // namespace platform
