#include "app/ServerAddress.h"

TServerSetting ServerSetting(const char* override) {
  if (override == nullptr || *override == '\0') return {kBuiltInServerAddress, kFtpService};
  const std::string value = override;
  const std::size_t colon = value.rfind(':');
  if (colon == std::string::npos) return {value, kFtpService};
  std::string port = value.substr(colon + 1);
  return {value.substr(0, colon), port.empty() ? kFtpService : port};
}
