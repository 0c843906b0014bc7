// The PostgreSQL driver against a live server: HISTDATA_TEST_PG names one
// where the user may create databases (scripts/test.sh starts a throwaway
// cluster). Each test works in a database of its own, dropped afterwards.
#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "platform/engine/aliases.h"
#include "platform/engine/driver.h"
#include "platform/engine/errors.h"
#include "platform/engine/pool.h"
#include "platform/engine/postgres/pg_cursors.h"
#include "platform/engine/postgres/postgres_driver.h"
#include "platform/engine/sql_text.h"
#include "platform/rtl/datetime.h"

namespace engine {
namespace {

using PgConn = std::unique_ptr<PGconn, decltype(&PQfinish)>;
using PgRes = std::unique_ptr<PGresult, decltype(&PQclear)>;

const char* TestServer() {
  const char* v = std::getenv("HISTDATA_TEST_PG");
  return v != nullptr && *v != '\0' ? v : nullptr;
}

// A libpq session of the test itself, beside the driver's.
class Admin {
 public:
  explicit Admin(const std::string& conninfo) : conn_(PQconnectdb(conninfo.c_str()), &PQfinish) {
    if (PQstatus(conn_.get()) != CONNECTION_OK) ADD_FAILURE() << PQerrorMessage(conn_.get());
  }
  // The first value of the first row; fails the test on an error.
  std::string Value(const std::string& sql) {
    PgRes r(PQexec(conn_.get(), sql.c_str()), &PQclear);
    const ExecStatusType s = PQresultStatus(r.get());
    if (s != PGRES_TUPLES_OK && s != PGRES_COMMAND_OK) {
      ADD_FAILURE() << sql << ": " << PQerrorMessage(conn_.get());
      return "";
    }
    return PQntuples(r.get()) > 0 ? PQgetvalue(r.get(), 0, 0) : "";
  }

 private:
  PgConn conn_;
};

class PgDriverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (TestServer() == nullptr) GTEST_SKIP() << "HISTDATA_TEST_PG is not set";
    static std::atomic<int> serial{0};
    database_ = "pgdriver_" + std::to_string(getpid()) + "_" + std::to_string(++serial);
    Admin(TestServer()).Value("CREATE DATABASE " + database_);
    // A later keyword of a connection string overrides an earlier one.
    target_.driver = AliasTarget::Driver::kPostgres;
    target_.location = std::string(TestServer()) + " dbname=" + database_;
  }
  void TearDown() override {
    if (database_.empty()) return;
    DropPooledConnections();
    Admin(TestServer()).Value("DROP DATABASE IF EXISTS " + database_ + " WITH (FORCE)");
  }

  std::unique_ptr<Connection> Connect(bool writable = false) { return ConnectPostgres(target_, {}, writable); }

  static std::vector<std::vector<Value>> ReadAll(Cursor& cursor) {
    std::vector<std::vector<Value>> rows;
    std::vector<Value> row;
    while (cursor.Next(row)) rows.push_back(row);
    return rows;
  }

  static std::unique_ptr<Cursor> RunQuery(Connection& c, const std::string& text,
                                          const std::vector<BoundParam>& params = {}) {
    return c.Query(ParseNamedParameters(text).statement, params);
  }

  // Ticks of one day table: symbol, time "hh:nn:ss.zzz", price; ids 1, 2, ...
  struct Tick {
    std::string symbol;
    std::string time;
    double price;
  };
  static void LoadTicks(Connection& w, const std::string& table, const std::vector<Tick>& ticks) {
    w.CreateTickTable(table);
    w.Begin();
    {
      auto ins = w.PrepareInsert(table, {"ID", "Date", "Time", "Symbol", "Price"});
      int64_t id = 0;
      for (const Tick& t : ticks) {
        ins->Insert({Value::Int(++id), Value::Float(rtl::EncodeDate(2003, 7, 4)),
                     Value::Float(rtl::StrToTime(t.time)), Value::Text(t.symbol), Value::Float(t.price)});
      }
    }
    w.Commit();
  }

  // symbol|time of each row a cursor gives.
  static std::vector<std::string> Keys(Cursor& cursor, size_t limit = SIZE_MAX) {
    std::vector<std::string> keys;
    std::vector<Value> row;
    while (keys.size() < limit && cursor.Next(row)) {
      keys.push_back(row[3].s + "|" + rtl::FormatDateTime("hh:nn:ss.zzz", row[2].d) + "|" +
                     std::to_string(row[0].i));
    }
    return keys;
  }

  std::string database_;
  AliasTarget target_;
};

TEST_F(PgDriverTest, ConnectFailureCarriesTheServerMessage) {
  AliasTarget nowhere = target_;
  nowhere.location = "host=/nonexistent-histdata port=1";
  try {
    ConnectPostgres(nowhere, {}, false);
    FAIL() << "connected to nothing";
  } catch (const EDBEngineError& e) {
    const std::string m = e.what();
    EXPECT_NE(m.find("/nonexistent-histdata"), std::string::npos) << m;
    EXPECT_EQ(m.find('\n'), std::string::npos) << m;
    EXPECT_NE(m.back(), ' ');
  }
  AliasTarget missing = target_;
  missing.location = std::string(TestServer()) + " dbname=no_such_histdata_db";
  try {
    ConnectPostgres(missing, {}, false);
    FAIL() << "connected to a missing database";
  } catch (const EDBEngineError& e) {
    EXPECT_NE(std::string(e.what()).find("database \"no_such_histdata_db\" does not exist"), std::string::npos)
        << e.what();
  }
  // The database's login overrides the connection string's user.
  try {
    ConnectPostgres(target_, {"no_such_histdata_role", "secret"}, false);
    FAIL() << "connected as an unknown role";
  } catch (const EDBEngineError& e) {
    EXPECT_NE(std::string(e.what()).find("\"no_such_histdata_role\""), std::string::npos) << e.what();
  }
  // Statement failures carry the server's primary message alone.
  auto c = Connect();
  try {
    RunQuery(*c, "SELECT * FROM no_such_table");
    FAIL() << "queried a missing table";
  } catch (const EDBEngineError& e) {
    EXPECT_STREQ(e.what(), "relation \"no_such_table\" does not exist");
  }
  EXPECT_TRUE(c->Healthy());
}

TEST_F(PgDriverTest, MapsColumnTypesAndConvertsDatesAndTimes) {
  auto w = Connect(true);
  w->ExecuteScript(
      "CREATE TABLE t (i2 int2, i4 integer, i8 bigint, f4 float4, f8 float8, n numeric(12,4), tx text, "
      "vc varchar(10), bp char(5), d date, tm time(3), ts timestamp, tz timestamptz, b boolean);"
      "INSERT INTO t VALUES (-2, 40000, 5000000000, 1.5, 0.1, 12.3456, 'caf\xc3\xa9', 'v', 'ab', "
      "'2003-07-04', '10:30:15.125', '2003-07-04 23:59:59.999', '1999-12-31 08:00:00+00', true);");
  auto c = Connect();
  auto cursor = RunQuery(*c, "SELECT * FROM t");
  const std::vector<Column>& cols = cursor->columns();
  ASSERT_EQ(cols.size(), 14u);
  const FieldType expected[] = {FieldType::kInteger, FieldType::kInteger,  FieldType::kInteger,
                                FieldType::kFloat,   FieldType::kFloat,    FieldType::kFloat,
                                FieldType::kString,  FieldType::kString,   FieldType::kString,
                                FieldType::kDate,    FieldType::kTime,     FieldType::kDateTime,
                                FieldType::kDateTime, FieldType::kString};
  for (size_t i = 0; i < cols.size(); ++i) EXPECT_EQ(cols[i].type, expected[i]) << cols[i].name;
  EXPECT_EQ(cols[0].name, "i2");
  std::vector<Value> row;
  ASSERT_TRUE(cursor->Next(row));
  EXPECT_EQ(row[0].i, -2);
  EXPECT_EQ(row[1].i, 40000);
  EXPECT_EQ(row[2].i, 5000000000);
  EXPECT_EQ(row[3].d, 1.5);
  EXPECT_EQ(row[4].d, 0.1);  // shortest exact text round-trips
  EXPECT_EQ(row[5].d, 12.3456);
  EXPECT_EQ(row[6].s, "caf\xc3\xa9");
  EXPECT_EQ(row[7].s, "v");
  EXPECT_EQ(row[8].s, "ab   ");
  EXPECT_EQ(row[9].d, rtl::EncodeDate(2003, 7, 4));
  EXPECT_EQ(row[10].d, rtl::EncodeTime(10, 30, 15, 125));
  EXPECT_EQ(row[11].d, rtl::EncodeDate(2003, 7, 4) + rtl::EncodeTime(23, 59, 59, 999));
  EXPECT_EQ(rtl::FormatDateTime("yyyy/mm/dd hh:nn:ss.zzz", row[12].d).substr(0, 10), "1999/12/31");
  EXPECT_EQ(row[13].s, "t");
  EXPECT_FALSE(cursor->Next(row));
}

TEST_F(PgDriverTest, NamedParametersBecomePositionalAndDateTimesTravelAsIso) {
  auto w = Connect(true);
  w->ExecuteScript(
      "CREATE TABLE datastore (c_date timestamp, stock_code text, closing float8);"
      "INSERT INTO datastore VALUES ('2003-07-03', '0005', 1), ('2003-07-04', '0005', 2),"
      " ('2003-07-07', '0005', 3), ('2003-07-04', '0006', 4), ('2003-07-04 12:00', '0005', 5);");
  auto c = Connect();
  const std::string sql =
      "SELECT * FROM datastore WHERE\nstock_code = :Symbol AND\nc_date >= :DateStart AND\n"
      "c_date <= :DateEnd\norder by c_date";
  auto run = [&](double from, double to) {
    std::vector<double> closes;
    auto cursor = RunQuery(*c, sql,
                           {{"Symbol", FieldType::kString, Value::Text("0005")},
                            {"DateStart", FieldType::kDate, Value::Float(from)},
                            {"DateEnd", FieldType::kDate, Value::Float(to)}});
    for (const auto& r : ReadAll(*cursor)) closes.push_back(r[2].d);
    return closes;
  };
  EXPECT_EQ(run(rtl::EncodeDate(2003, 7, 4), rtl::EncodeDate(2003, 7, 7)), (std::vector<double>{2, 5, 3}));
  // The same text again: the prepared statement with new values.
  EXPECT_EQ(run(rtl::EncodeDate(2003, 7, 1), rtl::EncodeDate(2003, 7, 4)), (std::vector<double>{1, 2}));
  EXPECT_EQ(run(rtl::EncodeDate(2003, 7, 4) + 0.25, rtl::EncodeDate(2003, 7, 4) + 0.5),
            (std::vector<double>{5}));
  // Text that looks like SQL is only a value.
  auto cursor = RunQuery(*c, "SELECT count(*) FROM datastore WHERE stock_code = :s",
                         {{"s", FieldType::kString, Value::Text("0005' OR '1'='1")}});
  EXPECT_EQ(ReadAll(*cursor)[0][0].i, 0);
  // A quoted ":name" is not a parameter; "::" is a cast.
  cursor = RunQuery(*c, "SELECT ':x' AS a, :y::int + 1 AS b", {{"y", FieldType::kInteger, Value::Int(41)}});
  auto rows = ReadAll(*cursor);
  EXPECT_EQ(rows[0][0].s, ":x");
  EXPECT_EQ(rows[0][1].i, 42);
  EXPECT_THROW(c->Query(ParseNamedParameters("SELECT :a").statement, {}), EDBEngineError);
}

TEST_F(PgDriverTest, NullsTravelBothWays) {
  auto c = Connect();
  auto cursor = RunQuery(*c, "SELECT :a::text IS NULL, :b::int IS NULL, NULL::float8, NULL::date, NULL::text",
                         {{"a", FieldType::kString, Value::Null()}, {"b", FieldType::kDateTime, Value::Null()}});
  auto rows = ReadAll(*cursor);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][0].s, "t");
  EXPECT_EQ(rows[0][1].s, "t");
  EXPECT_TRUE(rows[0][2].is_null());
  EXPECT_TRUE(rows[0][3].is_null());
  EXPECT_TRUE(rows[0][4].is_null());
}

TEST_F(PgDriverTest, CallsProceduresAsFunctions) {
  auto w = Connect(true);
  w->ExecuteScript(
      "CREATE TABLE marketsession (symbol text, timeopen time, timeclose time);"
      "INSERT INTO marketsession VALUES ('*', '09:30', '12:00'), ('*', '13:00', '16:00'), "
      "('0005', '10:00', '15:00');"
      "CREATE FUNCTION querymarketsession(symbol text) RETURNS TABLE(timeopen time, timeclose time) "
      "LANGUAGE sql STABLE AS $$ "
      "SELECT m.timeopen, m.timeclose FROM marketsession m WHERE m.symbol = $1 "
      "UNION ALL SELECT m.timeopen, m.timeclose FROM marketsession m WHERE m.symbol = '*' "
      "AND NOT EXISTS (SELECT 1 FROM marketsession x WHERE x.symbol = $1) ORDER BY 1 $$;"
      "CREATE FUNCTION echo(a text, n integer, t timestamp) RETURNS TABLE(a text, n integer, t timestamp) "
      "LANGUAGE sql AS $$ SELECT $1, $2, $3 $$;");
  auto c = Connect();
  auto cursor = c->CallProcedure("QueryMarketSession", {{"Symbol", FieldType::kString, Value::Text("0005")}});
  ASSERT_EQ(cursor->columns().size(), 2u);
  EXPECT_EQ(cursor->columns()[0].name, "timeopen");
  EXPECT_EQ(cursor->columns()[0].type, FieldType::kTime);
  auto rows = ReadAll(*cursor);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][0].d, rtl::EncodeTime(10, 0, 0, 0));
  rows = ReadAll(*c->CallProcedure("QueryMarketSession", {{"Symbol", FieldType::kString, Value::Text("9999")}}));
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[1][1].d, rtl::EncodeTime(16, 0, 0, 0));
  // Never-assigned parameters arrive as null; date-times as ISO text.
  rows = ReadAll(*c->CallProcedure("echo", {{"a", FieldType::kString, Value::Null()},
                                            {"n", FieldType::kInteger, Value::Null()},
                                            {"t", FieldType::kDateTime,
                                             Value::Float(rtl::EncodeDate(2003, 7, 4) + rtl::EncodeTime(9, 30, 0, 0))}}));
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_TRUE(rows[0][0].is_null());
  EXPECT_TRUE(rows[0][1].is_null());
  EXPECT_EQ(rows[0][2].d, rtl::EncodeDate(2003, 7, 4) + rtl::EncodeTime(9, 30, 0, 0));
  try {
    c->CallProcedure("no_such_proc", {{"a", FieldType::kString, Value::Text("x")}});
    FAIL() << "called a missing procedure";
  } catch (const EDBEngineError& e) {
    EXPECT_NE(std::string(e.what()).find("no_such_proc"), std::string::npos) << e.what();
  }
}

TEST_F(PgDriverTest, TickTablePresenceSearchAndCount) {
  auto w = Connect(true);
  LoadTicks(*w, "hist030704",
            {{"abc", "09:30:00", 1}, {"ABC", "09:30:00", 2}, {"ABC", "09:31:00", 3}, {"abc", "09:30:30", 4},
             {"ABD", "09:00:00", 5}, {"AB", "16:00:00", 6}, {"Abc", "09:30:15.500", 7}});
  auto c = Connect();
  EXPECT_TRUE(c->TableExists("hist030704"));
  EXPECT_TRUE(c->TableExists("HIST030704"));
  EXPECT_FALSE(c->TableExists("hist030705"));
  EXPECT_FALSE(c->TableExists("hist030704\"; DROP TABLE hist030704; --"));
  EXPECT_FALSE(c->TableExists("a b"));
  EXPECT_TRUE(c->TableExists("hist030704"));

  // ABC, abc and Abc interleave by time, then by id.
  auto cursor = c->SeekTicks("hist030704", "aBc", false, 0);
  ASSERT_EQ(cursor->columns().size(), 10u);
  for (size_t i = 0; i < 10; ++i) EXPECT_EQ(cursor->columns()[i].name, kTickColumns[i]);
  EXPECT_EQ(cursor->columns()[0].type, FieldType::kInteger);
  EXPECT_EQ(cursor->columns()[1].type, FieldType::kDate);
  EXPECT_EQ(cursor->columns()[2].type, FieldType::kTime);
  EXPECT_EQ(cursor->columns()[3].type, FieldType::kString);
  EXPECT_EQ(cursor->columns()[6].type, FieldType::kFloat);
  EXPECT_EQ(Keys(*cursor), (std::vector<std::string>{"abc|09:30:00.000|1", "ABC|09:30:00.000|2",
                                                     "Abc|09:30:15.500|7", "abc|09:30:30.000|4",
                                                     "ABC|09:31:00.000|3", "ABD|09:00:00.000|5"}));
  // With a time: from the first row at or after it.
  cursor = c->SeekTicks("hist030704", "ABC", true, rtl::EncodeTime(9, 30, 15, 500));
  EXPECT_EQ(Keys(*cursor, 2), (std::vector<std::string>{"Abc|09:30:15.500|7", "abc|09:30:30.000|4"}));
  cursor = c->SeekTicks("hist030704", "abc", true, rtl::EncodeTime(9, 30, 15, 501));
  EXPECT_EQ(Keys(*cursor, 1), (std::vector<std::string>{"abc|09:30:30.000|4"}));
  // "AB" sorts before "ABC"; a key between symbols lands on the next one.
  cursor = c->SeekTicks("hist030704", "AB", false, 0);
  EXPECT_EQ(Keys(*cursor, 2), (std::vector<std::string>{"AB|16:00:00.000|6", "abc|09:30:00.000|1"}));
  cursor = c->SeekTicks("hist030704", "ABCA", false, 0);
  EXPECT_EQ(Keys(*cursor), (std::vector<std::string>{"ABD|09:00:00.000|5"}));
  // A time past the symbol's last row, and past the day, go to the next symbol.
  cursor = c->SeekTicks("hist030704", "abc", true, rtl::EncodeTime(12, 0, 0, 0));
  EXPECT_EQ(Keys(*cursor), (std::vector<std::string>{"ABD|09:00:00.000|5"}));
  cursor = c->SeekTicks("hist030704", "abc", true, 1.5);
  EXPECT_EQ(Keys(*cursor), (std::vector<std::string>{"ABD|09:00:00.000|5"}));
  // Past the end: an empty cursor, not an error.
  cursor = c->SeekTicks("hist030704", "zzz", false, 0);
  std::vector<Value> row;
  EXPECT_FALSE(cursor->Next(row));
  EXPECT_FALSE(cursor->Next(row));
  // The whole row converts.
  cursor = c->SeekTicks("hist030704", "ABD", false, 0);
  ASSERT_TRUE(cursor->Next(row));
  EXPECT_EQ(row[1].d, rtl::EncodeDate(2003, 7, 4));
  EXPECT_EQ(row[6].d, 5);
  EXPECT_TRUE(row[4].is_null());
  EXPECT_TRUE(row[9].is_null());
  EXPECT_THROW(c->SeekTicks("hist030705", "abc", false, 0), EDBEngineError);

  EXPECT_EQ(c->CountRows("hist030704", 3), 3);
  EXPECT_EQ(c->CountRows("hist030704", 7), 7);
  EXPECT_EQ(c->CountRows("hist030704", std::numeric_limits<int64_t>::max()), 7);
  EXPECT_EQ(c->CountRows("hist030704", 0), 0);
  EXPECT_THROW(c->CountRows("hist030705", 10), EDBEngineError);
}

TEST_F(PgDriverTest, ListsDayTablesOnly) {
  auto w = Connect(true);
  w->CreateTickTable("hist030704");
  w->CreateTickTable("HIST030707");
  w->ExecuteScript(
      "CREATE TABLE hist03070 (a int); CREATE TABLE hist0307041 (a int); CREATE TABLE histabcdef (a int);"
      "CREATE TABLE datastore (a int); CREATE SCHEMA other; CREATE TABLE other.hist030708 (a int);");
  auto c = Connect();
  std::vector<std::string> names = c->ListDayTables();
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"hist030704", "hist030707"}));
}

TEST_F(PgDriverTest, LargeScanStreamsThroughTheIndex) {
  auto w = Connect(true);
  constexpr int kRows = 200000;
  w->CreateTickTable("hist030707");
  w->Begin();
  {
    auto ins = w->PrepareInsert("hist030707", {"ID", "Time", "Symbol", "Price"});
    for (int i = 0; i < kRows; ++i) {
      // 200 symbols, in both cases, 1000 ticks each at one-second steps.
      const int s = i % 200;
      std::string symbol = "S" + std::to_string(s);
      if (s % 2) symbol[0] = 's';
      ins->Insert({Value::Int(i + 1), Value::Float((9 * 3600 + i / 200) / 86400.0), Value::Text(symbol),
                   Value::Float(i)});
    }
  }
  w->Commit();
  w->ExecuteScript("ANALYZE hist030707; PREPARE scan AS " + pg::TickScanSql("hist030707", pg::kTickFirstBatch));
  // Both the plan for the key given and the generic plan that a statement
  // prepared once may settle on walk the index without sorting.
  for (const char* mode : {"force_custom_plan", "force_generic_plan"}) {
    w->ExecuteScript(std::string("SET plan_cache_mode = ") + mode);
    auto plan = ReadAll(*RunQuery(*w, "EXPLAIN EXECUTE scan('s1', '10:00:00', -2147483648)"));
    std::string text;
    for (const auto& r : plan) text += r[0].s + "\n";
    EXPECT_NE(text.find("Index Scan using hist030707_symboltime"), std::string::npos) << mode << "\n" << text;
    EXPECT_EQ(text.find("Sort"), std::string::npos) << mode << "\n" << text;
  }

  // The whole table from its first key, in order, with other statements
  // interleaved on the same connection and rows added behind the scan.
  auto c = Connect();
  auto cursor = c->SeekTicks("hist030707", "", false, 0);
  std::vector<Value> row, prev;
  int count = 0;
  bool added = false;
  while (cursor->Next(row)) {
    if (count > 0) {
      const std::string a = prev[3].s, b = row[3].s;
      std::string la = a, lb = b;
      for (char& ch : la) ch = static_cast<char>(std::tolower(ch));
      for (char& ch : lb) ch = static_cast<char>(std::tolower(ch));
      ASSERT_TRUE(la < lb || (la == lb && (prev[2].d < row[2].d || (prev[2].d == row[2].d && prev[0].i < row[0].i))))
          << "row " << count;
    }
    if (count == 1500) {
      EXPECT_EQ(ReadAll(*RunQuery(*c, "SELECT 1"))[0][0].i, 1);
      // Only a scan that reads as it goes sees a row added far ahead of it.
      Admin(target_.location).Value("INSERT INTO hist030707 (id, time, symbol) VALUES (999999, '23:00', 'zzz')");
      added = true;
    }
    prev = row;
    ++count;
  }
  EXPECT_TRUE(added);
  EXPECT_EQ(count, kRows + 1);
  EXPECT_EQ(prev[3].s, "zzz");
  EXPECT_EQ(c->CountRows("hist030707", 1000), 1000);
  EXPECT_EQ(c->CountRows("hist030707", kRows * 2), kRows + 1);
}

TEST_F(PgDriverTest, ScanFailureIsRaisedNotTakenForTheEnd) {
  auto w = Connect(true);
  std::vector<Tick> ticks;
  for (int i = 0; i < 3 * pg::kTickFirstBatch; ++i) ticks.push_back({"ABC", "09:30:00", double(i)});
  LoadTicks(*w, "hist030708", ticks);
  auto c = Connect();
  auto cursor = c->SeekTicks("hist030708", "ABC", false, 0);
  std::vector<Value> row;
  int read = 0;
  while (read < pg::kTickFirstBatch && cursor->Next(row)) ++read;
  ASSERT_EQ(read, pg::kTickFirstBatch);
  w->ExecuteScript("DROP TABLE hist030708");
  EXPECT_THROW(cursor->Next(row), EDBEngineError);
  EXPECT_THROW(cursor->Next(row), EDBEngineError);
  EXPECT_TRUE(c->Healthy());
}

TEST_F(PgDriverTest, BrokenConnectionIsUnhealthyAndThePoolReplacesIt) {
  Admin admin(TestServer());
  // Idle connection whose server session ends: noticed before any use.
  auto c = Connect();
  const int64_t pid = ReadAll(*RunQuery(*c, "SELECT pg_backend_pid()"))[0][0].i;
  EXPECT_TRUE(c->Healthy());
  EXPECT_EQ(admin.Value("SELECT pg_terminate_backend(" + std::to_string(pid) + ", 10000)"), "t");
  EXPECT_FALSE(c->Healthy());
  EXPECT_THROW(RunQuery(*c, "SELECT 1"), EDBEngineError);
  EXPECT_FALSE(c->Healthy());

  // The pool drops the dead connection and the next checkout reconnects.
  DropPooledConnections();
  int64_t first = 0;
  {
    auto lease = AcquireConnection(target_, {});
    first = ReadAll(*RunQuery(lease->connection(), "SELECT pg_backend_pid()"))[0][0].i;
  }
  EXPECT_EQ(IdleConnectionCount(), 1u);
  {
    auto lease = AcquireConnection(target_, {});
    EXPECT_EQ(ReadAll(*RunQuery(lease->connection(), "SELECT pg_backend_pid()"))[0][0].i, first);
  }
  EXPECT_EQ(admin.Value("SELECT pg_terminate_backend(" + std::to_string(first) + ", 10000)"), "t");
  {
    auto lease = AcquireConnection(target_, {});
    const int64_t second = ReadAll(*RunQuery(lease->connection(), "SELECT pg_backend_pid()"))[0][0].i;
    EXPECT_NE(second, first);
    // A lease whose connection breaks while out is not given back.
    EXPECT_EQ(admin.Value("SELECT pg_terminate_backend(" + std::to_string(second) + ", 10000)"), "t");
    EXPECT_THROW(RunQuery(lease->connection(), "SELECT 1"), EDBEngineError);
  }
  EXPECT_EQ(IdleConnectionCount(), 0u);
}

TEST_F(PgDriverTest, WritersAskForAHostThatTakesWritesWhateverTheStringPrefers) {
  // This server is a primary: a reader told to want a standby finds none,
  // a writer with the same string connects and writes.
  AliasTarget standby_wanted = target_;
  standby_wanted.location += " target_session_attrs=read-only";
  EXPECT_THROW(ConnectPostgres(standby_wanted, {}, false), EDBEngineError);
  auto w = ConnectPostgres(standby_wanted, {}, true);
  w->ExecuteScript("CREATE TABLE written (a int)");
  EXPECT_TRUE(w->TableExists("written"));
}

TEST_F(PgDriverTest, ReadOnlyConnectionsRefuseToWrite) {
  auto c = Connect(false);
  try {
    c->ExecuteScript("CREATE TABLE x (a int)");
    FAIL() << "wrote through a read-only connection";
  } catch (const EDBEngineError& e) {
    EXPECT_STREQ(e.what(), "Cannot modify a read-only database");
  }
  EXPECT_THROW(c->CreateTickTable("hist030704"), EDBEngineError);
  EXPECT_THROW(c->Begin(), EDBEngineError);
  EXPECT_THROW(c->PrepareInsert("x", {"a"}), EDBEngineError);
  // Nor through a statement.
  try {
    RunQuery(*c, "CREATE TABLE x (a int)");
    FAIL() << "wrote through a read-only statement";
  } catch (const EDBEngineError& e) {
    EXPECT_NE(std::string(e.what()).find("read-only transaction"), std::string::npos) << e.what();
  }
  EXPECT_TRUE(c->Healthy());
  EXPECT_FALSE(c->TableExists("x"));
}

TEST_F(PgDriverTest, LoadsAreAllOrNothing) {
  auto w = Connect(true);
  w->ExecuteScript("CREATE TABLE names (stock_code text NOT NULL, n integer, t time, d timestamp)");
  // Text with the copy format's escape characters arrives unchanged.
  const std::string odd = "a\tb\\c\nd\re \\N";
  w->Begin();
  {
    auto ins = w->PrepareInsert("Names", {"Stock_Code", "N", "T", "D"});
    ins->Insert({Value::Text(odd), Value::Int(1),
                 Value::Float(rtl::EncodeDate(2003, 7, 4) + rtl::EncodeTime(10, 30, 0, 250)),
                 Value::Float(rtl::EncodeDate(2003, 7, 4) + rtl::EncodeTime(10, 30, 0, 250))});
    ins->Insert({Value::Text("\\N"), Value::Null(), Value::Null(), Value::Null()});
  }
  w->Commit();
  auto rows = ReadAll(*RunQuery(*w, "SELECT stock_code, n, t, d FROM names ORDER BY n NULLS LAST"));
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0][0].s, odd);
  EXPECT_EQ(rows[0][2].d, rtl::EncodeTime(10, 30, 0, 250));
  EXPECT_EQ(rows[0][3].d, rtl::EncodeDate(2003, 7, 4) + rtl::EncodeTime(10, 30, 0, 250));
  EXPECT_EQ(rows[1][0].s, "\\N");
  EXPECT_TRUE(rows[1][1].is_null());

  // A rejected row fails the commit, and nothing of the load stays.
  w->Begin();
  {
    auto ins = w->PrepareInsert("names", {"stock_code", "n"});
    ins->Insert({Value::Text("ok"), Value::Int(2)});
    ins->Insert({Value::Null(), Value::Int(3)});  // NOT NULL
  }
  try {
    w->Commit();
    FAIL() << "committed a rejected row";
  } catch (const EDBEngineError& e) {
    // The message names the row, counted within the copy.
    EXPECT_NE(std::string(e.what()).find("line 2"), std::string::npos) << e.what();
  }
  w->Rollback();
  EXPECT_EQ(ReadAll(*RunQuery(*w, "SELECT count(*) FROM names"))[0][0].i, 2);

  // The same while the inserter still lives: the commit ends the copy.
  w->Begin();
  auto ins = w->PrepareInsert("names", {"stock_code", "n"});
  ins->Insert({Value::Text("x"), Value::Text("not a number")});
  EXPECT_THROW(w->Commit(), EDBEngineError);
  w->Rollback();
  ins.reset();
  EXPECT_EQ(ReadAll(*RunQuery(*w, "SELECT count(*) FROM names"))[0][0].i, 2);
  EXPECT_TRUE(w->Healthy());

  EXPECT_THROW(w->PrepareInsert("no_such_table", {"a"}), EDBEngineError);
  EXPECT_THROW(w->PrepareInsert("names", {"no_such_column"}), EDBEngineError);
  auto short_row = w->PrepareInsert("names", {"stock_code", "n"});
  EXPECT_THROW(short_row->Insert({Value::Text("x")}), EDBEngineError);
}

TEST_F(PgDriverTest, PreparedStatementsFollowTableChanges) {
  auto w = Connect(true);
  w->ExecuteScript("CREATE TABLE s (a integer); INSERT INTO s VALUES (1)");
  EXPECT_EQ(RunQuery(*w, "SELECT * FROM s")->columns().size(), 1u);
  w->ExecuteScript("ALTER TABLE s ADD COLUMN b text DEFAULT 'x'");
  auto rows = ReadAll(*RunQuery(*w, "SELECT * FROM s"));
  ASSERT_EQ(rows.size(), 1u);
  ASSERT_EQ(rows[0].size(), 2u);
  EXPECT_EQ(rows[0][1].s, "x");
  // A failed commit is reported, not passed off as success.
  w->Begin();
  EXPECT_THROW(RunQuery(*w, "SELECT * FROM no_such_table"), EDBEngineError);
  EXPECT_FALSE(w->Healthy());  // a failed transaction is no connection to pool
  EXPECT_THROW(w->Commit(), EDBEngineError);
  EXPECT_TRUE(w->Healthy());
}

}  // namespace
}  // namespace engine
