// Mode 3 under the UW calculation through the real server: the symbol check,
// the step-back over days when no date was given, its log lines, and a
// module without its module database.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "log/zetUtilities.h"
#include "platform/rtl/datetime.h"
#include "tests/generators/tick_service_test.h"

namespace histtest {
namespace {

using rtl::EncodeDate;

const double kJul4 = EncodeDate(2003, 7, 4);

constexpr const char* kNoData = "ERROR|No data for specified date|\r\nERROR|Record not found.|\r\n";
constexpr const char* kTableLine = "UW Mode 3 Table Name:";

class UWIntradayTest : public TickServiceTest {
 protected:
  UWIntradayTest() {
    stores.SetSetting("KORVA", "CalcMode", "UW");
    stores.AddSymbols({{"0005", "1"}, {"0006", "0"}});
    stores.AddNames({{"0005", "HSBC", "HSBC"}});
  }
};

TickRow Tick(const char* time, double price) { return {time, "0005", 9.9, 10.1, price, 100, 300, 200}; }

std::string Line(int n, const std::string& date, const std::string& time, const std::string& price) {
  return "TICK|" + std::to_string(n) + "|" + date + "|" + time + "|9.9|10.1|" + price +
         "|100|200|300|\r\n";
}

TEST_P(UWIntradayTest, WithoutDatesStepsBackToYesterdayAndWritesNoNames) {
  stores.AddTicks(kJul4 - 1, {Tick("10:00:00", 10), Tick("11:00:00", 10)});
  HttpReply r = Get("/?symbol=0005&mode=3");
  // Not price-change-only: both ticks, numbered from 0, without name lines.
  EXPECT_EQ(r.body, Line(0, "2003/7/3", "10:00:00", "10") + Line(1, "2003/7/3", "11:00:00", "10") +
                        "NOTE|RECORDCOUNT|2|\r\n");
  EXPECT_EQ(LogLinesStartingWith(kTableLine),
            (std::vector<std::string>{"UW Mode 3 Table Name:hist030704",
                                      "UW Mode 3 Table Name:hist030703"}));
  const std::vector<std::string> log = LogLines();
  const std::string entry = zetlog::LogTimePrefix() +
                            "Enter DoGenUWIntraday(Symbol[0005],timeBegin[00:00:00],timeEnd[23:59:59],"
                            "dateBegin[2003/07/04],dateEnd[2003/07/04],DayCount[0]).";
  auto at = std::find(log.begin(), log.end(), entry);
  ASSERT_NE(at, log.end());
  ASSERT_GE(log.end() - at, 4);
  EXPECT_EQ(at[1], "Empty Date for Mode 3");
  EXPECT_EQ(at[2], "Not Is Price Only.");
  EXPECT_EQ(at[3], "Create DB faile For Model 3");
}

TEST_P(UWIntradayTest, StepBackPassesApplyBothTimeBounds) {
  stores.AddTicks(kJul4 - 1, {Tick("09:00:00", 1), Tick("10:30:00", 2), Tick("11:30:00", 3)});
  HttpReply r = Get("/?symbol=0005&mode=3&timeStart=10:00:00&timeOver=11:00:00");
  EXPECT_EQ(r.body, Line(0, "2003/7/3", "10:30:00", "2") + "NOTE|RECORDCOUNT|1|\r\n");
}

TEST_P(UWIntradayTest, StepBackAfterADayCountStartRereadsTheDayBeforeToday) {
  std::vector<TickRow> today;
  for (int i = 0; i < 11; ++i) today.push_back({"08:00:00", "0006", 1, 1, 1, 1, 1, 1});
  stores.AddTicks(kJul4, today);
  stores.AddTicks(kJul4 - 2, {Tick("09:00:00", 4)});
  // The first pass runs from 3 July (the day count is not met today) to
  // today; each later pass reads the single day before the previous pass's
  // last day: 3 July again, then 2 July.
  HttpReply r = Get("/?symbol=0005&mode=3&DayCount=2");
  EXPECT_EQ(r.body, Line(0, "2003/7/2", "09:00:00", "4") + "NOTE|RECORDCOUNT|1|\r\n");
  EXPECT_EQ(LogLinesStartingWith(kTableLine),
            (std::vector<std::string>{"UW Mode 3 Table Name:hist030703", "UW Mode 3 Table Name:hist030704",
                                      "UW Mode 3 Table Name:hist030703",
                                      "UW Mode 3 Table Name:hist030702"}));
}

TEST_P(UWIntradayTest, GivesUpAfterThirtyPasses) {
  stores.AddTicks(kJul4 - 30, {Tick("10:00:00", 10)});  // the 31st day back: not reached
  HttpReply r = Get("/?symbol=0005&mode=3");
  EXPECT_EQ(r.body, kNoData);
  const std::vector<std::string> tables = LogLinesStartingWith(kTableLine);
  ASSERT_EQ(tables.size(), 30u);
  EXPECT_EQ(tables.front(), "UW Mode 3 Table Name:hist030704");
  EXPECT_EQ(tables.back(), "UW Mode 3 Table Name:hist030605");
}

TEST_P(UWIntradayTest, GivenDatesAreReadWithoutStepBack) {
  stores.AddTicks(kJul4 - 1, {Tick("10:00:00", 10)});
  HttpReply r = Get("/?symbol=0005&mode=3&dateStart=2003/07/04&dateOver=2003/07/04");
  EXPECT_EQ(r.body, kNoData);
  EXPECT_EQ(LogLinesStartingWith(kTableLine),
            (std::vector<std::string>{"UW Mode 3 Table Name:hist030704"}));
  EXPECT_FALSE(LogHasLine("Empty Date for Mode 3"));
}

TEST_P(UWIntradayTest, SymbolNotMarkedValidIsRefusedBeforeAnyTable) {
  stores.AddTicks(kJul4, {{"10:00:00", "0006", 1, 1, 1, 1, 1, 1}, {"10:00:00", "0007", 1, 1, 1, 1, 1, 1}});
  for (const std::string symbol : {"0006", "0007"}) {  // isValid '0'; absent
    HttpReply r = Get("/?symbol=" + symbol + "&mode=3");
    EXPECT_EQ(r.body, kNoData) << symbol;
    EXPECT_TRUE(LogHasLine("Symbol is invalid:" + symbol)) << symbol;
  }
  EXPECT_TRUE(LogLinesStartingWith(kTableLine).empty());
}

TEST_P(UWIntradayTest, ModuleWithoutItsDatabaseAnswersNothing) {
  stores.AddTicks(kJul4, {Tick("10:00:00", 10)});
  stores.RouteAlias("zetdata", "host=/nonexistent port=1");
  HttpReply r = Get("/?symbol=0005&mode=3");
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.body, "");
  const std::vector<std::string> log = LogLines();
  auto at = std::find(log.begin(), log.end(), "Not Is Price Only.");
  ASSERT_NE(at, log.end());
  ASSERT_GE(log.end() - at, 3);
  EXPECT_EQ(at[1], "Create DB faile For Model 3");
  EXPECT_EQ(at[2], "Create Interval Query  faile For Model 3");
  EXPECT_TRUE(LogLinesStartingWith(kTableLine).empty());
}

INSTANTIATE_TEST_SUITE_P(Stores, UWIntradayTest, ::testing::ValuesIn(Backends()), BackendName);

}  // namespace
}  // namespace histtest
