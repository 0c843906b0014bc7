// The module's day lookups over the tick tables, and the symbol name lines.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "data/lookups.h"
#include "platform/rtl/datetime.h"
#include "service/hist.h"
#include "service/web.h"
#include "tests/support/fake_host.h"
#include "tests/support/store_fixture.h"

namespace hist {
namespace {

const double D = rtl::EncodeDate(2003, 7, 14);

class DaysTest : public histtest::StoreTest {
 protected:
  // `rows` ticks of one symbol a second apart.
  void AddDay(double day, int rows, const std::string& symbol = "0005") {
    std::vector<histtest::TickRow> ticks;
    for (int i = 0; i < rows; ++i)
      ticks.push_back({rtl::EncodeTime(9, 30, 0, 0) + i * rtl::kOneSecond, symbol, 1, 2, 1.5, 10,
                       100.0 * (i + 1), 20});
    stores.AddTicks(day, ticks);
  }
  THistData module;
};

TEST_P(DaysTest, ZeroDaysIsTheRangeStartWithoutLookingAtATable) {
  AddDay(D, 20);
  EXPECT_EQ(module.SeekDateByCount(0, D - 5, D), D - 5);
  EXPECT_EQ(module.HistTable.TableName, "");
  EXPECT_FALSE(module.HistTable.Active());
}

TEST_P(DaysTest, TooFewDaysInTheRangeRunOutBelowItsStart) {
  AddDay(D, 500);
  EXPECT_EQ(module.SeekDateByCount(2, D, D), D - 1);
  AddDay(D - 1, 11);
  AddDay(D - 2, 11);
  EXPECT_EQ(module.SeekDateByCount(5, D - 2, D), D - 3);
}

TEST_P(DaysTest, CountsBackOverDaysWithoutATable) {
  AddDay(D, 11);
  AddDay(D - 1, 12);
  AddDay(D - 3, 13);
  AddDay(D - 4, 14);
  EXPECT_EQ(module.SeekDateByCount(3, D - 10, D), D - 3);
  EXPECT_EQ(module.SeekDateByCount(1, D - 10, D), D);
  EXPECT_EQ(module.SeekDateByCount(4, D - 10, D), D - 4);
}

TEST_P(DaysTest, ADayNeedsMoreThanTenRows) {
  AddDay(D, 10);
  AddDay(D - 1, 11);
  EXPECT_EQ(module.SeekDateByCount(1, D - 5, D), D - 1);
  // Rows of every symbol count.
  AddDay(D - 2, 6, "0005");
  AddDay(D - 2, 5, "0011");
  EXPECT_EQ(module.SeekDateByCount(2, D - 5, D), D - 2);
}

TEST_P(DaysTest, ANegativeCountStopsAtTheRangeEnd) {
  EXPECT_EQ(module.SeekDateByCount(-1, D - 5, D), D);
  AddDay(D - 1, 20);
  EXPECT_EQ(module.SeekDateByCount(-3, D - 5, D), D);
}

TEST_P(DaysTest, AnEmptyRangeReturnsItsEnd) {
  AddDay(D, 20);
  EXPECT_EQ(module.SeekDateByCount(1, D + 1, D), D);
  EXPECT_EQ(module.HistTable.TableName, "");
}

TEST_P(DaysTest, TheDayThatCompletedTheCountIsLeftNamed) {
  AddDay(D - 1, 11);
  EXPECT_EQ(module.SeekDateByCount(1, D - 3, D), D - 1);
  EXPECT_EQ(module.HistTable.TableName, GetFileName(D - 1));
  // Callers close the table before naming it again; a second search works.
  if (module.HistTable.Active()) module.HistTable.Close();
  EXPECT_EQ(module.SeekDateByCount(1, D - 3, D), D - 1);
}

TEST_P(DaysTest, DaysACenturyApartShareTheirTable) {
  AddDay(D, 11);
  const double century_ago = rtl::EncodeDate(1903, 7, 14);
  EXPECT_EQ(module.SeekDateByCount(2, rtl::EncodeDate(1900, 1, 1), D), century_ago);
  EXPECT_EQ(module.SeekDateByCount(3, rtl::EncodeDate(1900, 1, 1), D), rtl::EncodeDate(1899, 12, 31));
  EXPECT_TRUE(module.PreCheckExistDaysData(century_ago, century_ago + 1));
  EXPECT_FALSE(module.PreCheckExistDaysData(century_ago + 1, D - 1));
}

TEST_P(DaysTest, AOneDayRangeNeverHasData) {
  AddDay(D, 20);
  EXPECT_FALSE(module.PreCheckExistDaysData(D, D));
  EXPECT_EQ(module.HistTable.TableName, "");
}

TEST_P(DaysTest, ARangeHasDataWhenAnyOfItsDaysHasATable) {
  EXPECT_FALSE(module.PreCheckExistDaysData(D, D + 1));
  AddDay(D + 1, 1);
  EXPECT_TRUE(module.PreCheckExistDaysData(D, D + 1));
  EXPECT_FALSE(module.HistTable.Active());
  EXPECT_FALSE(module.PreCheckExistDaysData(D - 3, D));
  AddDay(D - 2, 1);
  EXPECT_TRUE(module.PreCheckExistDaysData(D - 3, D));
  EXPECT_EQ(module.HistTable.TableName, GetFileName(D - 2));  // stopped at the first
  EXPECT_FALSE(module.PreCheckExistDaysData(D + 1, D - 3));
}

class StockNameTest : public histtest::StoreTest {
 protected:
  StockNameTest() : request(host), response(host, request) { module.Response = &response; }
  histtest::FakeHost host;
  TWebRequest request;
  TWebResponse response;
  THistData module;
};

TEST_P(StockNameTest, AKnownSymbolGetsTwoLinesEnglishFirst) {
  stores.AddNames({{"0005", "HSBC HOLDINGS", "\xe6\xb1\x87\xe4\xb8\xb0\xe6\x8e\xa7\xe8\x82\xa1"},
                   {"0011", "HANG SENG BANK", "x"}});
  EXPECT_TRUE(module.GenStockName("0005"));
  EXPECT_EQ(host.writes, std::vector<std::string>(
                             {"NOTE|ENAME|HSBC HOLDINGS|\r\n",
                              "NOTE|CNAME|\xe6\xb1\x87\xe4\xb8\xb0\xe6\x8e\xa7\xe8\x82\xa1|\r\n"}));
}

TEST_P(StockNameTest, AnUnknownSymbolWritesNothing) {
  stores.AddNames({{"0005", "HSBC HOLDINGS", "x"}});
  EXPECT_FALSE(module.GenStockName("0006"));
  EXPECT_TRUE(host.writes.empty());
}

TEST_P(StockNameTest, ANullNameGivesAnEmptyField) {
  stores.AddNames({{"0005", {}, "CN"}});
  EXPECT_TRUE(module.GenStockName("0005"));
  EXPECT_EQ(host.Body(), "NOTE|ENAME||\r\nNOTE|CNAME|CN|\r\n");
}

TEST_P(StockNameTest, OnlyTheFirstRowIsUsedAndTheQueryCanRunAgain) {
  stores.AddNames({{"0005", "A", "B"}, {"0005", "A", "B"}, {"0011", "C", "D"}});
  EXPECT_TRUE(module.GenStockName("0005"));
  EXPECT_EQ(host.writes.size(), 2u);
  EXPECT_TRUE(module.StockNameQuery.Active());
  EXPECT_TRUE(module.GenStockName("0011"));
  EXPECT_EQ(host.Body(), "NOTE|ENAME|A|\r\nNOTE|CNAME|B|\r\nNOTE|ENAME|C|\r\nNOTE|CNAME|D|\r\n");
}

INSTANTIATE_TEST_SUITE_P(Stores, DaysTest, ::testing::ValuesIn(histtest::Backends()),
                         histtest::BackendName);
INSTANTIATE_TEST_SUITE_P(Stores, StockNameTest, ::testing::ValuesIn(histtest::Backends()),
                         histtest::BackendName);

}  // namespace
}  // namespace hist
