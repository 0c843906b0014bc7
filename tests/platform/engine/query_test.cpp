// Statement text: named parameters, their values across statements, the
// comma-text form, and what queries and stored procedures send to a store.
#include <gtest/gtest.h>

#include "platform/engine/engine.h"
#include "platform/engine/sql_text.h"
#include "tests/platform/engine/scratch_store.h"

namespace {

using engine::EDatabaseError;
using engine::FieldType;
using engine::ParseNamedParameters;

TEST(NamedParameters, SplitsAtEachParameter) {
  auto p = ParseNamedParameters("select * from t where a = :A and b=:b_2 or c = :A");
  EXPECT_EQ(p.names, (std::vector<std::string>{"A", "b_2", "A"}));
  EXPECT_EQ(p.statement.pieces,
            (std::vector<std::string>{"select * from t where a = ", " and b=", " or c = ", ""}));
}

TEST(NamedParameters, QuotesCommentsAndCastsAreNotParameters) {
  auto p = ParseNamedParameters(
      "select ':x', \"a:b\", 'it''s :y', x::text -- :z\n, /* :w */ :v from t");
  EXPECT_EQ(p.names, (std::vector<std::string>{"v"}));
  EXPECT_EQ(p.statement.pieces[0], "select ':x', \"a:b\", 'it''s :y', x::text -- :z\n, /* :w */ ");
  EXPECT_EQ(p.statement.pieces[1], " from t");
}

TEST(NamedParameters, LoneColonAndUnclosedQuoteAreText) {
  auto p = ParseNamedParameters("a : b :");
  EXPECT_TRUE(p.names.empty());
  EXPECT_EQ(p.statement.pieces, (std::vector<std::string>{"a : b :"}));
  p = ParseNamedParameters("select 'open :x");
  EXPECT_TRUE(p.names.empty());
}

TEST(QueryText, SettingTheStatementKeepsValuesOfSameNamedParameters) {
  engine::TQuery q;
  q.SetSQL("select * from t where a = :Symbol and d = :Date");
  q.ParamByName("symbol").SetAsString("0005");
  q.ParamByName("DATE").SetAsFloat(3.0);
  q.SetSQL("select * from t where a = :SYMBOL and e = :Other");
  ASSERT_EQ(q.Params.Count(), 2u);
  EXPECT_EQ(q.ParamByName("Symbol").value().s, "0005");
  EXPECT_TRUE(q.ParamByName("other").IsNull());
  EXPECT_EQ(q.Params.FindParam("Date"), nullptr);
  q.ClearSQL();
  EXPECT_EQ(q.Params.Count(), 0u);
  EXPECT_EQ(q.SQL(), "");
}

TEST(QueryText, CommaTextQuotesLinesThatNeedIt) {
  engine::TQuery q;
  q.SetSQL("select * from IntervalTable60 where Symbol = :Symbol");
  EXPECT_EQ(q.SQLCommaText(), "\"select * from IntervalTable60 where Symbol = :Symbol\"");
  q.SetSQL("SELECT\r\nx,y\nplain\r\nsay \"hi\"\n");
  EXPECT_EQ(q.SQLCommaText(), "SELECT,\"x,y\",plain,\"say \"\"hi\"\"\"");
  q.SetSQL("a\tb\n'q'");
  EXPECT_EQ(q.SQLCommaText(), "\"a\tb\",'q'");
  q.SetSQL("");
  EXPECT_EQ(q.SQLCommaText(), "");
  q.SetSQL("\n");
  EXPECT_EQ(q.SQLCommaText(), "\"\"");
  q.SetSQL("a\n\nb");
  EXPECT_EQ(q.SQLCommaText(), "a,,b");
}

TEST(QueryText, ParamsLookUpWithoutRegardToCase) {
  engine::TParams params;
  params.Add("From_Date", FieldType::kDateTime);
  EXPECT_EQ(&params.ParamByName("FROM_DATE"), &params.ParamByName("from_date"));
  try {
    params.ParamByName("To_Date");
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Parameter 'To_Date' not found");
  }
}

class StatementsOnAStore : public ::testing::Test {
 protected:
  StatementsOnAStore() { db.AliasName = "scratch"; }
  enginetest::ScratchStore store;
  engine::TDatabase db;
};

TEST_F(StatementsOnAStore, QuerySendsValuesAsBoundParameters) {
  engine::TQuery q(&db);
  q.SetSQL("select :a as a, :b as b, :c as c, :a || 'x' as d, :n as n");
  q.ParamByName("a").SetAsString("it's; drop");
  q.ParamByName("b").SetAsInteger(7);
  q.ParamByName("c").SetAsFloat(1.5);
  q.Open();
  EXPECT_EQ(q.FieldByName("a").AsString(), "it's; drop");
  EXPECT_EQ(q.FieldByName("b").AsInteger(), 7);
  EXPECT_EQ(q.FieldByName("c").AsFloat(), 1.5);
  EXPECT_EQ(q.FieldByName("d").AsString(), "it's; dropx");
  EXPECT_TRUE(q.FieldByName("n").IsNull());
}

TEST_F(StatementsOnAStore, ChangingTheStatementClosesTheQuery) {
  engine::TQuery q(&db);
  q.SetSQL("select 1 as one");
  q.Open();
  q.SetSQL("select 2 as two");
  EXPECT_FALSE(q.Active());
  q.Open();
  EXPECT_EQ(q.FieldByName("two").AsInteger(), 2);
}

TEST_F(StatementsOnAStore, EmptyStatementIsRefused) {
  engine::TQuery q(&db);
  EXPECT_THROW(q.Open(), EDatabaseError);
}

TEST_F(StatementsOnAStore, StoredProcedureSendsInputsOnlyAndNullsForUnassigned) {
  store.Execute(
      "CREATE TABLE procedures(name TEXT PRIMARY KEY COLLATE NOCASE, body TEXT NOT NULL);"
      "INSERT INTO procedures VALUES('Echo', 'SELECT :Symbol AS s, :Count AS n, :RETURN_VALUE AS r,"
      " :Symbol || ''!'' AS t');");
  engine::TStoredProc sp(&db);
  sp.StoredProcName = "echo;1";
  sp.DeclareParam("@RETURN_VALUE", FieldType::kInteger, true);
  sp.DeclareParam("@Symbol", FieldType::kString);
  sp.DeclareParam("@Count", FieldType::kInteger);
  sp.ParamByName("@RETURN_VALUE").SetAsInteger(5);
  sp.ParamByName("@symbol").SetAsString("0005");
  sp.Open();
  EXPECT_EQ(sp.FieldByName("s").AsString(), "0005");
  EXPECT_EQ(sp.FieldByName("t").AsString(), "0005!");
  EXPECT_TRUE(sp.FieldByName("n").IsNull());
  EXPECT_TRUE(sp.FieldByName("r").IsNull());  // a result is never sent
}

TEST_F(StatementsOnAStore, UnknownProcedureIsAnEngineError) {
  store.Execute("CREATE TABLE procedures(name TEXT PRIMARY KEY COLLATE NOCASE, body TEXT NOT NULL);");
  engine::TStoredProc sp(&db);
  sp.StoredProcName = "Missing;1";
  try {
    sp.Open();
    FAIL();
  } catch (const engine::EDBEngineError& e) {
    EXPECT_STREQ(e.what(), "Stored procedure 'Missing' not found");
  }
}

}  // namespace
