// Mode 1 through the real server: daily prices from the history store's
// procedure, and the handler's retries when the store fails.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "platform/engine/errors.h"
#include "platform/rtl/datetime.h"
#include "service/hist.h"
#include "tests/generators/tick_service_test.h"

namespace histtest {
namespace {

using rtl::EncodeDate;
using rtl::EncodeTime;

const double kJul2 = EncodeDate(2003, 7, 2);
const double kJul3 = EncodeDate(2003, 7, 3);
const double kJul4 = EncodeDate(2003, 7, 4);
const double kJul7 = EncodeDate(2003, 7, 7);

constexpr const char* kNames = "NOTE|ENAME|Harbour Bank|\r\nNOTE|CNAME|\xe6\xb8\xaf\xe9\x8a\x80|\r\n";

class DailyTest : public TickServiceTest {
 protected:
  void ThreeDays() {
    stores.AddNames({{"0005", "Harbour Bank", "\xe6\xb8\xaf\xe9\x8a\x80"}});
    stores.AddDaily({{kJul2, "0005", 10.5, 10.1, 10.2, 1000, 10250.5},
                     {kJul3, "0005", 10.8, 10.2, 10.75, 2000, 21000},
                     {kJul4, "0005", 11, 10.6, 10.9, 1500, 16000},
                     {kJul7, "0005", 12, 11, 11.5, 1, 1},
                     {kJul3, "0006", 1, 1, 1, 1, 1}});
  }
};

TEST_P(DailyTest, ThreeTradingDaysWithNameLinesAndCount) {
  ThreeDays();
  HttpReply r = Get("/?symbol=0005&mode=1&dateStart=2003/7/2&dateOver=2003/7/4");
  EXPECT_EQ(r.body, std::string(kNames) +
                        "TICK|0|2003/7/2|10.5|10.1|10.2|1000|10250.5|\r\n"
                        "TICK|1|2003/7/3|10.8|10.2|10.75|2000|21000|\r\n"
                        "TICK|2|2003/7/4|11|10.6|10.9|1500|16000|\r\n"
                        "NOTE|RECORDCOUNT|3|\r\n");
}

TEST_P(DailyTest, OneDayRangeReachesTheProcedureAsMonthDayYearText) {
  // The store reads "07/04/2003": a day-first reading would find nothing.
  ThreeDays();
  HttpReply r = Get("/?symbol=0005&mode=1&dateStart=2003/07/04&dateOver=2003/7/4");
  EXPECT_EQ(r.body, std::string(kNames) + "TICK|0|2003/7/4|11|10.6|10.9|1500|16000|\r\n"
                                          "NOTE|RECORDCOUNT|1|\r\n");
}

TEST_P(DailyTest, TimeOfDayShownOnlyWhenNotMidnightAndNullIsEmpty) {
  stores.AddDaily({{kJul4 + EncodeTime(15, 30, 5, 0), "0005", 2, 1, 1.5, 100, std::nullopt},
                   {kJul3, "0005", 3, 2, 2.5, std::nullopt, 7}});
  HttpReply r = Get("/?symbol=0005&mode=1&dateStart=2003/7/1&dateOver=2003/7/4");
  EXPECT_EQ(r.body,
            "TICK|0|2003/7/3|3|2|2.5||7|\r\n"
            "TICK|1|2003/7/4 15:30:05|2|1|1.5|100||\r\n"
            "NOTE|RECORDCOUNT|2|\r\n");
}

TEST_P(DailyTest, NothingFoundEndsWithoutALineBreak) {
  ThreeDays();
  HttpReply r = Get("/?symbol=0005&mode=1&dateStart=2003/6/1&dateOver=2003/6/30");
  EXPECT_EQ(r.body, std::string(kNames) + "ERROR|Record not found.|");
}

TEST_P(DailyTest, AStoreThatKeepsFailingIsTriedThreeTimesWithTheCloseTrace) {
  ThreeDays();
  stores.Execute("Historical", "DROP TABLE datastore");
  HttpReply r = Get("/?symbol=0005&mode=1&dateStart=2003/7/2&dateOver=2003/7/4");
  EXPECT_EQ(r.status, 200);
  // Each try wrote its name lines before the procedure failed.
  EXPECT_EQ(r.body, std::string(kNames) + kNames + kNames);
  std::vector<std::string> retries = LogLinesStartingWith("Exception: ");
  ASSERT_EQ(retries.size(), 3u);
  const char* endings[] = {". Retry 1. Close: 12.", ". Retry 2. Close: 1212.",
                           ". Retry 3. Close: 121212."};
  for (int i = 0; i < 3; ++i) {
    const std::string& line = retries[i];
    const std::string ending = endings[i];
    ASSERT_GE(line.size(), ending.size());
    EXPECT_EQ(line.substr(line.size() - ending.size()), ending) << line;
  }
}

// Ends every other session of the fixture's database and waits until they
// are gone (termination is asynchronous).
void CutSessions(StoreFixture& stores) {
  stores.Execute("Historical",
                 "DO $$BEGIN "
                 "PERFORM pg_terminate_backend(pid) FROM pg_stat_activity "
                 "WHERE datname = current_database() AND pid <> pg_backend_pid(); "
                 "FOR i IN 1..400 LOOP "
                 "PERFORM pg_stat_clear_snapshot(); "
                 "EXIT WHEN NOT EXISTS (SELECT 1 FROM pg_stat_activity "
                 "WHERE datname = current_database() AND pid <> pg_backend_pid()); "
                 "PERFORM pg_sleep(0.025); END LOOP; END$$");
}

TEST_P(DailyTest, AConnectionCutBetweenRequestsIsReplacedUnseen) {
  if (GetParam() != Backend::kPostgres) GTEST_SKIP() << "needs a server whose sessions can be cut";
  ThreeDays();
  const std::string first = Get("/?symbol=0005&mode=1&dateStart=2003/7/4&dateOver=2003/7/4").body;
  ASSERT_NE(first.find("RECORDCOUNT|1|"), std::string::npos) << first;
  CutSessions(stores);
  // The pooled connection is found dead when it is taken, before any use.
  EXPECT_EQ(Get("/?symbol=0005&mode=1&dateStart=2003/7/4&dateOver=2003/7/4").body, first);
  EXPECT_TRUE(LogLinesStartingWith("Exception: ").empty());
}

INSTANTIATE_TEST_SUITE_P(Stores, DailyTest, ::testing::ValuesIn(Backends()), BackendName);

// A module whose history store connection is cut in the middle of its first
// try, after the name lines went out over it.
StoreFixture* g_cut_stores = nullptr;

class CutMidRequestModule : public hist::THistData {
 public:
  void GenInterday2(const std::string& Symbol, hist::TWebResponse& Response,
                    hist::TDateTime dateBegin, hist::TDateTime dateEnd) override {
    if (first_) {
      first_ = false;
      GenStockName(Symbol);
      CutSessions(*g_cut_stores);
    }
    hist::THistData::GenInterday2(Symbol, Response, dateBegin, dateEnd);
  }

 private:
  bool first_ = true;
};

TEST(DailyRetry, AConnectionCutDuringARequestIsReplacedByTheNextTry) {
  if (std::getenv("HISTDATA_TEST_PG") == nullptr) GTEST_SKIP() << "HISTDATA_TEST_PG is not set";
  StoreFixture stores(Backend::kPostgres);
  g_cut_stores = &stores;
  stores.AddNames({{"0005", "Harbour Bank", "\xe6\xb8\xaf\xe9\x8a\x80"}});
  stores.AddDaily({{kJul4, "0005", 11, 10.6, 10.9, 1500, 16000}});
  TestServer server([] { return std::make_unique<CutMidRequestModule>(); });
  HttpReply r = server.Get("/?symbol=0005&mode=1&dateStart=2003/7/4&dateOver=2003/7/4");
  g_cut_stores = nullptr;
  // The first try's own name lines failed on the dead connection; the
  // second try reconnected and answered in full.
  EXPECT_EQ(r.body, std::string(kNames) + kNames +
                        "TICK|0|2003/7/4|11|10.6|10.9|1500|16000|\r\nNOTE|RECORDCOUNT|1|\r\n");
  const std::string log = stores.ReadLog();
  EXPECT_NE(log.find(". Retry 1. Close: 12.\r\n"), std::string::npos) << log;
  EXPECT_EQ(log.find("Retry 2"), std::string::npos) << log;
}


// A module whose history store connection dies after the pool handed it out
// healthy, before the request's first statement over it.
class CutAfterCheckoutModule : public hist::THistData {
 public:
  void GenInterday2(const std::string& Symbol, hist::TWebResponse& Response,
                    hist::TDateTime dateBegin, hist::TDateTime dateEnd) override {
    if (++calls_ == 2) {
      HistSQLDB.Open();
      CutSessions(*g_cut_stores);
    }
    hist::THistData::GenInterday2(Symbol, Response, dateBegin, dateEnd);
  }

 private:
  int calls_ = 0;
};

TEST(DailyRetry, AConnectionFoundDeadAtItsFirstStatementIsReconnectedUnseen) {
  if (std::getenv("HISTDATA_TEST_PG") == nullptr) GTEST_SKIP() << "HISTDATA_TEST_PG is not set";
  StoreFixture stores(Backend::kPostgres);
  g_cut_stores = &stores;
  stores.AddNames({{"0005", "Harbour Bank", "\xe6\xb8\xaf\xe9\x8a\x80"}});
  stores.AddDaily({{kJul4, "0005", 11, 10.6, 10.9, 1500, 16000}});
  TestServer server([] { return std::make_unique<CutAfterCheckoutModule>(); });
  const std::string path = "/?symbol=0005&mode=1&dateStart=2003/7/4&dateOver=2003/7/4";
  const std::string first = server.Get(path).body;
  ASSERT_NE(first.find("RECORDCOUNT|1|"), std::string::npos) << first;
  // Every connection of the module, its own database's included, is cut.
  EXPECT_EQ(server.Get(path).body, first);
  EXPECT_EQ(server.Get("/?symbol=0005&mode=2").body.find("Exception"), std::string::npos);
  g_cut_stores = nullptr;
  EXPECT_EQ(stores.ReadLog().find("Exception"), std::string::npos) << stores.ReadLog();
}

// A module whose first try fails the way a store does after the name lines.
class FailOnceModule : public hist::THistData {
 public:
  void GenInterday2(const std::string& Symbol, hist::TWebResponse& Response,
                    hist::TDateTime dateBegin, hist::TDateTime dateEnd) override {
    if (calls_++ == 0) {
      GenStockName(Symbol);
      throw engine::EDBEngineError("connection lost");
    }
    hist::THistData::GenInterday2(Symbol, Response, dateBegin, dateEnd);
  }

 private:
  int calls_ = 0;
};

TEST(DailyRetry, ErrorOnTheFirstTryAndSuccessOnTheSecondRepeatsTheNameLines) {
  StoreFixture stores;
  stores.AddNames({{"0005", "Harbour Bank", "\xe6\xb8\xaf\xe9\x8a\x80"}});
  stores.AddDaily({{kJul4, "0005", 11, 10.6, 10.9, 1500, 16000}});
  TestServer server([] { return std::make_unique<FailOnceModule>(); });
  HttpReply r = server.Get("/?symbol=0005&mode=1&dateStart=2003/7/4&dateOver=2003/7/4");
  EXPECT_EQ(r.body, std::string(kNames) + kNames +
                        "TICK|0|2003/7/4|11|10.6|10.9|1500|16000|\r\nNOTE|RECORDCOUNT|1|\r\n");
  const std::string log = stores.ReadLog();
  EXPECT_NE(log.find("Exception: connection lost. Retry 1. Close: 12.\r\n"), std::string::npos)
      << log;
  EXPECT_EQ(log.find("Retry 2"), std::string::npos);
}

}  // namespace
}  // namespace histtest
