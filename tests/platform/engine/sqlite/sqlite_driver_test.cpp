// The SQLite driver below the engine objects: query plans of the day-table
// statements, the folder store's files, column types, writing and errors.
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "platform/engine/aliases.h"
#include "platform/engine/errors.h"
#include "platform/engine/sql_text.h"
#include "platform/engine/sqlite/sqlite_driver.h"
#include "platform/engine/sqlite/tick_sql.h"
#include "tests/platform/engine/scratch_store.h"
#include "tests/support/legacy_tick_table.h"

namespace {

using engine::AliasTarget;
using engine::Connection;
using engine::EDBEngineError;
using engine::FieldType;
using engine::Value;

const std::vector<std::string> kInsertColumns = {"ID",    "Date",    "Time",   "Symbol",   "Bid",
                                                 "Offer", "Price",   "BidSize", "Volume", "OfferSize"};

std::vector<Value> Tick(int64_t id, double time, const std::string& symbol) {
  return {Value::Int(id), Value::Float(37806), Value::Float(time), Value::Text(symbol), Value::Float(1),
          Value::Float(2), Value::Float(3),    Value::Null(),      Value::Float(5),     Value::Float(6)};
}

class SqliteDriverTest : public ::testing::Test {
 protected:
  AliasTarget Folder() const { return {AliasTarget::Driver::kSQLite, store.dir() + "/histdata", true}; }
  AliasTarget File() const { return {AliasTarget::Driver::kSQLite, store.dir() + "/scratch.db", false}; }

  void AddTicks(Connection& c, const std::string& table, int count, const std::string& symbol = "S") {
    c.CreateTickTable(table);
    auto ins = c.PrepareInsert(table, kInsertColumns);
    int64_t first = c.CountRows(table, INT64_MAX) + 1;
    for (int i = 0; i < count; ++i) ins->Insert(Tick(first + i, i / 86400.0, symbol));
  }

  // EXPLAIN QUERY PLAN lines of `sql` on the database file `path`.
  static std::vector<std::string> Plan(const std::string& path, const std::string& sql) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* stmt = nullptr;
    std::vector<std::string> lines;
    if (sqlite3_prepare_v2(db, ("EXPLAIN QUERY PLAN " + sql).c_str(), -1, &stmt, nullptr) == SQLITE_OK) {
      while (sqlite3_step(stmt) == SQLITE_ROW) {
        lines.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 3)));
      }
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return lines;
  }

  static std::vector<int64_t> Ids(engine::Cursor& cursor) {
    std::vector<Value> row;
    std::vector<int64_t> ids;
    while (cursor.Next(row)) ids.push_back(row[0].i);
    return ids;
  }

  enginetest::ScratchStore store;
};

struct Row {
  int64_t id;
  double time;
  std::string symbol;
};

// Rows in load order (IDs ascending), symbols interleaved in every letter
// case and with '_', which sorts between the upper- and lower-case letters
// unless case is folded.
std::vector<Row> MixedRows() {
  const char* symbols[] = {"abc", "ABC", "_x", "Abd", "ab", "b", "aBc", "B"};
  std::vector<Row> rows;
  for (int i = 0; i < 48; ++i) rows.push_back({i + 1, ((i * 7) % 5) / 86400.0, symbols[i % 8]});
  return rows;
}

std::string Fold(std::string s) {
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return s;
}

// The nearest-key order worked out here: folded symbol, time, ID.
std::vector<int64_t> ExpectedIds(std::vector<Row> rows, const std::string& symbol, bool with_time, double time) {
  std::sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) {
    return std::make_tuple(Fold(a.symbol), a.time, a.id) < std::make_tuple(Fold(b.symbol), b.time, b.id);
  });
  std::vector<int64_t> ids;
  for (const Row& r : rows) {
    int c = Fold(r.symbol).compare(Fold(symbol));
    if (c > 0 || (c == 0 && (!with_time || r.time >= time))) ids.push_back(r.id);
  }
  return ids;
}

TEST_F(SqliteDriverTest, NearestKeySearchSeeksInKeyOrderWithoutSortingInEitherLayout) {
  auto writer = engine::ConnectSQLite(Folder(), true);
  AddTicks(*writer, "hist030704", 50);
  histtest::MakeLegacyTickTable(store.dir() + "/histdata/hist030707.db", "hist030707");
  struct Layout {
    std::string table, search;
  };
  for (const Layout& layout : {Layout{"hist030704", "SEARCH hist030704 USING PRIMARY KEY"},
                               Layout{"hist030707", "SEARCH hist030707 USING INDEX SymbolTime"}}) {
    std::string file = store.dir() + "/histdata/" + layout.table + ".db";
    for (bool with_time : {false, true}) {
      std::vector<std::string> plan = Plan(file, engine::sqlite::SeekTicksSql(layout.table, with_time));
      int searches = 0;
      for (const std::string& line : plan) {
        EXPECT_EQ(line.find("SCAN"), std::string::npos) << line;
        EXPECT_EQ(line.find("TEMP B-TREE"), std::string::npos) << line;
        if (line.find(layout.search) != std::string::npos) ++searches;
      }
      EXPECT_EQ(searches, with_time ? 2 : 1) << layout.table;
    }
    // Counting a few rows does not sort or build anything either.
    std::vector<std::string> plan = Plan(file, engine::sqlite::CountRowsSql(layout.table));
    EXPECT_FALSE(plan.empty());
    for (const std::string& line : plan) EXPECT_EQ(line.find("TEMP B-TREE"), std::string::npos) << line;
  }
}

TEST_F(SqliteDriverTest, BothLayoutsReadTheSameRowsInTheSameOrder) {
  auto writer = engine::ConnectSQLite(Folder(), true);
  histtest::MakeLegacyTickTable(store.dir() + "/histdata/hist030707.db", "hist030707");
  writer->CreateTickTable("hist030704");
  const std::vector<Row> rows = MixedRows();
  for (const char* table : {"hist030704", "hist030707"}) {
    writer->Begin();
    auto ins = writer->PrepareInsert(table, kInsertColumns);
    for (const Row& r : rows) ins->Insert(Tick(r.id, r.time, r.symbol));
    ins.reset();
    writer->Commit();
  }
  auto reader = engine::ConnectSQLite(Folder(), false);
  for (const char* table : {"hist030704", "hist030707"}) {
    SCOPED_TRACE(table);
    auto all = reader->SeekTicks(table, "", false, 0);
    EXPECT_EQ(Ids(*all), ExpectedIds(rows, "", false, 0));
    auto from_symbol = reader->SeekTicks(table, "ABC", false, 0);
    EXPECT_EQ(Ids(*from_symbol), ExpectedIds(rows, "ABC", false, 0));
    auto from_key = reader->SeekTicks(table, "abC", true, 2 / 86400.0);
    EXPECT_EQ(Ids(*from_key), ExpectedIds(rows, "abC", true, 2 / 86400.0));
    auto past_last = reader->SeekTicks(table, "c", false, 0);
    EXPECT_TRUE(Ids(*past_last).empty());
    EXPECT_EQ(reader->CountRows(table, 10), 10);
    EXPECT_EQ(reader->CountRows(table, 1000), static_cast<int64_t>(rows.size()));
    EXPECT_EQ(reader->CountRows(table, 0), 0);
  }
}

TEST_F(SqliteDriverTest, TickIdsStayUnique) {
  auto writer = engine::ConnectSQLite(Folder(), true);
  AddTicks(*writer, "hist030704", 3);
  auto ins = writer->PrepareInsert("hist030704", kInsertColumns);
  EXPECT_THROW(ins->Insert(Tick(2, 9 / 86400.0, "T")), EDBEngineError);
  EXPECT_EQ(writer->CountRows("hist030704", 100), 3);
}

TEST_F(SqliteDriverTest, EveryTickTableOfOneFileIsKeyedOnItsOwn) {
  auto writer = engine::ConnectSQLite(File(), true);
  AddTicks(*writer, "hist030704", 3);
  AddTicks(*writer, "hist030707", 3);
  std::vector<std::string> plan = Plan(File().location, engine::sqlite::SeekTicksSql("hist030707", false));
  ASSERT_EQ(plan.size(), 1u);
  EXPECT_NE(plan[0].find("SEARCH hist030707 USING PRIMARY KEY"), std::string::npos) << plan[0];
  auto reader = engine::ConnectSQLite(File(), false);
  EXPECT_TRUE(reader->TableExists("HIST030707"));
  EXPECT_FALSE(reader->TableExists("hist030708"));
  auto rows = reader->SeekTicks("hist030707", "s", true, 1 / 86400.0);
  EXPECT_EQ(Ids(*rows), (std::vector<int64_t>{2, 3}));
}

TEST_F(SqliteDriverTest, FolderStorePresenceIsTheFile) {
  auto writer = engine::ConnectSQLite(Folder(), true);
  AddTicks(*writer, "hist030704", 2);
  auto reader = engine::ConnectSQLite(Folder(), false);
  EXPECT_TRUE(reader->TableExists("hist030704"));
  EXPECT_TRUE(reader->TableExists("HIST030704"));
  EXPECT_FALSE(reader->TableExists("hist030705"));
  EXPECT_FALSE(reader->TableExists("../scratch"));
  EXPECT_FALSE(reader->TableExists(""));
  std::filesystem::create_directory(store.dir() + "/histdata/hist030706.db");
  EXPECT_FALSE(reader->TableExists("hist030706"));
}

TEST_F(SqliteDriverTest, TableNamesNeverReachTheSqlText) {
  auto writer = engine::ConnectSQLite(File(), true);
  EXPECT_THROW(writer->SeekTicks("t; drop table x", "", false, 0), EDBEngineError);
  EXPECT_THROW(writer->CountRows("t\"x", 1), EDBEngineError);
  EXPECT_THROW(writer->CreateTickTable("../x"), EDBEngineError);
  auto folder = engine::ConnectSQLite(Folder(), true);
  EXPECT_THROW(folder->CreateTickTable("../escape"), EDBEngineError);
  EXPECT_FALSE(std::filesystem::exists(store.dir() + "/escape.db"));
}

TEST_F(SqliteDriverTest, ReadOnlyConnectionsRefuseWrites) {
  auto folder = engine::ConnectSQLite(Folder(), true);
  AddTicks(*folder, "hist030704", 1);
  auto reader = engine::ConnectSQLite(Folder(), false);
  EXPECT_THROW(reader->CreateTickTable("hist030705"), EDBEngineError);
  EXPECT_THROW(reader->PrepareInsert("hist030704", kInsertColumns), EDBEngineError);
  EXPECT_FALSE(reader->TableExists("hist030705"));
  auto file_reader = engine::ConnectSQLite(File(), false);
  try {
    file_reader->ExecuteScript("CREATE TABLE t(x)");
    FAIL();
  } catch (const EDBEngineError& e) {
    EXPECT_NE(std::string(e.what()).find("readonly"), std::string::npos) << e.what();
  }
}

TEST_F(SqliteDriverTest, MissingStoresAreNotCreatedByReaders) {
  AliasTarget missing{AliasTarget::Driver::kSQLite, store.dir() + "/none.db", false};
  EXPECT_THROW(engine::ConnectSQLite(missing, false), EDBEngineError);
  EXPECT_FALSE(std::filesystem::exists(missing.location));
  AliasTarget folder{AliasTarget::Driver::kSQLite, store.dir() + "/nofolder", true};
  EXPECT_THROW(engine::ConnectSQLite(folder, false), EDBEngineError);
  engine::ConnectSQLite(folder, true);
  EXPECT_TRUE(std::filesystem::is_directory(folder.location));
}

TEST_F(SqliteDriverTest, ReplacedDayFileIsReadAfresh) {
  auto writer = engine::ConnectSQLite(Folder(), true);
  AddTicks(*writer, "hist030704", 3);
  writer.reset();
  auto reader = engine::ConnectSQLite(Folder(), false);
  EXPECT_EQ(reader->CountRows("hist030704", 100), 3);
  std::filesystem::remove(store.dir() + "/histdata/hist030704.db");
  EXPECT_THROW(reader->CountRows("hist030704", 100), EDBEngineError);
  writer = engine::ConnectSQLite(Folder(), true);
  AddTicks(*writer, "hist030704", 5);
  writer.reset();
  EXPECT_EQ(reader->CountRows("hist030704", 100), 5);
}

// A day written live keeps its commits in a log beside its file, which an
// open reader reads through. Removed with that log left behind, the day
// made again under its name holds its own rows only: the log died with the
// file it belonged to.
TEST_F(SqliteDriverTest, DayWrittenLiveIsReadThroughItsLogWhichDiesWithItsFile) {
  const std::string path = store.dir() + "/histdata/hist030704.db";
  auto writer = engine::ConnectSQLite(Folder(), true);
  AddTicks(*writer, "hist030704", 3);
  writer->WriteLive("hist030704", true);
  auto reader = engine::ConnectSQLite(Folder(), false);
  EXPECT_EQ(reader->CountRows("hist030704", 100), 3);
  writer->Begin();
  AddTicks(*writer, "hist030704", 40);
  writer->Commit();
  EXPECT_EQ(reader->CountRows("hist030704", 100), 43);
  ASSERT_GT(std::filesystem::file_size(path + "-wal"), 0u);
  std::filesystem::copy_file(path + "-wal", path + "-wal.kept");
  writer.reset();
  reader.reset();
  std::filesystem::remove(path);
  std::filesystem::remove(path + "-shm");
  std::filesystem::rename(path + "-wal.kept", path + "-wal");
  writer = engine::ConnectSQLite(Folder(), true);
  AddTicks(*writer, "hist030704", 5);
  EXPECT_EQ(engine::ConnectSQLite(Folder(), false)->CountRows("hist030704", 100), 5);
}

TEST_F(SqliteDriverTest, RowsAddedByAWriterAreSeenByAnOpenReader) {
  auto writer = engine::ConnectSQLite(Folder(), true);
  AddTicks(*writer, "hist030704", 3);
  auto reader = engine::ConnectSQLite(Folder(), false);
  EXPECT_EQ(reader->CountRows("hist030704", 100), 3);
  AddTicks(*writer, "hist030704", 2);
  EXPECT_EQ(reader->CountRows("hist030704", 100), 5);
}

TEST_F(SqliteDriverTest, DayLeftByAWriterKilledMidTransactionIsReadAsItWas) {
  // A writer dies while its transaction has written pages: the file keeps a
  // hot journal that a reader, read-only as the server is, must see rolled
  // back rather than fail on, from a new handle or one open before.
  auto writer = engine::ConnectSQLite(Folder(), true);
  AddTicks(*writer, "hist030704", 50);
  AddTicks(*writer, "hist030703", 5);
  writer.reset();
  auto open_reader = engine::ConnectSQLite(Folder(), false);
  ASSERT_EQ(open_reader->CountRows("hist030704", 1000000), 50);
  const std::string path = store.dir() + "/histdata/hist030704.db";
  const pid_t child = fork();
  if (child == 0) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
    // A cache of a few pages spills the transaction's pages into the file.
    sqlite3_exec(db, "PRAGMA cache_size = 2; BEGIN; DELETE FROM hist030704;"
                     " INSERT INTO hist030704 (ID, Time, Symbol) SELECT value + 1000, 0.5, 'X' FROM"
                     " (WITH RECURSIVE n(value) AS (SELECT 1 UNION ALL SELECT value + 1 FROM n LIMIT 20000)"
                     " SELECT value FROM n);", nullptr, nullptr, nullptr);
    _exit(0);  // no commit, no rollback, no close
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(std::filesystem::exists(path + "-journal"));
  EXPECT_EQ(engine::ConnectSQLite(Folder(), false)->CountRows("hist030704", 1000000), 50);
  EXPECT_FALSE(std::filesystem::exists(path + "-journal") && std::filesystem::file_size(path + "-journal") > 0);
  EXPECT_EQ(open_reader->CountRows("hist030704", 1000000), 50);
  EXPECT_EQ(open_reader->CountRows("hist030703", 1000000), 5);
}

TEST_F(SqliteDriverTest, TwoCursorsOnOneTableReadIndependently) {
  auto writer = engine::ConnectSQLite(Folder(), true);
  AddTicks(*writer, "hist030704", 4);
  auto reader = engine::ConnectSQLite(Folder(), false);
  auto a = reader->SeekTicks("hist030704", "S", false, 0);
  auto b = reader->SeekTicks("hist030704", "S", true, 2 / 86400.0);
  std::vector<Value> row;
  ASSERT_TRUE(a->Next(row));
  EXPECT_EQ(row[0].i, 1);
  EXPECT_EQ(Ids(*b), (std::vector<int64_t>{3, 4}));
  EXPECT_EQ(Ids(*a), (std::vector<int64_t>{2, 3, 4}));
  // The cached statement is free again once the cursors are gone.
  a.reset();
  b.reset();
  EXPECT_EQ(Ids(*reader->SeekTicks("hist030704", "s", true, 3 / 86400.0)), (std::vector<int64_t>{4}));
}

TEST_F(SqliteDriverTest, FolderTransactionSpansEveryFileWritten) {
  auto writer = engine::ConnectSQLite(Folder(), true);
  AddTicks(*writer, "hist030704", 1);
  writer->Begin();
  AddTicks(*writer, "hist030704", 2);
  AddTicks(*writer, "hist030705", 2);
  writer->Rollback();
  EXPECT_EQ(writer->CountRows("hist030704", 100), 1);
  // The day made inside the transaction is gone with it.
  EXPECT_FALSE(writer->TableExists("hist030705"));
  writer->Begin();
  AddTicks(*writer, "hist030705", 2);
  writer->Commit();
  auto reader = engine::ConnectSQLite(Folder(), false);
  EXPECT_EQ(reader->CountRows("hist030705", 100), 2);
}

// A day table's inserter does what the table's insert triggers do (a
// spelling noted, the key's pack dropped) once per spelling instead of once
// per row: after every insert the file holds what the triggers would have
// left, even when a pack is stored between inserts of one transaction, and
// every other statement of the connection still fires the triggers.
TEST_F(SqliteDriverTest, TickInsertsLeaveWhatTheTriggersWould) {
  for (const AliasTarget& target : {Folder(), File()}) {
    SCOPED_TRACE(target.location);
    auto writer = engine::ConnectSQLite(target, true);
    const std::string table = "hist030704";
    AddTicks(*writer, table, 2, "abc");
    AddTicks(*writer, table, 1, "xyz");
    auto has_pack = [&](const std::string& key) {
      std::string bytes;
      return writer->ReadPack(table, key, bytes);
    };
    auto spellings = [&] {
      engine::Statement sql;
      sql.pieces = {"SELECT Symbol FROM " + table + "_spellings ORDER BY Symbol"};
      auto cursor = writer->Query(sql, {});
      std::vector<Value> row;
      std::string all;
      while (cursor->Next(row)) all += row[0].s + " ";
      return all;
    };
    writer->Begin();
    writer->StorePack(table, "abc", "pack");
    writer->StorePack(table, "xyz", "pack");
    auto ins = writer->PrepareInsert(table, kInsertColumns);
    ins->Insert(Tick(4, 0.5, "ABC"));
    EXPECT_FALSE(has_pack("abc"));
    EXPECT_TRUE(has_pack("xyz"));
    // A pack stored between two inserts of the same spelling goes again.
    writer->StorePack(table, "abc", "pack");
    ins->Insert(Tick(5, 0.6, "ABC"));
    EXPECT_FALSE(has_pack("aBc"));
    ins->Insert(Tick(6, 0.7, "Abc"));
    EXPECT_EQ(spellings(), "ABC Abc abc xyz ");
    // Statements other than the inserter's fire the triggers.
    writer->ExecuteScript("DELETE FROM " + table + " WHERE ID = 3");
    EXPECT_FALSE(has_pack("xyz"));
    writer->ExecuteScript("INSERT INTO " + table + " (ID, Time, Symbol) VALUES (7, 0.8, 'new')");
    EXPECT_EQ(spellings(), "ABC Abc abc new xyz ");
    writer->Commit();
    EXPECT_EQ(writer->CountRows(table, 100), 6);

    // A table with a trigger of someone else's is written with every
    // trigger firing, row by row.
    writer->ExecuteScript("CREATE TABLE " + table + "_count (n INTEGER); INSERT INTO " + table +
                          "_count VALUES (0); CREATE TRIGGER " + table + "_counted AFTER INSERT ON " + table +
                          " BEGIN UPDATE " + table + "_count SET n = n + 1; END;");
    writer->Begin();
    writer->StorePack(table, "abc", "pack");
    auto plain = writer->PrepareInsert(table, kInsertColumns);
    plain->Insert(Tick(8, 0.9, "abc"));
    plain->Insert(Tick(9, 0.95, "zzz"));
    writer->Commit();
    EXPECT_FALSE(has_pack("abc"));
    EXPECT_EQ(spellings(), "ABC Abc abc new xyz zzz ");
    engine::Statement count;
    count.pieces = {"SELECT n FROM " + table + "_count"};
    auto cursor = writer->Query(count, {});
    std::vector<Value> row;
    ASSERT_TRUE(cursor->Next(row));
    EXPECT_EQ(row[0].i, 2);
  }
}

TEST_F(SqliteDriverTest, ColumnTypesComeFromDeclarations) {
  store.Execute(
      "CREATE TABLE typed(a DATETIME, b TIMESTAMP, c DATE, d TIME, e INTEGER, f BIGINT, g REAL,"
      " h DOUBLE PRECISION, i VARCHAR(10), j TEXT, k CHAR(50), l FLOAT);"
      "INSERT INTO typed VALUES(37806.5, 37806.25, 37806, 0.5, 1, 2, 1.5, 2.5, 'x', 'y', 'z', 3);");
  auto c = engine::ConnectSQLite(File(), false);
  auto rows = c->Query(engine::ParseNamedParameters("select *, 1 + 1 as n, 'x' as t, 0.5 as r from typed")
                           .statement,
                       {});
  std::vector<FieldType> types;
  for (const auto& col : rows->columns()) types.push_back(col.type);
  EXPECT_EQ(types, (std::vector<FieldType>{FieldType::kDateTime, FieldType::kDateTime, FieldType::kDate,
                                           FieldType::kTime, FieldType::kInteger, FieldType::kInteger,
                                           FieldType::kFloat, FieldType::kFloat, FieldType::kString,
                                           FieldType::kString, FieldType::kString, FieldType::kFloat,
                                           FieldType::kInteger, FieldType::kString, FieldType::kFloat}));
  std::vector<Value> row;
  ASSERT_TRUE(rows->Next(row));
  // Dates arrive as date-time floats even when stored as whole numbers.
  EXPECT_EQ(row[2].kind, Value::Kind::kFloat);
  EXPECT_EQ(row[2].d, 37806);
  EXPECT_EQ(row[4].kind, Value::Kind::kInteger);
  EXPECT_FALSE(rows->Next(row));
  EXPECT_FALSE(rows->Next(row));
}

TEST_F(SqliteDriverTest, IsoTextInDateColumnsReadsAsDateTime) {
  store.Execute(
      "CREATE TABLE iso(a DATETIME, d DATE, t TIME);"
      "INSERT INTO iso VALUES('2003-07-04 09:30:00.250', '2003-07-04', '16:00:00');"
      "INSERT INTO iso VALUES('not a date', '2003-13-01', '25:00');"
      "INSERT INTO iso VALUES('1899-12-29 06:00:00', NULL, NULL);");
  auto c = engine::ConnectSQLite(File(), false);
  auto rows = c->Query(engine::ParseNamedParameters("select a, d, t from iso").statement, {});
  std::vector<Value> row;
  ASSERT_TRUE(rows->Next(row));
  EXPECT_DOUBLE_EQ(row[0].d, 37806 + (9 * 3600 + 30 * 60 + 0.25) / 86400.0);
  EXPECT_EQ(row[1].d, 37806);
  EXPECT_DOUBLE_EQ(row[2].d, 16 / 24.0);
  ASSERT_TRUE(rows->Next(row));
  EXPECT_EQ(row[0].kind, Value::Kind::kText);
  EXPECT_EQ(row[1].s, "2003-13-01");
  EXPECT_EQ(row[2].s, "25:00");
  // Before the epoch the time still counts forward from the day's midnight.
  ASSERT_TRUE(rows->Next(row));
  EXPECT_EQ(row[0].d, -1.25);
}

TEST_F(SqliteDriverTest, DateParametersAreSentAsReal) {
  auto c = engine::ConnectSQLite(File(), false);
  engine::ParsedStatement p = engine::ParseNamedParameters("select typeof(:d) as a, typeof(:i) as b");
  auto rows = c->Query(p.statement, {{"d", FieldType::kDate, Value::Int(37806)},
                                     {"i", FieldType::kInteger, Value::Int(5)}});
  std::vector<Value> row;
  ASSERT_TRUE(rows->Next(row));
  EXPECT_EQ(row[0].s, "real");
  EXPECT_EQ(row[1].s, "integer");
}

TEST_F(SqliteDriverTest, StoreMessagesReachTheError) {
  auto c = engine::ConnectSQLite(File(), false);
  try {
    c->Query(engine::ParseNamedParameters("selec 1").statement, {});
    FAIL();
  } catch (const EDBEngineError& e) {
    EXPECT_NE(std::string(e.what()).find("syntax error"), std::string::npos) << e.what();
  }
  auto folder = engine::ConnectSQLite(Folder(), true);
  EXPECT_THROW(folder->SeekTicks("hist990101", "", false, 0), EDBEngineError);
  EXPECT_THROW(folder->ExecuteScript("select 1"), EDBEngineError);
}

TEST_F(SqliteDriverTest, CorruptDayFileIsAnEngineError) {
  std::filesystem::create_directories(store.dir() + "/histdata");
  { std::ofstream(store.dir() + "/histdata/hist030704.db") << "this is not a database file at all........"; }
  auto reader = engine::ConnectSQLite(Folder(), false);
  EXPECT_TRUE(reader->TableExists("hist030704"));
  EXPECT_THROW(reader->CountRows("hist030704", 11), EDBEngineError);
  EXPECT_THROW(reader->SeekTicks("hist030704", "A", false, 0), EDBEngineError);
}

}  // namespace
