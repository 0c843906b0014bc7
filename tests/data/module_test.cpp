// The request module's components, its creation handler and its module
// database, over every available store kind.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "data/lookups.h"
#include "data/module.h"
#include "data/session_id.h"
#include "platform/rtl/datetime.h"
#include "service/hist.h"
#include "tests/support/store_fixture.h"

namespace hist {
namespace {

using Lines = std::vector<std::string>;

const Lines kConnectLines = {"begin keep connection", "connection", "Current Session",
                             "connected",             "valid Query", "IntervalQuery"};

TEST(ModuleComponentsTest, DeclaredAsTheModuleNeedsThem) {
  THistData m;
  EXPECT_EQ(m.HistDB.AliasName, "HISTDATA");
  EXPECT_TRUE(m.HistDB.ReadOnly);
  EXPECT_EQ(m.HistSQLDB.AliasName, "Historical");
  EXPECT_TRUE(m.HistSQLDB.ReadOnly);
  EXPECT_EQ(m.ARDANDB.AliasName, "ardandata");
  EXPECT_FALSE(m.ARDANDB.ReadOnly);
  for (engine::TDatabase* db : {&m.HistDB, &m.HistSQLDB, &m.ARDANDB}) {
    EXPECT_EQ(db->SessionName, m.SessionName);
  }
  EXPECT_EQ(m.HistSQLDB.Params, Lines({"USER NAME=sa", "PASSWORD="}));
  EXPECT_EQ(m.ARDANDB.Params, Lines({"USER NAME=sa", "PASSWORD="}));

  EXPECT_EQ(m.HistTable.Database(), &m.HistDB);

  EXPECT_EQ(m.HistSQLQuery.Database(), &m.HistSQLDB);
  EXPECT_EQ(m.HistSQLQuery.SQLCommaText(),
            "\"SELECT * FROM datastore WHERE\",\"stock_code = :Symbol AND\","
            "\"c_date >= :DateStart AND\",\"c_date <= :DateEnd\",\"order by c_date\"");
  EXPECT_EQ(m.HistSQLQuery.ParamByName("DateStart").DataType(), engine::FieldType::kDate);
  EXPECT_EQ(m.StockNameQuery.Database(), &m.HistSQLDB);
  EXPECT_EQ(m.StockNameQuery.SQL(), "select name_e, name_c from DailySymbol where Stock_code = :Symbol");
  EXPECT_EQ(m.StockNameQuery.ParamByName("symbol").DataType(), engine::FieldType::kString);

  struct Proc {
    engine::TStoredProc* proc;
    engine::TDatabase* db;
    const char* name;
    Lines params;
  };
  for (const Proc& p : {
           Proc{&m.spQueryDaily, &m.HistSQLDB, "usp_Closing_Price;1",
                {"@RETURN_VALUE", "@From_Symbol", "@To_Symbol", "@From_Date", "@To_Date", "@Adj"}},
           Proc{&m.spIntervalQuery, &m.ARDANDB, "QueryIntervals;1",
                {"RETURN_VALUE", "@Symbol", "@Interval", "@TimeFrom", "@TimeTo", "@BackCount"}},
           Proc{&m.spMarketSessionQuery, &m.ARDANDB, "QueryMarketSession;1",
                {"RETURN_VALUE", "@Symbol"}}}) {
    EXPECT_EQ(p.proc->Database(), p.db) << p.name;
    EXPECT_EQ(p.proc->StoredProcName, p.name);
    Lines names;
    for (size_t i = 0; i < p.proc->Params.Count(); ++i) names.push_back(p.proc->Params[i].Name());
    EXPECT_EQ(names, p.params) << p.name;
  }
  EXPECT_EQ(m.spQueryDaily.ParamByName("@From_Date").DataType(), engine::FieldType::kDateTime);
  EXPECT_EQ(m.spQueryDaily.ParamByName("@Adj").DataType(), engine::FieldType::kInteger);
  EXPECT_EQ(m.spIntervalQuery.ParamByName("@BackCount").DataType(), engine::FieldType::kInteger);

  // Nothing is made before the creation handler runs.
  EXPECT_EQ(m.FDatabase, nullptr);
  EXPECT_EQ(m.IntervalQuery, nullptr);
  EXPECT_EQ(m.FIsValidSymbolQuery, nullptr);
}

TEST(ModuleComponentsTest, SessionsAreNamedInOrderAndGivenBack) {
  auto first = std::make_unique<THistData>();
  auto second = std::make_unique<THistData>();
  EXPECT_EQ(first->SessionName, "HistSession_1");
  EXPECT_EQ(second->SessionName, "HistSession_2");
  EXPECT_EQ(second->HistDB.SessionName, "HistSession_2");
  first.reset();
  THistData third;
  EXPECT_EQ(third.SessionName, "HistSession_1");
}

// Every reader of a module's settings takes the same values from them: the
// creation handler's form logins, the DSN values DBInitConfig leaves (each
// read replacing all three) and the stores the operator's checks reach.
TEST(ModuleSettingsTest, EveryReaderTakesTheSameLogins) {
  histtest::StoreFixture stores;
  struct Case {
    const char* settings;  // the whole zet.ini
    engine::Credentials form;
    DSNValues dsn;
  } cases[] = {
      {"", {"sa", ""}, {"zetdata", "", ""}},
      {"[KORVA]\r\nDBUSER=reader\r\nDBPASSWORD=s3cret\r\n", {"reader", "s3cret"}, {}},
      {"[KORVA]\r\nDBUSER=\r\n", {"", ""}, {}},
      {"[ZET_DATABASE]\r\nDSN_source=\r\nDSN_user=bob\r\n", {"sa", ""}, {"zetdata", "bob", ""}},
      {"[zet_database]\r\ndsn_SOURCE=marketdb\r\nDSN_USER=reader\r\ndsn_password=pw=1\r\n",
       {"sa", ""}, {"marketdb", "reader", "pw=1"}},
      {"[ZET_DATABASE]\r\nDSN_password=x\r\n", {"sa", ""}, {"zetdata", "", "x"}},
  };
  for (const Case& k : cases) {
    stores.WriteSettingsFile(k.settings);
    SetDSN({"stale", "someone", "secret"});
    THistData m;
    m.WebModuleCreate();
    const Lines form = {"USER NAME=" + k.form.user, "PASSWORD=" + k.form.password};
    EXPECT_EQ(m.HistSQLDB.Params, form) << k.settings;
    EXPECT_EQ(m.ARDANDB.Params, form) << k.settings;

    const DSNValues dsn = CurrentDSN();
    EXPECT_EQ(dsn.source, k.dsn.source) << k.settings;
    EXPECT_EQ(dsn.user, k.dsn.user) << k.settings;
    EXPECT_EQ(dsn.password, k.dsn.password) << k.settings;

    // The module database logs in only when a user is named.
    const std::vector<StoreLogin> reached = ModuleStores();
    ASSERT_EQ(reached.size(), 4u);
    Lines logins;
    for (const StoreLogin& s : reached) {
      logins.push_back(s.alias + " " + s.credentials.user + " " + s.credentials.password);
    }
    const std::string module_password = k.dsn.user.empty() ? "" : k.dsn.password;
    EXPECT_EQ(logins, Lines({"HISTDATA  ", "Historical " + k.form.user + " " + k.form.password,
                             "ardandata " + k.form.user + " " + k.form.password,
                             k.dsn.source + " " + k.dsn.user + " " + module_password}))
        << k.settings;
  }
}

class ModuleCreateTest : public histtest::StoreTest {
 protected:
  void SetUp() override {
    stores.InitSqlStores();
    rtl::SetClockForTesting([] { return rtl::EncodeDate(2003, 7, 4) + rtl::EncodeTime(11, 35, 2, 0); });
    InitialSessionID();
    rtl::SetClockForTesting({});
  }
};

TEST_P(ModuleCreateTest, FirstTwoModulesGetTheirOwnSessionsAndDatabases) {
  THistData first, second;
  first.WebModuleCreate();
  second.WebModuleCreate();
  EXPECT_EQ(first.SessionName, "HistSession_1");
  EXPECT_EQ(second.SessionName, "HistSession_2");
  ASSERT_NE(first.FDatabase, nullptr);
  ASSERT_NE(second.FDatabase, nullptr);
  EXPECT_EQ(first.FDatabase->DatabaseName, "ordDB11350200000065");
  EXPECT_EQ(first.FDatabase->SessionName, "11350200000065");
  EXPECT_EQ(second.FDatabase->DatabaseName, "ordDB11350200000066");
  EXPECT_EQ(second.FDatabase->SessionName, "11350200000066");
  EXPECT_EQ(engine::CurrentSessionName(), "11350200000066");
  EXPECT_NE(first.FDatabase.get(), second.FDatabase.get());
}

TEST_P(ModuleCreateTest, WithoutSettingsEverythingTakesItsDefault) {
  THistData m;
  m.WebModuleCreate();
  EXPECT_EQ(m.HistSQLDB.Params, Lines({"USER NAME=sa", "PASSWORD="}));
  EXPECT_EQ(m.ARDANDB.Params, Lines({"USER NAME=sa", "PASSWORD="}));
  ASSERT_NE(m.FDatabase, nullptr);
  EXPECT_EQ(m.FDatabase->AliasName, "zetdata");
  EXPECT_TRUE(m.FDatabase->Params.empty());
  EXPECT_TRUE(m.FDatabase->KeepConnection);
  EXPECT_TRUE(m.FDatabase->Connected());
  ASSERT_NE(m.IntervalQuery, nullptr);
  ASSERT_NE(m.FIsValidSymbolQuery, nullptr);
  EXPECT_EQ(m.IntervalQuery->Database(), m.FDatabase.get());
  EXPECT_EQ(m.FIsValidSymbolQuery->Database(), m.FDatabase.get());
  EXPECT_NE(m.IntervalQuery.get(), m.FIsValidSymbolQuery.get());
  EXPECT_EQ(stores.ReadLogLines(), kConnectLines);
}

TEST_P(ModuleCreateTest, ADsnUserIsLoggedAndSentAsTheLogin) {
  stores.SetSetting("ZET_DATABASE", "DSN_user", "bob");
  stores.SetSetting("ZET_DATABASE", "DSN_password", "pw");
  THistData m;
  m.WebModuleCreate();
  Lines log = stores.ReadLogLines();
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log[0], "Using database zetdata user bob SessionID 11350200000065");
  EXPECT_EQ(log[1], "begin keep connection");
  if (GetParam() == histtest::Backend::kSQLite) {
    // The embedded store takes no login; the connection goes ahead with it.
    ASSERT_NE(m.FDatabase, nullptr);
    EXPECT_EQ(m.FDatabase->Params, Lines({"USER NAME=bob", "PASSWORD=pw"}));
    EXPECT_EQ(Lines(log.begin() + 1, log.end()), kConnectLines);
  } else {
    // The server knows no such user: the login really was sent.
    EXPECT_EQ(m.FDatabase, nullptr);
    EXPECT_EQ(log.back().rfind("Cannot connect to database ", 0), 0u) << log.back();
  }
}

TEST_P(ModuleCreateTest, AnotherSourceNamesTheModuleDatabase) {
  stores.SetSetting("ZET_DATABASE", "DSN_source", "Historical");
  THistData m;
  m.WebModuleCreate();
  ASSERT_NE(m.FDatabase, nullptr);
  EXPECT_EQ(m.FDatabase->AliasName, "Historical");
}

TEST_P(ModuleCreateTest, UnreachableModuleDatabaseLeavesTheFormUsable) {
  stores.RouteAlias("zetdata", "host=/nonexistent port=1");
  const double day = rtl::EncodeDate(2003, 7, 4);
  stores.AddTicks(day, {{"09:30:00", "0005", 1, 2, 1.5, 10, 100, 20}});

  THistData m;
  m.WebModuleCreate();
  EXPECT_EQ(m.FDatabase, nullptr);
  EXPECT_EQ(m.IntervalQuery, nullptr);
  EXPECT_EQ(m.FIsValidSymbolQuery, nullptr);
  Lines log = stores.ReadLogLines();
  ASSERT_EQ(log.size(), 4u);
  EXPECT_EQ(Lines(log.begin(), log.begin() + 3),
            Lines({"begin keep connection", "connection", "Current Session"}));
  const std::string prefix = "Cannot connect to database ";
  EXPECT_EQ(log[3].rfind(prefix, 0), 0u) << log[3];
  EXPECT_GT(log[3].size(), prefix.size()) << "the store's message is missing";

  // The form's own databases still serve the tick tables.
  m.HistTable.TableName = GetFileName(day);
  m.HistTable.Open();
  ASSERT_FALSE(m.HistTable.Eof());
  EXPECT_EQ(m.HistTable.FieldByName("Symbol").AsString(), "0005");
  EXPECT_EQ(m.HistSQLDB.Params, Lines({"USER NAME=sa", "PASSWORD="}));
}

TEST_P(ModuleCreateTest, DailyProcedureTakesItsDatesAsText) {
  const double d3 = rtl::EncodeDate(2003, 7, 3), d4 = rtl::EncodeDate(2003, 7, 4);
  stores.AddDaily({{d3 - 1, "0005", 9, 8, 8.5, 100, 850},
                   {d3 + 0.5, "0005", 10, 9, 9.5, 200, 1900},
                   {d4, "0005", 11, 10, 10.5, 300, 3150},
                   {d4, "0011", 21, 20, 20.5, 400, 8200},
                   {d4 + 1, "0005", 12, 11, 11.5, 500, 5750}});
  THistData m;
  m.spQueryDaily.ParamByName("@From_Symbol").SetAsString("0005");
  m.spQueryDaily.ParamByName("@To_Symbol").SetAsString("0005");
  // The daily generator hands the dates over as "mm/dd/yyyy" text.
  m.spQueryDaily.ParamByName("@From_Date").SetAsString("07/03/2003");
  m.spQueryDaily.ParamByName("@To_Date").SetAsString("07/04/2003");
  m.spQueryDaily.Open();
  std::vector<std::string> rows;
  for (; !m.spQueryDaily.Eof(); m.spQueryDaily.Next())
    rows.push_back(m.spQueryDaily.FieldByName("c_date").AsString() + " " +
                   m.spQueryDaily.FieldByName("stock_code").AsString() + " " +
                   m.spQueryDaily.FieldByName("closing").AsString());
  EXPECT_EQ(rows, Lines({"2003/7/3 12:00:00 0005 9.5", "2003/7/4 0005 10.5"}));
}

TEST_P(ModuleCreateTest, IntervalProcedureReadsBackBarsAndTheRange) {
  const double day = rtl::EncodeDate(2003, 7, 14);
  auto at = [day](int h, int n) { return day + rtl::EncodeTime(h, n, 0, 0); };
  stores.AddMinuteBars({{"0005", at(9, 30), 60, 1, 10, 11, 9, 10.5, 100},
                        {"0005", at(9, 31), 60, 2, 10.5, 12, 10, 11.5, 200},
                        {"0005", at(9, 32), 60, 3, 11.5, 12, 11, 11.75, 300},
                        {"0005", at(9, 33), 60, 4, 11.75, 13, 11, 12.5, 400},
                        {"0011", at(9, 31), 60, 1, 1, 1, 1, 1, 1}});
  THistData m;
  engine::TStoredProc& q = m.spIntervalQuery;
  q.ParamByName("@Symbol").SetAsString("0005");
  q.ParamByName("@TimeFrom").SetAsDateTime(at(9, 32));
  q.ParamByName("@TimeTo").SetAsDateTime(at(9, 33));
  q.ParamByName("@BackCount").SetAsInteger(1);
  q.Open();
  std::vector<int> seq;
  for (; !q.Eof(); q.Next()) seq.push_back(q.FieldByName("SeqNo").AsInteger());
  EXPECT_EQ(seq, std::vector<int>({2, 3, 4}));

  // Without a look-back count only the range itself.
  q.Close();
  q.ParamByName("@BackCount").Clear();
  q.Open();
  ASSERT_FALSE(q.Eof());
  EXPECT_EQ(CompareDouble(q.FieldByName("TimeBegin").AsDateTime(), at(9, 32)), 0);
  EXPECT_EQ(q.FieldByName("PriceClose").AsFloat(), 11.75);
}

TEST_P(ModuleCreateTest, SessionProcedureFallsBackToTheMarketDefault) {
  stores.AddSessions({{"*", "09:30:00", "12:00:00"},
                      {"*", "13:00:00", "16:00:00"},
                      {"0005", "10:00:00", "15:00:00"}});
  THistData m;
  auto opens = [&m](const std::string& symbol) {
    engine::TStoredProc& q = m.spMarketSessionQuery;
    q.Close();
    q.ParamByName("@Symbol").SetAsString(symbol);
    q.Open();
    std::vector<std::string> out;
    for (; !q.Eof(); q.Next())
      out.push_back(rtl::FormatDateTime("hh:nn", q.FieldByName("TimeOpen").AsDateTime()) + "-" +
                    rtl::FormatDateTime("hh:nn", q.FieldByName("TimeClose").AsDateTime()));
    return out;
  };
  EXPECT_EQ(opens("0005"), Lines({"10:00-15:00"}));
  EXPECT_EQ(opens("0011"), Lines({"09:30-12:00", "13:00-16:00"}));
}

TEST_P(ModuleCreateTest, IntervalQueryReadsTheIntervalTables) {
  stores.AddIntervals(60, {{"0005", "2003/07/14", "09:31:00", 2, 3, 1, 2.5, 20},
                           {"0005", "2003/07/14", "09:30:00", 1, 2, 0.5, 1.5, 10},
                           {"0005", "2003/07/15", "09:30:00", 5, 5, 5, 5, 5}});
  stores.AddIntervals(300, {{"0005", "2003/07/14", "09:30:00", 7, 8, 6, 7.5, 70}});
  THistData m;
  m.WebModuleCreate();
  ASSERT_NE(m.IntervalQuery, nullptr);
  engine::TQuery& q = *m.IntervalQuery;
  q.SetSQL("Select * FROM IntervalTable60 WHERE  Symbol = :Symbol AND Date = :Date order by Time");
  q.ParamByName("Symbol").SetAsString("0005");
  q.ParamByName("Date").SetAsString("2003/07/14");
  q.Open();
  Lines rows;
  for (; !q.Eof(); q.Next())
    rows.push_back(q.FieldByName("Date").AsString() + " " + q.FieldByName("Time").AsString() + " " +
                   q.FieldByName("Close").AsString());
  EXPECT_EQ(rows, Lines({"2003/07/14 09:30:00 1.5", "2003/07/14 09:31:00 2.5"}));
  q.Close();
  q.SetSQL("Select * FROM IntervalTable300 WHERE  Symbol = :Symbol AND Date = :Date order by Time");
  q.Open();  // the parameters keep their values across statements
  ASSERT_FALSE(q.Eof());
  EXPECT_EQ(q.FieldByName("Volume").AsFloat(), 70);
}

INSTANTIATE_TEST_SUITE_P(Stores, ModuleCreateTest, ::testing::ValuesIn(histtest::Backends()),
                         histtest::BackendName);

}  // namespace
}  // namespace hist
