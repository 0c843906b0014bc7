// How the handler reads the spellings clients actually send: whole numbers
// with signs, blanks and hexadecimal prefixes, 12-hour and fractional times,
// short years and two-number dates, and names repeated in another letter
// case. Each request goes over the wire to a module whose generators record
// the values they were handed.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/rtl/datetime.h"
#include "tests/service/recording_module.h"
#include "tests/support/store_fixture.h"
#include "tests/support/test_server.h"

namespace histtest {
namespace {

using rtl::EncodeDate;
using rtl::EncodeTime;

constexpr double kTolerance = 1e-9;
constexpr const char* kTimeError = "ERROR|Invalid time format(yyyy/m/d).|\r\n";
constexpr const char* kDateError = "ERROR|Invalid date format(yyyy/m/d).|\r\n";
constexpr const char* kPairError = "ERROR|Invalid number of parameters.|\r\n";

class HandlerSpellingsTest : public ::testing::Test {
 protected:
  HandlerSpellingsTest() {
    rtl::SetClockForTesting([] { return EncodeDate(2003, 7, 4) + EncodeTime(10, 0, 0, 0); });
    server_ = std::make_unique<TestServer>(RecordingModule::Make);
  }
  ~HandlerSpellingsTest() override {
    server_.reset();
    rtl::SetClockForTesting(nullptr);
  }

  // A mode-4 request with `query` added; the one generator call, or an
  // empty call (name "") when none was made.
  GenCall Bars(const std::string& query, std::string* body = nullptr) {
    Recorder::Get().Reset();
    HttpReply r = server_->Get("/?symbol=0005&mode=4&" + query);
    if (body != nullptr) *body = r.body;
    auto calls = Recorder::Get().Calls();
    return calls.size() == 1 ? calls[0] : GenCall();
  }

  StoreFixture stores;
  std::unique_ptr<TestServer> server_;
};

TEST_F(HandlerSpellingsTest, WholeNumberSpellings) {
  struct Case {
    const char* value;
    int interval;
  } cases[] = {{"%2B5", 5},           {"%205", 5},         {"5%20", 300},  {"%241F", 31},
               {"0X1f", 31},          {"-0x10", -16},      {"-%2410", -16}, {"2147483647", 2147483647},
               {"2147483648", 300},   {"-2147483648", -2147483647 - 1}, {"x1F", 300},
               {"1.5", 300},          {"%2B", 300},        {"0x", 300}};
  for (const Case& k : cases) {
    GenCall c = Bars(std::string("interval=") + k.value);
    EXPECT_EQ(c.name, "GenInterval") << k.value;
    EXPECT_EQ(c.interval, k.interval) << k.value;
  }
  // The same rule for the day count.
  EXPECT_EQ(Bars("DayCount=%20-0x2").dayCount, -2);
  EXPECT_EQ(Bars("DayCount=2%20").dayCount, 0);
}

TEST_F(HandlerSpellingsTest, TimeSpellings) {
  const std::string dates = "&dateStart=2003/7/1&dateOver=2003/7/2";
  GenCall c = Bars("timeStart=9:30%20PM&timeOver=11:59:59+pm" + dates);
  EXPECT_NEAR(c.timeBegin, EncodeTime(21, 30, 0, 0), kTolerance);
  EXPECT_NEAR(c.timeEnd, EncodeTime(23, 59, 59, 0), kTolerance);

  // A fraction is a count of milliseconds, as the time conversion reads it.
  c = Bars("timeStart=09:30:00.5&timeOver=%2010:00%20" + dates);
  EXPECT_NEAR(c.timeBegin, EncodeTime(9, 30, 0, 5), kTolerance);
  EXPECT_NEAR(c.timeEnd, EncodeTime(10, 0, 0, 0), kTolerance);

  for (const char* bad : {"9", "9.30", "09-30", "24:00", "0:30%20AM", "9:30:00%20x"}) {
    std::string body;
    GenCall none = Bars(std::string("timeStart=") + bad + "&timeOver=10:00" + dates, &body);
    EXPECT_EQ(none.name, "") << bad;
    EXPECT_EQ(body, kTimeError) << bad;
  }
}

TEST_F(HandlerSpellingsTest, DateSpellings) {
  GenCall c = Bars("dateStart=03/5/12&dateOver=2003/05/12/");
  EXPECT_EQ(c.dateBegin, EncodeDate(2003, 5, 12));
  EXPECT_EQ(c.dateEnd, EncodeDate(2003, 5, 12));

  // Two numbers are month and day of the current year.
  c = Bars("dateStart=5/12&dateOver=12/31");
  EXPECT_EQ(c.dateBegin, EncodeDate(2003, 5, 12));
  EXPECT_EQ(c.dateEnd, EncodeDate(2003, 12, 31));

  for (const char* bad : {"2003-05-12", "12.5.2003", "20030512", "2003/2/29", "2003/5/12%2010:00"}) {
    std::string body;
    GenCall none = Bars(std::string("dateStart=2003/5/1&dateOver=") + bad, &body);
    EXPECT_EQ(none.name, "") << bad;
    EXPECT_EQ(body, kDateError) << bad;
  }
}

TEST_F(HandlerSpellingsTest, RepeatedNamesAndLetterCase) {
  // The first field of a name counts, whatever the case of either.
  GenCall c = Bars("Interval=60&interval=120&INTERVAL=180");
  EXPECT_EQ(c.interval, 60);
  c = Bars("daycount=3&DayCount=4");
  EXPECT_EQ(c.dayCount, 3);

  // A pair is complete when both members have a value, in any case.
  c = Bars("DATESTART=2003/5/12&dateover=2003/5/13&TimeStart=9:00&TIMEOVER=9:30");
  EXPECT_EQ(c.dateBegin, EncodeDate(2003, 5, 12));
  EXPECT_EQ(c.dateEnd, EncodeDate(2003, 5, 13));
  EXPECT_NEAR(c.timeBegin, EncodeTime(9, 0, 0, 0), kTolerance);
  EXPECT_NEAR(c.timeEnd, EncodeTime(9, 30, 0, 0), kTolerance);

  // An empty member is a missing one; a first empty field hides a later
  // field of the same name.
  std::string body;
  EXPECT_EQ(Bars("dateStart=2003/5/12&dateOver=", &body).name, "");
  EXPECT_EQ(body, kPairError);
  EXPECT_EQ(Bars("timeStart=&timeStart=9:00&timeOver=9:30", &body).name, "");
  EXPECT_EQ(body, kPairError);
}

}  // namespace
}  // namespace histtest
