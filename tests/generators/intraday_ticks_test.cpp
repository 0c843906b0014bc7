// Modes 0 and 3 (calculation mode other than UW) through the real server:
// the window over one or more days, the price-change filter, the exact
// symbol match, the line layout and the closing lines.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "log/zetUtilities.h"
#include "platform/rtl/datetime.h"
#include "tests/generators/tick_service_test.h"

namespace histtest {
namespace {

using rtl::EncodeDate;

const double kJul2 = EncodeDate(2003, 7, 2);
const double kJul3 = EncodeDate(2003, 7, 3);
const double kJul4 = EncodeDate(2003, 7, 4);

constexpr const char* kNoData = "ERROR|No data for specified date|\r\nERROR|Record not found.|\r\n";

class IntradayTicksTest : public TickServiceTest {};

// A tick line of 0005 with the prices and sizes these tests store.
std::string Line(int n, const std::string& date, const std::string& time, const std::string& price) {
  return "TICK|" + std::to_string(n) + "|" + date + "|" + time + "|9.9|10.1|" + price +
         "|100|200|300|\r\n";
}

TickRow Tick(const char* time, double price, const char* symbol = "0005") {
  return {time, symbol, 9.9, 10.1, price, 100, 300, 200};
}

TEST_P(IntradayTicksTest, OneDayKeepsTheTicksInsideTheWindow) {
  stores.AddTicks(kJul4, {Tick("09:30:00", 10), Tick("10:00:00", 11), Tick("16:10:00", 12),
                          Tick("09:45:00", 50, "0006")});
  HttpReply r = Get("/?symbol=0005&mode=0&timeStart=09:30:00&timeOver=16:00:00"
                    "&dateStart=2003/07/04&dateOver=2003/07/04");
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.body, Line(0, "2003/7/4", "09:30:00", "10") + Line(1, "2003/7/4", "10:00:00", "11") +
                        "NOTE|RECORDCOUNT|2|\r\n");
  // One write per line: two ticks and the count.
  EXPECT_EQ(r.chunks.size(), 3u);
}

TEST_P(IntradayTicksTest, TimeEndIsIncludedAndASecondLaterIsNot) {
  stores.AddTicks(kJul4, {Tick("15:59:59", 1), Tick("16:00:00", 2), Tick("16:00:00.500", 3),
                          Tick("16:00:01", 4)});
  HttpReply r = Get("/?symbol=0005&timeStart=15:00&timeOver=16:00&dateStart=2003/7/4&dateOver=2003/7/4");
  EXPECT_EQ(r.body, Line(0, "2003/7/4", "15:59:59", "1") + Line(1, "2003/7/4", "16:00:00", "2") +
                        "NOTE|RECORDCOUNT|2|\r\n");
}

TEST_P(IntradayTicksTest, ScanStartsAtTheFirstTickAfterTimeBegin) {
  stores.AddTicks(kJul4, {Tick("09:59:59", 1), Tick("10:00:01", 2), Tick("10:30:00", 3)});
  HttpReply r = Get("/?symbol=0005&timeStart=10:00:00&timeOver=23:00:00"
                    "&dateStart=2003/07/04&dateOver=2003/07/04");
  EXPECT_EQ(r.body, Line(0, "2003/7/4", "10:00:01", "2") + Line(1, "2003/7/4", "10:30:00", "3") +
                        "NOTE|RECORDCOUNT|2|\r\n");
}

TEST_P(IntradayTicksTest, WindowOverThreeDaysReadsTheMiddleDayWhole) {
  stores.AddTicks(kJul2, {Tick("14:59:59", 1), Tick("15:00:00", 2), Tick("17:00:00", 3)});
  stores.AddTicks(kJul3, {Tick("08:00:00", 4), Tick("20:00:00", 5)});
  stores.AddTicks(kJul4, {Tick("09:59:00", 6), Tick("10:00:00", 7), Tick("10:00:01", 8)});
  HttpReply r = Get("/?symbol=0005&timeStart=15:00:00&timeOver=10:00:00"
                    "&dateStart=2003/07/02&dateOver=2003/07/04");
  EXPECT_EQ(r.body, Line(0, "2003/7/2", "15:00:00", "2") + Line(1, "2003/7/2", "17:00:00", "3") +
                        Line(2, "2003/7/3", "08:00:00", "4") + Line(3, "2003/7/3", "20:00:00", "5") +
                        Line(4, "2003/7/4", "09:59:00", "6") + Line(5, "2003/7/4", "10:00:00", "7") +
                        "NOTE|RECORDCOUNT|6|\r\n");
}

TEST_P(IntradayTicksTest, NameLinesComeFirstAndTheEntryIsLogged) {
  stores.AddNames({{"0005", "HSBC", "\xe6\xb1\x87\xe4\xb8\xb0"}});
  stores.AddTicks(kJul4, {Tick("09:30:00", 10)});
  HttpReply r = Get("/?symbol=0005&timeStart=09:00:00&timeOver=16:00:00"
                    "&dateStart=2003/07/04&dateOver=2003/07/04");
  EXPECT_EQ(r.body, "NOTE|ENAME|HSBC|\r\nNOTE|CNAME|\xe6\xb1\x87\xe4\xb8\xb0|\r\n" +
                        Line(0, "2003/7/4", "09:30:00", "10") + "NOTE|RECORDCOUNT|1|\r\n");
  EXPECT_TRUE(LogHasLine(zetlog::LogTimePrefix() +
                         "Enter DoGenIntraday(Symbol[0005],timeBegin[09:00:00],timeEnd[16:00:00],"
                         "dateBegin[2003/07/04],dateEnd[2003/07/04],DayCount[0])."));
}

TEST_P(IntradayTicksTest, SizesGoOutAsBidSizeOfferSizeVolumeAndNullsAsEmptyFields) {
  stores.AddTicks(kJul4, {{"09:30:00", "0005", 12.5, 12.6, 12.55, 100, 300, 200},
                          {"09:31:00", "0005", std::nullopt, 12.6, 12.55, std::nullopt, 1E20, 0.000001}});
  HttpReply r = Get("/?symbol=0005&dateStart=2003/07/04&dateOver=2003/07/04");
  EXPECT_EQ(r.body,
            "TICK|0|2003/7/4|09:30:00|12.5|12.6|12.55|100|200|300|\r\n"
            "TICK|1|2003/7/4|09:31:00||12.6|12.55||1E-6|1E20|\r\n"
            "NOTE|RECORDCOUNT|2|\r\n");
}

TEST_P(IntradayTicksTest, SymbolIsMatchedExactlyAfterTheCaseFoldingSearch) {
  stores.AddNames({{"abc", "Lower", "Lower"}});
  stores.AddTicks(kJul4, {Tick("09:00:00", 1, "ABC"), Tick("09:30:00", 2, "abc"),
                          Tick("10:00:00", 3, "ABC")});
  HttpReply lower = Get("/?symbol=abc&dateStart=2003/07/04&dateOver=2003/07/04");
  // The search lands on ABC's first row, which ends the scan at once.
  EXPECT_EQ(lower.body, std::string("NOTE|ENAME|Lower|\r\nNOTE|CNAME|Lower|\r\n") + kNoData);
  HttpReply upper = Get("/?symbol=ABC&dateStart=2003/07/04&dateOver=2003/07/04");
  // The abc row between ABC's two ticks ends the scan after the first.
  EXPECT_EQ(upper.body, "TICK|0|2003/7/4|09:00:00|9.9|10.1|1|100|200|300|\r\nNOTE|RECORDCOUNT|1|\r\n");
}

TEST_P(IntradayTicksTest, RangeWithoutTablesGivesTheTwoErrorLines) {
  stores.AddTicks(kJul4, {Tick("09:30:00", 10)});
  HttpReply r = Get("/?symbol=0005&dateStart=2003/06/01&dateOver=2003/07/03");
  EXPECT_EQ(r.body, kNoData);
  EXPECT_EQ(r.chunks.size(), 2u);
}

TEST_P(IntradayTicksTest, RangeLongerThanACenturyReadsEachTableOnce) {
  // 4 July 1903 and 4 July 2003 share the table name hist030704.
  stores.AddTicks(kJul4, {Tick("09:30:00", 10)});
  HttpReply r = Get("/?symbol=0005&dateStart=1903/07/04&dateOver=2003/07/04");
  EXPECT_EQ(r.body, Line(0, "2003/7/4", "09:30:00", "10") + "NOTE|RECORDCOUNT|1|\r\n");
}

TEST_P(IntradayTicksTest, DateBeginAfterDateEndReadsNothing) {
  stores.AddTicks(kJul3, {Tick("09:30:00", 10)});
  stores.AddTicks(kJul4, {Tick("09:30:00", 10)});
  HttpReply r = Get("/?symbol=0005&dateStart=2003/07/04&dateOver=2003/07/03");
  EXPECT_EQ(r.body, kNoData);
  EXPECT_EQ(LogLinesStartingWith(zetlog::LogTimePrefix() + "Enter DoGenIntraday").size(), 1u);
}

TEST_P(IntradayTicksTest, PriceChangeOnlySkipsRepeatsAndAFirstPriceOfZero) {
  stores.AddTicks(kJul4, {Tick("09:00:00", 0), Tick("09:01:00", 10), Tick("09:02:00", 10),
                          Tick("09:03:00", 10.5), Tick("09:04:00", 10), Tick("09:05:00", 10)});
  HttpReply r = Get("/?symbol=0005&mode=3&dateStart=2003/07/04&dateOver=2003/07/04");
  EXPECT_EQ(r.body, Line(0, "2003/7/4", "09:01:00", "10") + Line(1, "2003/7/4", "09:03:00", "10.5") +
                        Line(2, "2003/7/4", "09:04:00", "10") + "NOTE|RECORDCOUNT|3|\r\n");
}

TEST_P(IntradayTicksTest, PriceChangeOnlyComparesAcrossDays) {
  stores.AddTicks(kJul3, {Tick("15:00:00", 10)});
  stores.AddTicks(kJul4, {Tick("09:00:00", 10), Tick("09:01:00", 11)});
  HttpReply r = Get("/?symbol=0005&mode=3&dateStart=2003/07/03&dateOver=2003/07/04");
  EXPECT_EQ(r.body, Line(0, "2003/7/3", "15:00:00", "10") + Line(1, "2003/7/4", "09:01:00", "11") +
                        "NOTE|RECORDCOUNT|2|\r\n");
}

TEST_P(IntradayTicksTest, DayCountTwoOnTodayReadsYesterdayWhole) {
  stores.AddTicks(kJul3, {Tick("09:00:00", 1), Tick("12:00:00", 2)});
  stores.AddTicks(kJul4, {Tick("09:00:00", 3), Tick("10:30:00", 4), Tick("11:30:00", 5)});
  HttpReply r = Get("/?symbol=0005&mode=3&DayCount=2&timeStart=10:00:00&timeOver=11:00:00");
  EXPECT_EQ(r.body, Line(0, "2003/7/3", "09:00:00", "1") + Line(1, "2003/7/3", "12:00:00", "2") +
                        Line(2, "2003/7/4", "10:30:00", "4") + "NOTE|RECORDCOUNT|3|\r\n");
}

TEST_P(IntradayTicksTest, DayCountOneStartsTodayOnlyWhenTodayHoldsMoreThanTenRows) {
  stores.AddTicks(kJul3, {Tick("15:00:00", 1)});
  std::vector<TickRow> today = {Tick("10:30:00", 2)};
  for (int i = 0; i < 9; ++i) today.push_back(Tick("09:00:00", 50, "0006"));
  stores.AddTicks(kJul4, today);  // ten rows: not counted
  const std::string target = "/?symbol=0005&mode=3&DayCount=1&timeStart=10:00:00&timeOver=11:00:00";
  EXPECT_EQ(Get(target).body, Line(0, "2003/7/3", "15:00:00", "1") +
                                  Line(1, "2003/7/4", "10:30:00", "2") + "NOTE|RECORDCOUNT|2|\r\n");

  stores.AddTicks(kJul4, {Tick("09:01:00", 50, "0006")});  // eleven rows
  EXPECT_EQ(Get(target).body, Line(0, "2003/7/4", "10:30:00", "2") + "NOTE|RECORDCOUNT|1|\r\n");
}

TEST_P(IntradayTicksTest, TimeTextIsTheSecondOfTheNearestMillisecond) {
  stores.AddTicks(kJul4, {Tick("10:00:00.600", 1), Tick("10:00:00.999", 2), Tick("10:00:01", 3)});
  HttpReply r = Get("/?symbol=0005&dateStart=2003/07/04&dateOver=2003/07/04");
  EXPECT_EQ(r.body, Line(0, "2003/7/4", "10:00:00", "1") + Line(1, "2003/7/4", "10:00:00", "2") +
                        Line(2, "2003/7/4", "10:00:01", "3") + "NOTE|RECORDCOUNT|3|\r\n");
}

TEST_P(IntradayTicksTest, FloatsGoOutInTheirShortestGeneralForm) {
  // Fifteen significant digits at most; the exponent form from 1E15 up and
  // below 1E-4.
  stores.AddTicks(kJul4, {{"09:30:00", "0005", 123456789012345678.0, 0.0001, 0.1 + 0.2, 1e15, 1e-5,
                           999999999999999.0}});
  HttpReply r = Get("/?symbol=0005&dateStart=2003/07/04&dateOver=2003/07/04");
  EXPECT_EQ(r.body,
            "TICK|0|2003/7/4|09:30:00|1.23456789012346E17|0.0001|0.3|1E15|999999999999999|1E-5|\r\n"
            "NOTE|RECORDCOUNT|1|\r\n");
}

TEST_P(IntradayTicksTest, DayCountStartBeforeDateBeginReadsThoseDaysWholeAndFiltersAcrossThem) {
  std::vector<TickRow> jul4 = {Tick("10:30:00", 7), Tick("11:30:00", 8)};
  for (int i = 0; i < 11; ++i) jul4.push_back(Tick("08:00:00", 1, "0006"));
  stores.AddTicks(kJul4, jul4);                                      // counts
  stores.AddTicks(kJul3, {Tick("09:00:00", 5), Tick("10:30:00", 5)});  // too few rows
  stores.AddTicks(kJul2, {Tick("09:00:00", 4), Tick("23:00:00", 5)});
  // Two days with data are not found from 3 to 4 July, so the scan starts on
  // 2 July, which is read whole; 3 July starts at timeBegin and its 10:30
  // tick repeats the last price written on 2 July.
  HttpReply r = Get("/?symbol=0005&mode=3&DayCount=2&timeStart=10:00:00&timeOver=11:00:00"
                    "&dateStart=2003/07/03&dateOver=2003/07/04");
  EXPECT_EQ(r.body, Line(0, "2003/7/2", "09:00:00", "4") + Line(1, "2003/7/2", "23:00:00", "5") +
                        Line(2, "2003/7/4", "10:30:00", "7") + "NOTE|RECORDCOUNT|3|\r\n");
}

INSTANTIATE_TEST_SUITE_P(Stores, IntradayTicksTest, ::testing::ValuesIn(Backends()), BackendName);

}  // namespace
}  // namespace histtest
