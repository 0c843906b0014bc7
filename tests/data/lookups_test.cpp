// Day-table names, tolerant comparison and the symbol check.
#include "data/lookups.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/rtl/datetime.h"
#include "service/hist.h"
#include "tests/support/store_fixture.h"

namespace hist {
namespace {

TEST(GetFileNameTest, NamesTheDayAsTwoDigitYearMonthDay) {
  EXPECT_EQ(GetFileName(rtl::EncodeDate(2003, 7, 4)), "hist030704");
  EXPECT_EQ(GetFileName(rtl::EncodeDate(1999, 12, 31)), "hist991231");
  EXPECT_EQ(GetFileName(rtl::EncodeDate(2000, 1, 1)), "hist000101");
  // The century is not part of the name.
  EXPECT_EQ(GetFileName(rtl::EncodeDate(2103, 7, 4)), "hist030704");
}

TEST(GetFileNameTest, TimeOfDayPlaysNoPart) {
  const double day = rtl::EncodeDate(2003, 7, 4);
  EXPECT_EQ(GetFileName(day + 0.5), "hist030704");
  // Closer to midnight than a millisecond still names the same day.
  EXPECT_EQ(GetFileName(day + 0.9999999999), "hist030704");
}

TEST(CompareDoubleTest, ValuesCloserThanTheToleranceAreEqual) {
  EXPECT_EQ(CompareDouble(1.0, 1.0 + 5e-9), 0);
  EXPECT_EQ(CompareDouble(1.0 + 5e-9, 1.0), 0);
  EXPECT_EQ(CompareDouble(1.0, 1.0), 0);
  EXPECT_TRUE(IsDoubleEqual(1.0, 1.0 + 5e-9));
}

TEST(CompareDoubleTest, OrdersValuesFurtherApart) {
  EXPECT_EQ(CompareDouble(1.0, 1.00000002), -1);
  EXPECT_EQ(CompareDouble(1.00000002, 1.0), 1);
  EXPECT_EQ(CompareDouble(2.0, 1.0), 1);
  EXPECT_EQ(CompareDouble(-2.0, 1.0), -1);
  EXPECT_FALSE(IsDoubleEqual(1.0, 1.00000002));
}

TEST(CompareDoubleTest, DateTimesWithinAMillisecondOfTheToleranceCompare) {
  // 1e-8 of a day is 0.864 ms: half a millisecond is equal, one is not.
  const double t = rtl::EncodeDate(2003, 7, 4) + rtl::EncodeTime(9, 30, 0, 0);
  EXPECT_EQ(CompareDouble(t + 0.5 / rtl::kMsPerDay, t), 0);
  EXPECT_EQ(CompareDouble(t + 1.0 / rtl::kMsPerDay, t), 1);
  EXPECT_EQ(CompareDouble(t - 1.0 / rtl::kMsPerDay, t), -1);
}

class IsValidProductTest : public histtest::StoreTest {
 protected:
  void SetUp() override {
    stores.InitSqlStores();
    stores.AddSymbols({{"0005", "1"}, {"0005", "1"}, {"0011", "0"}, {"O'NEIL", "1"}, {"0023", {}}});
    module.WebModuleCreate();
    ASSERT_NE(module.FIsValidSymbolQuery, nullptr);
  }
  size_t LogCount(const std::string& line) {
    size_t n = 0;
    for (const std::string& l : stores.ReadLogLines()) n += (l == line);
    return n;
  }
  THistData module;
};

TEST_P(IsValidProductTest, WithoutAQueryEverySymbolIsValidAndNothingIsLogged) {
  EXPECT_TRUE(IsValidProduct("NOSUCH", nullptr));
  EXPECT_EQ(stores.ReadLog().find("IsValidSymbolQuery"), std::string::npos);
}

TEST_P(IsValidProductTest, OnlyRowsMarkedOneAreValid) {
  engine::TQuery* q = module.FIsValidSymbolQuery.get();
  EXPECT_TRUE(IsValidProduct("0005", q));  // two rows still valid
  EXPECT_FALSE(IsValidProduct("0011", q));
  EXPECT_FALSE(IsValidProduct("0023", q));  // no mark at all
  EXPECT_FALSE(IsValidProduct("9999", q));
  EXPECT_TRUE(IsValidProduct("O'NEIL", q));  // the symbol is a bound value
}

TEST_P(IsValidProductTest, EachCheckLogsCloseThenOpenAndLeavesTheQueryAtItsEnd) {
  engine::TQuery* q = module.FIsValidSymbolQuery.get();
  q->SetSQL("select 1");  // whatever a previous user left there
  EXPECT_TRUE(IsValidProduct("0005", q));
  EXPECT_TRUE(q->Active());
  EXPECT_TRUE(q->Eof());
  EXPECT_EQ(q->SQL(), "select * from symbolTable where symbol = :symbol and isValid = '1'");
  EXPECT_FALSE(IsValidProduct("0011", q));

  std::vector<std::string> checks;
  for (const std::string& l : stores.ReadLogLines())
    if (l.rfind("IsValidSymbolQuery.", 0) == 0) checks.push_back(l);
  EXPECT_EQ(checks, std::vector<std::string>({"IsValidSymbolQuery.Close", "IsValidSymbolQuery.Open",
                                              "IsValidSymbolQuery.Close", "IsValidSymbolQuery.Open"}));
}

TEST_P(IsValidProductTest, AMissingSymbolTableIsAnError) {
  stores.Execute("zetdata", "DROP TABLE symboltable");
  EXPECT_THROW(IsValidProduct("0005", module.FIsValidSymbolQuery.get()), engine::EDatabaseError);
  // The close was logged before the statement failed; the open never was.
  EXPECT_EQ(LogCount("IsValidSymbolQuery.Close"), 1u);
  EXPECT_EQ(LogCount("IsValidSymbolQuery.Open"), 0u);
}

INSTANTIATE_TEST_SUITE_P(Stores, IsValidProductTest, ::testing::ValuesIn(histtest::Backends()),
                         histtest::BackendName);

}  // namespace
}  // namespace hist
