#include "platform/rtl/calendar.h"

#include <gtest/gtest.h>

namespace rtl {
namespace {

// Years far outside the date-time value's 1..9999, which store texts reach.
TEST(Calendar, KnownDaysOfAnyYear) {
  struct Case {
    int64_t year;
    int month, day;
    int64_t days;  // from 1970-01-01
  } cases[] = {
      {1970, 1, 1, 0},          {1899, 12, 30, -25569},   {2000, 2, 29, 11016},
      {2000, 3, 1, 11017},      {1900, 3, 1, -25508},     {1, 1, 1, -719162},
      {0, 3, 1, -719468},       {-1, 12, 31, -719529},    {10000, 1, 1, 2932897},
      {275760, 9, 13, 100000000},
  };
  for (const Case& k : cases) {
    EXPECT_EQ(DaysFromCivil(k.year, k.month, k.day), k.days) << k.year << "-" << k.month;
    int y = 0, m = 0, d = 0;
    CivilFromDays(k.days, y, m, d);
    EXPECT_EQ(y, k.year) << k.days;
    EXPECT_EQ(m, k.month) << k.days;
    EXPECT_EQ(d, k.day) << k.days;
  }
}

// Month lengths and the day count agree: each month's last day is followed
// by the first of the next, over whole 400-year cycles either side of 0.
TEST(Calendar, MonthLengthsFollowTheDayCount) {
  for (int64_t year = -400; year <= 2400; ++year) {
    for (int month = 1; month <= 12; ++month) {
      const int64_t last = DaysFromCivil(year, month, DaysInMonth(year, month));
      const int64_t next = month == 12 ? DaysFromCivil(year + 1, 1, 1)
                                       : DaysFromCivil(year, month + 1, 1);
      ASSERT_EQ(next, last + 1) << year << "-" << month;
    }
    ASSERT_EQ(DaysFromCivil(year + 1, 1, 1) - DaysFromCivil(year, 1, 1),
              IsLeapYear(year) ? 366 : 365)
        << year;
  }
  EXPECT_TRUE(IsLeapYear(2000));
  EXPECT_TRUE(IsLeapYear(2004));
  EXPECT_FALSE(IsLeapYear(1900));
  EXPECT_FALSE(IsLeapYear(2003));
  EXPECT_EQ(DaysInMonth(2004, 2), 29);
  EXPECT_EQ(DaysInMonth(2100, 2), 28);
}

}  // namespace
}  // namespace rtl
