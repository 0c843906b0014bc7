// Date and time text, form for form, against the C library's formatting of
// the same parts over every second of a day and every day of several years.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "platform/rtl/datetime.h"

namespace rtl {
namespace {

TEST(DateText, EverySecondOfADay) {
  const TDateTime day = EncodeDate(2003, 7, 4);
  for (int s = 0; s < 86400; ++s) {
    const int h = s / 3600, n = s / 60 % 60, sec = s % 60;
    const TDateTime t = day + EncodeTime(h, n, sec, 0);
    char want[64];
    std::snprintf(want, sizeof want, "%02d:%02d:%02d|%d:%d:%d|%02d%02d%02d", h, n, sec, h, n, sec,
                  h, n, sec);
    std::string got;
    AppendDateTime(got, "hh:nn:ss", t);
    got += '|';
    AppendDateTime(got, "h:n:s", t);
    got += '|';
    AppendDateTime(got, "hhnnss", t);
    ASSERT_EQ(got, want) << s;
  }
}

TEST(DateText, EveryDayOfSomeYears) {
  int y = 1999, m = 12, d = 25;
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  for (TDateTime day = EncodeDate(y, m, d); day < EncodeDate(2030, 1, 1); day += 1) {
    char want[96];
    std::snprintf(want, sizeof want, "%d/%d/%d|%04d/%02d/%02d|%02d%02d%02d|%02d/%02d/%04d", y, m, d,
                  y, m, d, y % 100, m, d, m, d, y);
    std::string got;
    AppendDateTime(got, kShortDatePattern, day);
    got += '|';
    AppendDateTime(got, "yyyy/mm/dd", day);
    got += '|';
    AppendDateTime(got, "yymmdd", day);
    got += '|';
    AppendDateTime(got, "mm/dd/yyyy", day);
    ASSERT_EQ(got, want);
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    if (++d > kDays[m - 1] + (m == 2 && leap ? 1 : 0)) {
      d = 1;
      if (++m > 12) {
        m = 1;
        ++y;
      }
    }
  }
}

TEST(DateText, MillisecondsAndLongYears) {
  std::string got;
  AppendDateTime(got, "hh:nn:ss.zzz|z", EncodeTime(9, 5, 7, 42));
  EXPECT_EQ(got, "09:05:07.042|42");
  got.clear();
  AppendDateTime(got, "yyyy", EncodeDate(205, 3, 1));
  EXPECT_EQ(got, "0205");
}

}  // namespace
}  // namespace rtl
