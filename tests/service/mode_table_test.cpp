// The mode table: which row the settings pick for each mode, and that every
// row runs the generator it names with the request's values.
#include <gtest/gtest.h>

#include <string>

#include "service/mode_table.h"
#include "tests/service/recording_module.h"
#include "tests/support/fake_host.h"

namespace histtest {
namespace {

TEST(ModeTableTest, SettingsPickTheRowOfEachMode) {
  struct Case {
    const char* mode;
    const char* calcMode;
    const char* dbMode;
    const char* generator;  // "" when no row answers
    hist::ModeSource source;
  } cases[] = {
      {"0", "UW", "SQL", "GenIntraday", hist::ModeSource::kTickTables},
      {"1", "DC", "PARADOX", "GenInterday2", hist::ModeSource::kHistoryStore},
      {"2", "DC", "PARADOX", "GenDelay", hist::ModeSource::kTickTables},
      {"3", "DC", "PARADOX", "GenIntraday", hist::ModeSource::kTickTables},
      {"3", "uw", "PARADOX", "GenIntraday", hist::ModeSource::kTickTables},
      {"3", "UW", "SQL", "GenUWIntraday", hist::ModeSource::kTickTables},
      {"4", "UW", "SQL", "GenInterval", hist::ModeSource::kTickTables},
      {"5", "DC", "SQL", "GenFastInterval", hist::ModeSource::kMinuteStore},
      {"6", "UW", "PARADOX", "GenInterval3", hist::ModeSource::kTickTables},
      {"6", "DC", "paradox", "GenInterval4", hist::ModeSource::kIntervalTables},
      {"6", "DC", "", "GenInterval4", hist::ModeSource::kIntervalTables},
      {"7", "DC", "PARADOX", "", {}},
      {" 1", "DC", "PARADOX", "", {}},
      {"00", "DC", "PARADOX", "", {}},
      {"", "DC", "PARADOX", "", {}},
  };
  for (const Case& k : cases) {
    const std::string what = std::string("mode '") + k.mode + "' " + k.calcMode + " " + k.dbMode;
    const hist::ModeRoute* route = hist::FindModeRoute(k.mode, k.calcMode, k.dbMode);
    if (*k.generator == '\0') {
      EXPECT_EQ(route, nullptr) << what;
      continue;
    }
    ASSERT_NE(route, nullptr) << what;
    EXPECT_EQ(route->generator, k.generator) << what;
    EXPECT_EQ(route->source, k.source) << what;
  }
}

// Each row's call reaches the generator the row names, with the request's
// values in the generator's own argument order.
TEST(ModeTableTest, EveryRowCallsTheGeneratorItNames) {
  FakeHost host;
  hist::TWebRequest request(host);
  hist::TWebResponse response(host, request);
  hist::HistoryRequest r;
  r.symbol = "0005";
  r.timeStart = 0.25, r.timeOver = 0.5, r.dateStart = 37000, r.dateOver = 37002;
  r.interval = 60, r.iunit = 2, r.dayCount = 4, r.backCount = 5, r.todayFlag = true;

  for (const hist::ModeRoute& route : hist::ModeRoutes()) {
    const std::string what = std::string(route.mode) + " " + std::string(route.generator);
    Recorder::Get().Reset();
    RecordingModule module;
    module.Response = &response;
    route.call(module, response, r);
    auto calls = Recorder::Get().Calls();
    ASSERT_EQ(calls.size(), 1u) << what;
    const GenCall& c = calls[0];
    EXPECT_EQ(c.name, route.generator) << what;
    EXPECT_EQ(c.symbol, "0005") << what;
    if (c.name == "GenDelay") continue;
    EXPECT_EQ(c.dateBegin, r.dateStart) << what;
    EXPECT_EQ(c.dateEnd, r.dateOver) << what;
    if (c.name == "GenInterday2") continue;
    EXPECT_EQ(c.timeBegin, r.timeStart) << what;
    EXPECT_EQ(c.timeEnd, r.timeOver) << what;
    // Mode 0 is the window's every tick: no day count; mode 5 takes none.
    const bool takesDayCount = route.mode != "0" && route.mode != "5";
    EXPECT_EQ(c.dayCount, takesDayCount ? r.dayCount : 0) << what;
    EXPECT_EQ(c.priceChangeOnly, route.mode == "3" && route.form == hist::ModeForm::kCalcModeNotUW)
        << what;
    if (c.name == "GenUWIntraday" || c.name == "GenInterval4") {
      EXPECT_TRUE(c.todayFlag) << what;
    }
    if (route.mode >= "4") {
      EXPECT_EQ(c.interval, r.interval) << what;
    }
    if (c.name == "GenFastInterval") {
      EXPECT_EQ(c.iunit, r.iunit);
      EXPECT_EQ(c.backCount, r.backCount);
    }
  }
}

}  // namespace
}  // namespace histtest
