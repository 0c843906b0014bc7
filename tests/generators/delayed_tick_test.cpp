// Mode 2 through the real server: the last tick at least an hour old, the
// fall-back to earlier days and its bounds, and the line's number forms.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <thread>

#include "data/lookups.h"
#include "platform/engine/aliases.h"
#include "platform/engine/sqlite/sqlite_db.h"
#include "platform/os/files.h"
#include "platform/rtl/datetime.h"
#include "tools/schema.h"
#include "tests/generators/tick_service_test.h"

namespace histtest {
namespace {

using rtl::EncodeDate;
using rtl::EncodeTime;
using hist::GetFileName;

const double kJul4 = EncodeDate(2003, 7, 4);

constexpr const char* kNotFound = "ERROR|Record not found.|";

class DelayedTickTest : public TickServiceTest {
 protected:
  DelayedTickTest() { SetClock(kJul4 + EncodeTime(14, 30, 0, 0)); }
};

TickRow Tick(const char* time, double price, const char* symbol = "0005") {
  return {time, symbol, 12.5, 12.6, price, 1000, 12345.5, 2000};
}

std::string Line(const std::string& date, const std::string& time, const std::string& price) {
  return "TICK|0|" + date + "|" + time + "|12.50|12.60|" + price + "|1000|2000|12346|\r\n";
}

TEST_P(DelayedTickTest, LastTickAnHourOldTodayWithTheFixedPointForms) {
  stores.AddNames({{"0005", "HSBC", "HSBC"}});
  stores.AddTicks(kJul4, {Tick("13:00:00", 12.4), Tick("13:29:59", 12.55), Tick("13:45:00", 12.7),
                          Tick("13:00:00", 99, "0006")});
  HttpReply r = Get("/?symbol=0005&mode=2");
  EXPECT_EQ(r.body, "NOTE|ENAME|HSBC|\r\nNOTE|CNAME|HSBC|\r\n" + Line("2003/07/04", "13:29:59", "12.55"));
}

TEST_P(DelayedTickTest, TickExactlyAtTheCutOffCounts) {
  stores.AddTicks(kJul4, {Tick("13:00:00", 1), Tick("13:30:00", 2), Tick("13:30:00.001", 3)});
  EXPECT_EQ(Get("/?symbol=0005&mode=2").body, Line("2003/07/04", "13:30:00", "2.00"));
}

TEST_P(DelayedTickTest, RequestValuesChangeNothing) {
  stores.AddTicks(kJul4, {Tick("13:00:00", 1)});
  const std::string plain = Get("/?symbol=0005&mode=2").body;
  EXPECT_EQ(plain, Line("2003/07/04", "13:00:00", "1.00"));
  EXPECT_EQ(Get("/?symbol=0005&mode=2&dateStart=2003/07/01&dateOver=2003/07/02"
                "&timeStart=09:00&timeOver=10:00&DayCount=3")
                .body,
            plain);
}

TEST_P(DelayedTickTest, NoTickBeforeTheCutOffFallsBackToTheLastTableDay) {
  stores.AddTicks(kJul4 - 3, {Tick("09:00:00", 1), Tick("16:59:00", 2)});
  stores.AddTicks(kJul4, {Tick("13:45:00", 3)});
  EXPECT_EQ(Get("/?symbol=0005&mode=2").body, Line("2003/07/01", "16:59:00", "2.00"));
}

TEST_P(DelayedTickTest, BeforeOneInTheMorningTodayCountsForNothing) {
  SetClock(kJul4 + EncodeTime(0, 30, 0, 0));
  stores.AddTicks(kJul4 - 1, {Tick("23:00:00", 1)});
  stores.AddTicks(kJul4, {Tick("00:00:01", 2)});
  EXPECT_EQ(Get("/?symbol=0005&mode=2").body, Line("2003/07/03", "23:00:00", "1.00"));
}

TEST_P(DelayedTickTest, ALastTickStampedMidnightCountsAsNone) {
  stores.AddTicks(kJul4 - 1, {Tick("15:00:00", 1)});
  stores.AddTicks(kJul4, {Tick("00:00:00", 2)});
  EXPECT_EQ(Get("/?symbol=0005&mode=2").body, Line("2003/07/03", "15:00:00", "1.00"));
}

TEST_P(DelayedTickTest, SizesRoundHalfToEven) {
  stores.AddTicks(kJul4, {{"10:00:00", "0005", 1, 2, 3, 2.5, 0.5, 3.5}});
  EXPECT_EQ(Get("/?symbol=0005&mode=2").body, "TICK|0|2003/07/04|10:00:00|1.00|2.00|3.00|2|4|0|\r\n");
}

TEST_P(DelayedTickTest, NothingFoundEndsTheBodyWithoutALineBreak) {
  stores.AddTicks(kJul4, {Tick("10:00:00", 1, "ABC")});
  HttpReply r = Get("/?symbol=abc&mode=2");
  EXPECT_EQ(r.body, kNotFound);
  EXPECT_EQ(r.body.size(), 24u);
  EXPECT_EQ(r.chunks.size(), 1u);
}

TEST_P(DelayedTickTest, StopsAfterReadingATableMoreThanSevenDaysOld) {
  for (int back = 0; back <= 8; ++back) stores.AddTicks(kJul4 - back, {Tick("10:00:00", 1, "0006")});
  stores.AddTicks(kJul4 - 9, {Tick("10:00:00", 1)});
  EXPECT_EQ(Get("/?symbol=0005&mode=2").body, kNotFound);
}

TEST_P(DelayedTickTest, ATableEightDaysBackIsReadAfterSevenWithoutTheSymbol) {
  for (int back = 0; back <= 7; ++back) stores.AddTicks(kJul4 - back, {Tick("10:00:00", 1, "0006")});
  stores.AddTicks(kJul4 - 8, {Tick("10:00:00", 1), Tick("11:00:00", 2)});
  EXPECT_EQ(Get("/?symbol=0005&mode=2").body, Line("2003/06/26", "11:00:00", "2.00"));
}

// Over PostgreSQL the walk is planned from a listing of the day tables
// that the store may remember from an earlier request: each table made or
// dropped while the server runs must count from the next request on.
TEST_P(DelayedTickTest, AnOldTableBehindAGapAndTablesMadeOrDroppedWhileServing) {
  stores.AddTicks(kJul4 - 20, {Tick("10:00:00", 1)});
  stores.AddTicks(kJul4 - 21, {Tick("11:00:00", 2)});
  EXPECT_EQ(Get("/?symbol=0005&mode=2").body, Line("2003/06/14", "10:00:00", "1.00"));
  EXPECT_EQ(Get("/?symbol=0099&mode=2").body, kNotFound);
  // A past day loaded later, between the tables read.
  stores.AddTicks(kJul4 - 2, {Tick("12:00:00", 3), Tick("12:00:00", 9, "0099")});
  EXPECT_EQ(Get("/?symbol=0005&mode=2").body, Line("2003/07/02", "12:00:00", "3.00"));
  EXPECT_EQ(Get("/?symbol=0099&mode=2").body, Line("2003/07/02", "12:00:00", "9.00"));
  // Today's table, made by the day's first tick (a live feed's).
  stores.AddTicks(kJul4, {Tick("13:00:00", 4)});
  EXPECT_EQ(Get("/?symbol=0005&mode=2").body, Line("2003/07/04", "13:00:00", "4.00"));
  EXPECT_EQ(Get("/?symbol=0099&mode=2").body, Line("2003/07/02", "12:00:00", "9.00"));
  EXPECT_EQ(Get("/?symbol=0098&mode=2").body, kNotFound);
  // Tables dropped: today's, then the one loaded later; then today's made
  // again under the same name.
  auto drop = [&](double day) {
    const std::string table = GetFileName(day);
    if (GetParam() == Backend::kPostgres) {
      stores.Execute("HISTDATA", "DROP TABLE " + table);
    } else {
      ASSERT_TRUE(std::filesystem::remove(stores.DataDir() + "/histdata/" + table + ".db"));
    }
  };
  drop(kJul4);
  EXPECT_EQ(Get("/?symbol=0005&mode=2").body, Line("2003/07/02", "12:00:00", "3.00"));
  drop(kJul4 - 2);
  EXPECT_EQ(Get("/?symbol=0005&mode=2").body, Line("2003/06/14", "10:00:00", "1.00"));
  EXPECT_EQ(Get("/?symbol=0099&mode=2").body, kNotFound);
  stores.AddTicks(kJul4, {Tick("12:30:00", 5), Tick("13:45:00", 6)});
  EXPECT_EQ(Get("/?symbol=0005&mode=2").body, Line("2003/07/04", "12:30:00", "5.00"));
  // The walk back from a day that has moved on: yesterday's table is now
  // the last day, and today's has none.
  SetClock(kJul4 + 1 + EncodeTime(9, 0, 0, 0));
  EXPECT_EQ(Get("/?symbol=0005&mode=2").body, Line("2003/07/04", "13:45:00", "6.00"));
}

TEST_P(DelayedTickTest, LooksBackDecadesButNeverMeetsTodaysNamesAgain) {
  // Forty years back is still within reach.
  stores.AddTicks(EncodeDate(1963, 7, 4), {Tick("10:00:00", 1)});
  EXPECT_EQ(Get("/?symbol=0005&mode=2").body, Line("1963/07/04", "10:00:00", "1.00"));
}

TEST_P(DelayedTickTest, SearchEndsWhenNoEarlierTableExists) {
  // Today's table has the symbol only after the cut-off, and a century back
  // the day tables' names come round to today's: the search must not read
  // today's table again as if it were 1903's.
  stores.AddTicks(kJul4, {Tick("15:00:00", 1)});
  EXPECT_EQ(Get("/?symbol=0005&mode=2").body, kNotFound);
}

TEST_P(DelayedTickTest, StepsBackOverYearsWithoutTablesToTheOldestTable) {
  // The only earlier table is years old and its name's year is "99": it
  // stands for 1999, the latest such day before today.
  stores.AddTicks(EncodeDate(1999, 12, 31), {Tick("16:00:00", 7)});
  stores.AddTicks(kJul4, {Tick("15:00:00", 1)});
  EXPECT_EQ(Get("/?symbol=0005&mode=2").body, Line("1999/12/31", "16:00:00", "7.00"));
  // A symbol no table holds is answered once the oldest table has been read.
  EXPECT_EQ(Get("/?symbol=0099&mode=2").body, kNotFound);
}

TEST_P(DelayedTickTest, DaysLoadedWhileServingAreFoundByTheWalkBack) {
  // The walk back ends at the oldest day the store lists. A listing kept
  // between requests must give way to a day loaded since, however long the
  // folder of day files stood unchanged before.
  auto age_folder = [&] {
    std::error_code ec;
    const std::filesystem::path days = std::filesystem::path(stores.DataDir()) / "histdata";
    if (!std::filesystem::is_directory(days, ec)) return;  // not a folder store
    std::filesystem::last_write_time(days, std::filesystem::file_time_type::clock::now() - std::chrono::hours(1), ec);
    ASSERT_FALSE(ec) << ec.message();
  };
  stores.AddTicks(kJul4 - 3, {Tick("10:00:00", 1, "0006")});
  age_folder();
  EXPECT_EQ(Get("/?symbol=0005&mode=2").body, kNotFound);
  EXPECT_EQ(Get("/?symbol=0005&mode=2").body, kNotFound);
  stores.AddTicks(kJul4 - 5, {Tick("11:00:00", 2)});
  EXPECT_EQ(Get("/?symbol=0005&mode=2").body, Line("2003/06/29", "11:00:00", "2.00"));
  age_folder();
  EXPECT_EQ(Get("/?symbol=0005&mode=2").body, Line("2003/06/29", "11:00:00", "2.00"));
  stores.AddTicks(kJul4 - 6, {Tick("12:00:00", 3)});
  stores.AddTicks(kJul4 - 5, {Tick("12:00:00", 4, "0006")});
  EXPECT_EQ(Get("/?symbol=0005&mode=2").body, Line("2003/06/29", "11:00:00", "2.00"));
}

// The last tick is found from the far end of the symbol's rows, so each
// answer below is the one a forward read from the symbol's first row gives.
TEST_P(DelayedTickTest, AnotherSpellingEndsTheRunWhereAForwardReadWouldStop) {
  // ABC and abc interleave by time in the index: the read of abc stops at
  // ABC's first row, of ABC at abc's first.
  stores.AddTicks(kJul4, {Tick("09:00:00", 1, "abc"), Tick("10:00:00", 2, "abc"),
                          Tick("11:00:00", 3, "ABC"), Tick("12:00:00", 4, "abc"),
                          Tick("13:00:00", 5, "ABC"), Tick("09:30:00", 6, "ABD")});
  EXPECT_EQ(Get("/?symbol=abc&mode=2").body, Line("2003/07/04", "10:00:00", "2.00"));
  // ABC's first row comes after abc's: nothing kept today, nor on earlier days.
  EXPECT_EQ(Get("/?symbol=ABC&mode=2").body, kNotFound);
  EXPECT_EQ(Get("/?symbol=ABD&mode=2").body, Line("2003/07/04", "09:30:00", "6.00"));
  // An earlier day read whole ends at the other spelling too.
  stores.AddTicks(kJul4 - 1, {Tick("09:00:00", 7, "ABC"), Tick("10:00:00", 8, "ABC"),
                              Tick("11:00:00", 9, "abc"), Tick("12:00:00", 10, "ABC")});
  EXPECT_EQ(Get("/?symbol=ABC&mode=2").body, Line("2003/07/03", "10:00:00", "8.00"));
}

TEST_P(DelayedTickTest, ASpellingOfOneLoadMeetsTheOtherOfALaterLoad) {
  stores.AddTicks(kJul4, {Tick("09:00:00", 1, "XYZ"), Tick("11:00:00", 2, "XYZ")});
  EXPECT_EQ(Get("/?symbol=XYZ&mode=2").body, Line("2003/07/04", "11:00:00", "2.00"));
  stores.AddTicks(kJul4, {Tick("10:00:00", 3, "xyz")});
  EXPECT_EQ(Get("/?symbol=XYZ&mode=2").body, Line("2003/07/04", "09:00:00", "1.00"));
  EXPECT_EQ(Get("/?symbol=xyz&mode=2").body, kNotFound);
}

TEST_P(DelayedTickTest, TicksOfOneTimeAnswerTheLastLoaded) {
  // 13:30:00 is the cut-off itself; its last row by ID is the one kept, and
  // one a millisecond later is not.
  stores.AddTicks(kJul4, {Tick("13:30:00", 1), Tick("13:30:00", 2), Tick("13:30:00", 3),
                          Tick("13:30:00.001", 4), Tick("13:30:00.001", 5)});
  EXPECT_EQ(Get("/?symbol=0005&mode=2").body, Line("2003/07/04", "13:30:00", "3.00"));
  stores.AddTicks(kJul4 - 1, {Tick("16:00:00", 6), Tick("16:00:00", 7)});
  SetClock(kJul4 + EncodeTime(13, 0, 0, 0));
  EXPECT_EQ(Get("/?symbol=0005&mode=2").body, Line("2003/07/03", "16:00:00", "7.00"));
}

// A server asks a symbol's names, and its last tick of a past day, the
// same questions request after request; whatever it keeps of the answers,
// a name or a past day changed while it serves is what the next request
// gets: after a commit that rewrote the file, and after one that only went
// into the file's write-ahead log, however long the file stood unchanged.
TEST_P(DelayedTickTest, NamesAndPastDaysChangedWhileServingAreTheNextRequestsAnswers) {
  const double day = kJul4 - 1;
  const std::string table = GetFileName(day);
  stores.AddNames({{"0005", "HSBC", "HSBC"}});
  // Another spelling ends ABC's run where a forward read would stop.
  stores.AddTicks(day, {Tick("13:00:00", 1), Tick("09:00:00", 6, "ABC"), Tick("10:00:00", 7, "abc"),
                        Tick("11:00:00", 8, "ABC")});
  const bool sqlite = GetParam() == Backend::kSQLite;
  const std::string names_file = stores.DataDir() + "/historical.db";
  const std::string day_file = stores.DataDir() + "/histdata/" + table + ".db";
  std::unique_ptr<engine::Connection> names = engine::ConnectAlias(admin::kHistoricalAlias, {}, true);
  auto rename = [&](const std::string& name) {
    names->ExecuteScript("UPDATE DailySymbol SET name_e = '" + name + "' WHERE Stock_code = '0005'");
  };
  auto reply = [](const std::string& name, const std::string& time, const std::string& price) {
    return "NOTE|ENAME|" + name + "|\r\nNOTE|CNAME|HSBC|\r\n" + Line("2003/07/03", time, price);
  };
  // Answers read within a second of a file's last change are not kept:
  // the test waits until the files and their logs are older than that.
  auto wait_until_settled = [&] {
    auto settled = [](const std::string& path) {
      os::FileVersion v;
      return !os::RegularFileVersion(path, v) || os::LeftAloneFor(v, 1'100'000'000);
    };
    for (const std::string& file : {names_file, day_file}) {
      while (!settled(file) || !settled(file + "-wal")) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  };

  if (sqlite) wait_until_settled();
  EXPECT_EQ(Get("/?symbol=0005&mode=2").body, reply("HSBC", "13:00:00", "1.00"));
  for (int twice = 0; twice < 2; ++twice) {
    EXPECT_EQ(Get("/?symbol=ABC&mode=2").body, Line("2003/07/03", "09:00:00", "6.00"));
  }
  if (sqlite) {
    // Writers holding both files locked keep readers out: the answer comes
    // without reading them, as they still hold it.
    auto lock = [](const std::string& path) {
      std::shared_ptr<engine::sqlite::Db> db = engine::sqlite::Db::Open(path, true);
      db->Exec("BEGIN EXCLUSIVE");
      return db;
    };
    auto names_lock = lock(names_file), day_lock = lock(day_file);
    EXPECT_EQ(Get("/?symbol=0005&mode=2").body, reply("HSBC", "13:00:00", "1.00"));
  }
  rename("HSBC Holdings");
  stores.AddTicks(day, {Tick("14:00:00", 2)});
  EXPECT_EQ(Get("/?symbol=0005&mode=2").body, reply("HSBC Holdings", "14:00:00", "2.00"));

  if (sqlite) {
    // The writers stay open, so that their commits stay in the logs.
    std::unique_ptr<engine::Connection> days = engine::ConnectAlias(admin::kTickAlias, {}, true);
    names->ExecuteScript("PRAGMA journal_mode = WAL");
    days->WriteLive(table, true);
    auto reprice = [&](const char* price) {
      days->ExecuteScript("UPDATE " + table + " SET Price = " + price + " WHERE Time > 0.58");
    };
    rename("HSBC Asia");
    reprice("3");
    wait_until_settled();
    EXPECT_EQ(Get("/?symbol=0005&mode=2").body, reply("HSBC Asia", "14:00:00", "3.00"));
    EXPECT_EQ(Get("/?symbol=0005&mode=2").body, reply("HSBC Asia", "14:00:00", "3.00"));
    rename("HSBC plc");
    reprice("4");
    EXPECT_EQ(Get("/?symbol=0005&mode=2").body, reply("HSBC plc", "14:00:00", "4.00"));
  }
  rename("HSBC");
  stores.AddTicks(day, {Tick("15:00:00", 5)});
  EXPECT_EQ(Get("/?symbol=0005&mode=2").body, reply("HSBC", "15:00:00", "5.00"));
}

INSTANTIATE_TEST_SUITE_P(Stores, DelayedTickTest, ::testing::ValuesIn(Backends()), BackendName);

}  // namespace
}  // namespace histtest
