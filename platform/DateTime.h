// Dates and times as text, in the process-wide formats of the runtime: the short date format
// (set by the application, "yyyy/mm/dd") and a 24-hour long time format "hh:nn:ss". Times are
// local time.
#pragma once

#include <ctime>
#include <string>

namespace platform {

// The process-wide short date format; "yyyy/mm/dd" style patterns with y, m, d runs. The slash
// stands for the date separator ("/").
void SetShortDateFormat(const std::string& format);
std::string ShortDateFormat();

// Formats t with a pattern of the runtime's letters: yyyy, yy, mm, m, dd, d, hh, h, nn, n, ss, s
// (m after h means minutes, as in the runtime); other characters are copied.
std::string FormatDateTime(const std::string& pattern, std::time_t t);
// The date of t in the short date format.
std::string DateToStr(std::time_t t);
// Short date, a blank and the long time; the time is left out when it is exactly midnight.
std::string DateTimeToStr(std::time_t t);
// Local midnight at the start of t's day.
std::time_t StartOfDay(std::time_t t);

}  // namespace platform
