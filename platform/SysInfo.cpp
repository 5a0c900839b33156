#include "platform/SysInfo.h"

#include <sys/utsname.h>

namespace platform {

std::string OperatingSystemDescription() {
  utsname name{};
  if (uname(&name) != 0) return "Unknown";
  return std::string(name.sysname) + " " + name.release;
}

}  // namespace platform
