// Loading CSV files into the stores.
//
// Each kind of file fills one table; its header row names the columns, in
// any order and without regard to ASCII case, and every column of the kind
// must be there. An empty field is null. A load is all or nothing per file:
// the first malformed row stops it with "FILE:LINE: reason" and nothing of
// that file stays in the store.
#ifndef HISTDATA_TOOLS_IMPORT_H_
#define HISTDATA_TOOLS_IMPORT_H_

#include <cstdint>
#include <istream>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "tools/progress.h"
#include "tools/schema.h"

namespace admin {

enum class CsvKind {
  kTicks,        // day tables of HISTDATA
  kDaily,        // datastore
  kNames,        // DailySymbol
  kMinutes,      // MinuteBars
  kSessions,     // MarketSession
  kSymbols,      // symbolTable
  kIntervals60,  // IntervalTable60
  kIntervals180,
  kIntervals300,
};

// "ticks", "daily", "names", "minutes", "sessions", "symbols",
// "intervals60", "intervals180", "intervals300".
std::optional<CsvKind> CsvKindFromName(std::string_view name);
std::string_view CsvKindName(CsvKind kind);
// Every kind's name, in the order above, for usage texts.
const std::vector<std::string_view>& CsvKindNames();
// The columns of a kind's file, in the order they are listed.
std::vector<std::string> CsvKindColumns(CsvKind kind);

// A file that could not be loaded: the message is "FILE:LINE: reason", or
// "FILE: reason" for what concerns the whole file.
class LoadError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct ImportOptions {
  // The store of symbolTable and the interval tables (the module database).
  std::string zet_alias = kZetAlias;
  engine::Credentials credentials;
  // Work done out of the work of the file (its bytes read, then, for ticks,
  // its rows written), now and then.
  ProgressFn progress;
};

struct ImportResult {
  int64_t rows = 0;
  std::vector<std::string> tables;  // the tables written, in the order first written
};

// Loads one file. The target SQL store is created when missing; tick rows go
// to the day table of their Date (created when missing) with IDs that
// continue the day's numbering in file order.
ImportResult ImportCsv(CsvKind kind, const std::string& path, const ImportOptions& options = {});
// The same from a stream; `name` stands for the file in messages.
ImportResult ImportCsvStream(CsvKind kind, std::istream& in, const std::string& name,
                             const ImportOptions& options = {});

}  // namespace admin

#endif  // HISTDATA_TOOLS_IMPORT_H_
