#include "tools/commands.h"

#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>

#include "platform/engine/aliases.h"
#include "platform/engine/errors.h"
#include "platform/rtl/datetime.h"
#include "tools/csv_values.h"
#include "tools/derive.h"
#include "tools/feed.h"
#include "tools/import.h"
#include "tools/pack.h"
#include "tools/progress.h"
#include "tools/sample.h"
#include "tools/schema.h"

namespace admin {
namespace {

class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct CommandLine {
  std::string command;
  std::vector<std::string> positional;
  std::map<std::string, std::string> options;  // "--days" -> "5"
  bool help = false;
};

// Options that every command takes, and those of each command.
const std::set<std::string> kCommonOptions = {"--data-dir", "--aliases", "--zet-alias"};
const std::map<std::string, std::set<std::string>> kCommandOptions = {
    {"init", {}},
    {"import", {}},
    {"derive", {"--from", "--to"}},
    {"sample", {"--days", "--symbols", "--seed", "--ticks", "--heavy", "--end"}},
    {"pack", {"--from", "--to", "--check"}},
    {"feed",
     {"--commit-ms", "--commit-ticks", "--rejects", "--source-name", "--until-end",
      "--stream-resumes", "--status-seconds", "--metrics-port", "--metrics-address", "--max-yield-ms"}},
};
// Options that are switches, given without a value.
const std::set<std::string> kFlagOptions = {"--check", "--until-end", "--stream-resumes"};

CommandLine Parse(const std::vector<std::string>& args) {
  CommandLine line;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--help" || arg == "-h" || arg == "help") {
      line.help = true;
      continue;
    }
    if (arg.size() > 2 && arg.compare(0, 2, "--") == 0) {
      std::string name = arg, value;
      const size_t eq = arg.find('=');
      if (eq != std::string::npos) {
        name = arg.substr(0, eq);
        value = arg.substr(eq + 1);
        if (kFlagOptions.count(name) != 0) throw UsageError(name + " takes no value");
      } else if (kFlagOptions.count(name) != 0) {
        value = "1";
      } else {
        if (i + 1 >= args.size()) throw UsageError(name + " needs a value");
        value = args[++i];
      }
      if (line.options.count(name) != 0) throw UsageError(name + " given twice");
      line.options[name] = value;
      continue;
    }
    if (line.command.empty()) {
      line.command = arg;
    } else {
      line.positional.push_back(arg);
    }
  }
  return line;
}

void CheckOptions(const CommandLine& line) {
  auto it = kCommandOptions.find(line.command);
  if (it == kCommandOptions.end()) throw UsageError("unknown command \"" + line.command + "\"");
  for (const auto& [name, value] : line.options) {
    if (kCommonOptions.count(name) == 0 && it->second.count(name) == 0)
      throw UsageError("unknown option " + name + " for " + line.command);
  }
  if (line.options.count("--data-dir") == 0 || line.options.at("--data-dir").empty())
    throw UsageError("--data-dir DIR is required");
  if (line.command == "import") {
    if (line.positional.empty()) throw UsageError("import needs a KIND and at least one FILE");
    if (!CsvKindFromName(line.positional[0]))
      throw UsageError("unknown kind \"" + line.positional[0] + "\"");
    if (line.positional.size() < 2) throw UsageError("import needs at least one FILE");
  } else if (line.command == "feed") {
    if (line.positional.size() > 1) throw UsageError("feed reads one FILE (or - for standard input)");
  } else if (!line.positional.empty()) {
    throw UsageError("unexpected argument \"" + line.positional[0] + "\" for " + line.command);
  }
}

std::string Option(const CommandLine& line, const std::string& name,
                   const std::string& fallback = "") {
  auto it = line.options.find(name);
  return it == line.options.end() ? fallback : it->second;
}

int IntOption(const CommandLine& line, const std::string& name, int fallback, int low, int high) {
  auto it = line.options.find(name);
  if (it == line.options.end()) return fallback;
  int64_t value;
  if (!ParseInteger(it->second, value) || value < low || value > high) {
    throw UsageError(name + " must be a whole number from " + std::to_string(low) + " to " +
                     std::to_string(high));
  }
  return static_cast<int>(value);
}

int32_t DayOption(const CommandLine& line, const std::string& name) {
  auto it = line.options.find(name);
  if (it == line.options.end()) return 0;
  int32_t day;
  if (!ParseDate(it->second, day)) throw UsageError(name + " must be a date yyyy-mm-dd");
  return day;
}

int RunInit(const CommandLine& line, std::ostream& out) {
  const std::string zet = Option(line, "--zet-alias", kZetAlias);
  InitAllStores(zet);
  out << "stores ready: " << kTickAlias << ", " << kHistoricalAlias << ", " << kArdanAlias
      << ", " << zet << "\n";
  return kExitOk;
}

int RunImport(const CommandLine& line, std::ostream& out, std::ostream& err) {
  const CsvKind kind = *CsvKindFromName(line.positional[0]);
  ImportOptions options;
  options.zet_alias = Option(line, "--zet-alias", kZetAlias);
  int status = kExitOk;
  for (size_t i = 1; i < line.positional.size(); ++i) {
    const std::string& path = line.positional[i];
    try {
      ImportResult result;
      {
        ProgressBar bar(std::filesystem::path(path).filename().string());
        options.progress = bar.Fn();
        result = ImportCsv(kind, path, options);
      }
      out << path << ": " << result.rows << " rows";
      if (!result.tables.empty()) {
        out << " into ";
        for (size_t t = 0; t < result.tables.size(); ++t) out << (t ? ", " : "") << result.tables[t];
      }
      out << "\n";
    } catch (const LoadError& e) {
      // The file is left out whole; the others still load.
      err << "histdata-admin: " << e.what() << "\n";
      status = kExitFailed;
    }
  }
  return status;
}

std::string Count(int64_t n, const char* noun) {
  return std::to_string(n) + " " + noun + (n == 1 ? "" : "s");
}

void PrintDerived(std::ostream& out, const DeriveResult& r) {
  out << "derived " << Count(r.days, "day") << " from " << r.ticks << " ticks: " << r.daily_rows
      << " daily rows, " << r.minute_bars << " minute bars, " << r.interval_bars
      << " interval bars, " << r.symbols_added << " new symbols\n";
}

int RunDerive(const CommandLine& line, std::ostream& out) {
  DeriveOptions options;
  options.zet_alias = Option(line, "--zet-alias", kZetAlias);
  options.first_day = DayOption(line, "--from");
  options.last_day = DayOption(line, "--to");
  if (options.first_day != 0 && options.last_day != 0 && options.first_day > options.last_day)
    throw UsageError("--from is after --to");
  ProgressBar bar("derive");
  options.progress = bar.Fn();
  const DeriveResult result = Derive(options);
  PrintDerived(out, result);
  return kExitOk;
}

int RunPack(const CommandLine& line, std::ostream& out, std::ostream& err) {
  PackOptions options;
  options.first_day = DayOption(line, "--from");
  options.last_day = DayOption(line, "--to");
  options.check = line.options.count("--check") != 0;
  if (options.first_day != 0 && options.last_day != 0 && options.first_day > options.last_day)
    throw UsageError("--from is after --to");
  PackResult result;
  {
    ProgressBar bar(options.check ? "check" : "pack");
    options.progress = bar.Fn();
    result = PackStore(options);
  }
  const engine::PackCounts& c = result.counts;
  out << (options.check ? "checked " : "packed ") << Count(result.days, "day") << ": " << Count(c.keys, "symbol key")
      << ", " << c.packed << " with a pack, " << c.rows << " ticks in " << c.bytes << " bytes of packs\n";
  for (const std::string& problem : result.problems) err << "histdata-admin: pack --check: " << problem << "\n";
  return result.problems.empty() ? kExitOk : kExitFailed;
}

int RunSample(const CommandLine& line, std::ostream& out) {
  SampleOptions options;
  options.zet_alias = Option(line, "--zet-alias", kZetAlias);
  options.days = IntOption(line, "--days", options.days, 1, 3660);
  options.symbols = IntOption(line, "--symbols", options.symbols, 1, 99999);
  options.ticks_per_symbol = IntOption(line, "--ticks", options.ticks_per_symbol, 1, 10000000);
  options.heavy_ticks = IntOption(line, "--heavy", 0, 0, 10000000);
  options.last_day = DayOption(line, "--end");
  const std::string seed = Option(line, "--seed");
  if (!seed.empty()) {
    int64_t value;
    if (!ParseInteger(seed, value) || value < 0) throw UsageError("--seed must be a whole number");
    options.seed = static_cast<uint64_t>(value);
  }
  SampleResult result;
  {
    ProgressBar ticks("ticks");
    ProgressBar derive("derive");
    options.progress = ticks.Fn();
    options.derive_progress = derive.Fn();
    result = MakeSample(options);
  }
  out << "sample market: " << Count(static_cast<int64_t>(result.symbols.size()), "symbol") << ", "
      << Count(static_cast<int64_t>(result.days.size()), "trading day") << " from " << rtl::FormatDateTime("yyyy-mm-dd", result.days.front())
      << " to " << rtl::FormatDateTime("yyyy-mm-dd", result.days.back()) << ", "
      << result.ticks << " ticks\n";
  PrintDerived(out, result.derived);
  return kExitOk;
}

int RunFeedCommand(const CommandLine& line, std::ostream& out, std::ostream& err) {
  FeedOptions options;
  if (!line.positional.empty()) options.path = line.positional[0];
  options.source_name = Option(line, "--source-name");
  options.commit_ms = IntOption(line, "--commit-ms", options.commit_ms, 1, 600000);
  options.commit_ticks = IntOption(line, "--commit-ticks", options.commit_ticks, 1, 1000000);
  options.rejects_path = Option(line, "--rejects");
  options.status_seconds = IntOption(line, "--status-seconds", options.status_seconds, 0, 86400);
  options.metrics_port = IntOption(line, "--metrics-port", -1, 0, 65535);
  options.metrics_address = Option(line, "--metrics-address", options.metrics_address);
  options.source.until_end = line.options.count("--until-end") != 0;
  options.source.stream_replays = line.options.count("--stream-resumes") == 0;
  options.max_yield_ms = IntOption(line, "--max-yield-ms", options.max_yield_ms, 0, 3600000);
  const FeedResult result = RunFeed(options, out, err);
  return result.stopped_uncommitted ? kExitFailed : kExitOk;
}

}  // namespace

std::string AdminUsage() {
  std::string kinds;
  for (std::string_view k : CsvKindNames()) kinds += (kinds.empty() ? "" : ", ") + std::string(k);
  return "usage: histdata-admin COMMAND --data-dir DIR [--aliases FILE] [OPTIONS]\n"
         "\n"
         "Commands:\n"
         "  init                    create the stores: tables, indexes, procedures\n"
         "  import KIND FILE...     load CSV files with a header row; KIND is one of\n"
         "                          " + kinds + "\n"
         "                          (a FILE ending in .gz is read compressed)\n"
         "  derive [--from DATE] [--to DATE]\n"
         "                          build datastore, MinuteBars, the interval tables and\n"
         "                          symbolTable from the tick tables (dates yyyy-mm-dd;\n"
         "                          default: every day held)\n"
         "  pack [--from DATE] [--to DATE] [--check]\n"
         "                          pack each day's ticks into columns per symbol key,\n"
         "                          which the server reads instead of the rows (import\n"
         "                          and sample pack the past days they write; a change\n"
         "                          to a day's rows drops the packs it touches); --check\n"
         "                          compares every pack with its rows instead (exit 1\n"
         "                          on a difference)\n"
         "  sample [--days N] [--symbols N] [--seed S] [--ticks N] [--heavy N] [--end DATE]\n"
         "                          make a sample market, then derive:\n"
         "                          --days: trading days (default 15)\n"
         "                          --symbols: symbols (default 36)\n"
         "                          --seed: random seed (default 1)\n"
         "                          --ticks: ticks per symbol per day (default 3000)\n"
         "                          --heavy: the first symbol's ticks per day instead\n"
         "                          (default 0: as the others)\n"
         "                          --end: the last day (default today, ticks up to now)\n"
         + FeedUsage() +
         "\n"
         "Options of every command:\n"
         "  --data-dir DIR          folder of the embedded stores (required)\n"
         "  --aliases FILE          alias configuration (default DIR/aliases.ini when it\n"
         "                          exists; without it every store is SQLite under DIR)\n"
         "  --zet-alias ALIAS       store of symbolTable and the interval tables\n"
         "                          (default zetdata)\n"
         "  --help                  this text\n"
         "\n"
         "Settings: histdata-admin reads no zet.ini; the stores come from --data-dir and\n"
         "the alias configuration alone.\n"
         "Log: reports go to standard output, errors to standard error; progress bars\n"
         "to standard error when it is a terminal. Nothing is written to VELD.log.\n"
         "\n"
         "Exit status: 0 done; 1 a store or a file refused (other files of an import\n"
         "still load); 2 a bad command line.\n";
}

int RunAdmin(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  CommandLine line;
  try {
    line = Parse(args);
    if (line.help) {
      out << AdminUsage();
      return kExitOk;
    }
    if (line.command.empty()) throw UsageError("no command given");
    CheckOptions(line);
  } catch (const UsageError& e) {
    err << "histdata-admin: " << e.what() << " (see --help)\n";
    return kExitUsage;
  }
  try {
    engine::ConfigureAliases(Option(line, "--data-dir"), Option(line, "--aliases"));
    if (line.command == "init") return RunInit(line, out);
    if (line.command == "import") return RunImport(line, out, err);
    if (line.command == "derive") return RunDerive(line, out);
    if (line.command == "pack") return RunPack(line, out, err);
    if (line.command == "feed") return RunFeedCommand(line, out, err);
    return RunSample(line, out);
  } catch (const UsageError& e) {
    err << "histdata-admin: " << e.what() << " (see --help)\n";
    return kExitUsage;
  } catch (const std::exception& e) {
    err << "histdata-admin: " << line.command << ": " << e.what() << "\n";
    return kExitFailed;
  }
}

}  // namespace admin
