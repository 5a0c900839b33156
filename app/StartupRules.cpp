#include "app/StartupRules.h"

#include "platform/DateTime.h"

TCommandLine ReadCommandLine(const std::vector<std::string>& params) {
  TCommandLine result;
  result.productCode = kDefaultProductCode;
  if (params.size() >= 2) {
    result.productCode = params[0];
    result.useChinese = params[1] == "C";
  }
  result.remoteFolder = "//" + result.productCode + "_program";
  result.setupFileName = "Setup" + result.productCode + ".exe";
  return result;
}

std::string ProductCodeProblem(const std::string& productCode) {
  if (productCode.find_first_of(std::string("\r\n\0", 3)) == std::string::npos) return {};
  return "the product code may not hold a line break or a NUL character";
}

bool IsSetupFileStale(std::time_t fileTime, std::time_t now) {
  // Counted in calendar days from local midnight, so that a change of daylight saving time in
  // between moves the limit by no hour.
  const std::time_t midnight = platform::StartOfDay(now);
  std::tm limit{};
  localtime_r(&midnight, &limit);
  limit.tm_mday -= 30;
  limit.tm_isdst = -1;
  return std::mktime(&limit) > fileTime;
}
