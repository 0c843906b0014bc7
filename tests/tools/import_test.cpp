// Loading CSV files: every kind read back through the engine objects, the
// all-or-nothing rule for malformed files, and tick files over several days.
#include <gtest/gtest.h>

#include <string>

#include "platform/engine/engine.h"
#include "tests/support/store_fixture.h"
#include "tests/tools/admin_test_util.h"
#include "tools/import.h"
#include "tools/schema.h"

namespace {

using admin::CsvKind;
using admin::ImportCsv;
using admin::LoadError;
using admintest::Rows;
using admintest::Select;
using admintest::TickRows;
using admintest::WriteFile;

class ImportTest : public histtest::StoreTest {
 protected:
  std::string File(const std::string& name, const std::string& content) {
    return WriteFile(stores, name, content);
  }
  // The message of a load that must fail.
  std::string Failure(CsvKind kind, const std::string& path) {
    try {
      ImportCsv(kind, path);
    } catch (const LoadError& e) {
      return e.what();
    }
    ADD_FAILURE() << "load of " << path << " did not fail";
    return "";
  }
};

TEST_P(ImportTest, TicksLoadIntoTheirDayTableWithColumnsInAnyOrder) {
  const std::string path = File("t.csv",
                                "Symbol,Time,Date,Price,Volume,Bid,Offer,BidSize,OfferSize\r\n"
                                "0005,09:30:00,2003-07-04,10.5,100,10.4,10.6,200,300\r\n"
                                "0005,09:30:01.250,2003/07/04,,,10.45,10.55,,\r\n"
                                "ABC,10:00:00,2003-07-04,1,2,3,4,5,6\r\n");
  const admin::ImportResult result = ImportCsv(CsvKind::kTicks, path);
  EXPECT_EQ(result.rows, 3);
  EXPECT_EQ(result.tables, (std::vector<std::string>{"hist030704"}));
  EXPECT_EQ(TickRows("hist030704"),
            (Rows{{"1", "2003/7/4", "09:30:00", "0005", "10.4", "10.6", "10.5", "200", "100", "300"},
                  {"2", "2003/7/4", "09:30:01", "0005", "10.45", "10.55", "", "", "", ""},
                  {"3", "2003/7/4", "10:00:00", "ABC", "3", "4", "1", "5", "2", "6"}}));
  // Milliseconds are kept.
  engine::TDatabase db;
  db.AliasName = "HISTDATA";
  engine::TTable t(&db);
  t.TableName = "hist030704";
  t.Open();
  t.FindNearest("0005", rtl::EncodeTime(9, 30, 1, 0));
  EXPECT_DOUBLE_EQ(t.FieldByName("Time").AsDateTime(), rtl::EncodeTime(9, 30, 1, 250));
}

TEST_P(ImportTest, TicksSpanningTwoDaysGoToBothTablesAndIdsContinue) {
  ImportCsv(CsvKind::kTicks, File("a.csv",
                                  "Date,Time,Symbol,Bid,Offer,Price,BidSize,Volume,OfferSize\n"
                                  "2003-07-04,09:30:00,X,1,1,1,1,1,1\n"
                                  "2003-07-07,09:30:00,X,2,2,2,2,2,2\n"
                                  "2003-07-04,09:31:00,X,3,3,3,3,3,3\n"));
  const admin::ImportResult second =
      ImportCsv(CsvKind::kTicks, File("b.csv",
                                      "Date,Time,Symbol,Bid,Offer,Price,BidSize,Volume,OfferSize\n"
                                      "2003-07-07,09:29:00,X,4,4,4,4,4,4\n"
                                      "2003-07-04,09:32:00,X,5,5,5,5,5,5\n"));
  EXPECT_EQ(second.tables, (std::vector<std::string>{"hist030707", "hist030704"}));
  Rows day4 = TickRows("hist030704");
  Rows day7 = TickRows("hist030707");
  ASSERT_EQ(day4.size(), 3u);
  ASSERT_EQ(day7.size(), 2u);
  // IDs in file order per day, continuing after the first file's.
  EXPECT_EQ((std::vector<std::string>{day4[0][0], day4[0][4], day4[1][0], day4[1][4], day4[2][0],
                                      day4[2][4]}),
            (std::vector<std::string>{"1", "1", "2", "3", "3", "5"}));
  EXPECT_EQ(day7[0][0], "2");  // 09:29, loaded second
  EXPECT_EQ(day7[0][4], "4");
  EXPECT_EQ(day7[1][0], "1");
  EXPECT_EQ(day7[1][1], "2003/7/7");
}

TEST_P(ImportTest, DailyRowsReadBackThroughTheProcedure) {
  ImportCsv(CsvKind::kDaily, File("d.csv",
                                  "stock_code,c_date,high,low,closing,shares_traded,turnover\n"
                                  "0005,2003-07-04,11,9,10,1000,\n"
                                  "0005,2003-07-07 15:30:00,12,10,11,2000,22000.5\n"));
  engine::TDatabase db;
  db.AliasName = "Historical";
  engine::TStoredProc sp(&db);
  sp.StoredProcName = "usp_Closing_Price;1";
  sp.DeclareParam("@RETURN_VALUE", engine::FieldType::kInteger, true);
  sp.DeclareParam("@From_Symbol", engine::FieldType::kString);
  sp.DeclareParam("@To_Symbol", engine::FieldType::kString);
  sp.DeclareParam("@From_Date", engine::FieldType::kDateTime);
  sp.DeclareParam("@To_Date", engine::FieldType::kDateTime);
  sp.DeclareParam("@Adj", engine::FieldType::kInteger);
  sp.ParamByName("@From_Symbol").SetAsString("0005");
  sp.ParamByName("@To_Symbol").SetAsString("0005");
  sp.ParamByName("@From_Date").SetAsString("07/01/2003");
  sp.ParamByName("@To_Date").SetAsString("07/31/2003");
  sp.Open();
  EXPECT_EQ(admintest::ReadRows(sp, {"c_date", "stock_code", "high", "low", "closing",
                                     "shares_traded", "turnover"}),
            (Rows{{"2003/7/4", "0005", "11", "9", "10", "1000", ""},
                  {"2003/7/7 15:30:00", "0005", "12", "10", "11", "2000", "22000.5"}}));
}

TEST_P(ImportTest, NamesKeepUtf8BytesAndQuotedCommas) {
  ImportCsv(CsvKind::kNames,
            File("n.csv",
                 "Stock_code,name_e,name_c\n"
                 "0005,\"Cobalt Lantern, \"\"Textiles\"\"\",\xe9\x92\xb4\xe8\x93\x9d\n"
                 "0011,,\"\"\n"));
  EXPECT_EQ(Select("Historical", "select name_e, name_c from DailySymbol where Stock_code = '0005'",
                   {"name_e", "name_c"}),
            (Rows{{"Cobalt Lantern, \"Textiles\"", "\xe9\x92\xb4\xe8\x93\x9d"}}));
  engine::TDatabase db;
  db.AliasName = "Historical";
  engine::TQuery q(&db);
  q.SetSQL("select name_e, name_c from DailySymbol where Stock_code = :Symbol");
  q.ParamByName("Symbol").SetAsString("0011");
  q.Open();
  ASSERT_FALSE(q.Eof());
  EXPECT_TRUE(q.FieldByName("name_e").IsNull());   // empty field: null
  EXPECT_FALSE(q.FieldByName("name_c").IsNull());  // "": an empty text
}

TEST_P(ImportTest, MinutesAndSessionsReadBackThroughTheProcedures) {
  ImportCsv(CsvKind::kMinutes,
            File("m.csv",
                 "Symbol,TimeBegin,Duration,SeqNo,PriceOpen,PriceHigh,PriceLow,PriceClose,Volume\n"
                 "0005,2003-07-04 09:30:00,60,1,10,11,9,10.5,100\n"
                 "0005,2003/07/04 09:31:00,60,2,10.5,12,10,11,200\n"));
  ImportCsv(CsvKind::kSessions, File("s.csv",
                                     "TimeClose,Symbol,TimeOpen\n"
                                     "16:00:00,*,13:00:00\n"
                                     "12:00:00,*,09:30:00\n"));
  engine::TDatabase db;
  db.AliasName = "ardandata";
  engine::TStoredProc bars(&db);
  bars.StoredProcName = "QueryIntervals;1";
  bars.DeclareParam("RETURN_VALUE", engine::FieldType::kInteger, true);
  bars.DeclareParam("@Symbol", engine::FieldType::kString);
  bars.DeclareParam("@Interval", engine::FieldType::kInteger);
  bars.DeclareParam("@TimeFrom", engine::FieldType::kDateTime);
  bars.DeclareParam("@TimeTo", engine::FieldType::kDateTime);
  bars.DeclareParam("@BackCount", engine::FieldType::kInteger);
  bars.ParamByName("@Symbol").SetAsString("0005");
  bars.ParamByName("@TimeFrom").SetAsDateTime(rtl::EncodeDate(2003, 7, 4));
  bars.ParamByName("@TimeTo").SetAsDateTime(rtl::EncodeDate(2003, 7, 5));
  bars.Open();
  EXPECT_EQ(admintest::ReadRows(bars, {"TimeBegin", "Duration", "SeqNo", "PriceOpen", "PriceHigh",
                                       "PriceLow", "PriceClose", "Volume"}),
            (Rows{{"2003/7/4 09:30:00", "60", "1", "10", "11", "9", "10.5", "100"},
                  {"2003/7/4 09:31:00", "60", "2", "10.5", "12", "10", "11", "200"}}));

  engine::TStoredProc sessions(&db);
  sessions.StoredProcName = "QueryMarketSession;1";
  sessions.DeclareParam("RETURN_VALUE", engine::FieldType::kInteger, true);
  sessions.DeclareParam("@Symbol", engine::FieldType::kString);
  sessions.ParamByName("@Symbol").SetAsString("0005");
  sessions.Open();
  EXPECT_EQ(admintest::ReadRows(sessions, {"TimeOpen", "TimeClose"}),
            (Rows{{"09:30:00", "12:00:00"}, {"13:00:00", "16:00:00"}}));
}

TEST_P(ImportTest, SymbolsAndIntervalTablesReadBackWithTheServersStatements) {
  ImportCsv(CsvKind::kSymbols, File("y.csv", "isValid,symbol\n1,0005\n0,0011\n"));
  EXPECT_EQ(Select("zetdata", "select * from symbolTable where symbol = '0005' and isValid = '1'",
                   {"symbol"}),
            (Rows{{"0005"}}));
  EXPECT_TRUE(Select("zetdata", "select * from symbolTable where symbol = '0011' and isValid = '1'",
                     {"symbol"})
                  .empty());

  const struct {
    CsvKind kind;
    int seconds;
  } tables[] = {{CsvKind::kIntervals60, 60}, {CsvKind::kIntervals180, 180},
                {CsvKind::kIntervals300, 300}};
  for (const auto& t : tables) {
    SCOPED_TRACE(t.seconds);
    ImportCsv(t.kind, File("i.csv",
                           "Symbol,Date,Time,Open,High,Low,Close,Volume\n"
                           "0005,2003-07-04,09:33:00,10,11,9,10.5," +
                               std::to_string(t.seconds) +
                               "\n"
                               "0005,2003/07/04,09:30:00,1,2,0.5,1.5,0\n"
                               "0005,2003-07-07,09:30:00,1,1,1,1,1\n"));
    engine::TDatabase db;
    db.AliasName = "zetdata";
    engine::TQuery q(&db);
    q.SetSQL("Select * FROM IntervalTable" + std::to_string(t.seconds) +
             " WHERE  Symbol = :Symbol AND Date = :Date order by Time");
    q.ParamByName("Symbol").SetAsString("0005");
    q.ParamByName("Date").SetAsString("2003/07/04");
    q.Open();
    EXPECT_EQ(admintest::ReadRows(q, {"Date", "Time", "Open", "High", "Low", "Close", "Volume"}),
              (Rows{{"2003/07/04", "09:30:00", "1", "2", "0.5", "1.5", "0"},
                    {"2003/07/04", "09:33:00", "10", "11", "9", "10.5", std::to_string(t.seconds)}}));
  }
}

// A file with a bad row leaves nothing behind and names file and line.
struct Malformed {
  const char* name;
  const char* content;  // after the header
  const char* reason;   // part of the message
  int line;
};

TEST_P(ImportTest, MalformedTickFilesLeaveEveryDayTableUnchanged) {
  const std::string header = "Date,Time,Symbol,Bid,Offer,Price,BidSize,Volume,OfferSize\n";
  ImportCsv(CsvKind::kTicks, File("good.csv", header + "2003-07-04,09:30:00,X,1,1,1,1,1,1\n"));
  const Rows before = TickRows("hist030704");
  const Malformed cases[] = {
      {"number", "2003-07-04,09:31:00,X,1,1,1x,1,1,1\n", "bad number in column Price", 2},
      {"date", "2003-07-04,09:31:00,X,1,1,1,1,1,1\n2003-02-30,09:31:00,X,1,1,1,1,1,1\n",
       "bad date in column Date", 3},
      {"time", "2003-07-04,25:00:00,X,1,1,1,1,1,1\n", "bad time in column Time", 2},
      {"fields", "2003-07-07,09:31:00,X,1,1,1,1,1\n", "expected 9 fields, found 8", 2},
      {"quote", "2003-07-07,09:31:00,X,1,1,1,1,1,1\n2003-07-04,09:32:00,\"X,1,1,1,1,1,1\n",
       "unterminated quoted field", 3},
      {"stray quote", "2003-07-04,09:31:00,X\"Y,1,1,1,1,1,1\n", "quote inside an unquoted field",
       2},
      {"junk", "2003-07-04,09:31:00,X,1,1,1,1,1,1\n\x01\x02\xff,junk\n",
       "expected 9 fields, found 2", 3},
      {"long symbol", "2003-07-04,09:31:00,ABCDEFGHIJKLMNOP,1,1,1,1,1,1\n",
       "longer than 15 characters", 2},
      {"no date", "2003-07-07,09:31:00,X,1,1,1,1,1,1\n,09:31:00,X,1,1,1,1,1,1\n", "missing Date",
       3},
      {"inf", "2003-07-04,09:31:00,X,1,1,inf,1,1,1\n", "bad number", 2},
  };
  for (const Malformed& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = File("bad.csv", header + c.content);
    const std::string message = Failure(CsvKind::kTicks, path);
    EXPECT_EQ(message.rfind(path + ":" + std::to_string(c.line) + ": ", 0), 0u) << message;
    EXPECT_NE(message.find(c.reason), std::string::npos) << message;
    EXPECT_EQ(TickRows("hist030704"), before);
    EXPECT_FALSE(admintest::TickTableExists("hist030707"));
  }
}

TEST_P(ImportTest, NulBytesAreReportedThoughTheyEndCStrings) {
  const std::string header = "Date,Time,Symbol,Bid,Offer,Price,BidSize,Volume,OfferSize\n";
  std::string junk = header + "2003-07-04,09:31:00,X,1,1,1,1,1,1\n";
  junk += std::string("\x01\x00\xfe,junk\n", 9);
  const std::string path = File("nul.csv", junk);
  const std::string message = Failure(CsvKind::kTicks, path);
  EXPECT_NE(message.find(path + ":3: binary data"), std::string::npos) << message;
  EXPECT_FALSE(admintest::TickTableExists("hist030704"));
}

TEST_P(ImportTest, MalformedTableFilesLeaveTheStoreUnchanged) {
  ImportCsv(CsvKind::kDaily, File("ok.csv",
                                  "c_date,stock_code,high,low,closing,shares_traded,turnover\n"
                                  "2003-07-04,0005,1,1,1,1,1\n"));
  const std::string sql = "select stock_code, closing from datastore order by c_date";
  const Rows before = Select("Historical", sql, {"stock_code", "closing"});
  ASSERT_EQ(before.size(), 1u);
  const Malformed cases[] = {
      {"missing column", "", "missing column turnover", 1},
      {"number", "2003-07-05,0005,1,1,1,1,1\n2003-07-06,0005,1,1,x,1,1\n",
       "bad number in column closing", 3},
      {"date-time", "2003-07-05 9:3,0005,1,1,1,1,1\n", "bad date-time in column c_date", 2},
      {"quote", "2003-07-05,\"0005,1,1,1,1,1\n", "unterminated quoted field", 2},
      {"after quote", "2003-07-05,\"0005\"x,1,1,1,1,1\n", "after a closing quote", 2},
      {"huge", nullptr, "field longer than", 2},
  };
  for (const Malformed& c : cases) {
    SCOPED_TRACE(c.name);
    std::string header = "c_date,stock_code,high,low,closing,shares_traded,turnover\n";
    std::string body;
    if (std::string(c.name) == "missing column") {
      header = "c_date,stock_code,high,low,closing,shares_traded\n";
    } else if (c.content == nullptr) {
      body = "2003-07-05,0005,1,1,1,1,\"" + std::string(200000, 'x') + "\"\n";
    } else {
      body = c.content;
    }
    const std::string path = File("bad.csv", header + body);
    const std::string message = Failure(CsvKind::kDaily, path);
    EXPECT_EQ(message.rfind(path + ":" + std::to_string(c.line) + ": ", 0), 0u) << message;
    EXPECT_NE(message.find(c.reason), std::string::npos) << message;
    EXPECT_EQ(Select("Historical", sql, {"stock_code", "closing"}), before);
  }
}

TEST_P(ImportTest, HeaderProblemsAndMissingFilesAreClear) {
  EXPECT_NE(Failure(CsvKind::kNames, File("e.csv", "")).find("e.csv: empty file"),
            std::string::npos);
  EXPECT_NE(Failure(CsvKind::kNames, File("u.csv", "Stock_code,name_e,name_c,extra\n"))
                .find("u.csv:1: unknown column \"extra\""),
            std::string::npos);
  EXPECT_NE(Failure(CsvKind::kNames, File("t.csv", "Stock_code,name_e,name_e\n"))
                .find("column name_e given twice"),
            std::string::npos);
  EXPECT_NE(Failure(CsvKind::kNames, stores.WorkDir() + "/none.csv").find("none.csv: cannot open"),
            std::string::npos);
  // A header alone loads nothing, and a byte order mark before it is no column.
  EXPECT_EQ(ImportCsv(CsvKind::kSymbols, File("h.csv", "\xEF\xBB\xBFsymbol,isValid\r\n")).rows, 0);
}

TEST_P(ImportTest, RandomBytesAreRefusedWithoutHarm) {
  // Valid headers followed by junk, for every kind: each load either fails
  // with a message naming the file or loads rows that parse.
  uint64_t state = 12345;
  auto next = [&state] {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<char>(state >> 56);
  };
  for (std::string_view kind_name : admin::CsvKindNames()) {
    const CsvKind kind = *admin::CsvKindFromName(kind_name);
    std::string header;
    for (const std::string& column : admin::CsvKindColumns(kind))
      header += (header.empty() ? "" : ",") + column;
    for (int round = 0; round < 5; ++round) {
      std::string junk = header + "\n";
      for (int i = 0; i < 300; ++i) junk += next();
      const std::string path = File("junk.csv", junk);
      try {
        ImportCsv(kind, path);
        ADD_FAILURE() << kind_name << " loaded junk";
      } catch (const LoadError& e) {
        EXPECT_EQ(std::string(e.what()).rfind(path + ":", 0), 0u) << e.what();
      }
    }
  }
  EXPECT_TRUE(Select("Historical", "select * from datastore", {"c_date"}).empty());
  EXPECT_FALSE(admintest::TickTableExists("hist030704"));
}

TEST(CsvKinds, NamesMapBothWays) {
  for (std::string_view name : admin::CsvKindNames()) {
    auto kind = admin::CsvKindFromName(name);
    ASSERT_TRUE(kind.has_value()) << name;
    EXPECT_EQ(admin::CsvKindName(*kind), name);
  }
  EXPECT_FALSE(admin::CsvKindFromName("tick").has_value());
  EXPECT_EQ(admin::CsvKindColumns(CsvKind::kSessions),
            (std::vector<std::string>{"Symbol", "TimeOpen", "TimeClose"}));
}

INSTANTIATE_TEST_SUITE_P(Stores, ImportTest, ::testing::ValuesIn(histtest::Backends()),
                         histtest::BackendName);

}  // namespace
