// Calendar arithmetic of the proleptic Gregorian calendar, for any year:
// leap years, month lengths and the day count of a civil date. The date-time
// value and every store's date text are built on it.
#ifndef HISTDATA_PLATFORM_RTL_CALENDAR_H_
#define HISTDATA_PLATFORM_RTL_CALENDAR_H_

#include <cstdint>

namespace rtl {

// 1970-01-01 counted in days from 1899-12-30, the date-time value's day 0.
inline constexpr int64_t kUnixEpochDay = 25569;

bool IsLeapYear(int64_t year);

// Days of `month` (1..12) in `year`.
int DaysInMonth(int64_t year, int month);

// Days from 1970-01-01 to the date (negative before it); month 1..12, day
// 1..31, not checked against the month.
int64_t DaysFromCivil(int64_t year, int month, int day);

// The date `days` days from 1970-01-01.
void CivilFromDays(int64_t days, int& year, int& month, int& day);

}  // namespace rtl

#endif  // HISTDATA_PLATFORM_RTL_CALENDAR_H_
