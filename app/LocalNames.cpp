#include "app/LocalNames.h"

bool IsPlainFileName(const std::string& name) {
  if (name.empty() || name == "." || name == "..") return false;
  return name.find_first_of(std::string("/\\\0", 3)) == std::string::npos;
}

std::string LocalNameFor(const std::string& listedName, const std::string& setupFileName) {
  return listedName == kListedSetupName ? setupFileName : listedName;
}
