// A PostgreSQL store straight after a load: statistics gathered, pages
// visible to index-only reads, and the statements the server runs most
// planned on their indexes, whether planned for the values given or once for
// any values (as a statement prepared per connection may come to be).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/engine/aliases.h"
#include "platform/engine/postgres/pg_cursors.h"
#include "platform/rtl/datetime.h"
#include "tests/support/store_fixture.h"
#include "tools/sample.h"
#include "tools/tick_tables.h"

namespace {

const int32_t kFriday = static_cast<int32_t>(rtl::EncodeDate(2003, 7, 4));

class ReadyToServeTest : public ::testing::Test {
 protected:
  ReadyToServeTest() : stores(histtest::Backend::kPostgres) {}

  // The first column of every row of `sql`.
  std::vector<std::string> Column(engine::Connection& c, const std::string& sql) {
    engine::Statement statement;
    statement.pieces.push_back(sql);
    auto cursor = c.Query(statement, {});
    std::vector<std::string> out;
    std::vector<engine::Value> row;
    while (cursor->Next(row)) out.push_back(row[0].kind == engine::Value::Kind::kText ? row[0].s : "");
    return out;
  }

  // The plan of `sql` run with `args`, planned for them and planned once
  // for any values.
  std::vector<std::string> Plans(engine::Connection& c, const std::string& sql, const std::string& args) {
    c.ExecuteScript("DEALLOCATE ALL; PREPARE probe AS " + sql);
    std::vector<std::string> plans;
    for (const char* mode : {"force_custom_plan", "force_generic_plan"}) {
      c.ExecuteScript(std::string("SET plan_cache_mode = ") + mode);
      std::string text;
      for (const std::string& line : Column(c, "EXPLAIN EXECUTE probe(" + args + ")")) text += line + "\n";
      plans.push_back(std::string(mode) + ":\n" + text);
    }
    return plans;
  }

  histtest::StoreFixture stores;
};

TEST_F(ReadyToServeTest, HotStatementsReadTheirIndexesRightAfterASample) {
  admin::SampleOptions options;
  options.days = 2;
  options.symbols = 60;
  options.ticks_per_symbol = 1000;
  options.last_day = kFriday;
  options.seed = 3;
  admin::MakeSample(options);

  auto c = engine::ConnectAlias("HISTDATA", {}, /*writable=*/true);
  const std::string day = engine::DayTableName(kFriday);
  // Analysed (a table never analysed counts -1 rows) and vacuumed (pages
  // marked all-visible), every table the load wrote.
  for (const std::string& table : {day, engine::DayTableName(kFriday - 1), std::string("datastore"),
                                    std::string("dailysymbol"), std::string("minutebars"),
                                    std::string("marketsession"), std::string("intervaltable60"),
                                    std::string("symboltable")}) {
    EXPECT_EQ(Column(*c, "SELECT (reltuples > 0 AND relallvisible > 0)::text FROM pg_class WHERE relname = '" +
                             table + "'"),
              std::vector<std::string>{"true"})
        << table;
  }

  struct Hot {
    std::string sql, args, index;
  };
  const std::vector<Hot> hot = {
      {engine::pg::TickScanSql(day, engine::pg::kTickFirstBatch), "'0002', '10:00:00', -2147483648",
       day + "_symboltime"},
      {engine::pg::LastTickSql(day, true), "'0002', '12:00:00'", day + "_s"},
      {engine::pg::LastTickSql(day, false), "'0002'", day + "_s"},
      {"Select * FROM intervaltable60 WHERE  symbol = $1 AND date = $2 order by time", "'0002', '2003/07/04'",
       "intervaltable60_key"},
      {"SELECT * FROM queryintervals($1, 60, $2, $3, $4)",
       "'0002', '2003-07-03 09:30', '2003-07-04 16:00', 10", "minutebars_symbol_time"},
  };
  for (const Hot& h : hot) {
    for (const std::string& plan : Plans(*c, h.sql, h.args)) {
      EXPECT_EQ(plan.find("Seq Scan"), std::string::npos) << h.sql << "\n" << plan;
      EXPECT_NE(plan.find(h.index), std::string::npos) << h.sql << "\n" << plan;
    }
  }
}

}  // namespace
