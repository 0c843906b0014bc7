// The stored procedures that the schema puts into the stores, called the way
// the server calls them, over each driver.
#include <gtest/gtest.h>

#include <string>

#include "platform/engine/engine.h"
#include "platform/engine/aliases.h"
#include "tests/support/store_fixture.h"
#include "tests/tools/admin_test_util.h"
#include "tools/schema.h"

namespace {

using admintest::ReadRows;
using admintest::Rows;
using engine::FieldType;

const double kDay = rtl::EncodeDate(2003, 7, 4);

double At(int h, int n, int s = 0) { return rtl::EncodeTime(h, n, s, 0); }

class ProceduresTest : public histtest::StoreTest {
 protected:
  ProceduresTest() { stores.InitSqlStores(); }
};

class ClosingPrice : public ProceduresTest {
 protected:
  ClosingPrice() {
    stores.AddDaily({{kDay - 1, "B", 1, 1, 1},
                     {kDay + At(15, 30), "C", 2, 2, 2},
                     {kDay, "B", 3, 3, 3},
                     {kDay, "A", 4, 4, 4},
                     {kDay, "D", 5, 5, 5},
                     {kDay, "a", 6, 6, 6},
                     {kDay + 3, "B", 7, 7, 7},
                     {kDay + 3 + At(23, 59, 59), "C", 8, 8, 8},
                     {kDay + 4, "B", 9, 9, 9}});
    db.AliasName = "Historical";
    sp.SetDatabase(&db);
    sp.StoredProcName = "usp_Closing_Price;1";
    sp.DeclareParam("@RETURN_VALUE", FieldType::kInteger, true);
    sp.DeclareParam("@From_Symbol", FieldType::kString);
    sp.DeclareParam("@To_Symbol", FieldType::kString);
    sp.DeclareParam("@From_Date", FieldType::kDateTime);
    sp.DeclareParam("@To_Date", FieldType::kDateTime);
    sp.DeclareParam("@Adj", FieldType::kInteger);
  }
  Rows Call(const char* from_symbol, const char* to_symbol, const char* from, const char* to) {
    sp.Close();
    sp.ParamByName("@From_Symbol").SetAsString(from_symbol);
    sp.ParamByName("@To_Symbol").SetAsString(to_symbol);
    sp.ParamByName("@From_Date").SetAsString(from);
    sp.ParamByName("@To_Date").SetAsString(to);
    sp.Open();
    return ReadRows(sp, {"c_date", "stock_code", "closing"});
  }
  engine::TDatabase db;
  engine::TStoredProc sp;
};

TEST_P(ClosingPrice, SymbolsAndDaysInclusiveOrderedByDateThenSymbol) {
  EXPECT_EQ(Call("B", "C", "07/04/2003", "07/07/2003"),
            (Rows{{"2003/7/4", "B", "3"},
                  {"2003/7/4 15:30:00", "C", "2"},
                  {"2003/7/7", "B", "7"},
                  {"2003/7/7 23:59:59", "C", "8"}}));
}

TEST_P(ClosingPrice, OneSymbolOneDayAndSymbolsCompareByteForByte) {
  EXPECT_EQ(Call("B", "B", "07/04/2003", "07/04/2003"), (Rows{{"2003/7/4", "B", "3"}}));
  // "a" sorts after "D" in byte order, so A..D leaves it out.
  EXPECT_EQ(Call("A", "D", "07/04/2003", "07/04/2003"),
            (Rows{{"2003/7/4", "A", "4"},
                  {"2003/7/4", "B", "3"},
                  {"2003/7/4", "D", "5"},
                  {"2003/7/4 15:30:00", "C", "2"}}));
}

TEST_P(ClosingPrice, AdjOfZeroOrNullGivesStoredPricesAndBadRangesGiveNothing) {
  const Rows stored = Call("B", "B", "07/03/2003", "07/08/2003");
  ASSERT_EQ(stored.size(), 4u);
  sp.Close();
  sp.ParamByName("@Adj").SetAsInteger(0);
  sp.Open();
  EXPECT_EQ(ReadRows(sp, {"c_date", "stock_code", "closing"}), stored);
  EXPECT_TRUE(Call("B", "B", "07/08/2003", "07/03/2003").empty());  // reversed
  EXPECT_TRUE(Call("C", "B", "07/03/2003", "07/08/2003").empty());
  EXPECT_TRUE(Call("B", "B", "07/05/2003", "07/06/2003").empty());  // a weekend
}

class Intervals : public ProceduresTest {
 protected:
  Intervals() {
    std::vector<histtest::MinuteBarRow> bars;
    for (int m = 0; m < 8; ++m)
      bars.push_back({"ABC", kDay + At(9, 30 + m), 60, m + 1, 1, 2, 0.5, 1.0 + m, 10.0 * m});
    bars.push_back({"abc", kDay + At(9, 33), 60, 1, 9, 9, 9, 9, 9});
    bars.push_back({"ABC", kDay - 1 + At(15, 59), 60, 330, 7, 7, 7, 7, 7});
    stores.AddMinuteBars(bars);
    db.AliasName = "ardandata";
    sp.SetDatabase(&db);
    sp.StoredProcName = "QueryIntervals;1";
    sp.DeclareParam("RETURN_VALUE", FieldType::kInteger, true);
    sp.DeclareParam("@Symbol", FieldType::kString);
    sp.DeclareParam("@Interval", FieldType::kInteger);
    sp.DeclareParam("@TimeFrom", FieldType::kDateTime);
    sp.DeclareParam("@TimeTo", FieldType::kDateTime);
    sp.DeclareParam("@BackCount", FieldType::kInteger);
    sp.ParamByName("@Symbol").SetAsString("ABC");
    sp.ParamByName("@TimeFrom").SetAsDateTime(kDay + At(9, 33));
    sp.ParamByName("@TimeTo").SetAsDateTime(kDay + At(9, 35));
  }
  std::vector<std::string> Closes() {
    sp.Close();
    sp.Open();
    std::vector<std::string> out;
    for (const auto& row : ReadRows(sp, {"PriceClose"})) out.push_back(row[0]);
    return out;
  }
  engine::TDatabase db;
  engine::TStoredProc sp;
};

TEST_P(Intervals, RangeIsInclusiveAndTheSymbolExact) {
  EXPECT_EQ(Closes(), (std::vector<std::string>{"4", "5", "6"}));
  sp.Close();
  sp.Open();
  EXPECT_EQ(ReadRows(sp, {"TimeBegin", "Duration", "SeqNo", "PriceOpen", "PriceHigh", "PriceLow",
                          "Volume"})[0],
            (std::vector<std::string>{"2003/7/4 09:33:00", "60", "4", "1", "2", "0.5", "30"}));
}

TEST_P(Intervals, BackCountAddsTheLastEarlierRowsAcrossDays) {
  sp.ParamByName("@BackCount").SetAsInteger(2);
  EXPECT_EQ(Closes(), (std::vector<std::string>{"2", "3", "4", "5", "6"}));
  sp.ParamByName("@BackCount").SetAsInteger(4);
  EXPECT_EQ(Closes(), (std::vector<std::string>{"7", "1", "2", "3", "4", "5", "6"}));
  sp.ParamByName("@BackCount").SetAsInteger(100);
  EXPECT_EQ(Closes(), (std::vector<std::string>{"7", "1", "2", "3", "4", "5", "6"}));
}

TEST_P(Intervals, BackCountNullZeroOrNegativeAddsNothingAndIntervalIsIgnored) {
  const std::vector<std::string> plain = {"4", "5", "6"};
  EXPECT_EQ(Closes(), plain);
  sp.ParamByName("@BackCount").SetAsInteger(0);
  EXPECT_EQ(Closes(), plain);
  sp.ParamByName("@BackCount").SetAsInteger(-3);
  EXPECT_EQ(Closes(), plain);
  sp.ParamByName("@Interval").SetAsInteger(300);
  EXPECT_EQ(Closes(), plain);
}

TEST_P(Intervals, NoRowsOutsideTheData) {
  sp.ParamByName("@Symbol").SetAsString("XYZ");
  sp.ParamByName("@BackCount").SetAsInteger(5);
  EXPECT_TRUE(Closes().empty());
  sp.ParamByName("@Symbol").SetAsString("ABC");
  sp.ParamByName("@TimeFrom").SetAsDateTime(kDay + At(10, 0));
  sp.ParamByName("@TimeTo").SetAsDateTime(kDay + At(11, 0));
  sp.ParamByName("@BackCount").Clear();
  EXPECT_TRUE(Closes().empty());
}

class Sessions : public ProceduresTest {
 protected:
  Sessions() {
    stores.AddSessions({{"*", "13:00:00", "16:00:00"},
                        {"*", "09:30:00", "12:00:00"},
                        {"0005", "14:00:00", "15:00:00"},
                        {"0005", "10:00:00", "11:00:00"}});
    db.AliasName = "ardandata";
    sp.SetDatabase(&db);
    sp.StoredProcName = "QueryMarketSession;1";
    sp.DeclareParam("RETURN_VALUE", FieldType::kInteger, true);
    sp.DeclareParam("@Symbol", FieldType::kString);
  }
  Rows Call() {
    sp.Close();
    sp.Open();
    return ReadRows(sp, {"TimeOpen", "TimeClose"});
  }
  engine::TDatabase db;
  engine::TStoredProc sp;
};

TEST_P(Sessions, OwnSessionsOrderedByOpening) {
  sp.ParamByName("@Symbol").SetAsString("0005");
  EXPECT_EQ(Call(), (Rows{{"10:00:00", "11:00:00"}, {"14:00:00", "15:00:00"}}));
}

TEST_P(Sessions, FallBackToTheMarketDefaults) {
  const Rows defaults = {{"09:30:00", "12:00:00"}, {"13:00:00", "16:00:00"}};
  sp.ParamByName("@Symbol").SetAsString("0011");
  EXPECT_EQ(Call(), defaults);
  sp.ParamByName("@Symbol").Clear();  // never assigned: null
  EXPECT_EQ(Call(), defaults);
}

TEST_P(ProceduresTest, InitIsIdempotentAndKeepsRows) {
  stores.AddSessions({{"*", "09:30:00", "12:00:00"}});
  admin::InitStore("ardandata");
  admin::InitStore("ardandata");
  EXPECT_EQ(admintest::Select("ardandata", "select TimeOpen from MarketSession", {"TimeOpen"}),
            (Rows{{"09:30:00"}}));
}

TEST(SchemaText, EmbeddedProceduresUseNamedParameters) {
  EXPECT_NE(admin::SqliteProcedureBody("usp_Closing_Price").find(":From_Date"), std::string::npos);
  EXPECT_NE(admin::SqliteProcedureBody("queryintervals").find(":BackCount"), std::string::npos);
  EXPECT_EQ(admin::SqliteProcedureBody("nosuch"), "");
  EXPECT_EQ(admin::StoreKindOf("histdata"), admin::StoreKind::kTicks);
  EXPECT_EQ(admin::StoreKindOf("ARDANDATA"), admin::StoreKind::kArdan);
  EXPECT_EQ(admin::StoreKindOf("mydsn"), admin::StoreKind::kZet);
  EXPECT_TRUE(admin::SchemaFor(admin::StoreKind::kTicks, engine::AliasTarget::Driver::kSQLite)
                  .empty());
}

INSTANTIATE_TEST_SUITE_P(Stores, ProceduresTest, ::testing::ValuesIn(histtest::Backends()),
                         histtest::BackendName);
INSTANTIATE_TEST_SUITE_P(Stores, ClosingPrice, ::testing::ValuesIn(histtest::Backends()),
                         histtest::BackendName);
INSTANTIATE_TEST_SUITE_P(Stores, Intervals, ::testing::ValuesIn(histtest::Backends()),
                         histtest::BackendName);
INSTANTIATE_TEST_SUITE_P(Stores, Sessions, ::testing::ValuesIn(histtest::Backends()),
                         histtest::BackendName);

}  // namespace
