#include "tests/support/RealPeers.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <string>

namespace testsupport {

bool RealPeersRequired(const char* ciVariable) {
  if (ciVariable == nullptr) return false;
  std::string value(ciVariable);
  std::transform(value.begin(), value.end(), value.begin(), [](unsigned char c) { return std::tolower(c); });
  return value == "true" || value == "1";
}

bool RealPeersRequired() { return RealPeersRequired(std::getenv("CI")); }

}  // namespace testsupport
