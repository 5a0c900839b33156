#include "platform/SystemErrors.h"

#include <cstring>

#include "platform/Serial.h"

namespace platform {

namespace {

struct TSystemText {
  int number;
  const char* text;
};

// Every number the serial layer reports, with the system's own text for it.
constexpr TSystemText kSerialTexts[] = {
    {kSysErrInvalidFunction, "Incorrect function."},
    {kSysErrFileNotFound, "The system cannot find the file specified."},
    {kSysErrPathNotFound, "The system cannot find the path specified."},
    {kSysErrAccessDenied, "Access is denied."},
    {kSysErrInvalidHandle, "The handle is invalid."},
    {kSysErrNotEnoughMemory, "Not enough storage is available to process this command."},
    {kSysErrGenFailure, "A device attached to the system is not functioning."},
    {kSysErrInvalidParameter, "The parameter is incorrect."},
    {kSysErrIoDevice, "The request could not be performed because of an I/O device error."},
};

}  // namespace

std::string SystemErrorText(int number) {
  for (const TSystemText& entry : kSerialTexts) {
    if (entry.number == number) return entry.text;
  }
  return ErrnoText(number);
}

std::string ErrnoText(int number) {
  const char* description = strerrordesc_np(number);
  return description != nullptr ? description : std::string();
}

}  // namespace platform
