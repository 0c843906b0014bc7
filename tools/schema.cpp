#include "platform/rtl/text.h"
#include "tools/schema.h"

namespace admin {
namespace {

using Driver = engine::AliasTarget::Driver;

// Stored date-times carry whole milliseconds; comparing bar times within half
// of one keeps a bound that equals a stored time inclusive whatever way the
// caller added its date and time together.
constexpr const char* kHalfMs = "5e-9";

// The day number of a procedure's date parameter. Callers send "mm/dd/yyyy"
// text (one-digit month and day are read too); a date-time value sent as a
// number is taken as its day. Anything else is null, which selects nothing.
std::string SqliteDayOf(const std::string& p) {
  const std::string first = "instr(" + p + ",'/')";
  const std::string rest = "substr(" + p + "," + first + "+1)";
  const std::string second = "instr(" + rest + ",'/')";
  const std::string month = "CAST(substr(" + p + ",1," + first + "-1) AS INTEGER)";
  const std::string day = "CAST(substr(" + rest + ",1," + second + "-1) AS INTEGER)";
  const std::string year = "CAST(substr(" + rest + "," + second + "+1) AS INTEGER)";
  return "(CASE WHEN typeof(" + p + ") IN ('integer','real') THEN CAST(" + p +
         " AS INTEGER) WHEN " + first + " > 0 AND " + second +
         " > 0 THEN julianday(printf('%04d-%02d-%02d'," + year + "," + month + "," + day +
         ")) - 2415018.5 END)";
}

std::string SqlQuote(std::string_view text) {
  std::string out = "'";
  for (char c : text) {
    out += c;
    if (c == '\'') out += '\'';
  }
  out += '\'';
  return out;
}

const char* const kSqliteHistorical = R"sql(
CREATE TABLE IF NOT EXISTS datastore (c_date DATETIME, stock_code TEXT, high REAL, low REAL,
  closing REAL, shares_traded REAL, turnover REAL);
CREATE INDEX IF NOT EXISTS datastore_code_date ON datastore (stock_code, c_date);
CREATE INDEX IF NOT EXISTS datastore_date ON datastore (c_date);
CREATE TABLE IF NOT EXISTS DailySymbol (Stock_code TEXT, name_e TEXT, name_c TEXT);
CREATE INDEX IF NOT EXISTS DailySymbol_code ON DailySymbol (Stock_code);
)sql";

const char* const kSqliteArdan = R"sql(
CREATE TABLE IF NOT EXISTS MinuteBars (Symbol TEXT, TimeBegin DATETIME, Duration INTEGER,
  SeqNo INTEGER, PriceOpen REAL, PriceHigh REAL, PriceLow REAL, PriceClose REAL, Volume REAL);
CREATE INDEX IF NOT EXISTS MinuteBars_symbol_time ON MinuteBars (Symbol, TimeBegin);
CREATE INDEX IF NOT EXISTS MinuteBars_time ON MinuteBars (TimeBegin);
CREATE TABLE IF NOT EXISTS MarketSession (Symbol TEXT, TimeOpen TIME, TimeClose TIME);
CREATE INDEX IF NOT EXISTS MarketSession_symbol ON MarketSession (Symbol, TimeOpen);
)sql";

const char* const kSqliteZet = R"sql(
CREATE TABLE IF NOT EXISTS symbolTable (symbol TEXT, isValid TEXT);
CREATE INDEX IF NOT EXISTS symbolTable_symbol ON symbolTable (symbol);
CREATE TABLE IF NOT EXISTS IntervalTable60 (Symbol TEXT, Date TEXT, Time TEXT, Open REAL,
  High REAL, Low REAL, Close REAL, Volume REAL);
CREATE INDEX IF NOT EXISTS IntervalTable60_key ON IntervalTable60 (Symbol, Date, Time);
CREATE INDEX IF NOT EXISTS IntervalTable60_date ON IntervalTable60 (Date);
CREATE TABLE IF NOT EXISTS IntervalTable180 (Symbol TEXT, Date TEXT, Time TEXT, Open REAL,
  High REAL, Low REAL, Close REAL, Volume REAL);
CREATE INDEX IF NOT EXISTS IntervalTable180_key ON IntervalTable180 (Symbol, Date, Time);
CREATE INDEX IF NOT EXISTS IntervalTable180_date ON IntervalTable180 (Date);
CREATE TABLE IF NOT EXISTS IntervalTable300 (Symbol TEXT, Date TEXT, Time TEXT, Open REAL,
  High REAL, Low REAL, Close REAL, Volume REAL);
CREATE INDEX IF NOT EXISTS IntervalTable300_key ON IntervalTable300 (Symbol, Date, Time);
CREATE INDEX IF NOT EXISTS IntervalTable300_date ON IntervalTable300 (Date);
)sql";

const char* const kSqliteProcedures = R"sql(
CREATE TABLE IF NOT EXISTS procedures (name TEXT PRIMARY KEY COLLATE NOCASE, body TEXT NOT NULL);
)sql";

// PostgreSQL: symbols compare byte by byte ("C"), as they do in the embedded
// store, so that ranges and orders agree between the drivers.
const char* const kPostgresHistorical = R"sql(
CREATE TABLE IF NOT EXISTS datastore (c_date timestamp, stock_code text COLLATE "C",
  high float8, low float8, closing float8, shares_traded float8, turnover float8);
CREATE INDEX IF NOT EXISTS datastore_code_date ON datastore (stock_code, c_date);
CREATE INDEX IF NOT EXISTS datastore_date ON datastore (c_date);
CREATE TABLE IF NOT EXISTS dailysymbol (stock_code text COLLATE "C", name_e text, name_c text);
CREATE INDEX IF NOT EXISTS dailysymbol_code ON dailysymbol (stock_code);
CREATE OR REPLACE FUNCTION usp_closing_price(from_symbol text, to_symbol text, from_date text,
    to_date text, adj integer)
  RETURNS TABLE (c_date timestamp, stock_code text, high float8, low float8, closing float8,
    shares_traded float8, turnover float8)
  LANGUAGE sql STABLE AS $body$
  SELECT d.c_date, d.stock_code::text, d.high, d.low, d.closing, d.shares_traded, d.turnover
  FROM datastore d
  WHERE d.stock_code >= usp_closing_price.from_symbol
    AND d.stock_code <= usp_closing_price.to_symbol
    AND d.c_date >= to_date(usp_closing_price.from_date, 'MM/DD/YYYY')
    AND d.c_date < to_date(usp_closing_price.to_date, 'MM/DD/YYYY') + 1
  ORDER BY d.c_date, d.stock_code
$body$;
)sql";

const char* const kPostgresArdan = R"sql(
CREATE TABLE IF NOT EXISTS minutebars (symbol text COLLATE "C", timebegin timestamp,
  duration integer, seqno integer, priceopen float8, pricehigh float8, pricelow float8,
  priceclose float8, volume float8);
CREATE INDEX IF NOT EXISTS minutebars_symbol_time ON minutebars (symbol, timebegin);
CREATE INDEX IF NOT EXISTS minutebars_time ON minutebars (timebegin);
CREATE TABLE IF NOT EXISTS marketsession (symbol text COLLATE "C", timeopen time,
  timeclose time);
CREATE INDEX IF NOT EXISTS marketsession_symbol ON marketsession (symbol, timeopen);
CREATE OR REPLACE FUNCTION queryintervals(symbol text, "interval" integer, timefrom timestamp,
    timeto timestamp, backcount integer)
  RETURNS TABLE (timebegin timestamp, duration integer, seqno integer, priceopen float8,
    pricehigh float8, pricelow float8, priceclose float8, volume float8)
  LANGUAGE sql STABLE AS $body$
  SELECT r.timebegin, r.duration, r.seqno, r.priceopen, r.pricehigh, r.pricelow,
         r.priceclose, r.volume
  FROM (
    (SELECT m.timebegin, m.duration, m.seqno, m.priceopen, m.pricehigh, m.pricelow,
            m.priceclose, m.volume
     FROM minutebars m
     WHERE m.symbol = queryintervals.symbol AND m.timebegin < queryintervals.timefrom
     ORDER BY m.timebegin DESC, m.seqno DESC
     LIMIT greatest(coalesce(queryintervals.backcount, 0), 0))
    UNION ALL
    (SELECT m.timebegin, m.duration, m.seqno, m.priceopen, m.pricehigh, m.pricelow,
            m.priceclose, m.volume
     FROM minutebars m
     WHERE m.symbol = queryintervals.symbol AND m.timebegin >= queryintervals.timefrom
       AND m.timebegin <= queryintervals.timeto)
  ) r
  ORDER BY r.timebegin, r.seqno
$body$;
CREATE OR REPLACE FUNCTION querymarketsession(symbol text)
  RETURNS TABLE (timeopen time, timeclose time)
  LANGUAGE sql STABLE AS $body$
  SELECT s.timeopen, s.timeclose
  FROM marketsession s
  WHERE s.symbol = CASE
      WHEN EXISTS (SELECT 1 FROM marketsession x WHERE x.symbol = querymarketsession.symbol)
      THEN querymarketsession.symbol ELSE '*' END
  ORDER BY s.timeopen, s.timeclose
$body$;
)sql";

const char* const kPostgresZet = R"sql(
CREATE TABLE IF NOT EXISTS symboltable (symbol text COLLATE "C", isvalid text);
CREATE INDEX IF NOT EXISTS symboltable_symbol ON symboltable (symbol);
CREATE TABLE IF NOT EXISTS intervaltable60 (symbol text COLLATE "C", date text, time text,
  open float8, high float8, low float8, close float8, volume float8);
CREATE INDEX IF NOT EXISTS intervaltable60_key ON intervaltable60 (symbol, date, time);
CREATE INDEX IF NOT EXISTS intervaltable60_date ON intervaltable60 (date);
CREATE TABLE IF NOT EXISTS intervaltable180 (symbol text COLLATE "C", date text, time text,
  open float8, high float8, low float8, close float8, volume float8);
CREATE INDEX IF NOT EXISTS intervaltable180_key ON intervaltable180 (symbol, date, time);
CREATE INDEX IF NOT EXISTS intervaltable180_date ON intervaltable180 (date);
CREATE TABLE IF NOT EXISTS intervaltable300 (symbol text COLLATE "C", date text, time text,
  open float8, high float8, low float8, close float8, volume float8);
CREATE INDEX IF NOT EXISTS intervaltable300_key ON intervaltable300 (symbol, date, time);
CREATE INDEX IF NOT EXISTS intervaltable300_date ON intervaltable300 (date);
)sql";

std::string SqliteProcedureRows(std::initializer_list<const char*> names) {
  std::string out = kSqliteProcedures;
  for (const char* name : names) {
    out += "INSERT OR REPLACE INTO procedures (name, body) VALUES (";
    out += SqlQuote(name);
    out += ", ";
    out += SqlQuote(SqliteProcedureBody(name));
    out += ");\n";
  }
  return out;
}

}  // namespace

StoreKind StoreKindOf(std::string_view alias) {
  if (rtl::SameText(alias, kTickAlias)) return StoreKind::kTicks;
  if (rtl::SameText(alias, kHistoricalAlias)) return StoreKind::kHistorical;
  if (rtl::SameText(alias, kArdanAlias)) return StoreKind::kArdan;
  return StoreKind::kZet;
}

std::string SqliteProcedureBody(std::string_view name) {
  if (rtl::SameText(name, "usp_Closing_Price")) {
    // A day range: from the first day's midnight up to, not including, the
    // midnight after the last day. The unary plus keeps the planner off the
    // date index: for the usual one symbol, its rows of the range through
    // the (stock_code, c_date) index and a sort of them cost a tiny part of
    // walking every symbol's rows of the range in date order.
    return "SELECT c_date, stock_code, high, low, closing, shares_traded, turnover\n"
           "FROM datastore\n"
           "WHERE stock_code >= :From_Symbol AND stock_code <= :To_Symbol\n"
           "  AND +c_date >= " +
           SqliteDayOf(":From_Date") + "\n  AND +c_date < " + SqliteDayOf(":To_Date") +
           " + 1\n"
           "ORDER BY c_date, stock_code";
  }
  if (rtl::SameText(name, "QueryIntervals")) {
    // One statement over MinuteBars alone, so that the result columns keep
    // their declared types: the look-back rows are picked by rowid.
    return std::string(
               "SELECT TimeBegin, Duration, SeqNo, PriceOpen, PriceHigh, PriceLow, PriceClose, "
               "Volume\n"
               "FROM MinuteBars\n"
               "WHERE Symbol = :Symbol\n"
               "  AND ((TimeBegin >= :TimeFrom - ") +
           kHalfMs + " AND TimeBegin <= :TimeTo + " + kHalfMs +
           ")\n"
           "    OR rowid IN (SELECT rowid FROM MinuteBars\n"
           "      WHERE Symbol = :Symbol AND TimeBegin < :TimeFrom - " +
           kHalfMs +
           "\n"
           "      ORDER BY TimeBegin DESC, SeqNo DESC\n"
           "      LIMIT CASE WHEN CAST(:BackCount AS INTEGER) > 0\n"
           "                 THEN CAST(:BackCount AS INTEGER) ELSE 0 END))\n"
           "ORDER BY TimeBegin, SeqNo";
  }
  if (rtl::SameText(name, "QueryMarketSession")) {
    return "SELECT TimeOpen, TimeClose\n"
           "FROM MarketSession\n"
           "WHERE Symbol = CASE\n"
           "    WHEN EXISTS (SELECT 1 FROM MarketSession WHERE Symbol = :Symbol)\n"
           "    THEN :Symbol ELSE '*' END\n"
           "ORDER BY TimeOpen, TimeClose";
  }
  return "";
}

std::string SchemaFor(StoreKind kind, engine::AliasTarget::Driver driver) {
  if (driver == Driver::kPostgres) {
    // "already exists, skipping" notices of a second run are no news.
    const std::string quiet = "SET client_min_messages = warning;\n";
    switch (kind) {
      case StoreKind::kTicks: return "";
      case StoreKind::kHistorical: return quiet + kPostgresHistorical;
      case StoreKind::kArdan: return quiet + kPostgresArdan;
      case StoreKind::kZet: return quiet + kPostgresZet;
    }
    return "";
  }
  switch (kind) {
    case StoreKind::kTicks: return "";
    case StoreKind::kHistorical:
      return kSqliteHistorical + SqliteProcedureRows({"usp_Closing_Price"});
    case StoreKind::kArdan:
      return kSqliteArdan + SqliteProcedureRows({"QueryIntervals", "QueryMarketSession"});
    case StoreKind::kZet: return kSqliteZet;
  }
  return "";
}

void InitStore(const std::string& alias, const engine::Credentials& credentials) {
  const engine::AliasTarget target = engine::ResolveAlias(alias);
  const StoreKind kind = StoreKindOf(alias);
  // A writing connection makes a missing embedded store (file or folder).
  auto connection = engine::ConnectAlias(alias, credentials, /*writable=*/true);
  // Day tables are made one by one as days are loaded.
  if (target.day_tables || kind == StoreKind::kTicks) return;
  connection->ExecuteScript(SchemaFor(kind, target.driver));
}

void InitAllStores(const std::string& zet_alias, const engine::Credentials& credentials) {
  InitStore(kTickAlias, credentials);
  InitStore(kHistoricalAlias, credentials);
  InitStore(kArdanAlias, credentials);
  InitStore(zet_alias, credentials);
}

}  // namespace admin
