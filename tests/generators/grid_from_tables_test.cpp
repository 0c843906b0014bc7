// Mode 6 over the SQL interval tables (database mode other than PARADOX),
// through the real server: the slot grid with dash lines, the number forms,
// the step-back over days without data, and the statement log lines.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/rtl/datetime.h"
#include "tests/generators/tick_service_test.h"

namespace histtest {
namespace {

using rtl::EncodeDate;
using rtl::EncodeTime;

IntervalRow Row(const char* date, const char* time, double p, double volume,
                const char* symbol = "0005") {
  return {symbol, date, time, p, p + 1, p - 1, p + 0.5, volume};
}

std::string Dash(int n, const char* date, const char* time) {
  return "INTERVAL|" + std::to_string(n) + "|" + date + "|" + time + "|-|-|-|-|-|\r\n";
}

std::string Count(int n) { return "NOTE|RECORDCOUNT|" + std::to_string(n) + "|\r\n"; }

constexpr const char* kNoData = "ERROR|No data for specified date|\r\nERROR|Record not found.|\r\n";

class IntervalTableTest : public TickServiceTest {
 protected:
  IntervalTableTest() {
    stores.SetSetting("KORVA", "DBMode", "SQL");
    stores.AddSymbols({{"0005", "1"}, {"0006", "0"}});
  }
};

TEST_P(IntervalTableTest, EverySlotOfTheWindowGetsOneLine) {
  stores.AddIntervals(60, {Row("2003/07/04", "09:32:00", 10, 100),
                           Row("2003/07/04", "09:33:00", 11, 200)});
  HttpReply r = Get(
      "/?symbol=0005&mode=6&interval=60&timeStart=09:30:00&timeOver=09:35:00"
      "&dateStart=2003/7/4&dateOver=2003/7/4");
  EXPECT_EQ(r.body, Dash(0, "2003/07/04", "09:30:00") + Dash(1, "2003/07/04", "09:31:00") +
                        "INTERVAL|2|2003/07/04|09:32:00|10.000|11.000|9.000|10.500|100|\r\n"
                        "INTERVAL|3|2003/07/04|09:33:00|11.000|12.000|10.000|11.500|200|\r\n" +
                        Dash(4, "2003/07/04", "09:34:00") + Dash(5, "2003/07/04", "09:35:00") +
                        Count(6));
}

TEST_P(IntervalTableTest, RowAtTheStartGapsBetweenRowsZeroVolumeAndThreeDecimals) {
  stores.AddIntervals(60, {Row("2003/07/04", "09:59:00", 1, 1),
                           Row("2003/07/04", "10:00:00", 12.5, 0),
                           Row("2003/07/04", "10:03:00", 12.25, 7),
                           Row("2003/07/04", "10:06:00", 13, 8)});
  HttpReply r = Get(
      "/?symbol=0005&mode=6&interval=60&timeStart=10:00:00&timeOver=10:04:00"
      "&dateStart=2003/7/4&dateOver=2003/7/4");
  // The row past the end time ends the day: no trailing dash for 10:04.
  EXPECT_EQ(r.body, "INTERVAL|0|2003/07/04|10:00:00|12.500|13.500|11.500|13.000|-|\r\n" +
                        Dash(1, "2003/07/04", "10:01:00") + Dash(2, "2003/07/04", "10:02:00") +
                        "INTERVAL|3|2003/07/04|10:03:00|12.250|13.250|11.250|12.750|7|\r\n" +
                        Count(4));
}

TEST_P(IntervalTableTest, OtherTablesAndDaysWithoutRowsWriteNothingForThatDay) {
  stores.AddIntervals(300, {Row("2003/07/03", "10:05:00", 5, 1)});
  stores.AddIntervals(180, {Row("2003/07/04", "10:03:00", 10, 3)});
  HttpReply r = Get(
      "/?symbol=0005&mode=6&interval=180&timeStart=10:00:00&timeOver=10:06:00"
      "&dateStart=2003/7/3&dateOver=2003/7/4");
  EXPECT_EQ(r.body, Dash(0, "2003/07/04", "10:00:00") +
                        "INTERVAL|1|2003/07/04|10:03:00|10.000|11.000|9.000|10.500|3|\r\n" +
                        Dash(2, "2003/07/04", "10:06:00") + Count(3));
}

TEST_P(IntervalTableTest, EachDayLogsItsStatementDateAndSymbol) {
  stores.AddIntervals(60, {Row("2003/07/04", "10:00:00", 1, 1)});
  Get("/?symbol=0005&mode=6&interval=60&timeStart=10:00:00&timeOver=10:00:00"
      "&dateStart=2003/7/3&dateOver=2003/7/4");
  EXPECT_TRUE(LogHasLine("SQLDB Connected"));
  EXPECT_TRUE(LogHasLine("IntervalQuery.Close"));
  EXPECT_EQ(LogLinesStartingWith("IntervalQuery.Open").size(), 2u);
  EXPECT_TRUE(LogHasLine(
      "\"Select * FROM IntervalTable60 WHERE  Symbol = :Symbol AND Date = :Date order by "
      "Time\"2003/07/04&0005"));
  EXPECT_TRUE(LogHasLine("Interval Done"));
}

TEST_P(IntervalTableTest, WithoutDatesStepsBackToTheLatestDayWithData) {
  SetClock(EncodeDate(2003, 7, 7) + EncodeTime(12, 0, 0, 0));
  stores.AddIntervals(60, {Row("2003/07/03", "10:00:00", 1, 1), Row("2003/07/04", "10:00:00", 2, 2)});
  HttpReply r = Get("/?symbol=0005&mode=6&interval=60&timeStart=10:00:00&timeOver=10:00:00");
  EXPECT_EQ(r.body, "INTERVAL|0|2003/07/04|10:00:00|2.000|3.000|1.000|2.500|2|\r\n" + Count(1));
  EXPECT_EQ(LogLinesStartingWith("IntervalQuery.Open").size(), 4u);  // 7th, 6th, 5th, 4th
}

TEST_P(IntervalTableTest, WithoutDatesGivesUpAfterThirtyDays) {
  SetClock(EncodeDate(2003, 7, 31) + EncodeTime(12, 0, 0, 0));
  stores.AddIntervals(60, {Row("2003/07/01", "10:00:00", 1, 1)});  // the 31st day back
  HttpReply r = Get("/?symbol=0005&mode=6&interval=60&timeStart=10:00:00&timeOver=10:00:00");
  EXPECT_EQ(r.body, kNoData);
  EXPECT_EQ(LogLinesStartingWith("IntervalQuery.Open").size(), 30u);
}

TEST_P(IntervalTableTest, InvalidSymbolGetsTheTwoErrorLines) {
  stores.AddIntervals(60, {Row("2003/07/04", "10:00:00", 1, 1, "0006")});
  HttpReply r = Get(
      "/?symbol=0006&mode=6&interval=60&timeStart=10:00:00&timeOver=10:05:00"
      "&dateStart=2003/7/4&dateOver=2003/7/4");
  EXPECT_EQ(r.body, kNoData);
}

TEST_P(IntervalTableTest, AnUnsupportedLengthFailsOnTheSymbolParameter) {
  HttpReply r = Get(
      "/?symbol=0005&mode=6&interval=120&timeStart=10:00:00&timeOver=10:05:00"
      "&dateStart=2003/7/4&dateOver=2003/7/4");
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.body, "");
  std::vector<std::string> errors = LogLinesStartingWith("20");
  bool found = false;
  for (const std::string& line : errors)
    found |= line.find("=>Exception: Parameter 'Symbol' not found when GenInterval4(Symbol[0005],"
                       "timeBegin[10:00:00],timeEnd[10:05:00],dateBegin[2003/07/04],"
                       "dateEnd[2003/07/04],DayCount[0],interval[120]).") != std::string::npos;
  EXPECT_TRUE(found);
}

INSTANTIATE_TEST_SUITE_P(Stores, IntervalTableTest, ::testing::ValuesIn(Backends()), BackendName);

}  // namespace
}  // namespace histtest
