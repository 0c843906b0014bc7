// Deriving the SQL stores from tick tables: daily rows, minute bars, the
// interval tables and the symbol list, read back with the server's
// statements.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "platform/engine/engine.h"
#include "tests/support/store_fixture.h"
#include "tests/tools/admin_test_util.h"
#include "tools/derive.h"

namespace {

using admintest::Rows;
using admintest::Select;
using histtest::TickRow;

const double kDay = rtl::EncodeDate(2003, 7, 4);

class DeriveTest : public histtest::StoreTest {
 protected:
  void AddDay() {
    // X: a one-minute boundary exactly at 09:31:00, a tick without a price
    // that still moves the running volume, a zero price that is no trade.
    // x: another symbol, though its letters fold to X's.
    stores.AddTicks(kDay, {
                              {"09:30:00", "X", 9.9, 10.1, 10, 1, 100, 1},
                              {"09:30:10", "x", 4.9, 5.1, 5, 1, 10, 1},
                              {"09:30:30", "X", 10.9, 11.1, 11, 1, 150, 1},
                              {"09:30:59.999", "X", 8.9, 9.1, 9, 1, 150, 1},
                              {"09:31:00", "X", 10.4, 10.6, 10.5, 1, 400, 1},
                              {"09:33:10", "X", 10.4, 10.6, std::nullopt, 1, 500, 1},
                              {"09:34:00", "X", 11.9, 12.1, 12, 1, 600, 1},
                              {"09:36:00", "X", 11.9, 12.1, 0, 1, std::nullopt, 1},
                          });
  }
  Rows Intervals(int seconds, const std::string& symbol, const std::string& date) {
    engine::TDatabase db;
    db.AliasName = "zetdata";
    engine::TQuery q(&db);
    q.SetSQL("Select * FROM IntervalTable" + std::to_string(seconds) +
             " WHERE  Symbol = :Symbol AND Date = :Date order by Time");
    q.ParamByName("Symbol").SetAsString(symbol);
    q.ParamByName("Date").SetAsString(date);
    q.Open();
    return admintest::ReadRows(q, {"Date", "Time", "Open", "High", "Low", "Close", "Volume"});
  }
  Rows Daily() {
    return Select("Historical",
                  "select * from datastore order by c_date, stock_code",
                  {"c_date", "stock_code", "high", "low", "closing", "shares_traded", "turnover"});
  }
  Rows Minutes(const std::string& symbol) {
    return Select("ardandata",
                  "select * from MinuteBars where Symbol = '" + symbol + "' order by TimeBegin",
                  {"TimeBegin", "Duration", "SeqNo", "PriceOpen", "PriceHigh", "PriceLow",
                   "PriceClose", "Volume"});
  }
};

TEST_P(DeriveTest, DailyRowsFollowTheTicks) {
  AddDay();
  const admin::DeriveResult result = admin::Derive();
  EXPECT_EQ(result.days, 1);
  EXPECT_EQ(result.ticks, 8);
  // turnover: 10*100 + 11*50 + 10.5*250 + 10.5*100 (no price: the last) + 12*100
  EXPECT_EQ(Daily(), (Rows{{"2003/7/4", "X", "12", "9", "12", "600", "6425"},
                           {"2003/7/4", "x", "5", "5", "5", "10", "50"}}));
}

TEST_P(DeriveTest, MinuteBarsSplitAtTheBoundaryAndCarryVolumeGrowth) {
  AddDay();
  admin::Derive();
  EXPECT_EQ(Minutes("X"), (Rows{{"2003/7/4 09:30:00", "60", "1", "10", "11", "9", "9", "150"},
                                {"2003/7/4 09:31:00", "60", "2", "10.5", "10.5", "10.5", "10.5",
                                 "350"},
                                {"2003/7/4 09:34:00", "60", "3", "12", "12", "12", "12", "100"}}));
  EXPECT_EQ(Minutes("x"), (Rows{{"2003/7/4 09:30:00", "60", "1", "5", "5", "5", "5", "10"}}));
}

TEST_P(DeriveTest, IntervalTablesAreLabelledByTheirStart) {
  AddDay();
  admin::Derive();
  EXPECT_EQ(Intervals(60, "X", "2003/07/04"),
            (Rows{{"2003/07/04", "09:30:00", "10", "11", "9", "9", "150"},
                  {"2003/07/04", "09:31:00", "10.5", "10.5", "10.5", "10.5", "350"},
                  {"2003/07/04", "09:34:00", "12", "12", "12", "12", "100"}}));
  EXPECT_EQ(Intervals(180, "X", "2003/07/04"),
            (Rows{{"2003/07/04", "09:30:00", "10", "11", "9", "10.5", "500"},
                  {"2003/07/04", "09:33:00", "12", "12", "12", "12", "100"}}));
  EXPECT_EQ(Intervals(300, "X", "2003/07/04"),
            (Rows{{"2003/07/04", "09:30:00", "10", "12", "9", "12", "600"}}));
}

TEST_P(DeriveTest, SymbolsAreAddedOnceAndKeepTheirValidity) {
  stores.AddSymbols({{"x", "0"}});
  AddDay();
  EXPECT_EQ(admin::Derive().symbols_added, 1);
  EXPECT_EQ(admin::Derive().symbols_added, 0);
  EXPECT_EQ(Select("zetdata", "select symbol, isValid from symbolTable order by symbol",
                   {"symbol", "isValid"}),
            (Rows{{"X", "1"}, {"x", "0"}}));
}

TEST_P(DeriveTest, RunningAgainReplacesWhatWasDerived) {
  AddDay();
  admin::Derive();
  const Rows daily = Daily();
  const Rows minutes = Minutes("X");
  // A later tick of the day changes the close; nothing is doubled.
  stores.AddTicks(kDay, {{"10:00:00", "X", 12.9, 13.1, 13, 1, 700, 1}});
  admin::Derive();
  Rows expected = daily;
  expected[0] = {"2003/7/4", "X", "13", "9", "13", "700", "7725"};
  EXPECT_EQ(Daily(), expected);
  Rows expected_minutes = minutes;
  expected_minutes.push_back({"2003/7/4 10:00:00", "60", "4", "13", "13", "13", "13", "100"});
  EXPECT_EQ(Minutes("X"), expected_minutes);
  EXPECT_EQ(Intervals(300, "X", "2003/07/04").size(), 2u);
}

TEST_P(DeriveTest, DayRangeLimitsTheWork) {
  AddDay();
  stores.AddTicks(kDay + 3, {{"09:30:00", "Y", 1, 1, 1, 1, 1, 1}});
  admin::DeriveOptions options;
  options.first_day = static_cast<int32_t>(kDay) + 1;
  const admin::DeriveResult result = admin::Derive(options);
  EXPECT_EQ(result.days, 1);
  EXPECT_EQ(Daily(), (Rows{{"2003/7/7", "Y", "1", "1", "1", "1", "1"}}));
  options.first_day = options.last_day = static_cast<int32_t>(kDay);
  EXPECT_EQ(admin::Derive(options).days, 1);
  EXPECT_EQ(Daily().size(), 3u);
}

TEST_P(DeriveTest, VolumeThatGoesDownCountsFromZeroAgain) {
  stores.AddTicks(kDay, {{"09:30:00", "Z", 1, 1, 10, 1, 500, 1},
                         {"09:31:00", "Z", 1, 1, 10, 1, 200, 1}});
  admin::Derive();
  const Rows bars = Minutes("Z");
  ASSERT_EQ(bars.size(), 2u);
  EXPECT_EQ(bars[0][7], "500");
  EXPECT_EQ(bars[1][7], "200");
  EXPECT_EQ(Daily(), (Rows{{"2003/7/4", "Z", "10", "10", "10", "200", "7000"}}));
}

INSTANTIATE_TEST_SUITE_P(Stores, DeriveTest, ::testing::ValuesIn(histtest::Backends()),
                         histtest::BackendName);

}  // namespace
