#include "tools/import.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>

#include "platform/engine/errors.h"
#include "platform/engine/tick_packer.h"
#include "platform/engine/tick_writer.h"
#include "platform/engine/transaction.h"
#include "platform/rtl/datetime.h"
#include "platform/rtl/text.h"
#include "tools/csv_reader.h"
#include "tools/csv_values.h"
#include "tools/gzip_input.h"
#include "tools/tick_tables.h"

namespace admin {
namespace {

enum class ColType {
  kText,      // stored as written
  kSymbol,    // a tick's symbol: present, at most 15 characters
  kNumber,    // float
  kInteger,   // whole number
  kDate,      // date-time value of a day
  kTime,      // date-time value of a time of day
  kDateTime,  // date-time value
  kDateText,  // a day kept as text "yyyy/mm/dd"
  kTimeText,  // a time of day kept as text "hh:nn:ss"
};

struct ColumnDef {
  const char* name;  // as the header names it
  ColType type;
};

struct KindDef {
  CsvKind kind;
  const char* name;
  StoreKind store;
  const char* table;  // lower case; empty for the day tables
  std::vector<ColumnDef> columns;
};

const std::vector<ColumnDef> kIntervalColumns = {
    {"Symbol", ColType::kText},   {"Date", ColType::kDateText}, {"Time", ColType::kTimeText},
    {"Open", ColType::kNumber},   {"High", ColType::kNumber},   {"Low", ColType::kNumber},
    {"Close", ColType::kNumber},  {"Volume", ColType::kNumber}};

const std::vector<KindDef>& Kinds() {
  static const std::vector<KindDef> kinds = {
      {CsvKind::kTicks, "ticks", StoreKind::kTicks, "",
       {{"Date", ColType::kDate},
        {"Time", ColType::kTime},
        {"Symbol", ColType::kSymbol},
        {"Bid", ColType::kNumber},
        {"Offer", ColType::kNumber},
        {"Price", ColType::kNumber},
        {"BidSize", ColType::kNumber},
        {"Volume", ColType::kNumber},
        {"OfferSize", ColType::kNumber}}},
      {CsvKind::kDaily, "daily", StoreKind::kHistorical, "datastore",
       {{"c_date", ColType::kDateTime},
        {"stock_code", ColType::kText},
        {"high", ColType::kNumber},
        {"low", ColType::kNumber},
        {"closing", ColType::kNumber},
        {"shares_traded", ColType::kNumber},
        {"turnover", ColType::kNumber}}},
      {CsvKind::kNames, "names", StoreKind::kHistorical, "dailysymbol",
       {{"Stock_code", ColType::kText}, {"name_e", ColType::kText}, {"name_c", ColType::kText}}},
      {CsvKind::kMinutes, "minutes", StoreKind::kArdan, "minutebars",
       {{"Symbol", ColType::kText},
        {"TimeBegin", ColType::kDateTime},
        {"Duration", ColType::kInteger},
        {"SeqNo", ColType::kInteger},
        {"PriceOpen", ColType::kNumber},
        {"PriceHigh", ColType::kNumber},
        {"PriceLow", ColType::kNumber},
        {"PriceClose", ColType::kNumber},
        {"Volume", ColType::kNumber}}},
      {CsvKind::kSessions, "sessions", StoreKind::kArdan, "marketsession",
       {{"Symbol", ColType::kText}, {"TimeOpen", ColType::kTime}, {"TimeClose", ColType::kTime}}},
      {CsvKind::kSymbols, "symbols", StoreKind::kZet, "symboltable",
       {{"symbol", ColType::kText}, {"isValid", ColType::kText}}},
      {CsvKind::kIntervals60, "intervals60", StoreKind::kZet, "intervaltable60", kIntervalColumns},
      {CsvKind::kIntervals180, "intervals180", StoreKind::kZet, "intervaltable180",
       kIntervalColumns},
      {CsvKind::kIntervals300, "intervals300", StoreKind::kZet, "intervaltable300",
       kIntervalColumns},
  };
  return kinds;
}

const KindDef& DefOf(CsvKind kind) {
  for (const KindDef& def : Kinds())
    if (def.kind == kind) return def;
  throw std::logic_error("unknown CSV kind");
}

using rtl::LowerAscii;

size_t Utf8Length(std::string_view s) {
  size_t n = 0;
  for (unsigned char c : s)
    if ((c & 0xC0) != 0x80) ++n;
  return n;
}

// A row that a message can point at.
class RowError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

engine::Value Convert(const ColumnDef& column, const CsvField& field) {
  const std::string_view text = field.text;
  if (text.empty() && !(field.quoted && column.type == ColType::kText)) {
    if (column.type == ColType::kSymbol) throw RowError(std::string("missing ") + column.name);
    return engine::Value::Null();
  }
  switch (column.type) {
    case ColType::kText:
      return engine::Value::Text(text);
    case ColType::kSymbol:
      if (Utf8Length(text) > 15)
        throw RowError(std::string(column.name) + " longer than 15 characters: " + ShownText(text));
      return engine::Value::Text(text);
    case ColType::kNumber: {
      double v;
      if (!ParseNumber(text, v))
        throw RowError(std::string("bad number in column ") + column.name + ": " + ShownText(text));
      return engine::Value::Float(v);
    }
    case ColType::kInteger: {
      int64_t v;
      if (!ParseInteger(text, v))
        throw RowError(std::string("bad whole number in column ") + column.name + ": " +
                       ShownText(text));
      return engine::Value::Int(v);
    }
    case ColType::kDate:
    case ColType::kDateText: {
      int32_t day;
      if (!ParseDate(text, day))
        throw RowError(std::string("bad date in column ") + column.name + ": " + ShownText(text) +
                       " (expected yyyy-mm-dd)");
      if (column.type == ColType::kDate) return engine::Value::Float(day);
      return engine::Value::Text(rtl::FormatDateTime("yyyy/mm/dd", day));
    }
    case ColType::kTime:
    case ColType::kTimeText: {
      int32_t ms;
      if (!ParseTime(text, ms))
        throw RowError(std::string("bad time in column ") + column.name + ": " + ShownText(text) +
                       " (expected hh:nn:ss or hh:nn:ss.zzz)");
      if (column.type == ColType::kTime) return engine::Value::Float(ToDateTime(0, ms));
      return engine::Value::Text(rtl::FormatDateTime("hh:nn:ss", ToDateTime(0, ms - ms % 1000)));
    }
    case ColType::kDateTime: {
      double v;
      if (!ParseDateTime(text, v))
        throw RowError(std::string("bad date-time in column ") + column.name + ": " +
                       ShownText(text) + " (expected yyyy-mm-dd hh:nn:ss)");
      return engine::Value::Float(v);
    }
  }
  return engine::Value::Null();
}

// Reads a file's header and its rows, converted to the kind's columns in
// their listed order.
class RowSource {
 public:
  // `progress` hears of the bytes read out of `total` (total <= 0: unknown).
  RowSource(const KindDef& def, std::istream& in, const std::string& name,
            const ProgressFn& progress, int64_t total)
      : def_(def), reader_(in), name_(name), progress_(progress), total_(total) {}

  [[noreturn]] void Fail(int64_t line, const std::string& reason) const {
    throw LoadError(name_ + ":" + std::to_string(line) + ": " + reason);
  }

  void ReadHeader() {
    std::vector<CsvField> fields;
    try {
      if (!reader_.Next(fields)) throw LoadError(name_ + ": empty file (no header row)");
    } catch (const CsvError& e) {
      Fail(e.line(), e.what());
    }
    const int64_t line = reader_.line();
    slot_of_field_.assign(fields.size(), -1);
    std::vector<bool> seen(def_.columns.size(), false);
    for (size_t f = 0; f < fields.size(); ++f) {
      const std::string name = LowerAscii(TrimBlanks(fields[f].text));
      size_t c = 0;
      while (c < def_.columns.size() && LowerAscii(def_.columns[c].name) != name) ++c;
      if (c == def_.columns.size())
        Fail(line, "unknown column " + ShownText(fields[f].text) + " for " + def_.name);
      if (seen[c]) Fail(line, std::string("column ") + def_.columns[c].name + " given twice");
      seen[c] = true;
      slot_of_field_[f] = static_cast<int>(c);
    }
    for (size_t c = 0; c < def_.columns.size(); ++c)
      if (!seen[c]) Fail(line, std::string("missing column ") + def_.columns[c].name);
  }

  // The next row; false at the end.
  bool Next(std::vector<engine::Value>& row) {
    try {
      if (!reader_.Next(fields_)) return false;
    } catch (const CsvError& e) {
      Fail(e.line(), e.what());
    }
    if (fields_.size() != slot_of_field_.size()) {
      Fail(reader_.line(), "expected " + std::to_string(slot_of_field_.size()) +
                               " fields, found " + std::to_string(fields_.size()));
    }
    if (progress_ && total_ > 0 && ++rows_ % 4096 == 0) progress_(reader_.bytes(), total_);
    row.assign(def_.columns.size(), engine::Value::Null());
    try {
      for (size_t f = 0; f < fields_.size(); ++f) {
        const int c = slot_of_field_[f];
        row[c] = Convert(def_.columns[c], fields_[f]);
      }
    } catch (const RowError& e) {
      Fail(reader_.line(), e.what());
    }
    return true;
  }

  int64_t line() const { return reader_.line(); }

 private:
  const KindDef& def_;
  CsvReader reader_;
  std::string name_;
  std::vector<int> slot_of_field_;
  std::vector<CsvField> fields_;
  const ProgressFn& progress_;
  int64_t total_;
  int64_t rows_ = 0;
};

std::string AliasOf(StoreKind store, const ImportOptions& options) {
  switch (store) {
    case StoreKind::kTicks: return kTickAlias;
    case StoreKind::kHistorical: return kHistoricalAlias;
    case StoreKind::kArdan: return kArdanAlias;
    case StoreKind::kZet: return options.zet_alias;
  }
  return options.zet_alias;
}

// A writing connection to the store of `alias`, created when missing; a
// store that cannot be reached fails the file.
std::unique_ptr<engine::Connection> OpenStore(const std::string& alias, const std::string& name,
                                              const ImportOptions& options) {
  try {
    InitStore(alias, options.credentials);
    return engine::ConnectAlias(alias, options.credentials, /*writable=*/true);
  } catch (const engine::EDatabaseError& e) {
    throw LoadError(name + ": " + e.what());
  }
}

// Leaves the tables a load wrote ready to serve (engine::Connection::
// PrepareToServe). The rows are in by then, so a failure says so.
void ReadyToServe(engine::Connection& connection, const ImportResult& result, const std::string& name) {
  try {
    connection.PrepareToServe(result.tables);
  } catch (const engine::EDatabaseError& e) {
    throw LoadError(name + ": loaded, but not prepared for serving: " + e.what());
  }
}

// Runs `body`; a failure leaves as a LoadError naming the file.
template <typename Body>
void NamingFailures(const std::string& name, Body body) {
  try {
    body();
  } catch (const LoadError&) {
    throw;
  } catch (const std::exception& e) {
    throw LoadError(name + ": " + e.what());
  }
}

ImportResult ImportTable(const KindDef& def, std::istream& in, const std::string& name,
                         const ImportOptions& options, int64_t size) {
  RowSource source(def, in, name, options.progress, size);
  source.ReadHeader();
  const std::string alias = AliasOf(def.store, options);
  auto connection = OpenStore(alias, name, options);
  ImportResult result;
  NamingFailures(name, [&] {
    engine::InTransaction(*connection, [&] {
      std::vector<std::string> columns;
      for (const ColumnDef& c : def.columns) columns.push_back(LowerAscii(c.name));
      auto inserter = connection->PrepareInsert(def.table, columns);
      std::vector<engine::Value> row;
      while (source.Next(row)) {
        try {
          inserter->Insert(row);
        } catch (const engine::EDatabaseError& e) {
          source.Fail(source.line(), e.what());
        }
        ++result.rows;
      }
    });
  });
  result.tables.push_back(def.table);
  ReadyToServe(*connection, result, name);
  return result;
}

// Tick files are read whole before anything is written: their rows may go
// to several day tables, and every one of them must take the file or none.
ImportResult ImportTicks(const KindDef& def, std::istream& in, const std::string& name,
                         const ImportOptions& options, int64_t size) {
  struct Tick {
    engine::TickRecord record;
    int64_t line;
  };
  struct Day {
    int32_t day;
    std::vector<Tick> ticks;
  };
  // Reading is the first half of the work, writing the second.
  RowSource source(def, in, name, options.progress, 2 * size);
  source.ReadHeader();
  std::vector<Day> days;  // in the order first met
  std::map<std::string, size_t> day_of_table;
  std::vector<engine::Value> row;
  while (source.Next(row)) {
    if (row[0].is_null()) source.Fail(source.line(), "missing Date");
    if (row[1].is_null()) source.Fail(source.line(), "missing Time");
    const int32_t day = static_cast<int32_t>(row[0].d);
    const std::string table = engine::DayTableName(day);
    auto [it, added] = day_of_table.emplace(table, days.size());
    if (added) days.push_back({day, {}});
    if (days[it->second].day != day) {
      // Days a century apart share a table name.
      source.Fail(source.line(),
                  "date " + rtl::FormatDateTime("yyyy-mm-dd", day) + " shares the day table " +
                      table + " with " + rtl::FormatDateTime("yyyy-mm-dd", days[it->second].day));
    }
    Tick tick{{}, source.line()};
    tick.record.day = day;
    tick.record.time = row[1].d;
    tick.record.symbol = std::move(row[2].s);
    for (int k = 0; k < engine::TickRecord::kNumbers; ++k) {
      if (row[3 + k].is_null()) {
        tick.record.null_mask |= static_cast<uint8_t>(1u << k);
      } else {
        tick.record.numbers[k] = row[3 + k].d;
      }
    }
    days[it->second].ticks.push_back(std::move(tick));
  }

  int64_t total_rows = 0;
  for (const Day& day : days) total_rows += static_cast<int64_t>(day.ticks.size());
  auto connection = OpenStore(kTickAlias, name, options);
  ImportResult result;
  NamingFailures(name, [&] {
    engine::InTransaction(*connection, [&] {
      // Day by day, so that each day's rows are numbered in file order.
      engine::TickWriter writer(*connection);
      for (const Day& day : days) {
        for (const Tick& tick : day.ticks) {
          try {
            writer.Append(tick.record);
          } catch (const engine::EDatabaseError& e) {
            source.Fail(tick.line, e.what());
          }
          ++result.rows;
          if (options.progress && size > 0 && result.rows % 4096 == 0)
            options.progress(size + size * result.rows / total_rows, 2 * size);
        }
      }
      result.tables = writer.Tables();
      // A past day is packed with its rows; today's table grows while it is
      // served and is read from its rows until it is packed.
      const int32_t today = static_cast<int32_t>(rtl::Now());
      for (const Day& day : days) {
        if (day.day < today) engine::PackDayTable(*connection, engine::DayTableName(day.day));
      }
    });
  });
  ReadyToServe(*connection, result, name);
  return result;
}

}  // namespace

std::optional<CsvKind> CsvKindFromName(std::string_view name) {
  for (const KindDef& def : Kinds())
    if (LowerAscii(name) == def.name) return def.kind;
  return std::nullopt;
}

std::string_view CsvKindName(CsvKind kind) { return DefOf(kind).name; }

const std::vector<std::string_view>& CsvKindNames() {
  static const std::vector<std::string_view> names = [] {
    std::vector<std::string_view> out;
    for (const KindDef& def : Kinds()) out.push_back(def.name);
    return out;
  }();
  return names;
}

std::vector<std::string> CsvKindColumns(CsvKind kind) {
  std::vector<std::string> out;
  for (const ColumnDef& c : DefOf(kind).columns) out.push_back(c.name);
  return out;
}

ImportResult ImportCsvStream(CsvKind kind, std::istream& in, const std::string& name,
                             const ImportOptions& options) {
  const KindDef& def = DefOf(kind);
  // The stream's length, for progress; unknown for a stream that cannot seek.
  int64_t size = -1;
  if (options.progress) {
    const std::streampos start = in.tellg();
    if (start != std::streampos(-1) && in.seekg(0, std::ios::end)) {
      size = static_cast<int64_t>(in.tellg() - start);
      in.seekg(start);
    }
    in.clear();
  }
  ImportResult result = kind == CsvKind::kTicks ? ImportTicks(def, in, name, options, size)
                                                : ImportTable(def, in, name, options, size);
  if (options.progress && size > 0) options.progress(size, size);
  return result;
}

ImportResult ImportCsv(CsvKind kind, const std::string& path, const ImportOptions& options) {
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) throw LoadError(path + ": is a folder");
  if (IsGzipPath(path)) {
    // Vendors ship ticks compressed; a damaged file fails whole, as any
    // malformed file does.
    try {
      GzipStreamBuf buffer(path);
      std::istream in(&buffer);
      return ImportCsvStream(kind, in, path, options);
    } catch (const LoadError&) {
      throw;
    } catch (const std::runtime_error& e) {
      throw LoadError(e.what());
    }
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) throw LoadError(path + ": cannot open: " + std::strerror(errno));
  return ImportCsvStream(kind, in, path, options);
}

}  // namespace admin
