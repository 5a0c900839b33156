#include "app/ServerAddress.h"

#include <strings.h>

namespace {

TServerSetting SplitHostPort(const std::string& value) {
  const std::size_t colon = value.rfind(':');
  if (colon == std::string::npos) return {value, kFtpService};
  std::string port = value.substr(colon + 1);
  return {value.substr(0, colon), port.empty() ? kFtpService : port};
}

// Takes the scheme off the front; true when it was there.
bool TakeScheme(std::string& value, const char* scheme) {
  const std::string prefix = scheme;
  if (value.size() < prefix.size() || strncasecmp(value.c_str(), scheme, prefix.size()) != 0) return false;
  value.erase(0, prefix.size());
  return true;
}

}  // namespace

TServerSetting ServerSetting(const char* override) {
  if (override == nullptr || *override == '\0') return {kBuiltInServerAddress, kFtpService};
  std::string value = override;
  const bool tls = TakeScheme(value, "ftps://");
  if (!tls) TakeScheme(value, "ftp://");
  if (!value.empty() && value.back() == '/') value.pop_back();  // "ftps://host/" as copied from a browser
  TServerSetting setting = SplitHostPort(value);
  setting.tls = tls;
  return setting;
}
