// Interval bars from the tick tables, through the real server on loopback,
// against peers that aggregate the same ticks in the same run:
//   - mode 6 over 20 trading days (DayCount 20), 60-second bars;
//   - mode 4 over one day, 60-second bars;
//   - peer 1: one SQL aggregation statement per day table in SQLite, through
//     the same index;
//   - peer 2: pandas resample(...).ohlc() (when python3 with pandas is there),
//     timed without and with reading the ticks in.
// Prints each figure and the server's time as a ratio to each peer's.
//
//   intervals_bench [--data DIR] [--reps N] [--no-pandas] [--server-only]
//
// --server-only skips the peers, for profiling the server alone.
//
// DIR (default histdata-intervals-bench in the system's temporary folder)
// holds the generated data set, which later runs reuse; the settings file and
// log of the run go there too.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/interval_dataset.h"
#include "data/lookups.h"
#include "log/zetUtilities.h"
#include "platform/engine/aliases.h"
#include "platform/http/server.h"
#include "platform/rtl/datetime.h"
#include "platform/rtl/numbers.h"
#include "service/app.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

// The median of `reps` runs of `run`, after one run that warms caches.
double Median(int reps, const std::function<void()>& run) {
  run();
  std::vector<double> times;
  for (int i = 0; i < reps; ++i) {
    const auto t = Clock::now();
    run();
    times.push_back(Seconds(t));
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

// One HTTP/1.0 GET on loopback; the body ends when the server closes.
struct Reply {
  std::string body;
  size_t lines = 0;
};

Reply Get(uint16_t port, const std::string& target) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) throw std::runtime_error("socket failed");
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    close(fd);
    throw std::runtime_error("connect failed");
  }
  const std::string request = "GET " + target + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
  if (send(fd, request.data(), request.size(), 0) != static_cast<ssize_t>(request.size())) {
    close(fd);
    throw std::runtime_error("send failed");
  }
  std::string raw;
  char buf[65536];
  for (;;) {
    const ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n <= 0) break;
    raw.append(buf, static_cast<size_t>(n));
  }
  close(fd);
  Reply reply;
  const size_t head_end = raw.find("\r\n\r\n");
  if (head_end == std::string::npos) throw std::runtime_error("reply without a head");
  reply.body = raw.substr(head_end + 4);
  reply.lines = static_cast<size_t>(std::count(reply.body.begin(), reply.body.end(), '\n'));
  return reply;
}

std::string LastLine(const std::string& body) {
  if (body.size() < 2) return body;
  const size_t start = body.rfind('\n', body.size() - 2);
  return body.substr(start == std::string::npos ? 0 : start + 1);
}

// The SQLite peer: bars of `bar_seconds` counted from `begin` (a time of
// day), open and close taken from the first and last tick of the slot in
// load order, one statement per day table. Returns the bars read.
size_t SqliteBars(const std::string& data_dir, const std::vector<rtl::TDateTime>& days,
                  const std::string& symbol, double begin, double end, int bar_seconds) {
  size_t bars = 0;
  for (rtl::TDateTime day : days) {
    const std::string table = hist::GetFileName(day);
    const std::string path = data_dir + "/histdata/" + table + ".db";
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
      sqlite3_close(db);
      throw std::runtime_error("cannot open " + path);
    }
    const std::string sql =
        "SELECT g.slot, o.Price, g.hi, g.lo, c.Price, g.vol FROM ("
        " SELECT (CAST(ROUND(Time * 86400000) AS INTEGER) - ?2) / ?4 AS slot,"
        "  MIN(ID) AS first_id, MAX(ID) AS last_id, MAX(Price) AS hi, MIN(Price) AS lo,"
        "  MAX(Volume) - MIN(Volume) AS vol"
        " FROM " + table + " WHERE Symbol = ?1 COLLATE NOCASE"
        "  AND Time >= ?5 AND Time <= ?6 GROUP BY slot) g"
        " JOIN " + table + " o ON o.ID = g.first_id JOIN " + table + " c ON c.ID = g.last_id"
        " ORDER BY g.slot";
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
      const std::string message = sqlite3_errmsg(db);
      sqlite3_close(db);
      throw std::runtime_error("peer statement: " + message);
    }
    sqlite3_bind_text(st, 1, symbol.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int64(st, 2, static_cast<sqlite3_int64>(begin * rtl::kMsPerDay + 0.5));
    sqlite3_bind_int64(st, 4, static_cast<sqlite3_int64>(bar_seconds) * 1000);
    sqlite3_bind_double(st, 5, begin);
    sqlite3_bind_double(st, 6, end);
    volatile double sink = 0;
    while (sqlite3_step(st) == SQLITE_ROW) {
      sink = sink + sqlite3_column_double(st, 1) + sqlite3_column_double(st, 4);
      ++bars;
    }
    sqlite3_finalize(st);
    sqlite3_close(db);
  }
  return bars;
}

// The pandas peer, run as a child process; false when python3 or pandas is
// missing.
struct PandasTimes {
  double resample = 0;  // seconds, ticks already in memory
  double total = 0;     // seconds, reading the ticks included
  long bars = 0;
};

bool RunPandas(const std::string& script, const std::string& data_dir,
               const std::vector<rtl::TDateTime>& days, const std::string& symbol,
               const std::string& begin, const std::string& end, int reps, PandasTimes& out) {
  // Debian's interpreter, which the python3-pandas package serves, before
  // whatever else the PATH offers.
  const char* python = std::filesystem::exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3";
  std::string cmd = std::string(python) + " '" + script + "' '" + data_dir + "' " + symbol + " " + begin + " " +
                    end + " " + std::to_string(reps);
  for (rtl::TDateTime d : days) cmd += " " + hist::GetFileName(d);
  cmd += " 2>&1";
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return false;
  std::string text;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) text.append(buf, n);
  const int rc = pclose(p);
  if (rc != 0 || std::sscanf(text.c_str(), "pandas %lf %lf %ld", &out.resample, &out.total,
                             &out.bars) != 3) {
    std::printf("  pandas peer not run: %s", text.empty() ? "no output\n" : text.c_str());
    return false;
  }
  return true;
}

void Report(double server, const char* peer, double peer_time) {
  std::printf("  %-34s %9.4f s   server/peer %6.2f\n", peer, peer_time,
              peer_time > 0 ? server / peer_time : 0.0);
}

// One request against its peers over the same days and window.
struct Case {
  std::string title, target, script, data_dir, symbol;
  std::vector<rtl::TDateTime> days;
  std::string begin, end;  // "hh:nn:ss"
  uint16_t port = 0;
  int reps = 1;
  bool peers = true, pandas = true;
};

void Run(const Case& c) {
  Reply reply;
  const double server_time = Median(c.reps, [&] { reply = Get(c.port, c.target); });
  std::printf("\n%s: %zu lines, %zu bytes, last %s", c.title.c_str(), reply.lines,
              reply.body.size(), LastLine(reply.body).c_str());
  std::printf("  %-34s %9.4f s\n", "server (HTTP on loopback)", server_time);
  if (!c.peers) return;
  size_t bars = 0;
  const double begin = rtl::StrToTime(c.begin), end = rtl::StrToTime(c.end);
  const double sql =
      Median(c.reps, [&] { bars = SqliteBars(c.data_dir, c.days, c.symbol, begin, end, 60); });
  std::printf("  (sqlite peer: %zu bars)\n", bars);
  Report(server_time, "sqlite aggregation", sql);
  PandasTimes pt;
  if (c.pandas &&
      RunPandas(c.script, c.data_dir, c.days, c.symbol, c.begin, c.end, c.reps, pt)) {
    std::printf("  (pandas peer: %ld bars)\n", pt.bars);
    Report(server_time, "pandas resample().ohlc()", pt.resample);
    Report(server_time, "pandas read ticks + resample", pt.total);
  }
}

std::string Executable() {
  char buf[4096];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return "";
  return std::string(buf, static_cast<size_t>(n));
}

}  // namespace

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  std::string data_dir = (fs::temp_directory_path() / "histdata-intervals-bench").string();
  int reps = 5;
  bool pandas = true;
  bool peers = true;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--data" && i + 1 < argc) {
      data_dir = argv[++i];
    } else if (a == "--reps" && i + 1 < argc) {
      reps = std::max(1, std::atoi(argv[++i]));
    } else if (a == "--no-pandas") {
      pandas = false;
    } else if (a == "--server-only") {
      peers = false;
    } else {
      std::fprintf(stderr, "usage: intervals_bench [--data DIR] [--reps N] [--no-pandas] [--server-only]\n");
      return 2;
    }
  }
  signal(SIGPIPE, SIG_IGN);
  fs::create_directories(data_dir);
  data_dir = fs::absolute(data_dir).lexically_normal().string();
  const std::string work_dir = data_dir + "/work";
  const std::string log_dir = data_dir + "/log";
  fs::create_directories(work_dir);
  fs::create_directories(log_dir);
  // Every key at its default: DBMode PARADOX sends mode 6 to the tick tables.
  std::ofstream(work_dir + "/zet.ini") << "[KORVA]\r\nCalcMode=DC\r\nDBMode=PARADOX\r\n";
  fs::current_path(work_dir);

  bench::IntervalDataset set;
  const std::vector<rtl::TDateTime> days = set.Days();
  engine::ConfigureAliases(data_dir);
  std::printf("data set: %d days x %d ticks of %s (+2 x %d of neighbours) in %s\n",
              set.trading_days, set.ticks_per_day, set.symbol.c_str(),
              set.neighbour_ticks_per_day, data_dir.c_str());
  const double made = bench::EnsureDataset(set, data_dir);
  if (made > 0) std::printf("  made in %.1f s\n", made);

  zetlog::SetLogFolder(log_dir);
  hist::StartExtension();
  httphost::ServerOptions options;
  options.address = "127.0.0.1";
  httphost::HttpServer server(options, [](host::Host& h) { hist::HttpExtensionProc(h); });
  server.Start();
  const uint16_t port = server.Port();

  const std::string script =
      (fs::path(Executable()).parent_path() / "pandas_ohlc.py").string();
  const std::string first = rtl::FormatDateTime("yyyy/mm/dd", days.front());
  const std::string last = rtl::FormatDateTime("yyyy/mm/dd", days.back());

  Case c;
  c.port = port;
  c.reps = reps;
  c.peers = peers;
  c.pandas = pandas;
  c.script = script;
  c.data_dir = data_dir;
  c.symbol = set.symbol;

  // Mode 6: DayCount 20 counts back from the last day over the whole range.
  c.title = "mode 6, " + std::to_string(days.size()) + " days, 60 s bars (CalcMode DC)";
  c.target = "/?symbol=" + set.symbol + "&mode=6&interval=60&DayCount=" +
             std::to_string(set.trading_days) + "&dateStart=" + first + "&dateOver=" + last +
             "&timeStart=09:30:00&timeOver=16:00:00";
  c.days = days;
  c.begin = "09:30:00";
  c.end = "16:00:00";
  Run(c);

  // Mode 4: one day, bars aligned to whole minutes.
  c.title = "mode 4, 1 day, 60 s bars";
  c.target = "/?symbol=" + set.symbol + "&mode=4&interval=60&dateStart=" + last +
             "&dateOver=" + last + "&timeStart=00:00:00&timeOver=23:59:59";
  c.days = {days.back()};
  c.begin = "00:00:00";
  c.end = "23:59:59";
  Run(c);

  server.Stop();
  hist::UnloadExtension();
  return 0;
}
