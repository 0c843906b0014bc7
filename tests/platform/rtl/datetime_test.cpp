#include "platform/rtl/datetime.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>
#include <vector>

namespace rtl {
namespace {

class FixedClock {
 public:
  explicit FixedClock(TDateTime now) {
    SetClockForTesting([now] { return now; });
  }
  ~FixedClock() { SetClockForTesting(nullptr); }
};

TEST(EncodeDate, EpochAndKnownDays) {
  EXPECT_EQ(EncodeDate(1899, 12, 30), 0.0);
  EXPECT_EQ(EncodeDate(1900, 1, 1), 2.0);
  EXPECT_EQ(EncodeDate(1970, 1, 1), 25569.0);
  EXPECT_EQ(EncodeDate(2000, 3, 1) - EncodeDate(2000, 2, 28), 2.0);  // leap day
  EXPECT_EQ(EncodeDate(1900, 3, 1) - EncodeDate(1900, 2, 28), 1.0);  // 1900 is not leap
  EXPECT_EQ(EncodeDate(1899, 12, 29), -1.0);
}

TEST(EncodeDate, RejectsInvalidDates) {
  TDateTime d = 123;
  EXPECT_FALSE(TryEncodeDate(2003, 2, 29, d));
  EXPECT_FALSE(TryEncodeDate(2003, 13, 1, d));
  EXPECT_FALSE(TryEncodeDate(0, 1, 1, d));
  EXPECT_FALSE(TryEncodeDate(10000, 1, 1, d));
  EXPECT_FALSE(TryEncodeDate(2003, 4, 31, d));
  EXPECT_EQ(d, 123);
  EXPECT_TRUE(TryEncodeDate(2004, 2, 29, d));
  EXPECT_THROW(EncodeDate(2003, 2, 30), EConvertError);
}

TEST(EncodeTime, RangesAndValue) {
  EXPECT_DOUBLE_EQ(EncodeTime(12, 0, 0, 0), 0.5);
  EXPECT_DOUBLE_EQ(EncodeTime(0, 0, 1, 0), kOneSecond);
  TDateTime t;
  EXPECT_FALSE(TryEncodeTime(24, 0, 0, 0, t));
  EXPECT_FALSE(TryEncodeTime(0, 60, 0, 0, t));
  EXPECT_FALSE(TryEncodeTime(0, 0, 60, 0, t));
  EXPECT_FALSE(TryEncodeTime(0, 0, 0, 1000, t));
  EXPECT_FALSE(TryEncodeTime(-1, 0, 0, 0, t));
  EXPECT_THROW(EncodeTime(25, 0, 0, 0), EConvertError);
}

TEST(DecodeDateTime, RoundTripsEveryFieldOverManyDays) {
  // Before the epoch a time of day is stored as the absolute fraction, so
  // simple addition round-trips only from 1899-12-30 on.
  for (int year : {1, 1899}) {
    const DateTimeParts p = DecodeDateTime(EncodeDate(year, 7, 28));
    EXPECT_EQ(p.year, year);
    EXPECT_EQ(p.month, 7);
    EXPECT_EQ(p.day, 28);
  }
  for (int year : {1900, 1999, 2000, 2003, 2024, 9999}) {
    for (int month = 1; month <= 12; ++month) {
      const TDateTime v = EncodeDate(year, month, 28) + EncodeTime(13, 45, 7, 250);
      const DateTimeParts p = DecodeDateTime(v);
      EXPECT_EQ(p.year, year);
      EXPECT_EQ(p.month, month);
      EXPECT_EQ(p.day, 28);
      EXPECT_EQ(p.hour, 13);
      EXPECT_EQ(p.minute, 45);
      EXPECT_EQ(p.second, 7);
      EXPECT_EQ(p.msec, 250);
    }
  }
}

TEST(DecodeDateTime, NearestMillisecondCarriesIntoTheNextDay) {
  const TDateTime v = EncodeDate(2003, 12, 31) + 86399.9996 / 86400.0;
  const DateTimeParts p = DecodeDateTime(v);
  EXPECT_EQ(p.year, 2004);
  EXPECT_EQ(p.month, 1);
  EXPECT_EQ(p.day, 1);
  EXPECT_EQ(p.hour, 0);
}

TEST(DecodeDateTime, SurvivesNonFiniteAndHugeValues) {
  EXPECT_EQ(DecodeDateTime(NAN).year, 1899);
  DecodeDateTime(INFINITY);
  DecodeDateTime(-1e300);
  EXPECT_EQ(FormatDateTime("hh:nn:ss", NAN), "00:00:00");
}

TEST(FormatDateTime, PatternsOfTheReplies) {
  const TDateTime v = EncodeDate(2003, 5, 5) + EncodeTime(9, 3, 7, 45);
  EXPECT_EQ(FormatDateTime("yyyy/mm/dd", v), "2003/05/05");
  EXPECT_EQ(FormatDateTime("hh:nn:ss", v), "09:03:07");
  EXPECT_EQ(FormatDateTime("yyyy/m/d", v), "2003/5/5");
  EXPECT_EQ(FormatDateTime("yymmdd", v), "030505");
  EXPECT_EQ(FormatDateTime("mm/dd/yyyy", v), "05/05/2003");
  EXPECT_EQ(FormatDateTime("hhnnss", v), "090307");
  EXPECT_EQ(FormatDateTime("yyyy/mm/dd hh:nn:ss", v), "2003/05/05 09:03:07");
  EXPECT_EQ(FormatDateTime("h:n:s.zzz", v), "9:3:7.045");
  EXPECT_EQ(FormatDateTime("HH:NN", v), "09:03");
  EXPECT_EQ(FormatDateTime("'hist'yymmdd", v), "hist030505");
  EXPECT_EQ(FormatDateTime("yyyy", EncodeDate(5, 1, 1)), "0005");
}

TEST(FormatDateTime, NearestMillisecond) {
  const TDateTime v = EncodeTime(15, 59, 59, 0) + 0.9999 * kOneSecond;
  EXPECT_EQ(FormatDateTime("hh:nn:ss", v), "16:00:00");
  EXPECT_EQ(TimeToStr(v), "16:00:00");
  // Just below half a millisecond stays in the earlier second.
  EXPECT_EQ(FormatDateTime("hh:nn:ss.zzz", EncodeTime(10, 0, 0, 999) + 0.0004 / 86400000.0 * 1000),
            "10:00:00.999");
}

TEST(FormatDateTime, NegativeValuesShowTheirAbsoluteFraction) {
  EXPECT_EQ(TimeToStr(-0.25), "06:00:00");
  EXPECT_EQ(TimeToStr(EncodeTime(9, 50, 0, 0) - EncodeTime(10, 0, 0, 0)), "00:10:00");
  EXPECT_EQ(DateToStr(-1.25), "1899/12/29");
  EXPECT_EQ(TimeToStr(-1.25), "06:00:00");
}

TEST(DateTimeToStr, TimeOnlyWhenNotMidnight) {
  EXPECT_EQ(DateTimeToStr(EncodeDate(2003, 5, 12)), "2003/5/12");
  EXPECT_EQ(DateTimeToStr(EncodeDate(2003, 5, 12) + EncodeTime(9, 30, 0, 0)), "2003/5/12 09:30:00");
  // 0.4 ms after midnight is midnight at the nearest millisecond.
  EXPECT_EQ(DateTimeToStr(EncodeDate(2003, 5, 12) + 0.0004 / 86400.0), "2003/5/12");
  EXPECT_EQ(DateToStr(EncodeDate(2003, 5, 12) + 0.7), "2003/5/12");
}

TEST(AppendDateTime, AppendsToExistingText) {
  std::string out = "TICK|";
  AppendDateTime(out, "yyyy/mm/dd", EncodeDate(2003, 7, 4));
  out += '|';
  AppendDateTime(out, kLongTimePattern, EncodeTime(16, 0, 0, 0));
  EXPECT_EQ(out, "TICK|2003/07/04|16:00:00");
}

TEST(StrToTime, AcceptedForms) {
  EXPECT_DOUBLE_EQ(StrToTime("9:30"), EncodeTime(9, 30, 0, 0));
  EXPECT_DOUBLE_EQ(StrToTime("09:30:15"), EncodeTime(9, 30, 15, 0));
  EXPECT_DOUBLE_EQ(StrToTime("  16:04:59  "), EncodeTime(16, 4, 59, 0));
  EXPECT_DOUBLE_EQ(StrToTime("10:00:00.250"), EncodeTime(10, 0, 0, 250));
  EXPECT_DOUBLE_EQ(StrToTime("23:59:59"), EncodeTime(23, 59, 59, 0));
  EXPECT_DOUBLE_EQ(StrToTime("0:0"), 0.0);
}

TEST(StrToTime, AmPm) {
  EXPECT_DOUBLE_EQ(StrToTime("2:15 PM"), EncodeTime(14, 15, 0, 0));
  EXPECT_DOUBLE_EQ(StrToTime("12:00 am"), 0.0);
  EXPECT_DOUBLE_EQ(StrToTime("12:30 PM"), EncodeTime(12, 30, 0, 0));
  EXPECT_DOUBLE_EQ(StrToTime("9:05:01 AM"), EncodeTime(9, 5, 1, 0));
  TDateTime t;
  EXPECT_FALSE(TryStrToTime("13:00 PM", t));
  EXPECT_FALSE(TryStrToTime("0:30 AM", t));
}

TEST(StrToTime, Rejected) {
  TDateTime t = 7;
  for (const char* bad : {"25:00", "10", "10:", "", "   ", "ab:cd", "10:60", "10:00:60",
                          "24:00:00", "10:00x", "10:00:00.", "10:00:00.1000", "-1:00",
                          "10::00", "10:00 XM", "1:2:3:4"}) {
    EXPECT_FALSE(TryStrToTime(bad, t)) << bad;
  }
  EXPECT_EQ(t, 7);
  EXPECT_THROW(StrToTime("25:00"), EConvertError);
  try {
    StrToTime("abc");
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "'abc' is not a valid time");
  }
}

TEST(StrToDate, YearMonthDay) {
  EXPECT_EQ(StrToDate("2003/5/12"), EncodeDate(2003, 5, 12));
  EXPECT_EQ(StrToDate("2003/05/12"), EncodeDate(2003, 5, 12));
  EXPECT_EQ(StrToDate("  2003/5/12"), EncodeDate(2003, 5, 12));
  EXPECT_EQ(StrToDate("2003/5/12 "), EncodeDate(2003, 5, 12));
  EXPECT_EQ(StrToDate("0003/5/12"), EncodeDate(3, 5, 12));
}

TEST(StrToDate, ShortYearsAndTwoNumbers) {
  FixedClock clock(EncodeDate(2026, 6, 15) + 0.5);
  EXPECT_EQ(StrToDate("3/5/12"), EncodeDate(2003, 5, 12));
  EXPECT_EQ(StrToDate("03/5/12"), EncodeDate(2003, 5, 12));
  EXPECT_EQ(StrToDate("76/1/2"), EncodeDate(1976, 1, 2));
  EXPECT_EQ(StrToDate("75/1/2"), EncodeDate(2075, 1, 2));
  EXPECT_EQ(StrToDate("5/12"), EncodeDate(2026, 5, 12));
}

TEST(StrToDate, Rejected) {
  TDateTime d = 9;
  for (const char* bad : {"2003/2/30", "2003/13/1", "", "2003", "2003/", "2003/5/", "2003-05-12",
                          "12.5.2003", "2003/5/12x", "abc", "20031/5/12", "2003/5/12/1"}) {
    EXPECT_FALSE(TryStrToDate(bad, d)) << bad;
  }
  EXPECT_EQ(d, 9);
  EXPECT_THROW(StrToDate("2003/2/30"), EConvertError);
}

TEST(Clock, ReplacementAndRestore) {
  {
    FixedClock clock(EncodeDate(2003, 7, 4) + EncodeTime(10, 30, 0, 0));
    EXPECT_EQ(Date(), EncodeDate(2003, 7, 4));
    EXPECT_DOUBLE_EQ(Time(), EncodeTime(10, 30, 0, 0));
    EXPECT_EQ(FormatDateTime("yyyy/mm/dd hh:nn:ss", Now()), "2003/07/04 10:30:00");
  }
  // The real clock is back: today is well after 2020.
  EXPECT_GT(Now(), EncodeDate(2020, 1, 1));
  EXPECT_EQ(Date(), std::trunc(Date()));
  EXPECT_GE(Time(), 0.0);
  EXPECT_LT(Time(), 1.0);
}

TEST(Clock, ReplacementIsSafeWhileOtherThreadsRead) {
  std::atomic<bool> stop{false};
  std::vector<std::thread> readers;
  std::atomic<int> bad{0};
  for (int i = 0; i < 4; ++i) {
    readers.emplace_back([&] {
      while (!stop.load()) {
        const TDateTime now = Now();
        if (!(now > 0)) bad.fetch_add(1);
      }
    });
  }
  for (int i = 0; i < 2000; ++i) {
    SetClockForTesting([i] { return 1000.0 + i; });
    SetClockForTesting(nullptr);
  }
  stop = true;
  for (auto& t : readers) t.join();
  EXPECT_EQ(bad.load(), 0);
}

}  // namespace
}  // namespace rtl
