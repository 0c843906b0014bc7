// What every driver must do behind the engine objects, run over each driver:
// SQLite always, PostgreSQL when HISTDATA_TEST_PG names a server (otherwise
// its instances are skipped, never passed). A driver joins by one line in
// kDrivers.
#include <algorithm>
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "platform/engine/engine.h"
#include "platform/rtl/datetime.h"
#include "tests/support/store_fixture.h"

namespace {

using engine::EDatabaseError;
using engine::FieldType;
using engine::TDatabase;
using engine::TQuery;
using engine::TStoredProc;
using engine::TTable;
using histtest::Backend;
using histtest::TickRow;

struct Driver {
  const char* name;
  Backend backend;
  const char* needs_env;  // the variable that must be set, or null
};

const Driver kDrivers[] = {
    {"SQLite", Backend::kSQLite, nullptr},
    {"PostgreSQL", Backend::kPostgres, "HISTDATA_TEST_PG"},
};

const rtl::TDateTime kDay = rtl::EncodeDate(2003, 7, 4);

double At(int h, int n, int s, int ms = 0) { return rtl::EncodeTime(h, n, s, ms); }

class EngineConformance : public ::testing::TestWithParam<Driver> {
 protected:
  void SetUp() override {
    const Driver& d = GetParam();
    if (d.needs_env != nullptr && std::getenv(d.needs_env) == nullptr) {
      GTEST_SKIP() << d.name << " needs " << d.needs_env;
    }
    stores = std::make_unique<histtest::StoreFixture>(d.backend);
    hist.AliasName = "HISTDATA";
    hist.ReadOnly = true;
    table.SetDatabase(&hist);
    table.TableName = "hist030704";
  }

  // ABC and abc interleave by time and ID within the one case-folded symbol.
  void AddMixedCaseTicks() {
    stores->AddTicks(kDay, {
                               {"09:30:00", "ABC", 1, 1.5, 1.25},   // ID 1
                               {"09:31:00", "abc", 2, 2.5, 2.25},   // ID 2
                               {"09:32:00", "ABC", 3, 3.5, 3.25},   // ID 3
                               {"09:30:00", "abc", 4, 4.5, 4.25},   // ID 4
                               {"09:00:00", "ABD", 5, 5.5, 5.25},   // ID 5
                               {"10:00:00", "ABB", 6, 6.5, 6.25},   // ID 6
                           });
  }

  std::vector<int> RemainingIds() {
    std::vector<int> ids;
    while (!table.Eof()) {
      ids.push_back(table.FieldByName("ID").AsInteger());
      table.Next();
    }
    return ids;
  }

  std::unique_ptr<histtest::StoreFixture> stores;
  TDatabase hist;
  TTable table;
};

TEST_P(EngineConformance, NearestKeyInterleavesCasesByTimeThenId) {
  AddMixedCaseTicks();
  table.Open();
  table.FindNearest("abc", At(9, 30, 0));
  EXPECT_EQ(RemainingIds(), (std::vector<int>{1, 4, 2, 3, 5}));
  table.FindNearest("ABC", At(9, 30, 30));
  EXPECT_EQ(table.FieldByName("ID").AsInteger(), 2);
  EXPECT_EQ(table.FieldByName("Symbol").AsString(), "abc");
  table.FindNearest("aBc", At(9, 32, 0));
  EXPECT_EQ(table.FieldByName("ID").AsInteger(), 3);
}

TEST_P(EngineConformance, SymbolKeyLandsOnTheSymbolsFirstRow) {
  AddMixedCaseTicks();
  table.Open();
  table.FindNearest("ABD");
  EXPECT_EQ(RemainingIds(), (std::vector<int>{5}));
  table.FindNearest("abc");
  EXPECT_EQ(table.FieldByName("ID").AsInteger(), 1);
  // A symbol between two others lands on the next one.
  table.FindNearest("ABBA");
  EXPECT_EQ(table.FieldByName("ID").AsInteger(), 1);
  // So does a time after the symbol's last row: the next symbol from its start.
  table.FindNearest("ABB", At(10, 0, 1));
  EXPECT_EQ(table.FieldByName("ID").AsInteger(), 1);
  // The searched symbol has no row of its own after the time; ABD follows.
  table.FindNearest("abc", At(9, 32, 0, 1));
  EXPECT_EQ(RemainingIds(), (std::vector<int>{5}));
}

TEST_P(EngineConformance, KeyPastTheEndLeavesTheTableAtEof) {
  AddMixedCaseTicks();
  table.Open();
  table.FindNearest("ZZZ");
  EXPECT_TRUE(table.Eof());
  table.FindNearest("ABD", At(9, 0, 1));
  EXPECT_TRUE(table.Eof());
  // A later search finds rows again.
  table.FindNearest("ABB");
  ASSERT_FALSE(table.Eof());
  EXPECT_EQ(table.FieldByName("ID").AsInteger(), 6);
}

TEST_P(EngineConformance, OpenWithoutSearchReadsFromTheFirstRowInIndexOrder) {
  AddMixedCaseTicks();
  table.Open();
  EXPECT_EQ(RemainingIds(), (std::vector<int>{6, 1, 4, 2, 3, 5}));
}

TEST_P(EngineConformance, PresenceIsTestedWithoutOpening) {
  AddMixedCaseTicks();
  EXPECT_TRUE(table.Exists());
  EXPECT_FALSE(table.Active());
  table.TableName = "hist030705";
  EXPECT_FALSE(table.Exists());
  EXPECT_THROW(table.Open(), engine::EDBEngineError);
  EXPECT_FALSE(table.Active());
}

TEST_P(EngineConformance, DayTablesAreListedInOneLook) {
  EXPECT_TRUE(table.DayTableNames().empty());
  stores->AddTicks(kDay, {{At(9, 0, 0), "X"}});
  stores->AddTicks(rtl::EncodeDate(1999, 12, 31), {{At(9, 0, 0), "X"}});
  // Tables of the other stores are not day tables.
  stores->AddNames({{"X", "x", "x"}});
  std::vector<std::string> names = table.DayTableNames();
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"hist030704", "hist991231"}));
}

TEST_P(EngineConformance, RowCountAnswersTheMoreThanTenQuestion) {
  std::vector<TickRow> rows;
  for (int i = 0; i < 10; ++i) rows.push_back({At(9, 0, i), "X"});
  stores->AddTicks(kDay, rows);
  table.Open();
  EXPECT_EQ(table.RecordCount(11), 10);
  table.Close();
  stores->AddTicks(kDay, {{At(10, 0, 0), "Y"}});
  table.Open();
  EXPECT_EQ(table.RecordCount(11), 11);
  EXPECT_EQ(table.RecordCount(3), 3);
  EXPECT_EQ(table.RecordCount(), 11);
}

TEST_P(EngineConformance, TickFieldsReadAsTheirTypes) {
  stores->AddTicks(kDay, {{"09:30:01.250", "0005", std::nullopt, 10.1, 10.05, 2.5, 1000, 3.5}});
  table.Open();
  table.FindNearest("0005");
  ASSERT_FALSE(table.Eof());
  EXPECT_EQ(table.FieldByName("Date").AsString(), "2003/7/4");
  EXPECT_EQ(table.FieldByName("date").DataType(), FieldType::kDate);
  EXPECT_EQ(table.FieldByName("Time").AsString(), "09:30:01");
  EXPECT_DOUBLE_EQ(table.FieldByName("Time").AsDateTime(), At(9, 30, 1, 250));
  EXPECT_TRUE(table.FieldByName("Bid").IsNull());
  EXPECT_EQ(table.FieldByName("Bid").AsString(), "");
  EXPECT_EQ(table.FieldByName("Bid").AsFloat(), 0);
  EXPECT_EQ(table.FieldByName("Price").AsString(), "10.05");
  EXPECT_EQ(table.FieldByName("BidSize").AsInteger(), 2);    // half to even
  EXPECT_EQ(table.FieldByName("OfferSize").AsInteger(), 4);  // half to even
  EXPECT_EQ(table.FieldByName("Volume").AsString(), "1000");
  EXPECT_EQ(table.FieldByName("Symbol").AsStringView(), "0005");
}

TEST_P(EngineConformance, ClosedDatasetRefusesReading) {
  AddMixedCaseTicks();
  try {
    table.Eof();
    FAIL() << "Eof on a closed table";
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Cannot perform this operation on a closed dataset");
  }
  EXPECT_THROW(table.RecordCount(), EDatabaseError);
  EXPECT_THROW(table.Next(), EDatabaseError);
  table.Open();
  engine::TField& id = table.FieldByName("ID");
  EXPECT_EQ(id.AsInteger(), 6);
  table.Close();
  try {
    id.AsInteger();
    FAIL() << "field of a closed table";
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), engine::kClosedDatasetMessage);
  }
}

TEST_P(EngineConformance, ClosingTheDatabaseClosesItsDatasetsAndReopenReconnects) {
  AddMixedCaseTicks();
  table.Open();
  EXPECT_TRUE(hist.Connected());
  hist.Close();
  EXPECT_FALSE(hist.Connected());
  EXPECT_FALSE(table.Active());
  table.Open();
  EXPECT_TRUE(hist.Connected());
  table.FindNearest("ABD");
  EXPECT_EQ(table.FieldByName("ID").AsInteger(), 5);
}

TEST_P(EngineConformance, ReopenedDatabaseTakesThePooledConnection) {
  AddMixedCaseTicks();
  hist.Open();
  engine::Connection* first = &hist.connection();
  hist.Close();
  hist.Open();
  EXPECT_EQ(&hist.connection(), first);
  // A second database open at the same time needs a connection of its own.
  TDatabase other;
  other.AliasName = "histdata";
  other.Open();
  EXPECT_NE(&other.connection(), first);
}

TEST_P(EngineConformance, QueryParametersMatchAnyCase) {
  stores->AddNames({{"0005", "HSBC", "name c"}, {"0011", "Hang Seng Bank", std::nullopt}});
  TDatabase db;
  db.AliasName = "Historical";
  TQuery q(&db);
  q.SetSQL("select name_e, name_c from DailySymbol where Stock_code = :Symbol");
  q.ParamByName("SYMBOL").SetAsString("0011");
  q.Open();
  ASSERT_FALSE(q.Eof());
  EXPECT_EQ(q.FieldByName("NAME_E").AsString(), "Hang Seng Bank");
  EXPECT_EQ(q.FieldByName("name_c").AsString(), "");
  q.Next();
  EXPECT_TRUE(q.Eof());
  q.Close();
  q.ParamByName("symbol").SetAsString("0005");
  q.Open();
  EXPECT_EQ(q.FieldByName("name_c").AsString(), "name c");
}

TEST_P(EngineConformance, UnknownParameterIsNamedInTheError) {
  stores->AddNames({{"0005", "HSBC", "x"}});
  TDatabase db;
  db.AliasName = "Historical";
  TQuery q(&db);
  q.SetSQL("select name_e from DailySymbol");
  try {
    q.ParamByName("Symbol");
    FAIL() << "no such parameter";
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Parameter 'Symbol' not found");
  }
}

TEST_P(EngineConformance, SameParameterTwiceTakesOneValue) {
  stores->AddSymbols({{"AAA", "1"}, {"BBB", "0"}, {"CCC", "1"}});
  TDatabase db;
  db.AliasName = "zetdata";
  TQuery q(&db);
  q.SetSQL("select symbol from symbolTable where symbol = :s or (symbol > :s and isValid = '1') order by symbol");
  EXPECT_EQ(q.Params.Count(), 1u);
  q.ParamByName("S").SetAsString("BBB");
  q.Open();
  std::vector<std::string> got;
  for (; !q.Eof(); q.Next()) got.push_back(q.FieldByName("symbol").AsString());
  EXPECT_EQ(got, (std::vector<std::string>{"BBB", "CCC"}));
}

TEST_P(EngineConformance, StoreErrorsAreEngineErrors) {
  stores->InitSqlStores();
  TDatabase db;
  db.AliasName = "zetdata";
  TQuery q(&db);
  q.SetSQL("select * from NoSuchTable");
  EXPECT_THROW(q.Open(), engine::EDBEngineError);
  EXPECT_FALSE(q.Active());
}

// --- Procedures ---------------------------------------------------------------

std::vector<std::string> Column(engine::TDataSet& ds, const char* field) {
  std::vector<std::string> out;
  for (; !ds.Eof(); ds.Next()) out.push_back(ds.FieldByName(field).AsString());
  return out;
}

TEST_P(EngineConformance, MarketSessionFallsBackToTheDefaultSessions) {
  stores->AddSessions({{"*", "09:30:00", "12:00:00"},
                       {"*", "13:00:00", "16:00:00"},
                       {"0005", "14:00:00", "15:00:00"},
                       {"0005", "10:00:00", "11:00:00"}});
  TDatabase db;
  db.AliasName = "ardandata";
  TStoredProc sp(&db);
  sp.StoredProcName = "QueryMarketSession;1";
  sp.DeclareParam("RETURN_VALUE", FieldType::kInteger, true);
  sp.DeclareParam("@Symbol", FieldType::kString);
  sp.ParamByName("@Symbol").SetAsString("0005");
  sp.Open();
  EXPECT_EQ(Column(sp, "TimeOpen"), (std::vector<std::string>{"10:00:00", "14:00:00"}));
  sp.Close();
  sp.ParamByName("@symbol").SetAsString("0011");
  sp.Open();
  EXPECT_EQ(Column(sp, "TimeClose"), (std::vector<std::string>{"12:00:00", "16:00:00"}));
}

class IntervalsProc : public EngineConformance {
 protected:
  void AddBars() {
    std::vector<histtest::MinuteBarRow> bars;
    for (int m = 0; m < 6; ++m) {
      bars.push_back({"0005", kDay + At(10, m, 0), 60, m, 1, 2, 0.5, 1.5 + m, 100});
    }
    bars.push_back({"0011", kDay + At(10, 2, 0), 60, 0, 1, 1, 1, 1, 1});
    stores->AddMinuteBars(bars);
    db.AliasName = "ardandata";
    sp.SetDatabase(&db);
    sp.StoredProcName = "QueryIntervals;1";
    sp.DeclareParam("RETURN_VALUE", FieldType::kInteger, true);
    sp.DeclareParam("@Symbol", FieldType::kString);
    sp.DeclareParam("@Interval", FieldType::kInteger);
    sp.DeclareParam("@TimeFrom", FieldType::kDateTime);
    sp.DeclareParam("@TimeTo", FieldType::kDateTime);
    sp.DeclareParam("@BackCount", FieldType::kInteger);
    sp.ParamByName("@Symbol").SetAsString("0005");
    sp.ParamByName("@TimeFrom").SetAsDateTime(kDay + At(10, 3, 0));
    sp.ParamByName("@TimeTo").SetAsDateTime(kDay + At(10, 4, 0));
  }
  TDatabase db;
  TStoredProc sp;
};

TEST_P(IntervalsProc, BackCountAddsEarlierBarsInAscendingOrder) {
  AddBars();
  sp.ParamByName("@BackCount").SetAsInteger(2);
  sp.Open();
  EXPECT_EQ(Column(sp, "SeqNo"), (std::vector<std::string>{"1", "2", "3", "4"}));
}

TEST_P(IntervalsProc, UnassignedBackCountAddsNothing) {
  AddBars();
  sp.Open();
  EXPECT_EQ(Column(sp, "TimeBegin"),
            (std::vector<std::string>{"2003/7/4 10:03:00", "2003/7/4 10:04:00"}));
}

TEST_P(EngineConformance, ClosingPricesCoverTheDateRangeInclusive) {
  stores->AddDaily({{kDay - 1, "0005", 1, 1, 10},
                    {kDay, "0011", 1, 1, 20},
                    {kDay, "0005", 1, 1, 30},
                    {kDay + 1, "0005", 1, 1, 40},
                    {kDay + 2, "0005", 1, 1, 50},
                    {kDay, "0388", 1, 1, 60}});
  TDatabase db;
  db.AliasName = "Historical";
  TStoredProc sp(&db);
  sp.StoredProcName = "usp_Closing_Price;1";
  sp.DeclareParam("@RETURN_VALUE", FieldType::kInteger, true);
  sp.DeclareParam("@From_Symbol", FieldType::kString);
  sp.DeclareParam("@To_Symbol", FieldType::kString);
  sp.DeclareParam("@From_Date", FieldType::kDateTime);
  sp.DeclareParam("@To_Date", FieldType::kDateTime);
  sp.DeclareParam("@Adj", FieldType::kInteger);
  sp.ParamByName("@From_Symbol").SetAsString("0005");
  sp.ParamByName("@To_Symbol").SetAsString("0011");
  sp.ParamByName("@From_Date").SetAsString("07/04/2003");
  sp.ParamByName("@To_Date").SetAsString("07/05/2003");
  sp.Open();
  EXPECT_EQ(Column(sp, "closing"), (std::vector<std::string>{"30", "20", "40"}));
}

std::string DriverName(const ::testing::TestParamInfo<Driver>& info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(Drivers, EngineConformance, ::testing::ValuesIn(kDrivers), DriverName);
INSTANTIATE_TEST_SUITE_P(Drivers, IntervalsProc, ::testing::ValuesIn(kDrivers), DriverName);

}  // namespace
