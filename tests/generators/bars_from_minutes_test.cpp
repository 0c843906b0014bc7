// Mode 5 through the real server: whole-minute bars merged from the
// one-minute store, kept to the trading sessions, with flat fill bars and
// look-back bars.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/rtl/datetime.h"
#include "tests/generators/tick_service_test.h"

namespace histtest {
namespace {

using rtl::EncodeDate;
using rtl::EncodeTime;

const double kJul3 = EncodeDate(2003, 7, 3);
const double kJul4 = EncodeDate(2003, 7, 4);

double At(double day, int h, int m) { return day + EncodeTime(h, m, 0, 0); }

// A one-minute row whose prices tell it apart: open p, high p+1, low p-1,
// close p+0.5.
MinuteBarRow Row(double when, double p, double volume, const char* symbol = "0005") {
  return {symbol, when, 60, 0, p, p + 1, p - 1, p + 0.5, volume};
}

std::string Bar(int n, const char* date, const char* time, const char* o, const char* h,
                const char* l, const char* c, int volume) {
  return "TICK|" + std::to_string(n) + "|" + date + "|" + time + "|" + o + "|" + h + "|" + l +
         "|" + c + "|" + std::to_string(volume) + "|\r\n";
}

constexpr const char* kWholeDay4 = "&dateStart=2003/7/4&dateOver=2003/7/4&timeStart=00:00:00&timeOver=23:59:59";

class FastIntervalTest : public TickServiceTest {
 protected:
  FastIntervalTest() { stores.AddSessions({{"*", "09:30:00", "16:00:00"}}); }
};

TEST_P(FastIntervalTest, QuietMinutesInsideASessionBecomeFlatBarsAtTheLastClose) {
  stores.AddMinuteBars({Row(At(kJul4, 9, 30), 10, 100), Row(At(kJul4, 9, 31), 20, 200),
                        Row(At(kJul4, 9, 35), 30, 300)});
  HttpReply r = Get(std::string("/?symbol=0005&mode=5&interval=1&iunit=1") + kWholeDay4);
  EXPECT_EQ(r.body, Bar(0, "2003/07/04", "09:30:00", "10.00", "11.00", "9.00", "10.50", 100) +
                        Bar(1, "2003/07/04", "09:31:00", "20.00", "21.00", "19.00", "20.50", 200) +
                        Bar(2, "2003/07/04", "09:32:00", "20.50", "20.50", "20.50", "20.50", 0) +
                        Bar(3, "2003/07/04", "09:33:00", "20.50", "20.50", "20.50", "20.50", 0) +
                        Bar(4, "2003/07/04", "09:34:00", "20.50", "20.50", "20.50", "20.50", 0));
}

TEST_P(FastIntervalTest, RowsMergeIntoLongerBarsAlignedToTheirLength) {
  // 90 seconds is one whole minute; 2 hours is 120 minutes.
  stores.AddMinuteBars({Row(At(kJul4, 10, 0), 10, 100), Row(At(kJul4, 10, 1), 12, 50),
                        Row(At(kJul4, 10, 2), 8, 25), Row(At(kJul4, 12, 0), 30, 1),
                        Row(At(kJul4, 14, 0), 40, 1)});
  HttpReply minute = Get(std::string("/?symbol=0005&mode=5&interval=90&iunit=0") + kWholeDay4);
  EXPECT_EQ(minute.body.substr(0, minute.body.find("TICK|1|")),
            Bar(0, "2003/07/04", "10:00:00", "10.00", "11.00", "9.00", "10.50", 100));

  HttpReply hours = Get(std::string("/?symbol=0005&mode=5&interval=2&iunit=2") + kWholeDay4);
  EXPECT_EQ(hours.body, Bar(0, "2003/07/04", "10:00:00", "10.00", "13.00", "7.00", "8.50", 175) +
                            Bar(1, "2003/07/04", "12:00:00", "30.00", "31.00", "29.00", "30.50", 1));
}

TEST_P(FastIntervalTest, TheLastBarOfASessionDayIsWrittenByTheNextDaysFirstRowWithoutOvernightFill) {
  stores.AddMinuteBars({Row(At(kJul3, 15, 59), 10, 100), Row(At(kJul4, 9, 30), 20, 200),
                        Row(At(kJul4, 9, 31), 30, 300)});
  HttpReply r = Get(
      "/?symbol=0005&mode=5&interval=1&iunit=1&dateStart=2003/7/3&dateOver=2003/7/4"
      "&timeStart=09:00:00&timeOver=16:00:00");
  EXPECT_EQ(r.body, Bar(0, "2003/07/03", "15:59:00", "10.00", "11.00", "9.00", "10.50", 100) +
                        Bar(1, "2003/07/04", "09:30:00", "20.00", "21.00", "19.00", "20.50", 200));
}

TEST_P(FastIntervalTest, BackCountWritesOnlyTheLastBarsFromBeforeTheRange) {
  std::vector<MinuteBarRow> rows;
  for (int m = 0; m < 5; ++m) rows.push_back(Row(At(kJul4, 10, m), 10 + m, 1));
  rows.push_back(Row(At(kJul4, 10, 5), 20, 2));
  rows.push_back(Row(At(kJul4, 10, 6), 21, 3));
  stores.AddMinuteBars(rows);
  HttpReply r = Get(
      "/?symbol=0005&mode=5&interval=1&iunit=1&BackCount=2&dateStart=2003/7/4&dateOver=2003/7/4"
      "&timeStart=10:05:00&timeOver=12:00:00");
  EXPECT_EQ(r.body, Bar(0, "2003/07/04", "10:03:00", "13.00", "14.00", "12.00", "13.50", 1) +
                        Bar(1, "2003/07/04", "10:04:00", "14.00", "15.00", "13.00", "14.50", 1) +
                        Bar(2, "2003/07/04", "10:05:00", "20.00", "21.00", "19.00", "20.50", 2))
      << stores.ReadLog();
}

TEST_P(FastIntervalTest, BackCountOfLongerBarsAsksForAllTheirMinuteRows) {
  // One look-back bar of 5 minutes needs the 5 minute rows before the range.
  std::vector<MinuteBarRow> rows;
  for (int m = 0; m < 10; ++m) rows.push_back(Row(At(kJul4, 10, m), 10 + m, 1));
  rows.push_back(Row(At(kJul4, 10, 10), 20, 2));
  rows.push_back(Row(At(kJul4, 10, 11), 21, 3));
  rows.push_back(Row(At(kJul4, 10, 15), 30, 4));
  stores.AddMinuteBars(rows);
  HttpReply r = Get(
      "/?symbol=0005&mode=5&interval=5&iunit=1&BackCount=1&dateStart=2003/7/4&dateOver=2003/7/4"
      "&timeStart=10:10:00&timeOver=12:00:00");
  EXPECT_EQ(r.body, Bar(0, "2003/07/04", "10:05:00", "15.00", "20.00", "14.00", "19.50", 5) +
                        Bar(1, "2003/07/04", "10:10:00", "20.00", "22.00", "19.00", "21.50", 5));
}

TEST_P(FastIntervalTest, ABarOutsideEverySessionIsDroppedWithoutFill) {
  stores.AddMinuteBars({Row(At(kJul4, 9, 29), 10, 1), Row(At(kJul4, 9, 35), 20, 2),
                        Row(At(kJul4, 9, 36), 30, 3)});
  HttpReply r = Get(std::string("/?symbol=0005&mode=5&interval=1&iunit=1") + kWholeDay4);
  EXPECT_EQ(r.body, Bar(0, "2003/07/04", "09:35:00", "20.00", "21.00", "19.00", "20.50", 2));
}

TEST_P(FastIntervalTest, SymbolSessionsOverrideTheMarketDefault) {
  stores.AddSessions({{"0005", "10:00:00", "11:00:00"}});
  stores.AddMinuteBars({Row(At(kJul4, 9, 40), 10, 1), Row(At(kJul4, 10, 0), 20, 2),
                        Row(At(kJul4, 10, 1), 30, 3)});
  HttpReply r = Get(std::string("/?symbol=0005&mode=5&interval=1&iunit=1") + kWholeDay4);
  EXPECT_EQ(r.body, Bar(0, "2003/07/04", "10:00:00", "20.00", "21.00", "19.00", "20.50", 2));
}

TEST_P(FastIntervalTest, UnitOutsideTheThreeKnownGivesOnlyTheNameLines) {
  stores.AddNames({{"0005", "Harbour Bank", "HB"}});
  stores.AddMinuteBars({Row(At(kJul4, 9, 30), 10, 1), Row(At(kJul4, 9, 31), 20, 2)});
  EXPECT_EQ(Get(std::string("/?symbol=0005&mode=5&interval=1&iunit=3") + kWholeDay4).body,
            "NOTE|ENAME|Harbour Bank|\r\nNOTE|CNAME|HB|\r\n");
  EXPECT_EQ(Get(std::string("/?symbol=0005&mode=5&interval=-5&iunit=1") + kWholeDay4).body,
            "NOTE|ENAME|Harbour Bank|\r\nNOTE|CNAME|HB|\r\n");
}

TEST_P(FastIntervalTest, BarsUnderAMinuteComeFromTheTickTablesWithTheNameLinesTwice) {
  stores.AddNames({{"0005", "Harbour Bank", "HB"}});
  stores.AddTicks(kJul4, {{"09:30:05", "0005", 9, 11, 10, 0, 100, 0},
                          {"09:30:40", "0005", 9, 11, 11, 0, 150, 0},
                          {"09:31:10", "0005", 9, 11, 12, 0, 170, 0}});
  HttpReply r = Get(std::string("/?symbol=0005&mode=5&interval=30&iunit=0") + kWholeDay4);
  const std::string names = "NOTE|ENAME|Harbour Bank|\r\nNOTE|CNAME|HB|\r\n";
  // The 09:30:00 bar opens at 0 and is never written; the 09:30:30 bar opens
  // at the close before it and is written when the 09:31:00 bar begins.
  EXPECT_EQ(r.body, names + names +
                        "TICK|0|2003/07/04|09:30:30|10.00|11.00|11.00|11.00|20|\r\n"
                        "NOTE|RECORDCOUNT|1|\r\n");
}

INSTANTIATE_TEST_SUITE_P(Stores, FastIntervalTest, ::testing::ValuesIn(Backends()), BackendName);

}  // namespace
}  // namespace histtest
