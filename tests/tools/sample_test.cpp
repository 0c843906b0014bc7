// The sample market: its days, names and sessions, reproducibility, and
// derived stores that agree with its ticks.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>

#include "platform/engine/engine.h"
#include "platform/rtl/datetime.h"
#include "platform/rtl/numbers.h"
#include "tests/support/store_fixture.h"
#include "tests/tools/admin_test_util.h"
#include "tools/sample.h"

namespace {

using admintest::Rows;
using admintest::Select;
using admintest::TickRows;

const int32_t kFriday = static_cast<int32_t>(rtl::EncodeDate(2003, 7, 4));

class SampleTest : public histtest::StoreTest {
 protected:
  ~SampleTest() override { rtl::SetClockForTesting({}); }

  static admin::SampleOptions Small() {
    admin::SampleOptions options;
    options.days = 2;
    options.symbols = 3;
    options.ticks_per_symbol = 300;
    options.last_day = kFriday;
    options.seed = 7;
    return options;
  }
  static double Num(const std::string& text) { return std::stod(text); }
};

TEST_P(SampleTest, SmallMarketHasItsDaysNamesAndSessions) {
  const admin::SampleResult result = admin::MakeSample(Small());
  EXPECT_EQ(result.days, (std::vector<int32_t>{kFriday - 1, kFriday}));
  ASSERT_EQ(result.symbols.size(), 3u);
  EXPECT_EQ(result.symbols[0].code, "0001");
  EXPECT_EQ(result.ticks, 2 * 3 * 300);
  EXPECT_EQ(TickRows("hist030703").size(), 900u);
  EXPECT_EQ(TickRows("hist030704").size(), 900u);

  const Rows names = Select("Historical", "select Stock_code, name_e, name_c from DailySymbol "
                                          "order by Stock_code",
                            {"Stock_code", "name_e", "name_c"});
  ASSERT_EQ(names.size(), 3u);
  std::set<std::string> distinct;
  for (size_t i = 0; i < names.size(); ++i) {
    EXPECT_EQ(names[i][0], result.symbols[i].code);
    EXPECT_EQ(names[i][1], result.symbols[i].name_e);
    EXPECT_EQ(names[i][2], result.symbols[i].name_c);
    EXPECT_GT(names[i][2].size(), names[i][1].size() / 4);  // Chinese text, not empty
    distinct.insert(names[i][1]);
  }
  EXPECT_EQ(distinct.size(), 3u);
  EXPECT_EQ(Select("ardandata", "select Symbol, TimeOpen, TimeClose from MarketSession "
                                "order by TimeOpen",
                   {"Symbol", "TimeOpen", "TimeClose"}),
            (Rows{{"*", "09:30:00", "12:00:00"}, {"*", "13:00:00", "16:00:00"}}));
  EXPECT_EQ(Select("zetdata", "select symbol, isValid from symbolTable order by symbol",
                   {"symbol", "isValid"}),
            (Rows{{"0001", "1"}, {"0002", "1"}, {"0003", "1"}}));
}

TEST_P(SampleTest, TicksLieInTheSessionsWithIdsInTimeOrderAndSanePrices) {
  admin::MakeSample(Small());
  engine::TDatabase db;
  db.AliasName = "HISTDATA";
  engine::TTable t(&db);
  t.TableName = "hist030704";
  t.Open();
  t.FindNearest("");
  std::map<int, double> time_of_id;
  for (; !t.Eof(); t.Next()) {
    const double time = t.FieldByName("Time").AsDateTime();
    const std::string text = t.FieldByName("Time").AsString();
    EXPECT_TRUE((text >= "09:30:00" && text < "12:00:00") || (text >= "13:00:00" && text < "16:00:00"))
        << text;
    const double bid = t.FieldByName("Bid").AsFloat(), offer = t.FieldByName("Offer").AsFloat();
    const double price = t.FieldByName("Price").AsFloat();
    EXPECT_LT(bid, offer);
    EXPECT_LE(bid, price + 1e-9);
    EXPECT_GE(offer, price - 1e-9);
    EXPECT_GT(price, 0);
    time_of_id[t.FieldByName("ID").AsInteger()] = time;
  }
  ASSERT_EQ(time_of_id.size(), 900u);
  EXPECT_EQ(time_of_id.begin()->first, 1);
  EXPECT_EQ(time_of_id.rbegin()->first, 900);
  double last = 0;
  for (const auto& [id, time] : time_of_id) {
    EXPECT_GE(time, last) << "ID " << id;
    last = time;
  }
}

TEST_P(SampleTest, SameSeedSameMarketAndRunningAgainReplacesIt) {
  admin::MakeSample(Small());
  const Rows first = TickRows("hist030704");
  const Rows daily = Select("Historical", "select * from datastore order by c_date, stock_code",
                            {"c_date", "stock_code", "closing", "turnover"});
  admin::MakeSample(Small());
  EXPECT_EQ(TickRows("hist030704"), first);
  EXPECT_EQ(Select("Historical", "select * from datastore order by c_date, stock_code",
                   {"c_date", "stock_code", "closing", "turnover"}),
            daily);
  EXPECT_EQ(Select("Historical", "select Stock_code from DailySymbol", {"Stock_code"}).size(), 3u);
  admin::SampleOptions other = Small();
  other.seed = 8;
  admin::MakeSample(other);
  EXPECT_NE(TickRows("hist030704"), first);
}

TEST_P(SampleTest, DerivedStoresAgreeWithTheTicks) {
  admin::MakeSample(Small());
  for (const char* symbol : {"0001", "0002", "0003"}) {
    SCOPED_TRACE(symbol);
    double high = 0, low = 1e9, close = 0, volume = 0;
    for (const auto& row : TickRows("hist030704")) {
      if (row[3] != symbol) continue;
      const double price = Num(row[6]);
      high = std::max(high, price);
      low = std::min(low, price);
      close = price;
      volume = Num(row[8]);
    }
    Rows daily = Select("Historical",
                        "select c_date, high, low, closing, shares_traded from datastore "
                        "where stock_code = '" + std::string(symbol) + "'",
                        {"c_date", "high", "low", "closing", "shares_traded"});
    std::erase_if(daily, [](const auto& row) { return row[0] != "2003/7/4"; });
    ASSERT_EQ(daily.size(), 1u);
    daily[0].erase(daily[0].begin());
    EXPECT_DOUBLE_EQ(Num(daily[0][0]), high);
    EXPECT_DOUBLE_EQ(Num(daily[0][1]), low);
    EXPECT_DOUBLE_EQ(Num(daily[0][2]), close);
    EXPECT_DOUBLE_EQ(Num(daily[0][3]), volume);

    // Bars of every length share out the day's volume and its range.
    for (int seconds : {60, 180, 300}) {
      engine::TDatabase db;
      db.AliasName = "zetdata";
      engine::TQuery q(&db);
      q.SetSQL("Select * FROM IntervalTable" + std::to_string(seconds) +
               " WHERE  Symbol = :Symbol AND Date = :Date order by Time");
      q.ParamByName("Symbol").SetAsString(symbol);
      q.ParamByName("Date").SetAsString("2003/07/04");
      q.Open();
      double sum = 0, bar_high = 0, bar_low = 1e9;
      std::string last_time;
      for (; !q.Eof(); q.Next()) {
        const std::string time = q.FieldByName("Time").AsString();
        EXPECT_GT(time, last_time);
        const int32_t seconds_of_day = rtl::RoundHalfEven(rtl::StrToTime(time) * 86400);
        EXPECT_EQ(seconds_of_day % seconds, 0) << time;
        last_time = time;
        sum += q.FieldByName("Volume").AsFloat();
        bar_high = std::max(bar_high, q.FieldByName("High").AsFloat());
        bar_low = std::min(bar_low, q.FieldByName("Low").AsFloat());
      }
      EXPECT_DOUBLE_EQ(sum, volume) << seconds;
      EXPECT_DOUBLE_EQ(bar_high, high) << seconds;
      EXPECT_DOUBLE_EQ(bar_low, low) << seconds;
    }
  }
}

TEST_P(SampleTest, TodayStopsAtTheCurrentTimeAndWeekendsAreSkipped) {
  const double now = rtl::EncodeDate(2003, 7, 4) + rtl::EncodeTime(10, 0, 0, 0);
  rtl::SetClockForTesting([now] { return now; });
  admin::SampleOptions options = Small();
  options.last_day = 0;  // today
  const admin::SampleResult result = admin::MakeSample(options);
  EXPECT_EQ(result.days.back(), kFriday);
  EXPECT_LT(result.ticks, 2 * 3 * 300);
  for (const auto& row : TickRows("hist030704")) EXPECT_LT(row[2], "10:00:00");
  EXPECT_EQ(TickRows("hist030703").size(), 900u);

  options.last_day = kFriday + 2;  // a Sunday
  options.until_now = false;
  EXPECT_EQ(admin::MakeSample(options).days, (std::vector<int32_t>{kFriday - 1, kFriday}));
  options.days = 5;
  EXPECT_EQ(admin::MakeSample(options).days.front(), kFriday - 4);  // the Monday before
}

TEST_P(SampleTest, HeavySymbolGetsItsOwnTickCount) {
  admin::SampleOptions options = Small();
  options.days = 1;
  options.heavy_ticks = 2000;
  admin::MakeSample(options);
  std::map<std::string, int> count;
  for (const auto& row : TickRows("hist030704")) ++count[row[3]];
  EXPECT_EQ(count["0001"], 2000);
  EXPECT_EQ(count["0002"], 300);
}

TEST(SampleSymbols, ReproducibleDistinctAndNumbered) {
  const auto a = admin::SampleSymbols(40, 3);
  const auto b = admin::SampleSymbols(40, 3);
  const auto c = admin::SampleSymbols(40, 4);
  std::set<std::string> names;
  for (size_t i = 0; i < a.size(); ++i) {
    EXPECT_EQ(a[i].name_e, b[i].name_e);
    EXPECT_EQ(a[i].name_c, b[i].name_c);
    names.insert(a[i].name_e);
  }
  EXPECT_EQ(names.size(), 40u);
  EXPECT_EQ(a[39].code, "0040");
  bool differs = false;
  for (size_t i = 0; i < a.size(); ++i) differs |= a[i].name_e != c[i].name_e;
  EXPECT_TRUE(differs);
}

TEST(SampleOptionsCheck, OutOfRangeIsRefused) {
  admin::SampleOptions options;
  options.days = 0;
  EXPECT_THROW(admin::MakeSample(options), std::invalid_argument);
  options.days = 1;
  options.symbols = 0;
  EXPECT_THROW(admin::MakeSample(options), std::invalid_argument);
}

INSTANTIATE_TEST_SUITE_P(Stores, SampleTest, ::testing::ValuesIn(histtest::Backends()),
                         histtest::BackendName);

}  // namespace
