// StoreFixture: the stores, settings file and log of one test, made fresh
// and thrown away with it.
//
// It makes a temporary data folder and points the engine's aliases at it
// (engine::ConfigureAliases), a temporary working folder holding a zet.ini
// (the settings search looks there first; the file starts empty, so every key
// takes its default and nothing is ever downloaded), and opens the log in a
// log folder. The process's working folder is the fixture's working folder
// until the fixture is destroyed.
//
// Over PostgreSQL (Backend::kPostgres; the environment variable
// HISTDATA_TEST_PG holds a libpq connection string of a server where the user
// may create databases) the fixture creates a database of its own, maps the
// aliases HISTDATA, Historical, ardandata and zetdata to it in
// <data>/aliases.ini, and drops it at the end. It also makes sure the server
// has a login role "sa" (the module's default login), so that a module logs
// in as it does out of the box.
//
// Typical use, over every available store kind:
//
//   class MyTest : public histtest::StoreTest {};
//   TEST_P(MyTest, Something) {
//     stores.AddTicks(rtl::EncodeDate(2003, 7, 4),
//                     {{"09:30:00", "0005", 10.0, 10.1, 10.05, 100, 1000, 200},
//                      {"09:30:01.250", "0005", std::nullopt, 10.1, 10.1, 0, 1200, 300}});
//     stores.AddNames({{"0005", "HSBC", "\xe6\xb1\x87\xe4\xb8\xb0"}});
//     stores.SetSetting("KORVA", "CalcMode", "UW");
//     ...
//     EXPECT_NE(stores.ReadLog().find("IsValidSymbolQuery.Open"), std::string::npos);
//   }
//   INSTANTIATE_TEST_SUITE_P(Stores, MyTest, ::testing::ValuesIn(histtest::Backends()),
//                            histtest::BackendName);
//
// Rows are written through the engine's writing connections
// (engine::ConnectAlias with writable = true). The SQL stores' tables and
// procedures come from the loader's schema (admin::InitStore); the Add...
// helpers of a SQL store create its schema on first use.
#ifndef HISTDATA_TESTS_SUPPORT_STORE_FIXTURE_H_
#define HISTDATA_TESTS_SUPPORT_STORE_FIXTURE_H_

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/engine/value.h"
#include "platform/rtl/datetime.h"

namespace histtest {

enum class Backend { kSQLite, kPostgres };

// Both kinds. Without HISTDATA_TEST_PG a PostgreSQL fixture made in a test's
// constructor (as StoreTest does) skips the test; its set-up and body never
// run. Listing the variant anyway lets a test program built before the server
// starts still run its PostgreSQL tests later.
std::vector<Backend> Backends();
// "SQLite" / "PostgreSQL", for test names.
std::string BackendName(const ::testing::TestParamInfo<Backend>& info);

// A number or text that may be null (std::nullopt).
using Num = std::optional<double>;
using Int = std::optional<int64_t>;
using Text = std::optional<std::string>;

// A time of day (or, where a column holds one, a date-time) given either as
// text "hh:nn:ss" / "hh:nn:ss.zzz" or as a date-time value; std::nullopt is
// null. Malformed text fails the test that gives it.
class TimeValue {
 public:
  TimeValue(const char* text);         // NOLINT: implicit by design
  TimeValue(const std::string& text);  // NOLINT
  TimeValue(double value) : value_(value) {}  // NOLINT
  TimeValue(std::nullopt_t) {}                // NOLINT
  const std::optional<double>& value() const { return value_; }

 private:
  std::optional<double> value_;
};

// One tick: Date is the day passed to AddTicks; ID continues the day's
// numbering in the order given. Members left out are null.
struct TickRow {
  TimeValue time;
  std::string symbol;
  Num bid{}, offer{}, price{}, bidsize{}, volume{}, offersize{};
};

// datastore (alias Historical).
struct DailyRow {
  rtl::TDateTime c_date;
  std::string stock_code;
  Num high{}, low{}, closing{}, shares_traded{}, turnover{};
};

// DailySymbol (alias Historical).
struct NameRow {
  std::string stock_code;
  Text name_e{}, name_c{};
};

// MinuteBars (alias ardandata). time_begin is a full date-time.
struct MinuteBarRow {
  std::string symbol;
  rtl::TDateTime time_begin;
  Int duration{}, seq_no{};
  Num price_open{}, price_high{}, price_low{}, price_close{}, volume{};
};

// MarketSession (alias ardandata); symbol "*" holds the default sessions.
struct SessionRow {
  std::string symbol;
  TimeValue time_open{std::nullopt}, time_close{std::nullopt};
};

// symbolTable (the module database, alias zetdata by default).
struct SymbolRow {
  std::string symbol;
  Text is_valid{};  // '1' is valid
};

// IntervalTable60/180/300: Date "yyyy/mm/dd" and Time "hh:nn:ss" are text.
struct IntervalRow {
  std::string symbol;
  Text date{}, time{};
  Num open{}, high{}, low{}, close{}, volume{};
};

class StoreFixture {
 public:
  explicit StoreFixture(Backend backend = Backend::kSQLite);
  ~StoreFixture();
  StoreFixture(const StoreFixture&) = delete;
  StoreFixture& operator=(const StoreFixture&) = delete;

  Backend backend() const { return backend_; }
  const std::string& DataDir() const { return data_dir_; }
  const std::string& WorkDir() const { return work_dir_; }
  const std::string& LogDir() const { return log_dir_; }

  // --- Stores -----------------------------------------------------------------
  // Appends ticks to the tick table of `day` (its fraction is ignored),
  // creating the table when the day has none.
  void AddTicks(rtl::TDateTime day, const std::vector<TickRow>& rows);
  // Creates the tables and procedures of Historical, ardandata and zetdata
  // (for a test that needs them empty).
  void InitSqlStores();
  void AddDaily(const std::vector<DailyRow>& rows);
  void AddNames(const std::vector<NameRow>& rows);
  void AddMinuteBars(const std::vector<MinuteBarRow>& rows);
  void AddSessions(const std::vector<SessionRow>& rows);
  void AddSymbols(const std::vector<SymbolRow>& rows, const std::string& alias = "zetdata");
  // `seconds` is 60, 180 or 300: IntervalTable60 and so on.
  void AddIntervals(int seconds, const std::vector<IntervalRow>& rows,
                    const std::string& alias = "zetdata");
  // Runs SQL text on a store through a writing connection, for what the
  // helpers above do not cover (dropping a table, say).
  void Execute(const std::string& alias, const std::string& sql);

  // Sends `alias` to the PostgreSQL database of a libpq connection string
  // (for instance an unreachable one, "host=/nonexistent port=1") and
  // reconfigures the engine.
  void RouteAlias(const std::string& alias, const std::string& conninfo);

  // --- Settings -------------------------------------------------------------
  // Sets key=value in section of the working folder's zet.ini.
  void SetSetting(const std::string& section, const std::string& key, const std::string& value);
  // Replaces zet.ini with `text` as given (malformed files, odd layouts);
  // later SetSetting calls start again from an empty file.
  void WriteSettingsFile(const std::string& text);

  // --- Log --------------------------------------------------------------------
  // What was appended to the log since the fixture was made.
  std::string ReadLog() const;
  // The same, split at CR LF.
  std::vector<std::string> ReadLogLines() const;

 private:
  void Prepare();
  void CleanUp();
  void EnsureSchema(const std::string& alias);
  void WriteAliases();
  void WriteSettings();
  void Insert(const std::string& alias, const std::string& table,
              const std::vector<std::string>& columns,
              const std::vector<std::vector<engine::Value>>& rows);

  Backend backend_;
  std::string root_, data_dir_, work_dir_, log_dir_, old_cwd_;
  std::string pg_admin_conninfo_, pg_database_;
  std::map<std::string, std::string> routes_;  // alias -> PostgreSQL connection string
  // zet.ini sections in the order first set, each with its keys in order.
  std::vector<std::pair<std::string, std::vector<std::pair<std::string, std::string>>>> settings_;
  std::set<std::string> initialised_;
  uint64_t log_start_ = 0;
};

// A value-parameterised test over the store kinds; `stores` is made before
// the test body and destroyed after everything the test declared.
class StoreTest : public ::testing::TestWithParam<Backend> {
 protected:
  StoreTest() : stores(GetParam()) {}
  StoreFixture stores;
};

}  // namespace histtest

#endif  // HISTDATA_TESTS_SUPPORT_STORE_FIXTURE_H_
