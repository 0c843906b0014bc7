// Mode 6 over the tick tables (DBMode PARADOX) through the real server: the
// fixed slot grid, the three ways of forming a bar, the closing bar, the UW
// fill, slot boundaries, missing days and the closing lines.
//
// Under CalcMode UW the handler starts the first slot earlier by the slot
// length less one second (299 s for 300-second slots), so those requests
// send a timeStart that lands on the wanted slot start after that shift.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/rtl/datetime.h"
#include "tests/generators/bar_service_test.h"

namespace histtest {
namespace {

using rtl::EncodeDate;

const double kJul2 = EncodeDate(2003, 7, 2);
const double kJul3 = EncodeDate(2003, 7, 3);
const double kJul4 = EncodeDate(2003, 7, 4);

std::string Bar(int n, const std::string& date, const std::string& time, const std::string& o,
                const std::string& h, const std::string& l, const std::string& c,
                const std::string& volume) {
  return "INTERVAL|" + std::to_string(n) + "|" + date + "|" + time + "|" + o + "|" + h + "|" + l +
         "|" + c + "|" + volume + "|\r\n";
}

std::string Dash(int n, const std::string& date, const std::string& time) {
  return "INTERVAL|" + std::to_string(n) + "|" + date + "|" + time + "|-|-|-|-|-|\r\n";
}

// Dash lines numbered from `first` for the slots from `from` (seconds of the
// day) while they start before `until`, `step` seconds apart.
std::string Dashes(int first, const std::string& date, int from, int until, int step) {
  std::string out;
  for (int t = from; t < until; t += step) out += Dash(first++, date, Clock(t));
  return out;
}

TickRow Tick(const char* time, double price, double volume, double bid = 0, double offer = 0,
             const char* symbol = "0005") {
  return {time, symbol, bid, offer, price, 100, volume, 200};
}

std::string Mode6(const std::string& symbol, const std::string& times, const std::string& dates,
                  int interval, const std::string& extra = "") {
  return "/?symbol=" + symbol + "&mode=6&interval=" + std::to_string(interval) + times + dates +
         extra;
}

const std::string kJul4Only = "&dateStart=2003/07/04&dateOver=2003/07/04";

class Interval3Test : public BarServiceTest {};

TEST_P(Interval3Test, UWExampleFillsTheDayWithDashLines) {
  Set("CalcMode", "UW");
  stores.AddNames({{"0005", "HSBC", "HK"}});
  stores.AddTicks(kJul4, {Tick("09:31:00", 10, 100), Tick("09:33:00", 10.5, 250),
                          Tick("09:41:00", 10.2, 300)});
  // 09:34:59 less 299 s: the first slot starts at 09:30:00.
  HttpReply r = Get(Mode6("0005", "&timeStart=09:34:59&timeOver=16:00:00", kJul4Only, 300));
  EXPECT_EQ(r.status, 200);
  const std::string d = "2003/07/04";
  EXPECT_EQ(r.body, "NOTE|ENAME|HSBC|\r\nNOTE|CNAME|HK|\r\n" +
                        Bar(0, d, "09:30:00", "10.000", "10.500", "10.000", "10.500", "250") +
                        Dash(1, d, "09:35:00") +
                        Bar(2, d, "09:40:00", "10.200", "10.200", "10.200", "10.200", "50") +
                        Dashes(3, d, At(9, 45), At(16, 0), 300) + Count(78));
  // Each line is its own write.
  EXPECT_EQ(r.chunks.size(), 2u + 78u + 1u);
}

TEST_P(Interval3Test, UWWithoutTimesFillsTheDefaultWindow) {
  // The default window 09:50:00 to 16:04:59 starts one slot less a second
  // earlier, so one-minute slots begin at 09:49:01 and the last whole one
  // ends at 16:05:00, one second after the end time.
  Set("CalcMode", "UW");
  stores.AddTicks(kJul4, {Tick("09:50:30", 10, 100)});
  HttpReply r = Get("/?symbol=0005&mode=6&interval=60" + kJul4Only);
  const std::string d = "2003/07/04";
  EXPECT_EQ(r.body, Dash(0, d, "09:49:01") +
                        Bar(1, d, "09:50:01", "10.000", "10.000", "10.000", "10.000", "100") +
                        Dashes(2, d, At(9, 51, 1), At(16, 4, 1), 60) + Count(375));
}

TEST_P(Interval3Test, DCExampleFollowsBidAndOfferWithoutFill) {
  stores.AddTicks(kJul4, {Tick("09:31:00", 10, 100, 9.9, 10.1), Tick("09:33:00", 10.5, 250, 10.4, 10.6),
                          Tick("09:41:00", 10.2, 300, 10.1, 10.3)});
  HttpReply r = Get(Mode6("0005", "&timeStart=09:30:00&timeOver=16:00:00", kJul4Only, 300));
  const std::string d = "2003/07/04";
  EXPECT_EQ(r.body, Bar(0, d, "09:30:00", "10.000", "10.600", "9.900", "10.500", "250") +
                        Dash(1, d, "09:35:00") +
                        Bar(2, d, "09:40:00", "10.200", "10.300", "10.100", "10.200", "50") +
                        Count(3));
}

TEST_P(Interval3Test, OtherCalcModeTextsFormBarsAsDC) {
  // "uw" is not "UW": bid and offer set high and low, and no fill follows.
  Set("CalcMode", "uw");
  stores.AddTicks(kJul4, {Tick("09:31:00", 10, 100, 9.9, 10.1)});
  HttpReply r = Get(Mode6("0005", "&timeStart=09:30:00&timeOver=16:00:00", kJul4Only, 300));
  EXPECT_EQ(r.body,
            Bar(0, "2003/07/04", "09:30:00", "10.000", "10.100", "9.900", "10.000", "100") + Count(1));
}

TEST_P(Interval3Test, TickExactlyAtTheEndOfASlotOpensTheNext) {
  stores.AddTicks(kJul4, {Tick("09:30:10", 10, 100, 9.9, 10.1), Tick("09:31:00", 11, 300, 10.9, 11.1)});
  HttpReply r = Get(Mode6("0005", "&timeStart=09:30:00&timeOver=16:00:00", kJul4Only, 60));
  const std::string d = "2003/07/04";
  EXPECT_EQ(r.body, Bar(0, d, "09:30:00", "10.000", "10.100", "9.900", "10.000", "100") +
                        Bar(1, d, "09:31:00", "11.000", "11.100", "10.900", "11.000", "200") +
                        Count(2));
}

TEST_P(Interval3Test, SlotBoundaryStaysExactAfterThousandsOfSlots) {
  // 7-second slots from midnight: 13:36:40 is the start of slot 7000, a
  // boundary that adding 7/86400 of a day 7000 times would blur.
  stores.AddTicks(kJul4, {Tick("13:36:35", 10, 100, 9.9, 10.1), Tick("13:36:40", 11, 300, 10.9, 11.1)});
  HttpReply r = Get(Mode6("0005", "&timeStart=00:00:00&timeOver=23:59:59", kJul4Only, 7));
  const std::string d = "2003/07/04";
  EXPECT_EQ(r.body, Dashes(0, d, 0, 6999 * 7, 7) +
                        Bar(6999, d, Clock(6999 * 7), "10.000", "10.100", "9.900", "10.000", "100") +
                        Bar(7000, d, "13:36:40", "11.000", "11.100", "10.900", "11.000", "200") +
                        Count(7001));
}

TEST_P(Interval3Test, SlotLongerThanTheWindowGivesNoLine) {
  Set("CalcMode", "UW");
  stores.AddTicks(kJul4, {Tick("09:31:00", 10, 100)});
  // First slot 09:30:00 to 09:40:00 ends after 09:35:00 plus one second.
  HttpReply r = Get(Mode6("0005", "&timeStart=09:34:59&timeOver=09:35:00", kJul4Only, 600));
  EXPECT_EQ(r.body, kNotFound);
}

TEST_P(Interval3Test, SlotEndingOneSecondAfterTheEndTimeIsStillWritten) {
  Set("CalcMode", "UW");
  stores.AddTicks(kJul4, {Tick("16:01:00", 10, 100), Tick("16:06:00", 11, 200)});
  // 16:00:00 to 16:05:00 ends one second after 16:04:59 and is written; the
  // 16:06:00 tick lies after the end time and is not read.
  HttpReply r = Get(Mode6("0005", "&timeStart=16:04:59&timeOver=16:04:59", kJul4Only, 300));
  EXPECT_EQ(r.body,
            Bar(0, "2003/07/04", "16:00:00", "10.000", "10.000", "10.000", "10.000", "100") + Count(1));
}

TEST_P(Interval3Test, SlotEndingLaterThanThatDropsItsTicks) {
  stores.AddTicks(kJul4, {Tick("09:31:00", 10, 100, 9.9, 10.1), Tick("09:36:00", 11, 200, 10.9, 11.1)});
  // The 09:35 slot ends at 09:40:00, after 09:37:00 plus one second.
  HttpReply r = Get(Mode6("0005", "&timeStart=09:30:00&timeOver=09:37:00", kJul4Only, 300));
  EXPECT_EQ(r.body,
            Bar(0, "2003/07/04", "09:30:00", "10.000", "10.100", "9.900", "10.000", "100") + Count(1));
}

TEST_P(Interval3Test, MissingDayInsideARangeIsSkippedSilently) {
  stores.AddTicks(kJul2, {Tick("09:31:00", 10, 100, 9.9, 10.1)});
  stores.AddTicks(kJul4, {Tick("09:32:00", 12, 50, 11.9, 12.1)});
  HttpReply r = Get(Mode6("0005", "&timeStart=09:30:00&timeOver=09:40:00",
                          "&dateStart=2003/07/02&dateOver=2003/07/04", 300));
  EXPECT_EQ(r.body,
            Bar(0, "2003/07/02", "09:30:00", "10.000", "10.100", "9.900", "10.000", "100") +
                Bar(1, "2003/07/04", "09:30:00", "12.000", "12.100", "11.900", "12.000", "50") +
                Count(2));
}

TEST_P(Interval3Test, MissingDayOfAOneDayRangeIsReported) {
  stores.AddTicks(kJul3, {Tick("09:31:00", 10, 100)});
  HttpReply r = Get(Mode6("0005", "&timeStart=09:30:00&timeOver=16:00:00", kJul4Only, 300));
  EXPECT_EQ(r.body, kNoDataForDate + kNotFound);
}

TEST_P(Interval3Test, RangeWithoutAnyTableReportsTheMissingDayOnce) {
  stores.AddTicks(kJul2, {Tick("09:31:00", 10, 100)});
  HttpReply r = Get(Mode6("0005", "&timeStart=09:30:00&timeOver=16:00:00",
                          "&dateStart=2003/07/03&dateOver=2003/07/04", 300));
  EXPECT_EQ(r.body, kNoDataForDate + kNotFound);
}

TEST_P(Interval3Test, DayWithoutTheSymbolAddsNothingInEveryMode) {
  stores.AddTicks(kJul3, {Tick("09:31:00", 50, 100, 49.9, 50.1, "0006")});
  stores.AddTicks(kJul4, {Tick("09:31:00", 10, 100, 9.9, 10.1)});
  const std::string dates = "&dateStart=2003/07/03&dateOver=2003/07/04";
  const std::string d = "2003/07/04";
  HttpReply dc = Get(Mode6("0005", "&timeStart=09:30:00&timeOver=09:40:00", dates, 300));
  EXPECT_EQ(dc.body, Bar(0, d, "09:30:00", "10.000", "10.100", "9.900", "10.000", "100") + Count(1));

  Set("CalcMode", "UW");
  HttpReply uw = Get(Mode6("0005", "&timeStart=09:34:59&timeOver=09:40:00", dates, 300));
  EXPECT_EQ(uw.body, Bar(0, d, "09:30:00", "10.000", "10.000", "10.000", "10.000", "100") +
                         Dash(1, d, "09:35:00") + Count(2));
}

TEST_P(Interval3Test, DayCountReadsEarlierDaysWholeAndReportsTheirMissingTable) {
  // Eleven rows make a day count; the symbol's own ticks are few.
  auto withOthers = [](std::vector<TickRow> rows) {
    while (rows.size() < 11) rows.push_back(Tick("12:00:00", 50, 1, 49.9, 50.1, "0006"));
    return rows;
  };
  const std::string target = Mode6("0005", "&timeStart=09:30:00&timeOver=09:40:00", kJul4Only,
                                   300, "&DayCount=2");
  // The 09:10 tick lies before the start time on the requested day: not read.
  stores.AddTicks(kJul4, withOthers({Tick("09:10:00", 7, 10, 6.9, 7.1),
                                     Tick("09:31:00", 10, 100, 9.9, 10.1)}));
  const std::string jul4 = "2003/07/04";
  // Two days are wanted but the one-day range holds one: the day before is
  // read too, and its missing table is reported.
  HttpReply missing = Get(target);
  EXPECT_EQ(missing.body, kNoDataForDate +
                              Bar(0, jul4, "09:30:00", "10.000", "10.100", "9.900", "10.000", "100") +
                              Count(1));

  // That earlier day is read from the symbol's first tick: the 09:00 tick
  // joins the first slot.
  stores.AddTicks(kJul3, withOthers({Tick("09:00:00", 5, 50, 4.9, 5.1),
                                     Tick("09:32:00", 6, 80, 5.9, 6.1)}));
  HttpReply both = Get(target);
  EXPECT_EQ(both.body,
            Bar(0, "2003/07/03", "09:30:00", "5.000", "6.100", "4.900", "6.000", "80") +
                Bar(1, jul4, "09:30:00", "10.000", "10.100", "9.900", "10.000", "100") + Count(2));
}

TEST_P(Interval3Test, RangeLongerThanACenturyReadsEachTableOnce) {
  // 4 July 1903 and 4 July 2003 name the same table; its bars come once.
  stores.AddTicks(kJul4, {Tick("09:31:00", 10, 100, 9.9, 10.1)});
  HttpReply r = Get(Mode6("0005", "&timeStart=09:30:00&timeOver=09:35:00",
                          "&dateStart=1903/07/04&dateOver=2003/07/04", 300));
  EXPECT_EQ(r.body,
            Bar(0, "2003/07/04", "09:30:00", "10.000", "10.100", "9.900", "10.000", "100") + Count(1));
}

TEST_P(Interval3Test, TicksBeforeTimeBeginCountOnLaterDaysOnly) {
  Set("CalcMode", "UW");
  stores.AddTicks(kJul3, {Tick("09:00:00", 5, 50), Tick("09:31:00", 10, 100)});
  stores.AddTicks(kJul4, {Tick("09:00:00", 6, 70), Tick("09:31:00", 11, 150)});
  HttpReply r = Get(Mode6("0005", "&timeStart=09:34:59&timeOver=09:40:00",
                          "&dateStart=2003/07/03&dateOver=2003/07/04", 300));
  EXPECT_EQ(r.body,
            Bar(0, "2003/07/03", "09:30:00", "10.000", "10.000", "10.000", "10.000", "100") +
                Dash(1, "2003/07/03", "09:35:00") +
                Bar(2, "2003/07/04", "09:30:00", "6.000", "11.000", "6.000", "11.000", "150") +
                Dash(3, "2003/07/04", "09:35:00") + Count(4));
}

TEST_P(Interval3Test, NothingCarriesOverIntoTheNextDay) {
  Set("CalcMode", "UW");
  stores.AddTicks(kJul3, {Tick("09:31:00", 20, 100), Tick("09:32:00", 5, 120)});
  stores.AddTicks(kJul4, {Tick("09:31:00", 10, 250)});
  HttpReply r = Get(Mode6("0005", "&timeStart=09:34:59&timeOver=09:35:00",
                          "&dateStart=2003/07/03&dateOver=2003/07/04", 300));
  EXPECT_EQ(r.body,
            Bar(0, "2003/07/03", "09:30:00", "20.000", "20.000", "5.000", "5.000", "120") +
                Bar(1, "2003/07/04", "09:30:00", "10.000", "10.000", "10.000", "10.000", "250") +
                Count(2));
}

TEST_P(Interval3Test, ExecutionTickOnlyHidesQuoteSlotsBeforeTheNominalTime) {
  Set("CalcMode", "UW");
  Set("ExecutionTickOnly", "Y");
  // 15:56 and 16:01 are quotes: the running volume stays at 100.
  stores.AddTicks(kJul4, {Tick("15:51:00", 10, 100), Tick("15:56:00", 10.5, 100),
                          Tick("16:01:00", 10.7, 100)});
  const std::string target = Mode6("0005", "&timeStart=15:54:59&timeOver=16:10:00", kJul4Only, 300);
  const std::string d = "2003/07/04";
  HttpReply before = Get(target);
  EXPECT_EQ(before.body, Bar(0, d, "15:50:00", "10.000", "10.000", "10.000", "10.000", "100") +
                             Dash(1, d, "15:55:00") +
                             Bar(2, d, "16:00:00", "10.700", "10.700", "10.700", "10.700", "-") +
                             Dash(3, d, "16:05:00") + Count(4));

  // With the nominal time earlier the same quote slot shows its prices.
  Set("NominalUpdateTimestamp", "15:00:00");
  HttpReply after = Get(target);
  EXPECT_EQ(after.body, Bar(0, d, "15:50:00", "10.000", "10.000", "10.000", "10.000", "100") +
                            Bar(1, d, "15:55:00", "10.500", "10.500", "10.500", "10.500", "-") +
                            Bar(2, d, "16:00:00", "10.700", "10.700", "10.700", "10.700", "-") +
                            Dash(3, d, "16:05:00") + Count(4));
}

TEST_P(Interval3Test, ExecutionTickOnlyJudgesAClosedSlotByItsStartAndTheLastSlotByItsLastTick) {
  Set("CalcMode", "UW");
  Set("ExecutionTickOnly", "Y");
  // Slots of 300 s from 15:53:00; the 15:58 slot holds only a quote at
  // 16:01, after the nominal time 16:00, and no volume.
  const std::string target = Mode6("0005", "&timeStart=15:57:59&timeOver=16:10:00", kJul4Only, 300);
  const std::string d = "2003/07/04";
  stores.AddTicks(kJul4, {Tick("15:54:00", 10, 100), Tick("16:01:00", 10.5, 100)});
  // As the day's last slot it is judged by its last tick (16:01): prices.
  HttpReply last = Get(target);
  EXPECT_EQ(last.body, Bar(0, d, "15:53:00", "10.000", "10.000", "10.000", "10.000", "100") +
                           Bar(1, d, "15:58:00", "10.500", "10.500", "10.500", "10.500", "-") +
                           Dash(2, d, "16:03:00") + Count(3));

  // Closed by a later quote it is judged by its start (15:58): a dash line.
  stores.AddTicks(kJul4, {Tick("16:04:00", 11, 100)});
  HttpReply closed = Get(target);
  EXPECT_EQ(closed.body, Bar(0, d, "15:53:00", "10.000", "10.000", "10.000", "10.000", "100") +
                             Dash(1, d, "15:58:00") +
                             Bar(2, d, "16:03:00", "11.000", "11.000", "11.000", "11.000", "-") +
                             Count(3));
}

TEST_P(Interval3Test, ExecutionOpensASlotLeftWithoutPrices) {
  Set("CalcMode", "UW");
  Set("ExecutionTickOnly", "yes");
  // The 15:56 quote leaves its slot without prices; the 15:57 trade opens it
  // and the 15:58 quote before the nominal time changes nothing.
  stores.AddTicks(kJul4, {Tick("15:51:00", 10, 100), Tick("15:56:00", 10.5, 100),
                          Tick("15:57:00", 10.6, 150), Tick("15:58:00", 9, 150)});
  HttpReply r = Get(Mode6("0005", "&timeStart=15:54:59&timeOver=16:00:00", kJul4Only, 300));
  const std::string d = "2003/07/04";
  EXPECT_EQ(r.body, Bar(0, d, "15:50:00", "10.000", "10.000", "10.000", "10.000", "100") +
                        Bar(1, d, "15:55:00", "10.600", "10.600", "10.600", "10.600", "50") +
                        Count(2));
}

TEST_P(Interval3Test, WithoutExecutionTickOnlyQuotesMovePrices) {
  Set("CalcMode", "UW");
  stores.AddTicks(kJul4, {Tick("15:51:00", 10, 100), Tick("15:56:00", 10.5, 100)});
  HttpReply r = Get(Mode6("0005", "&timeStart=15:54:59&timeOver=16:00:00", kJul4Only, 300));
  const std::string d = "2003/07/04";
  EXPECT_EQ(r.body, Bar(0, d, "15:50:00", "10.000", "10.000", "10.000", "10.000", "100") +
                        Bar(1, d, "15:55:00", "10.500", "10.500", "10.500", "10.500", "-") +
                        Count(2));
}

TEST_P(Interval3Test, RunningVolumeGoingDownShowsTheNewTotal) {
  Set("CalcMode", "UW");
  stores.AddTicks(kJul4, {Tick("09:31:00", 10, 500), Tick("09:36:00", 11, 200)});
  HttpReply r = Get(Mode6("0005", "&timeStart=09:34:59&timeOver=09:40:00", kJul4Only, 300));
  const std::string d = "2003/07/04";
  EXPECT_EQ(r.body, Bar(0, d, "09:30:00", "10.000", "10.000", "10.000", "10.000", "500") +
                        Bar(1, d, "09:35:00", "11.000", "11.000", "11.000", "11.000", "200") +
                        Count(2));
}

TEST_P(Interval3Test, SymbolIsMatchedWithItsLetterCase) {
  stores.AddTicks(kJul4, {Tick("09:31:00", 10, 100, 9.9, 10.1, "ABC")});
  HttpReply r = Get(Mode6("abc", "&timeStart=09:30:00&timeOver=16:00:00", kJul4Only, 300));
  EXPECT_EQ(r.body, kNotFound);
}

TEST_P(Interval3Test, ReadingStopsAtTheFirstRowOfAnotherLetterCase) {
  // The index orders ABC and abc together by time; the day's reading ends
  // at the first row that is not exactly the requested symbol.
  stores.AddTicks(kJul4, {Tick("09:31:00", 10, 100, 9.9, 10.1, "ABC"),
                          Tick("09:32:00", 50, 100, 49.9, 50.1, "abc"),
                          Tick("09:33:00", 12, 300, 11.9, 12.1, "ABC")});
  HttpReply r = Get(Mode6("ABC", "&timeStart=09:30:00&timeOver=16:00:00", kJul4Only, 300));
  EXPECT_EQ(r.body,
            Bar(0, "2003/07/04", "09:30:00", "10.000", "10.100", "9.900", "10.000", "100") + Count(1));
}

TEST_P(Interval3Test, IntervalOfZeroOrLessIsRefused) {
  stores.AddNames({{"0005", "HSBC", "HK"}});
  stores.AddTicks(kJul4, {Tick("09:31:00", 10, 100)});
  for (const char* interval : {"0", "-60"}) {
    SCOPED_TRACE(interval);
    HttpReply r = Get("/?symbol=0005&mode=6&timeStart=09:30:00&timeOver=16:00:00"
                      "&dateStart=2003/07/04&dateOver=2003/07/04&interval=" +
                      std::string(interval));
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, "NOTE|ENAME|HSBC|\r\nNOTE|CNAME|HK|\r\n" + kInvalidInterval);
  }
}

TEST_P(Interval3Test, TickWithoutATimeEndsTheReplyAndIsLogged) {
  // PostgreSQL's row-value search never reaches a row whose time is null.
  if (GetParam() == Backend::kPostgres) GTEST_SKIP() << "no null-time row is ever read";
  // Read from the symbol's first row (not the first requested day), so that
  // the row is reached wherever the store sorts a missing time.
  stores.AddTicks(kJul4, {Tick("09:31:00", 10, 100), {std::nullopt, "0005", 1, 1, 1, 1, 1, 1}});
  HttpReply r = Get(Mode6("0005", "&timeStart=09:30:00&timeOver=16:00:00",
                          "&dateStart=2003/07/03&dateOver=2003/07/04", 300));
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.body, "");
  EXPECT_NE(stores.ReadLog().find("Exception: Tick without Time in hist030704 when GenInterval3("),
            std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Stores, Interval3Test, ::testing::ValuesIn(Backends()), BackendName);

}  // namespace
}  // namespace histtest
