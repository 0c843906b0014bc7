// Mode 4 through the real server: bars aligned to multiples of the interval
// from the epoch, written when the next bar's first tick arrives, opening at
// the previous bar's close; the window's times on their own days only.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/rtl/datetime.h"
#include "tests/generators/bar_service_test.h"

namespace histtest {
namespace {

using rtl::EncodeDate;

const double kJul2 = EncodeDate(2003, 7, 2);
const double kJul3 = EncodeDate(2003, 7, 3);
const double kJul4 = EncodeDate(2003, 7, 4);

std::string Bar(int n, const std::string& date, const std::string& time, const std::string& o,
                const std::string& h, const std::string& l, const std::string& c, int volume) {
  return "TICK|" + std::to_string(n) + "|" + date + "|" + time + "|" + o + "|" + h + "|" + l +
         "|" + c + "|" + std::to_string(volume) + "|\r\n";
}

TickRow Tick(TimeValue time, double price, double volume, const char* symbol = "0005") {
  return {time, symbol, price - 0.1, price + 0.1, price, 100, volume, 200};
}

std::string Mode4(const std::string& symbol, const std::string& rest, int interval = 60) {
  return "/?symbol=" + symbol + "&mode=4&interval=" + std::to_string(interval) + rest;
}

const std::string kJul4Only = "&dateStart=2003/07/04&dateOver=2003/07/04";

class IntervalTest : public BarServiceTest {};

TEST_P(IntervalTest, BarIsWrittenWhenTheNextBarBegins) {
  stores.AddNames({{"0005", "HSBC", "HK"}});
  stores.AddTicks(kJul4, {Tick("09:30:05", 10, 100), Tick("09:31:10", 11, 300),
                          Tick("09:32:00", 12, 600)});
  HttpReply r = Get(Mode4("0005", kJul4Only));
  EXPECT_EQ(r.status, 200);
  // The 09:30 bar opens at 0 and is not written; the 09:32 bar never closes.
  EXPECT_EQ(r.body, "NOTE|ENAME|HSBC|\r\nNOTE|CNAME|HK|\r\n" +
                        Bar(0, "2003/07/04", "09:31:00", "10.00", "11.00", "11.00", "11.00", 300) +
                        Count(1));
  EXPECT_EQ(r.chunks.size(), 4u);
}

TEST_P(IntervalTest, HighAndLowFollowThePricesOfTheBar) {
  stores.AddTicks(kJul4, {Tick("09:30:05", 10, 100), Tick("09:31:00", 11, 300),
                          Tick("09:31:20", 13.5, 350), Tick("09:31:40", 9.25, 400),
                          Tick("09:31:59.999", 12, 450), Tick("09:32:00", 12, 600)});
  HttpReply r = Get(Mode4("0005", kJul4Only));
  EXPECT_EQ(r.body, Bar(0, "2003/07/04", "09:31:00", "10.00", "13.50", "9.25", "12.00", 300) +
                        Count(1));
}

TEST_P(IntervalTest, OneTickInADayWritesNothing) {
  stores.AddTicks(kJul4, {Tick("09:30:05", 10, 100)});
  EXPECT_EQ(Get(Mode4("0005", kJul4Only)).body, kNotFound);
}

TEST_P(IntervalTest, SecondDayOpensAtTheFirstDaysLastPrice) {
  stores.AddTicks(kJul3, {Tick("09:30:05", 10, 100), Tick("09:31:10", 11, 300)});
  stores.AddTicks(kJul4, {Tick("09:30:00", 20, 50), Tick("09:31:00", 21, 80)});
  HttpReply r = Get(Mode4("0005", "&dateStart=2003/07/03&dateOver=2003/07/04"));
  EXPECT_EQ(r.body, Bar(0, "2003/07/04", "09:30:00", "11.00", "20.00", "20.00", "20.00", 30) +
                        Count(1));
}

TEST_P(IntervalTest, SmallerVolumeAtTheNextBarIsWrittenWhole) {
  stores.AddTicks(kJul4, {Tick("09:30:05", 10, 100), Tick("09:31:10", 11, 500),
                          Tick("09:32:00", 12, 200)});
  HttpReply r = Get(Mode4("0005", kJul4Only));
  EXPECT_EQ(r.body, Bar(0, "2003/07/04", "09:31:00", "10.00", "11.00", "11.00", "11.00", 200) +
                        Count(1));
}

TEST_P(IntervalTest, BarWithAPriceOfZeroIsNotWrittenButPassesItsCloseOn) {
  // The 09:31 bar closes at 0, so the 09:32 bar opens at 0: neither is
  // written; the 09:33 bar opens at 12 and is.
  stores.AddTicks(kJul4, {Tick("09:30:05", 10, 100), Tick("09:31:10", 0, 300),
                          Tick("09:32:00", 12, 600), Tick("09:33:00", 13, 650),
                          Tick("09:34:00", 14, 700)});
  HttpReply r = Get(Mode4("0005", kJul4Only));
  EXPECT_EQ(r.body, Bar(0, "2003/07/04", "09:33:00", "12.00", "13.00", "13.00", "13.00", 50) +
                        Count(1));
}

TEST_P(IntervalTest, WindowTimesApplyOnlyOnTheirOwnDays) {
  stores.AddTicks(kJul2, {Tick("09:00:00", 100, 5), Tick("10:00:00", 1, 10), Tick("10:01:00", 2, 20),
                          Tick("12:00:00", 3, 30)});
  stores.AddTicks(kJul3, {Tick("08:00:00", 4, 40), Tick("12:00:00", 5, 70)});
  stores.AddTicks(kJul4, {Tick("08:00:00", 6, 10), Tick("11:00:00", 7, 20), Tick("11:00:01", 8, 30),
                          Tick("12:00:00", 9, 40)});
  HttpReply r = Get(Mode4("0005", "&dateStart=2003/07/02&dateOver=2003/07/04"
                                  "&timeStart=10:00:00&timeOver=11:00:00"));
  EXPECT_EQ(r.body, Bar(0, "2003/07/02", "10:01:00", "1.00", "2.00", "2.00", "2.00", 10) +
                        Bar(1, "2003/07/03", "08:00:00", "3.00", "4.00", "4.00", "4.00", 30) +
                        Bar(2, "2003/07/04", "08:00:00", "5.00", "6.00", "6.00", "6.00", 10) +
                        Count(3));
}

TEST_P(IntervalTest, BarsAreAlignedToTheEpochAndExactOnTheirBoundaries) {
  // 7-second bars count from 1899-12-30 00:00:00, so on 4 July 2003 they
  // start at seconds of the day that depend on the day's number. The first
  // boundary from 09:00:20 on is 09:00:23, one that (date + time) x 86400 / 7
  // in floating point would put into the bar before.
  constexpr int64_t kDayStart = 37806LL * 86400;  // 2003-07-04 00:00:00
  const int64_t boundary = (kDayStart + At(9, 0, 20) + 6) / 7 * 7;
  auto second = [&](int64_t stamp) { return static_cast<int>(stamp - kDayStart); };
  auto time_of = [&](int64_t stamp) { return second(stamp) / 86400.0; };
  stores.AddTicks(kJul4, {Tick(time_of(boundary - 10), 10, 100), Tick(time_of(boundary - 3), 11, 150),
                          Tick(time_of(boundary), 12, 230), Tick(time_of(boundary + 7), 13, 300)});
  HttpReply r = Get(Mode4("0005", kJul4Only, 7));
  const std::string d = "2003/07/04";
  EXPECT_EQ(r.body, Bar(0, d, Clock(second(boundary - 7)), "10.00", "11.00", "11.00", "11.00", 80) +
                        Bar(1, d, Clock(second(boundary)), "11.00", "12.00", "12.00", "12.00", 70) +
                        Count(2));
}

TEST_P(IntervalTest, TickExactlyOnTheMinuteOpensItsBar) {
  // 09:34:00 is a minute whose time stamp in seconds, taken in floating
  // point, falls just short of the boundary.
  stores.AddTicks(kJul4, {Tick("09:32:30", 10, 100), Tick("09:33:00", 11, 200),
                          Tick("09:34:00", 12, 350)});
  HttpReply r = Get(Mode4("0005", kJul4Only));
  EXPECT_EQ(r.body, Bar(0, "2003/07/04", "09:33:00", "10.00", "11.00", "11.00", "11.00", 150) +
                        Count(1));
}

TEST_P(IntervalTest, SymbolIsMatchedWithItsLetterCase) {
  stores.AddTicks(kJul4, {Tick("09:30:05", 10, 100, "ABC"), Tick("09:31:10", 11, 300, "ABC"),
                          Tick("09:32:00", 12, 600, "ABC")});
  EXPECT_EQ(Get(Mode4("abc", kJul4Only)).body, kNotFound);
}

TEST_P(IntervalTest, DayCountStartsFromTheDaysWithData) {
  // Eleven ticks half a minute apart from 09:30:00; more than 10 rows make a
  // day count. Counting back 2 days from 4 July (3 July has no table) ends on
  // 2 July, so 1 July is not read although the range begins there.
  auto busy = [](double first_price) {
    std::vector<TickRow> rows;
    for (int i = 0; i < 11; ++i)
      rows.push_back(Tick(Clock(At(9, 30) + i * 30), first_price + i, 100 * (i + 1)));
    return rows;
  };
  stores.AddTicks(EncodeDate(2003, 7, 1), busy(50));
  stores.AddTicks(kJul2, busy(10));
  stores.AddTicks(kJul4, busy(10));
  HttpReply r = Get(Mode4("0005", "&DayCount=2&dateStart=2003/07/01&dateOver=2003/07/04", 300));
  // 5-minute bars: on 2 July the 09:30 bar opens at 0 and the 09:35 bar never
  // closes; on 4 July the 09:30 bar opens at 2 July's last price.
  EXPECT_EQ(r.body, Bar(0, "2003/07/04", "09:30:00", "20.00", "19.00", "10.00", "19.00", 1000) +
                        Count(1));
}

TEST_P(IntervalTest, RangeLongerThanACenturyReadsEachTableOnce) {
  // 4 July 1903 and 4 July 2003 name the same table; read twice, its last
  // bar would be written by the second reading's first tick.
  stores.AddTicks(kJul4, {Tick("09:30:05", 10, 100), Tick("09:31:10", 11, 300),
                          Tick("09:32:00", 12, 600)});
  HttpReply r = Get(Mode4("0005", "&dateStart=1903/07/04&dateOver=2003/07/04"));
  EXPECT_EQ(r.body, Bar(0, "2003/07/04", "09:31:00", "10.00", "11.00", "11.00", "11.00", 300) +
                        Count(1));
}

TEST_P(IntervalTest, IntervalOfZeroOrLessIsRefused) {
  stores.AddNames({{"0005", "HSBC", "HK"}});
  stores.AddTicks(kJul4, {Tick("09:30:05", 10, 100), Tick("09:31:10", 11, 300), Tick("09:32:00", 12, 600)});
  for (int interval : {0, -60}) {
    SCOPED_TRACE(interval);
    HttpReply r = Get(Mode4("0005", kJul4Only, interval));
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, "NOTE|ENAME|HSBC|\r\nNOTE|CNAME|HK|\r\n" + kInvalidInterval);
  }
}

INSTANTIATE_TEST_SUITE_P(Stores, IntervalTest, ::testing::ValuesIn(Backends()), BackendName);

}  // namespace
}  // namespace histtest
