// H. Hinnant's algorithms: exact for every year without tables or loops.
// Years are shifted to start in March so that the leap day ends a year, and
// counted in eras of 400 years (146097 days), the calendar's full cycle.
#include "platform/rtl/calendar.h"

namespace rtl {

namespace {

// 1970-01-01 counted from 0000-03-01.
constexpr int64_t kCivilEpochShift = 719468;
constexpr int64_t kDaysPerEra = 146097;

}  // namespace

bool IsLeapYear(int64_t year) {
  return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

int DaysInMonth(int64_t year, int month) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

int64_t DaysFromCivil(int64_t y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * kDaysPerEra + doe - kCivilEpochShift;
}

void CivilFromDays(int64_t z, int& year, int& month, int& day) {
  z += kCivilEpochShift;
  const int64_t era = (z >= 0 ? z : z - (kDaysPerEra - 1)) / kDaysPerEra;
  const int64_t doe = z - era * kDaysPerEra;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(yoe + era * 400 + (month <= 2));
}

}  // namespace rtl
