#include "platform/DateTime.h"

#include <cctype>
#include <cstdio>
#include <mutex>

namespace platform {
namespace {

std::mutex gLock;
std::string& Format() {
  static auto* format = new std::string("yyyy/mm/dd");
  return *format;
}

std::tm Local(std::time_t t) {
  std::tm tm{};
  localtime_r(&t, &tm);
  return tm;
}

std::string Number(int value, std::size_t digits) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%0*d", static_cast<int>(digits), value);
  return buf;
}

}  // namespace

void SetShortDateFormat(const std::string& format) {
  std::lock_guard guard(gLock);
  Format() = format;
}

std::string ShortDateFormat() {
  std::lock_guard guard(gLock);
  return Format();
}

std::string FormatDateTime(const std::string& pattern, std::time_t t) {
  const std::tm tm = Local(t);
  std::string out;
  bool afterHour = false;
  for (std::size_t i = 0; i < pattern.size();) {
    char c = static_cast<char>(std::tolower(static_cast<unsigned char>(pattern[i])));
    std::size_t run = 1;
    while (i + run < pattern.size() && std::tolower(static_cast<unsigned char>(pattern[i + run])) == c) ++run;
    switch (c) {
      case 'y': out += run >= 3 ? Number(tm.tm_year + 1900, 4) : Number((tm.tm_year + 1900) % 100, 2); break;
      case 'm': out += afterHour ? Number(tm.tm_min, run >= 2 ? 2 : 1) : Number(tm.tm_mon + 1, run >= 2 ? 2 : 1); break;
      case 'd': out += Number(tm.tm_mday, run >= 2 ? 2 : 1); break;
      case 'h': out += Number(tm.tm_hour, run >= 2 ? 2 : 1); break;
      case 'n': out += Number(tm.tm_min, run >= 2 ? 2 : 1); break;
      case 's': out += Number(tm.tm_sec, run >= 2 ? 2 : 1); break;
      default: out.append(pattern, i, run); break;
    }
    if (c == 'h') afterHour = true;
    else if (c == 'y' || c == 'd' || c == 's' || c == 'm') afterHour = false;
    i += run;
  }
  return out;
}

std::string DateToStr(std::time_t t) { return FormatDateTime(ShortDateFormat(), t); }

std::string DateTimeToStr(std::time_t t) {
  const std::tm tm = Local(t);
  if (tm.tm_hour == 0 && tm.tm_min == 0 && tm.tm_sec == 0) return DateToStr(t);
  return DateToStr(t) + " " + FormatDateTime("hh:nn:ss", t);
}

std::time_t StartOfDay(std::time_t t) {
  std::tm tm = Local(t);
  tm.tm_hour = tm.tm_min = tm.tm_sec = 0;
  tm.tm_isdst = -1;
  return std::mktime(&tm);
}

}  // namespace platform
