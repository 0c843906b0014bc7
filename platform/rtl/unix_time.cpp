#include "platform/rtl/unix_time.h"

#include <cmath>
#include <ctime>

namespace rtl {

double LocalToUnixSeconds(TDateTime value) {
  // 25569 is 1970-01-01 in date-time values.
  // To the nearest millisecond first, as the value's text forms are.
  const double wall = std::round((value - 25569.0) * 86400000.0) / 1000.0;
  const double whole = std::floor(wall);
  const std::time_t t = static_cast<std::time_t>(whole);
  std::tm tm{};
  // The wall-clock fields, read as local time below.
#ifdef _WIN32
  gmtime_s(&tm, &t);
#else
  gmtime_r(&t, &tm);
#endif
  tm.tm_isdst = -1;
  return static_cast<double>(std::mktime(&tm)) + (wall - whole);
}

}  // namespace rtl
