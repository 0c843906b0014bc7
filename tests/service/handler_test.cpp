// The history handler seen from the wire: requests go through the real HTTP
// host and pool to a module whose generators record their arguments.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>
#include <vector>
#include <memory>
#include <stdexcept>
#include <string>

#include "log/zetUtilities.h"
#include "platform/engine/errors.h"
#include "platform/rtl/datetime.h"
#include "service/globals.h"
#include "tests/service/recording_module.h"
#include "tests/support/store_fixture.h"
#include "tests/support/test_server.h"

namespace histtest {
namespace {

using rtl::EncodeDate;
using rtl::EncodeTime;

constexpr double kTolerance = 1e-9;

class HandlerTest : public ::testing::Test {
 protected:
  HandlerTest() {
    rtl::SetClockForTesting([] { return EncodeDate(2003, 7, 4) + EncodeTime(10, 0, 0, 0); });
    Recorder::Get().Reset();
  }
  ~HandlerTest() override {
    server_.reset();
    rtl::SetClockForTesting(nullptr);
  }

  TestServer& server() {
    if (!server_) {
      server_ = std::make_unique<TestServer>(RecordingModule::Make);
      log_start_ = ReadWholeLog().size();
    }
    return *server_;
  }
  HttpReply Get(const std::string& target) { return server().Get(target); }

  // The single generator call of the last request.
  GenCall OnlyCall() {
    auto calls = Recorder::Get().Calls();
    EXPECT_EQ(calls.size(), 1u);
    return calls.empty() ? GenCall() : calls.back();
  }

  static std::string ReadWholeLog() {
    std::ifstream in(zetlog::LogPath(), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
  // The log since the server started (its start may begin the log afresh).
  std::string Log() { return ReadWholeLog().substr(log_start_); }
  std::vector<std::string> LogLines() {
    std::vector<std::string> lines;
    std::string text = Log();
    for (size_t start = 0; start < text.size();) {
      size_t end = text.find("\r\n", start);
      if (end == std::string::npos) end = text.size();
      lines.push_back(text.substr(start, end - start));
      start = end + 2;
    }
    return lines;
  }
  bool LogHasLine(const std::string& line) {
    for (const std::string& l : LogLines()) {
      if (l == line) return true;
    }
    return false;
  }

  StoreFixture stores;
  std::unique_ptr<TestServer> server_;
  size_t log_start_ = 0;
};

TEST_F(HandlerTest, SymbolAloneIsModeZeroOverTheWholeOfToday) {
  HttpReply r = Get("/?symbol=0005");
  EXPECT_EQ(r.status_line, "HTTP/1.1 200 OK");
  EXPECT_EQ(r.Header("Content-Type"), "text/plain");
  EXPECT_FALSE(r.HasHeader("Content-Length"));
  EXPECT_EQ(r.body, "");
  GenCall c = OnlyCall();
  EXPECT_EQ(c.name, "GenIntraday");
  EXPECT_EQ(c.symbol, "0005");
  EXPECT_NEAR(c.timeBegin, 0.0, kTolerance);
  EXPECT_NEAR(c.timeEnd, EncodeTime(23, 59, 59, 0), kTolerance);
  EXPECT_EQ(c.dateBegin, EncodeDate(2003, 7, 4));
  EXPECT_EQ(c.dateEnd, EncodeDate(2003, 7, 4));
  EXPECT_EQ(c.dayCount, 0);
  EXPECT_FALSE(c.priceChangeOnly);
  EXPECT_TRUE(c.gotResponse);
}

// A request that cannot be served gets one error line, in one write, and
// reaches no generator. Times are checked before dates, and both before the
// pairs, so a lone member that does not convert gets the format message.
TEST_F(HandlerTest, UnservableRequestGetsOneErrorLine) {
  const std::string time = "ERROR|Invalid time format(yyyy/m/d).|\r\n";
  const std::string date = "ERROR|Invalid date format(yyyy/m/d).|\r\n";
  const std::string pair = "ERROR|Invalid number of parameters.|\r\n";
  struct Case {
    const char* query;
    const std::string& body;
  } cases[] = {
      {"symbol=0005&timeStart=25:00&timeOver=10:00", time},
      {"timeStart=10:00&timeOver=10:61&dateStart=2003/13/1&dateOver=x", time},
      {"symbol=0005&dateStart=2003/5/1&dateOver=2003/13/01", date},
      {"symbol=0005&dateStart=2003/5/1", pair},
      {"symbol=0005&timeOver=10:00", pair},
      {"symbol=0005&mode=6&dateOver=2003/02/30", date},
  };
  for (const Case& k : cases) {
    HttpReply r = Get(std::string("/?") + k.query);
    EXPECT_EQ(r.status, 200) << k.query;
    EXPECT_EQ(r.Header("Content-Type"), "text/plain") << k.query;
    EXPECT_EQ(r.body, k.body) << k.query;
    EXPECT_EQ(r.chunks.size(), 1u) << k.query;
  }
  EXPECT_TRUE(Recorder::Get().Calls().empty());
}

TEST_F(HandlerTest, Http10ReplyIsUnframedAndEndsWithTheConnection) {
  HttpReply r = SendRequest(server().port(), "GET /?symbol=1&timeStart=1:00 HTTP/1.0\r\n\r\n");
  EXPECT_EQ(r.status_line, "HTTP/1.1 200 OK");
  EXPECT_EQ(r.Header("Content-Type"), "text/plain");
  EXPECT_FALSE(r.chunked);
  EXPECT_FALSE(r.HasHeader("Content-Length"));
  EXPECT_TRUE(r.closed);
  EXPECT_EQ(r.body, "ERROR|Invalid number of parameters.|\r\n");
}

TEST_F(HandlerTest, GivenTimesAndDatesReachTheGenerator) {
  Get("/?symbol=0005&timeStart=9:30&timeOver=16:00:30&dateStart=2003/05/01&dateOver=2003/5/12");
  GenCall c = OnlyCall();
  EXPECT_NEAR(c.timeBegin, EncodeTime(9, 30, 0, 0), kTolerance);
  EXPECT_NEAR(c.timeEnd, EncodeTime(16, 0, 30, 0), kTolerance);
  EXPECT_EQ(c.dateBegin, EncodeDate(2003, 5, 1));
  EXPECT_EQ(c.dateEnd, EncodeDate(2003, 5, 12));
}

TEST_F(HandlerTest, WholeNumbersFallBackToTheirDefaults) {
  struct Case {
    const char* query;
    int interval;
  } cases[] = {{"interval=abc", 300}, {"", 300},          {"interval=", 300},
               {"interval=0", 0},     {"interval=-60", -60}, {"interval=0x3C", 60},
               {"interval=$3c", 60},  {"interval=+60", 60},  {"interval=60x", 300}};
  for (const Case& k : cases) {
    Recorder::Get().Reset();
    Get(std::string("/?symbol=1&mode=4&") + k.query);
    GenCall c = OnlyCall();
    EXPECT_EQ(c.name, "GenInterval") << k.query;
    EXPECT_EQ(c.interval, k.interval) << k.query;
    EXPECT_EQ(c.dayCount, 0) << k.query;
  }

  Recorder::Get().Reset();
  Get("/?symbol=1&mode=5&interval=120&iunit=2&BackCount=%207&DayCount=7x");
  GenCall c = OnlyCall();
  EXPECT_EQ(c.name, "GenFastInterval");
  EXPECT_EQ(c.interval, 120);
  EXPECT_EQ(c.iunit, 2);
  EXPECT_EQ(c.backCount, 7);

  Recorder::Get().Reset();
  Get("/?symbol=1&mode=4&DayCount=-3");
  EXPECT_EQ(OnlyCall().dayCount, -3);
}

// A POST's fields come from its body alone, whatever its path and query
// string say; an empty body is a request without fields.
TEST_F(HandlerTest, PostBodyIsTheOnlySource) {
  struct Case {
    const char* target;
    const char* body;
    const char* generator;
    const char* symbol;
  } cases[] = {
      {"/some/path?ignored=1", "symbol=0011&mode=2", "GenDelay", "0011"},
      {"/?symbol=9999&mode=0", "symbol=0005&mode=2", "GenDelay", "0005"},
      {"/?symbol=9999&mode=2", "", "GenIntraday", ""},
  };
  for (const Case& k : cases) {
    Recorder::Get().Reset();
    HttpReply r = server().Post(k.target, k.body);
    EXPECT_EQ(r.status, 200) << k.target;
    GenCall c = OnlyCall();
    EXPECT_EQ(c.name, k.generator) << k.target;
    EXPECT_EQ(c.symbol, k.symbol) << k.target;
  }
}

TEST_F(HandlerTest, FieldNamesIgnoreCaseAndTheFirstCounts) {
  Get("/?SYMBOL=0005&Mode=2");
  GenCall c = OnlyCall();
  EXPECT_EQ(c.name, "GenDelay");
  EXPECT_EQ(c.symbol, "0005");

  Recorder::Get().Reset();
  Get("/?symbol=a&mode=2&mode=4&symbol=b");
  c = OnlyCall();
  EXPECT_EQ(c.name, "GenDelay");
  EXPECT_EQ(c.symbol, "a");
}

TEST_F(HandlerTest, FieldsAreDecoded) {
  Get("/?symbol=A%2bB+C%25%%D%3d&mode=2");
  EXPECT_EQ(OnlyCall().symbol, "A+B C%%D=");
  // The name ends at the first "=" of the decoded field.
  Recorder::Get().Reset();
  Get("/?symbol%3Dx=y&mode=2");
  EXPECT_EQ(OnlyCall().symbol, "x=y");
}

TEST_F(HandlerTest, MalformedEscapeIsLoggedAndTheBodyStaysEmpty) {
  HttpReply r = Get("/?symbol=%zz&mode=2");
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.Header("Content-Type"), "text/plain");
  EXPECT_EQ(r.body, "");
  EXPECT_TRUE(Recorder::Get().Calls().empty());
  std::string log = Log();
  EXPECT_NE(log.find("2003/07/04 10:00:00 =>Exception: "), std::string::npos) << log;
  EXPECT_NE(log.find(" when HistDatagetHistoryAction\r\n"), std::string::npos) << log;
}

TEST_F(HandlerTest, ModeComparisonsAreExact) {
  for (const char* mode : {"7", "%201", "1%20", "a", "00"}) {
    HttpReply r = Get(std::string("/?symbol=0005&mode=") + mode);
    EXPECT_EQ(r.status, 200) << mode;
    EXPECT_EQ(r.Header("Content-Type"), "text/plain") << mode;
    EXPECT_EQ(r.body, "") << mode;
  }
  EXPECT_TRUE(Recorder::Get().Calls().empty());
}

// A generator failure outside modes 1, 3 and 6 skips the closing of the form
// databases; an unknown mode still closes them.
TEST_F(HandlerTest, UnknownModeClosesTheFormDatabases) {
  stores.InitSqlStores();
  stores.AddTicks(EncodeDate(2003, 7, 4), {{"09:30:00", "0005", 1.0, 1.0, 1.0, 1, 1, 1}});
  Recorder::Get().Reset([](hist::THistData& m, const GenCall&) {
    m.HistDB.Open();
    m.HistSQLDB.Open();
    m.ARDANDB.Open();
    throw std::runtime_error("left open");
  });
  Get("/?symbol=0005&mode=0");
  auto calls = Recorder::Get().Calls();
  ASSERT_EQ(calls.size(), 1u);
  const hist::THistData* module = calls[0].module;
  EXPECT_TRUE(module->HistDB.Connected());
  EXPECT_TRUE(module->HistSQLDB.Connected());
  EXPECT_TRUE(module->ARDANDB.Connected());
  EXPECT_TRUE(LogHasLine("2003/07/04 10:00:00 =>Exception: left open when HistDatagetHistoryAction"));

  HttpReply r = Get("/?symbol=0005&mode=7");
  EXPECT_EQ(r.body, "");
  EXPECT_EQ(server().app().ModuleCount(), 1u);
  EXPECT_FALSE(module->HistDB.Connected());
  EXPECT_FALSE(module->HistSQLDB.Connected());
  EXPECT_FALSE(module->ARDANDB.Connected());
}

TEST_F(HandlerTest, SettingsAreReadEveryRequestAndTheTickFlagOnlyRises) {
  server();
  EXPECT_FALSE(hist::CurrentSettings().execution_tick_only);
  stores.SetSetting("KORVA", "ExecutionTickOnly", "no");
  Get("/?symbol=1&mode=2");
  EXPECT_FALSE(hist::CurrentSettings().execution_tick_only);

  stores.SetSetting("KORVA", "ExecutionTickOnly", "yes");
  stores.SetSetting("KORVA", "NominalUpdateTimestamp", "16:30:00");
  stores.SetSetting("KORVA", "CalcMode", "uw");
  stores.SetSetting("KORVA", "DBMode", "SQL");
  Get("/?symbol=1&mode=2");
  hist::ProcessSettings s = hist::CurrentSettings();
  EXPECT_TRUE(s.execution_tick_only);
  EXPECT_NEAR(s.nominal_update_time, EncodeTime(16, 30, 0, 0), kTolerance);
  EXPECT_EQ(s.calc_mode, "uw");
  EXPECT_EQ(s.db_mode, "SQL");

  stores.SetSetting("KORVA", "ExecutionTickOnly", "N");
  Get("/?symbol=1&mode=2");
  EXPECT_TRUE(hist::CurrentSettings().execution_tick_only);
  stores.SetSetting("KORVA", "ExecutionTickOnly", "");
  Get("/?symbol=1&mode=2");
  EXPECT_TRUE(hist::CurrentSettings().execution_tick_only);
}

TEST_F(HandlerTest, UnreadableSettingGivesAnEmptyReplyWithoutContentType) {
  stores.SetSetting("KORVA", "NominalUpdateTimestamp", "late");
  HttpReply r = Get("/?symbol=1&mode=2");
  EXPECT_EQ(r.status_line, "HTTP/1.1 200 OK");
  EXPECT_FALSE(r.HasHeader("Content-Type"));
  EXPECT_EQ(r.body, "");
  EXPECT_TRUE(Recorder::Get().Calls().empty());
  std::string log = Log();
  EXPECT_NE(log.find(" when HistDatagetHistoryAction\r\n"), std::string::npos) << log;
}

TEST_F(HandlerTest, UWBarsStartOneSlotEarlier) {
  stores.SetSetting("KORVA", "CalcMode", "UW");
  struct Case {
    int interval;
    double start;
  } cases[] = {{60, EncodeTime(9, 49, 1, 0)},
               {180, EncodeTime(9, 47, 1, 0)},
               {300, EncodeTime(9, 45, 1, 0)},
               {900, EncodeTime(9, 45, 1, 0)}};
  for (const Case& k : cases) {
    Recorder::Get().Reset();
    Get("/?symbol=1&mode=6&interval=" + std::to_string(k.interval));
    GenCall c = OnlyCall();
    EXPECT_EQ(c.name, "GenInterval3");
    EXPECT_NEAR(c.timeBegin, k.start, kTolerance) << k.interval;
    EXPECT_NEAR(c.timeEnd, EncodeTime(16, 4, 59, 0), kTolerance) << k.interval;
    EXPECT_EQ(c.interval, k.interval);
  }

  // Times from the request move too, below midnight if need be.
  Recorder::Get().Reset();
  Get("/?symbol=1&mode=6&interval=60&timeStart=00:00:30&timeOver=11:00");
  GenCall c = OnlyCall();
  EXPECT_NEAR(c.timeBegin, -29 * rtl::kOneSecond, kTolerance);
  EXPECT_NEAR(c.timeEnd, EncodeTime(11, 0, 0, 0), kTolerance);

  // Other modes keep the whole-day defaults.
  Recorder::Get().Reset();
  Get("/?symbol=1&mode=4");
  c = OnlyCall();
  EXPECT_NEAR(c.timeBegin, 0.0, kTolerance);
  EXPECT_NEAR(c.timeEnd, EncodeTime(23, 59, 59, 0), kTolerance);
}

TEST_F(HandlerTest, ModeThreeFollowsTheCalculationMode) {
  Get("/?symbol=1&mode=3&DayCount=5");
  GenCall c = OnlyCall();
  EXPECT_EQ(c.name, "GenIntraday");
  EXPECT_EQ(c.dayCount, 5);
  EXPECT_TRUE(c.priceChangeOnly);

  stores.SetSetting("KORVA", "CalcMode", "UW");
  Recorder::Get().Reset();
  Get("/?symbol=1&mode=3&DayCount=5");
  c = OnlyCall();
  EXPECT_EQ(c.name, "GenUWIntraday");
  EXPECT_TRUE(c.todayFlag);
  EXPECT_FALSE(c.priceChangeOnly);
  EXPECT_EQ(c.dayCount, 5);
  EXPECT_TRUE(c.gotResponse);

  Recorder::Get().Reset();
  Get("/?symbol=1&mode=3&dateStart=2003/7/1&dateOver=2003/7/4");
  EXPECT_FALSE(OnlyCall().todayFlag);

  stores.SetSetting("KORVA", "CalcMode", "uw");
  Recorder::Get().Reset();
  Get("/?symbol=1&mode=3");
  EXPECT_EQ(OnlyCall().name, "GenIntraday");
}

TEST_F(HandlerTest, ModeSixFromSqlTablesIsTracedInTheLog) {
  stores.SetSetting("KORVA", "DBMode", "SQL");
  Get("/?symbol=1&mode=6&interval=180");
  GenCall c = OnlyCall();
  EXPECT_EQ(c.name, "GenInterval4");
  EXPECT_EQ(c.interval, 180);
  EXPECT_TRUE(c.todayFlag);
  EXPECT_TRUE(LogHasLine("SQLDB Connected"));
  EXPECT_TRUE(LogHasLine("Interval Done"));

  stores.SetSetting("KORVA", "DBMode", "paradox");
  Recorder::Get().Reset();
  Get("/?symbol=1&mode=6");
  EXPECT_EQ(OnlyCall().name, "GenInterval4");
}

TEST_F(HandlerTest, ModeThreeFailureKeepsItsLinesAndIsLogged) {
  Recorder::Get().Reset([](hist::THistData& m, const GenCall&) {
    m.Response->SendLine("TICK|0|a|\r\n");
    throw std::runtime_error("boom");
  });
  HttpReply r = Get(
      "/?symbol=0005&mode=3&timeStart=9:30&timeOver=10:00&dateStart=2003/7/1&dateOver=2003/7/2"
      "&DayCount=2");
  EXPECT_EQ(r.body, "TICK|0|a|\r\n");
  EXPECT_TRUE(LogHasLine(
      "2003/07/04 10:00:00 =>Exception: boom when DoGenIntraday(Symbol[0005],timeBegin[09:30:00],"
      "timeEnd[10:00:00],dateBegin[2003/07/01],dateEnd[2003/07/02],DayCount[2])."))
      << Log();
}

TEST_F(HandlerTest, ModeSixFailureNamesItsGenerator) {
  Recorder::Get().Reset([](hist::THistData&, const GenCall&) { throw std::runtime_error("bad"); });
  stores.SetSetting("KORVA", "CalcMode", "UW");
  Get("/?symbol=0005&mode=6&interval=60");
  EXPECT_TRUE(LogHasLine(
      "2003/07/04 10:00:00 =>Exception: bad when GenInterval3(Symbol[0005],timeBegin[09:49:01],"
      "timeEnd[16:04:59],dateBegin[2003/07/04],dateEnd[2003/07/04],DayCount[0],interval[60])."))
      << Log();

  stores.SetSetting("KORVA", "DBMode", "SQL");
  Get("/?symbol=0005&mode=6&interval=60&DayCount=3");
  EXPECT_TRUE(LogHasLine("SQLDB Connected"));
  EXPECT_FALSE(LogHasLine("Interval Done"));
  EXPECT_TRUE(LogHasLine(
      "2003/07/04 10:00:00 =>Exception: bad when GenInterval4(Symbol[0005],timeBegin[09:49:01],"
      "timeEnd[16:04:59],dateBegin[2003/07/04],dateEnd[2003/07/04],DayCount[3],interval[60])."))
      << Log();
}

TEST_F(HandlerTest, ModeOneRetriesDatabaseErrors) {
  int failures = 1;
  Recorder::Get().Reset([&failures](hist::THistData& m, const GenCall&) {
    if (failures-- > 0) {
      m.Response->SendLine("TICK|0|partial|\r\n");
      throw engine::EDBEngineError("store down");
    }
    m.Response->SendLine("TICK|0|whole|\r\n");
  });
  HttpReply r = Get("/?symbol=0005&mode=1&dateStart=2003/7/1&dateOver=2003/7/4");
  auto calls = Recorder::Get().Calls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[1].name, "GenInterday2");
  EXPECT_EQ(calls[1].dateBegin, EncodeDate(2003, 7, 1));
  EXPECT_EQ(calls[1].dateEnd, EncodeDate(2003, 7, 4));
  EXPECT_EQ(r.body, "TICK|0|partial|\r\nTICK|0|whole|\r\n");
  std::vector<std::string> retries;
  for (const std::string& l : LogLines()) {
    if (l.find("Retry") != std::string::npos) retries.push_back(l);
  }
  ASSERT_EQ(retries.size(), 1u);
  EXPECT_EQ(retries[0], "Exception: store down. Retry 1. Close: 2.");
}

TEST_F(HandlerTest, ModeOneGivesUpAfterThreeTriesAndTracesEachClose) {
  stores.InitSqlStores();
  Recorder::Get().Reset([](hist::THistData& m, const GenCall&) {
    m.HistSQLDB.Open();
    throw engine::EDBEngineError("lost");
  });
  HttpReply r = Get("/?symbol=0005&mode=1");
  EXPECT_EQ(r.body, "");
  EXPECT_EQ(Recorder::Get().Calls().size(), 3u);
  EXPECT_TRUE(LogHasLine("Exception: lost. Retry 1. Close: 12."));
  EXPECT_TRUE(LogHasLine("Exception: lost. Retry 2. Close: 1212."));
  EXPECT_TRUE(LogHasLine("Exception: lost. Retry 3. Close: 121212."));
}

TEST_F(HandlerTest, ModeOneLeavesTheLoopOnOtherErrors) {
  Recorder::Get().Reset([](hist::THistData&, const GenCall&) { throw std::logic_error("odd"); });
  Get("/?symbol=0005&mode=1");
  EXPECT_EQ(Recorder::Get().Calls().size(), 1u);
  EXPECT_TRUE(LogHasLine("2003/07/04 10:00:00 =>Exception: odd when HistDatagetHistoryAction"));
}

}  // namespace
}  // namespace histtest
