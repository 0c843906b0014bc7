// The whole-number views of date-time values agree with the values' text
// forms, which is what the bar generators promise to follow.
#include "generators/tick_time.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "platform/rtl/datetime.h"
#include "platform/rtl/numbers.h"

namespace hist {
namespace {

TEST(TickTimeTest, SecondOfDayAndDayMatchTheTextForms) {
  const double base = rtl::EncodeDate(2003, 7, 4);
  // Times around second and day boundaries, at and off the millisecond.
  const double offsets_ms[] = {0,       0.4,     0.5,      499.6,    999.4,    999.6,
                               1000,    59999.5, 34200000, 86399999, 86399999.4,
                               86399999.6};
  for (double ms : offsets_ms) {
    const double value = base + ms / rtl::kMsPerDay;
    SCOPED_TRACE(ms);
    const rtl::DateTimeParts p = rtl::DecodeDateTime(value);
    EXPECT_EQ(SecondOfDay(value), (p.hour * 60 + p.minute) * 60 + p.second);
    EXPECT_EQ(FromSeconds(DayOf(value) * 86400), rtl::EncodeDate(p.year, p.month, p.day));
  }
}

TEST(TickTimeTest, TimeBeforeTheEpochShowsItsAbsoluteFraction) {
  // The bar start moved before midnight by a large shift prints as the time
  // of its absolute fraction, and so anchors there.
  const double value = -29.0 / 86400;
  EXPECT_EQ(rtl::FormatDateTime("hh:nn:ss", value), "00:00:29");
  EXPECT_EQ(SecondOfDay(value), 29);
}

TEST(TickTimeTest, WholeSecondsRoundTripThroughTheTextForms) {
  // Every slot start of a day of 7-second slots prints as the second it is.
  const int64_t day = 37806;
  for (int64_t s = 0; s < 86400; s += 7) {
    const double value = FromSeconds(day * 86400 + s);
    ASSERT_EQ(SecondOfDay(value), s);
    ASSERT_EQ(DayOf(value), day);
  }
}

TEST(TickTimeTest, FloorDivisionRoundsDown) {
  EXPECT_EQ(rtl::FloorDiv(14, 7), 2);
  EXPECT_EQ(rtl::FloorDiv(13, 7), 1);
  EXPECT_EQ(rtl::FloorDiv(-1, 7), -1);
  EXPECT_EQ(rtl::FloorDiv(-7, 7), -1);
  EXPECT_EQ(rtl::FloorDiv(-8, 7), -2);
}

TEST(TickTimeTest, UnusableValuesStayFinite) {
  EXPECT_EQ(rtl::ToMilliseconds(std::numeric_limits<double>::quiet_NaN()), 0);
  EXPECT_GT(rtl::ToMilliseconds(1e300), 0);
  EXPECT_LT(rtl::ToMilliseconds(-1e300), 0);
  // Adding the longest interval to the largest value does not overflow.
  EXPECT_GT(rtl::ToMilliseconds(1e300) + int64_t{2147483647} * 1000, rtl::ToMilliseconds(1e300));
}

TEST(TickTimeTest, OnlyPositiveIntervalsFormBars) {
  EXPECT_TRUE(IsValidBarInterval(1));
  EXPECT_FALSE(IsValidBarInterval(0));
  EXPECT_FALSE(IsValidBarInterval(-60));
}

}  // namespace
}  // namespace hist
