// The fixture keeps everything it makes under one temporary root so that a
// failed test leaves nothing behind in the shared build folder, and it writes
// rows through the engine's own writing connections so that the stores a
// test reads are laid out exactly as the loader lays them out.
#include "tests/support/store_fixture.h"

#include <libpq-fe.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>

#include "log/zetUtilities.h"
#include "platform/engine/aliases.h"
#include "platform/engine/driver.h"
#include "tests/support/legacy_tick_table.h"
#include "tools/schema.h"

namespace histtest {

namespace fs = std::filesystem;

namespace {

const char* PgEnv() {
  const char* v = std::getenv("HISTDATA_TEST_PG");
  return (v != nullptr && *v != '\0') ? v : nullptr;
}

std::string MakeTempDir(const std::string& pattern) {
  std::string path = (fs::temp_directory_path() / pattern).string();
  std::vector<char> buf(path.begin(), path.end());
  buf.push_back('\0');
  if (mkdtemp(buf.data()) == nullptr) throw std::runtime_error("mkdtemp failed for " + path);
  return buf.data();
}

// The log opens once per process (the log unit's own rule), so every fixture
// of a test program shares one log folder and reads from its own offset.
// The folder goes when the test program ends.
const std::string& ProcessLogDir() {
  struct LogDir {
    std::string path = MakeTempDir("histtest-log.XXXXXX");
    LogDir() {
      zetlog::SetLogFolder(path);
      zetlog::InitialLock();
    }
    ~LogDir() {
      std::error_code ec;
      fs::remove_all(path, ec);
    }
  };
  static const LogDir dir;
  return dir.path;
}

uint64_t FileSize(const std::string& path) {
  std::error_code ec;
  auto size = fs::file_size(path, ec);
  return ec ? 0 : static_cast<uint64_t>(size);
}

// A value quoted for a libpq keyword/value connection string.
std::string QuoteConnValue(const std::string& v) {
  std::string out = "'";
  for (char c : v) {
    if (c == '\'' || c == '\\') out += '\\';
    out += c;
  }
  return out + "'";
}

// `conninfo` (keyword form or URI) with its database replaced by `dbname`.
std::string WithDatabase(const std::string& conninfo, const std::string& dbname) {
  char* err = nullptr;
  PQconninfoOption* opts = PQconninfoParse(conninfo.c_str(), &err);
  if (opts == nullptr) {
    std::string msg = err ? err : "unreadable connection string";
    PQfreemem(err);
    throw std::runtime_error("HISTDATA_TEST_PG: " + msg);
  }
  std::string out;
  for (PQconninfoOption* o = opts; o->keyword != nullptr; ++o) {
    if (o->val == nullptr || std::string(o->keyword) == "dbname") continue;
    out += std::string(o->keyword) + "=" + QuoteConnValue(o->val) + " ";
  }
  PQconninfoFree(opts);
  return out + "dbname=" + QuoteConnValue(dbname);
}

// Runs one statement outside a transaction (CREATE/DROP DATABASE need that).
void PgAdminCommand(const std::string& conninfo, const std::string& sql) {
  std::unique_ptr<PGconn, decltype(&PQfinish)> conn(PQconnectdb(conninfo.c_str()), &PQfinish);
  if (PQstatus(conn.get()) != CONNECTION_OK)
    throw std::runtime_error("cannot reach the test server: " +
                             std::string(PQerrorMessage(conn.get())));
  std::unique_ptr<PGresult, decltype(&PQclear)> res(PQexec(conn.get(), sql.c_str()), &PQclear);
  if (PQresultStatus(res.get()) != PGRES_COMMAND_OK)
    throw std::runtime_error(sql + ": " + PQerrorMessage(conn.get()));
}

engine::Value NumValue(const Num& n) { return n ? engine::Value::Float(*n) : engine::Value::Null(); }
engine::Value IntValue(const Int& n) { return n ? engine::Value::Int(*n) : engine::Value::Null(); }
engine::Value TextValue(const Text& t) { return t ? engine::Value::Text(*t) : engine::Value::Null(); }
engine::Value TimeOfDay(const TimeValue& t) {
  if (!t.value()) return engine::Value::Null();
  // Stored times carry whole milliseconds.
  return engine::Value::Float(std::nearbyint(*t.value() * rtl::kMsPerDay) / rtl::kMsPerDay);
}

bool EqualNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

// Called from a test's constructor, this keeps the test from running at all.
void SkipWithoutServer() { GTEST_SKIP() << "HISTDATA_TEST_PG is not set"; }

}  // namespace

// Both always: test programs list their tests when they are built, which may
// be before a server is started, so the PostgreSQL variants must exist then.
std::vector<Backend> Backends() { return {Backend::kSQLite, Backend::kPostgres}; }

std::string BackendName(const ::testing::TestParamInfo<Backend>& info) {
  return info.param == Backend::kSQLite ? "SQLite" : "PostgreSQL";
}

// "hh:nn:ss" or "hh:nn:ss.zzz" (one to three digits of fraction).
TimeValue::TimeValue(const std::string& text) {
  int h = 0, n = 0, s = 0, used = 0;
  if (std::sscanf(text.c_str(), "%2d:%2d:%2d%n", &h, &n, &s, &used) != 3 || h > 23 || n > 59 ||
      s > 59 || h < 0 || n < 0 || s < 0)
    throw std::invalid_argument("malformed time \"" + text + "\"");
  double ms = 0;
  if (static_cast<size_t>(used) < text.size()) {
    std::string frac = text.substr(used);
    if (frac.size() < 2 || frac.size() > 4 || frac[0] != '.' ||
        frac.find_first_not_of("0123456789", 1) != std::string::npos)
      throw std::invalid_argument("malformed time \"" + text + "\"");
    ms = std::stod("0" + frac) * 1000.0;
  }
  value_ = ((h * 3600.0 + n * 60.0 + s) * 1000.0 + std::nearbyint(ms)) / rtl::kMsPerDay;
}

TimeValue::TimeValue(const char* text) : TimeValue(std::string(text)) {}

StoreFixture::StoreFixture(Backend backend) : backend_(backend) {
  log_dir_ = ProcessLogDir();
  log_start_ = FileSize(zetlog::LogPath());

  root_ = MakeTempDir("histtest.XXXXXX");
  try {
    Prepare();
  } catch (...) {
    CleanUp();  // no destructor runs for a constructor that throws
    throw;
  }
}

void StoreFixture::Prepare() {
  data_dir_ = root_ + "/data";
  work_dir_ = root_ + "/work";
  fs::create_directories(data_dir_ + "/histdata");
  fs::create_directories(work_dir_);

  if (backend_ == Backend::kPostgres && PgEnv() == nullptr) {
    // The test is skipped before it starts; the fixture stays a valid
    // embedded one so that nothing else needs to know.
    SkipWithoutServer();
  } else if (backend_ == Backend::kPostgres) {
    pg_admin_conninfo_ = PgEnv();
    static std::atomic<int> serial{0};
    pg_database_ = "histtest_" + std::to_string(getpid()) + "_" + std::to_string(++serial) + "_" +
                   fs::path(root_).filename().string().substr(9);
    for (char& c : pg_database_) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    // The form databases log in as "sa" unless the settings say otherwise;
    // the test server lets that role in like any other (trust).
    PgAdminCommand(pg_admin_conninfo_,
                   "DO $$BEGIN CREATE ROLE sa LOGIN SUPERUSER; "
                   "EXCEPTION WHEN duplicate_object OR unique_violation THEN NULL; END$$");
    PgAdminCommand(pg_admin_conninfo_, "CREATE DATABASE " + pg_database_);
    std::string conn = WithDatabase(pg_admin_conninfo_, pg_database_);
    for (const char* alias : {"HISTDATA", "Historical", "ardandata", "zetdata"}) routes_[alias] = conn;
  }
  WriteAliases();

  char cwd[4096];
  if (getcwd(cwd, sizeof cwd) != nullptr) old_cwd_ = cwd;
  if (chdir(work_dir_.c_str()) != 0) throw std::runtime_error("cannot enter " + work_dir_);
  WriteSettings();
}

StoreFixture::~StoreFixture() { CleanUp(); }

void StoreFixture::CleanUp() {
  if (!old_cwd_.empty() && chdir(old_cwd_.c_str()) != 0) std::perror("chdir");
  try {
    // Back to plain embedded stores first: that drops the pooled connections
    // to the database about to go.
    routes_.clear();
    WriteAliases();
    if (!pg_database_.empty())
      PgAdminCommand(pg_admin_conninfo_, "DROP DATABASE IF EXISTS " + pg_database_ + " WITH (FORCE)");
  } catch (const std::exception& e) {
    std::fprintf(stderr, "store fixture clean-up: %s\n", e.what());
  }
  std::error_code ec;
  fs::remove_all(root_, ec);
}

void StoreFixture::WriteAliases() {
  std::string path = data_dir_ + "/aliases.ini";
  if (routes_.empty()) {
    std::error_code ec;
    fs::remove(path, ec);
  } else {
    std::ofstream out(path, std::ios::trunc);
    for (const auto& [alias, conninfo] : routes_)
      out << "[" << alias << "]\nDriver=postgres\nConnInfo=" << conninfo << "\n\n";
    if (!out) throw std::runtime_error("cannot write " + path);
  }
  engine::ConfigureAliases(data_dir_);
}

void StoreFixture::RouteAlias(const std::string& alias, const std::string& conninfo) {
  routes_[alias] = conninfo;
  initialised_.erase(alias);
  WriteAliases();
}

void StoreFixture::EnsureSchema(const std::string& alias) {
  if (initialised_.count(alias) != 0) return;
  admin::InitStore(alias);
  initialised_.insert(alias);
}

void StoreFixture::InitSqlStores() {
  for (const char* alias : {admin::kHistoricalAlias, admin::kArdanAlias, admin::kZetAlias})
    EnsureSchema(alias);
}

void StoreFixture::Insert(const std::string& alias, const std::string& table,
                          const std::vector<std::string>& columns,
                          const std::vector<std::vector<engine::Value>>& rows) {
  auto conn = engine::ConnectAlias(alias, {}, /*writable=*/true);
  conn->Begin();
  try {
    auto inserter = conn->PrepareInsert(table, columns);
    for (const auto& row : rows) inserter->Insert(row);
    inserter.reset();
    conn->Commit();
  } catch (...) {
    conn->Rollback();
    throw;
  }
}

void StoreFixture::AddTicks(rtl::TDateTime day, const std::vector<TickRow>& rows) {
  double date = std::trunc(day);
  std::string table = "hist" + rtl::FormatDateTime("yymmdd", date);
  int64_t next_id = 1;
  {
    auto conn = engine::ConnectAlias(admin::kTickAlias, {}, /*writable=*/true);
    const engine::AliasTarget target = engine::ResolveAlias(admin::kTickAlias);
    bool timeless = false;
    for (const TickRow& r : rows) timeless = timeless || !r.time.value();
    if (conn->TableExists(table)) {
      next_id = conn->CountRows(table, INT64_MAX) + 1;
    } else if (timeless && target.driver == engine::AliasTarget::Driver::kSQLite && target.day_tables) {
      // Only the earlier SQLite layout can hold a tick without a time: the
      // current one keys the rows on it.
      MakeLegacyTickTable((fs::path(target.location) / (table + ".db")).string(), table);
    } else {
      conn->CreateTickTable(table);
    }
  }
  std::vector<std::vector<engine::Value>> values;
  values.reserve(rows.size());
  for (const TickRow& r : rows) {
    values.push_back({engine::Value::Int(next_id++), engine::Value::Float(date), TimeOfDay(r.time),
                      engine::Value::Text(r.symbol), NumValue(r.bid), NumValue(r.offer),
                      NumValue(r.price), NumValue(r.bidsize), NumValue(r.volume),
                      NumValue(r.offersize)});
  }
  Insert(admin::kTickAlias, table,
         {"id", "date", "time", "symbol", "bid", "offer", "price", "bidsize", "volume", "offersize"},
         values);
}

void StoreFixture::AddDaily(const std::vector<DailyRow>& rows) {
  EnsureSchema(admin::kHistoricalAlias);
  std::vector<std::vector<engine::Value>> values;
  for (const DailyRow& r : rows)
    values.push_back({engine::Value::Float(r.c_date), engine::Value::Text(r.stock_code),
                      NumValue(r.high), NumValue(r.low), NumValue(r.closing),
                      NumValue(r.shares_traded), NumValue(r.turnover)});
  Insert(admin::kHistoricalAlias, "datastore",
         {"c_date", "stock_code", "high", "low", "closing", "shares_traded", "turnover"}, values);
}

void StoreFixture::AddNames(const std::vector<NameRow>& rows) {
  EnsureSchema(admin::kHistoricalAlias);
  std::vector<std::vector<engine::Value>> values;
  for (const NameRow& r : rows)
    values.push_back({engine::Value::Text(r.stock_code), TextValue(r.name_e), TextValue(r.name_c)});
  Insert(admin::kHistoricalAlias, "dailysymbol", {"stock_code", "name_e", "name_c"}, values);
}

void StoreFixture::AddMinuteBars(const std::vector<MinuteBarRow>& rows) {
  EnsureSchema(admin::kArdanAlias);
  std::vector<std::vector<engine::Value>> values;
  for (const MinuteBarRow& r : rows)
    values.push_back({engine::Value::Text(r.symbol), engine::Value::Float(r.time_begin),
                      IntValue(r.duration), IntValue(r.seq_no), NumValue(r.price_open),
                      NumValue(r.price_high), NumValue(r.price_low), NumValue(r.price_close),
                      NumValue(r.volume)});
  Insert(admin::kArdanAlias, "minutebars",
         {"symbol", "timebegin", "duration", "seqno", "priceopen", "pricehigh", "pricelow",
          "priceclose", "volume"},
         values);
}

void StoreFixture::AddSessions(const std::vector<SessionRow>& rows) {
  EnsureSchema(admin::kArdanAlias);
  std::vector<std::vector<engine::Value>> values;
  for (const SessionRow& r : rows)
    values.push_back({engine::Value::Text(r.symbol), TimeOfDay(r.time_open), TimeOfDay(r.time_close)});
  Insert(admin::kArdanAlias, "marketsession", {"symbol", "timeopen", "timeclose"}, values);
}

void StoreFixture::AddSymbols(const std::vector<SymbolRow>& rows, const std::string& alias) {
  EnsureSchema(alias);
  std::vector<std::vector<engine::Value>> values;
  for (const SymbolRow& r : rows) values.push_back({engine::Value::Text(r.symbol), TextValue(r.is_valid)});
  Insert(alias, "symboltable", {"symbol", "isvalid"}, values);
}

void StoreFixture::AddIntervals(int seconds, const std::vector<IntervalRow>& rows,
                                const std::string& alias) {
  if (seconds != 60 && seconds != 180 && seconds != 300)
    throw std::invalid_argument("no interval table of " + std::to_string(seconds) + " seconds");
  EnsureSchema(alias);
  std::vector<std::vector<engine::Value>> values;
  for (const IntervalRow& r : rows)
    values.push_back({engine::Value::Text(r.symbol), TextValue(r.date), TextValue(r.time),
                      NumValue(r.open), NumValue(r.high), NumValue(r.low), NumValue(r.close),
                      NumValue(r.volume)});
  Insert(alias, "intervaltable" + std::to_string(seconds),
         {"symbol", "date", "time", "open", "high", "low", "close", "volume"}, values);
}

void StoreFixture::Execute(const std::string& alias, const std::string& sql) {
  engine::ConnectAlias(alias, {}, /*writable=*/true)->ExecuteScript(sql);
}

void StoreFixture::SetSetting(const std::string& section, const std::string& key,
                              const std::string& value) {
  auto sec = settings_.begin();
  while (sec != settings_.end() && !EqualNoCase(sec->first, section)) ++sec;
  if (sec == settings_.end()) sec = settings_.insert(settings_.end(), {section, {}});
  auto& keys = sec->second;
  auto k = keys.begin();
  while (k != keys.end() && !EqualNoCase(k->first, key)) ++k;
  if (k == keys.end())
    keys.emplace_back(key, value);
  else
    k->second = value;
  WriteSettings();
}

void StoreFixture::WriteSettingsFile(const std::string& text) {
  settings_.clear();
  std::ofstream out(work_dir_ + "/zet.ini", std::ios::binary | std::ios::trunc);
  out << text;
  if (!out) throw std::runtime_error("cannot write zet.ini");
}

void StoreFixture::WriteSettings() {
  std::ostringstream text;
  for (const auto& [section, keys] : settings_) {
    text << "[" << section << "]\r\n";
    for (const auto& [key, value] : keys) text << key << "=" << value << "\r\n";
    text << "\r\n";
  }
  std::ofstream out(work_dir_ + "/zet.ini", std::ios::binary | std::ios::trunc);
  out << text.str();
  if (!out) throw std::runtime_error("cannot write zet.ini");
}

std::string StoreFixture::ReadLog() const {
  std::ifstream in(zetlog::LogPath(), std::ios::binary);
  if (!in) return "";
  in.seekg(static_cast<std::streamoff>(log_start_));
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> StoreFixture::ReadLogLines() const {
  std::string text = ReadLog();
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

}  // namespace histtest
