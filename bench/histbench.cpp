// histbench: the measuring half of bench/run. The script starts the server,
// the peers and the floors; this program makes the markets and takes the
// timings that a shell cannot take well. Every timing command prints one
// line of "key=value" pairs that the script puts into its table.
//
//   histbench market ticks|bars --data-dir D [--aliases F] [--heavy N]
//       Makes a reproducible market (fixed seed and sizes; its last day is
//       the weekday before today, so that mode 2 reads a whole earlier day)
//       and prints its facts: last_day=yyyy/mm/dd first_day=... heavy=0001.
//   histbench market-files --daily-csv FILE [--heavy N]
//       Writes the ticks market's year of daily prices to FILE and prints the
//       options of histdata-admin sample that make its ticks.
//   histbench fetch --port P --target T [--reps N] [--warmup W] [--http11]
//                   [--save FILE] [--watch PID]
//       W warm-up requests (default 1), then N timed ones, each read to the end.
//       Prints median, min and max seconds, the lines and bytes of the body,
//       how many of the timed replies were complete 200 replies, and with --watch the peak resident memory of PID during the runs.
//       --save writes the body of one more request (HTTP/1.0) to FILE.
//   histbench floor --body FILE [--reps N] [--coalesce]
//       The loopback floor of a streamed reply: the lines of FILE, each
//       written with one write() as one HTTP/1.1 chunk after a reply head, to
//       a client reading the same way fetch does. --coalesce lets writes
//       share segments as the server's do (MSG_MORE within a millisecond of
//       the last write sent at once, the end sent at once).
//   histbench time [--reps N] -- PROGRAM ARGS...
//       Runs PROGRAM once to warm up, then N times, output to /dev/null.
//   histbench dbcycle --data-dir D [--aliases F] [--reps N] ALIAS...
//       The cost of closing and reopening a database through the engine:
//       the first open (a new physical connection), then open/close cycles.
//   histbench hold --port P [--idle N] [--slow M] [--target T]
//       Opens N keep-alive connections that each get one complete reply to
//       T and then stay quiet, and M that send half a request head and stay
//       quiet; prints "ready idle=.. slow=.. failed=.." and holds them until
//       killed.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/engine/aliases.h"
#include "platform/engine/engine.h"
#include "platform/engine/pool.h"
#include "platform/rtl/datetime.h"
#include "tools/import.h"
#include "tools/sample.h"

namespace {

using Clock = std::chrono::steady_clock;

double Since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

struct Args {
  std::vector<std::string> positional;
  std::vector<std::string> rest;  // after "--"
  std::string Get(const std::string& name, const std::string& def = "") const {
    for (size_t i = 0; i + 1 < named.size(); i += 2)
      if (named[i] == name) return named[i + 1];
    return def;
  }
  bool Has(const std::string& name) const {
    return std::find(flags.begin(), flags.end(), name) != flags.end();
  }
  int Int(const std::string& name, int def) const {
    const std::string v = Get(name);
    return v.empty() ? def : std::stoi(v);
  }
  std::vector<std::string> named, flags;
};

Args Parse(int argc, char** argv, int first, const std::vector<std::string>& flag_names) {
  Args a;
  for (int i = first; i < argc; ++i) {
    const std::string s = argv[i];
    if (s == "--") {
      for (++i; i < argc; ++i) a.rest.push_back(argv[i]);
      break;
    }
    if (s.rfind("--", 0) == 0) {
      if (std::find(flag_names.begin(), flag_names.end(), s) != flag_names.end()) {
        a.flags.push_back(s);
      } else {
        if (i + 1 >= argc) throw std::runtime_error("missing value for " + s);
        a.named.push_back(s);
        a.named.push_back(argv[++i]);
      }
    } else {
      a.positional.push_back(s);
    }
  }
  return a;
}

// Median, min and max of a set of timings.
struct Spread {
  double median = 0, min = 0, max = 0;
};

Spread SpreadOf(std::vector<double> v) {
  if (v.empty()) return {};
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  const double median = n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
  return {median, v.front(), v.back()};
}

void PrintSpread(const Spread& s) {
  std::printf("median=%.6f min=%.6f max=%.6f", s.median, s.min, s.max);
}

// --- market -----------------------------------------------------------------

// The weekday before today: the market's last day.
int32_t LastMarketDay() {
  int32_t day = static_cast<int32_t>(rtl::Date()) - 1;
  while (((day % 7) + 7) % 7 < 2) --day;  // 0 Saturday, 1 Sunday
  return day;
}

// A year of daily prices for every symbol before the market's first day, so
// that mode 1 over a year reads a year of rows, as a CSV file of the loader.
std::string DailyYearCsv(const std::vector<admin::SampleSymbol>& symbols, int32_t first_day) {
  std::ostringstream csv;
  csv << "c_date,stock_code,high,low,closing,shares_traded,turnover\n";
  uint64_t state = 7;
  auto next = [&] {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<double>(state >> 11) / 9007199254740992.0;
  };
  for (int32_t day = first_day - 366; day < first_day; ++day) {
    if (((day % 7) + 7) % 7 < 2) continue;
    const std::string date = rtl::FormatDateTime("yyyy-mm-dd", day);
    for (size_t s = 0; s < symbols.size(); ++s) {
      const double close = 5 + static_cast<double>(s % 100) + std::round(next() * 100) / 100;
      const double high = close + 0.25, low = close - 0.25;
      const double shares = std::round(1000 + next() * 100000);
      char line[160];
      std::snprintf(line, sizeof line, "%s,%s,%.2f,%.2f,%.2f,%.0f,%.2f\n", date.c_str(),
                    symbols[s].code.c_str(), high, low, close, shares, shares * close);
      csv << line;
    }
  }
  return csv.str();
}

// The ticks market's options: one day, a symbol of 200,000 ticks among 500
// (about 1.2 M rows).
admin::SampleOptions TicksMarket(const Args& a) {
  admin::SampleOptions o;
  o.seed = 1;
  o.until_now = false;
  o.last_day = LastMarketDay();
  o.days = 1;
  o.symbols = 500;
  o.ticks_per_symbol = 2000;
  o.heavy_ticks = a.Int("--heavy", 200000);
  return o;
}

// The ticks market's year of daily prices as a CSV file, and the options
// of histdata-admin sample that make the same market: bench/run loads a
// PostgreSQL store with histdata-admin, as a user would.
int TicksMarketFiles(const Args& a) {
  const admin::SampleOptions o = TicksMarket(a);
  std::ofstream(a.Get("--daily-csv"), std::ios::binary)
      << DailyYearCsv(admin::SampleSymbols(o.symbols, o.seed), o.last_day - (o.days - 1));
  std::printf("--days %d --symbols %d --ticks %d --heavy %d --seed %llu --end %s\n", o.days, o.symbols,
              o.ticks_per_symbol, o.heavy_ticks, static_cast<unsigned long long>(o.seed),
              rtl::FormatDateTime("yyyy-mm-dd", o.last_day).c_str());
  return 0;
}

int Market(const Args& a) {
  if (a.positional.size() != 2) throw std::runtime_error("market ticks|bars");
  const std::string kind = a.positional[1];
  engine::ConfigureAliases(a.Get("--data-dir"), a.Get("--aliases"));
  admin::SampleOptions o = TicksMarket(a);
  if (kind == "bars") {
    // Fifty days of a symbol with 100,000 ticks a day: the interval
    // requests read the last twenty, the long reply all fifty.
    o.days = 50;
    o.symbols = 10;
    o.ticks_per_symbol = 2000;
    o.heavy_ticks = a.Int("--heavy", 100000);
  } else if (kind != "ticks") {
    throw std::runtime_error("unknown market " + kind);
  }
  const auto started = Clock::now();
  admin::SampleResult r = admin::MakeSample(o);
  if (kind == "ticks") {
    std::istringstream in(DailyYearCsv(r.symbols, r.days.front()));
    admin::ImportOptions options;
    options.credentials = o.credentials;
    admin::ImportCsvStream(admin::CsvKind::kDaily, in, "daily-year.csv", options);
  }
  std::printf("first_day=%s last_day=%s heavy=%s symbols=%d ticks=%lld seconds=%.1f\n",
              rtl::FormatDateTime("yyyy/mm/dd", r.days.front()).c_str(),
              rtl::FormatDateTime("yyyy/mm/dd", r.days.back()).c_str(), r.symbols[0].code.c_str(),
              o.symbols, static_cast<long long>(r.ticks), Since(started));
  return 0;
}

// --- loopback client ----------------------------------------------------------

int Connect(uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) throw std::runtime_error("socket failed");
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd);
    throw std::runtime_error("connect failed");
  }
  return fd;
}

// Reads until the peer closes. Counts bytes and line ends without keeping
// the reply, so that the client costs the same for the server and the
// floor; `keep` receives the raw reply when given.
struct ReadResult {
  size_t bytes = 0, newlines = 0;
  std::string first, last;  // the reply's first and last few bytes
  // A 200 reply, ended by its last chunk when chunked.
  bool Complete() const {
    if (first.rfind("HTTP/1.1 200", 0) != 0) return false;
    return first.find("chunked") == std::string::npos || last == "0\r\n\r\n";
  }
};

ReadResult ReadToEnd(int fd, std::string* keep) {
  ReadResult r;
  static thread_local char buf[1 << 16];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n <= 0) break;
    if (r.first.size() < 256) r.first.append(buf, std::min<size_t>(256 - r.first.size(), n));
    r.last.append(buf, static_cast<size_t>(n));
    if (r.last.size() > 5) r.last.erase(0, r.last.size() - 5);
    r.bytes += static_cast<size_t>(n);
    r.newlines += static_cast<size_t>(std::count(buf, buf + n, '\n'));
    if (keep) keep->append(buf, static_cast<size_t>(n));
  }
  return r;
}

ReadResult Request(uint16_t port, const std::string& target, bool http11, std::string* keep) {
  const int fd = Connect(port);
  const std::string req = "GET " + target +
                          (http11 ? " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n"
                                  : " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
  if (::send(fd, req.data(), req.size(), 0) != static_cast<ssize_t>(req.size())) {
    ::close(fd);
    throw std::runtime_error("send failed");
  }
  ReadResult r = ReadToEnd(fd, keep);
  ::close(fd);
  return r;
}

long RssKb(int pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  return -1;
}

int Fetch(const Args& a) {
  const uint16_t port = static_cast<uint16_t>(a.Int("--port", 0));
  const std::string target = a.Get("--target");
  const int reps = a.Int("--reps", 5);
  const bool http11 = a.Has("--http11");
  const int watch = a.Int("--watch", 0);

  std::atomic<bool> stop{false};
  std::atomic<long> peak{0};
  const long idle = watch ? RssKb(watch) : 0;
  std::thread watcher;
  if (watch) {
    watcher = std::thread([&] {
      while (!stop) {
        const long kb = RssKb(watch);
        if (kb > peak) peak = kb;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
    });
  }
  ReadResult r;
  for (int i = a.Int("--warmup", 1); i > 0; --i) r = Request(port, target, http11, nullptr);
  std::vector<double> times;
  int complete = 0;
  for (int i = 0; i < reps; ++i) {
    const auto t = Clock::now();
    r = Request(port, target, http11, nullptr);
    times.push_back(Since(t));
    complete += r.Complete();
  }
  stop = true;
  if (watcher.joinable()) watcher.join();

  const std::string save = a.Get("--save");
  if (!save.empty()) {
    std::string raw;
    Request(port, target, false, &raw);
    const size_t head = raw.find("\r\n\r\n");
    std::ofstream(save, std::ios::binary) << (head == std::string::npos ? raw : raw.substr(head + 4));
  }
  PrintSpread(SpreadOf(times));
  // The head and chunk framing hold line ends too; the body's lines are
  // what --save keeps, and what the script counts there.
  std::printf(" bytes=%zu newlines=%zu complete=%d", r.bytes, r.newlines, complete);
  if (watch) std::printf(" rss_idle_kb=%ld rss_peak_kb=%ld rss_after_kb=%ld", idle, peak.load(), RssKb(watch));
  std::printf("\n");
  return 0;
}

// --- floor ------------------------------------------------------------------

std::vector<std::string> LinesOf(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  const std::string body = ss.str();
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < body.size()) {
    size_t end = body.find('\n', start);
    end = end == std::string::npos ? body.size() : end + 1;
    lines.push_back(body.substr(start, end - start));
    start = end;
  }
  return lines;
}

int Floor(const Args& a) {
  const std::vector<std::string> lines = LinesOf(a.Get("--body"));
  if (lines.empty()) throw std::runtime_error("empty body file");
  // Each line framed as the server frames it: size in hex, CR LF, the line,
  // CR LF; made beforehand so that the floor pays only for the writes.
  std::vector<std::string> chunks;
  for (const std::string& l : lines) {
    char size[32];
    std::snprintf(size, sizeof size, "%zx\r\n", l.size());
    std::string chunk(size);
    chunk.append(l);
    chunk.append("\r\n");
    chunks.push_back(std::move(chunk));
  }
  const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  int one = 1;
  ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(listener, 8) != 0 ||
      ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    throw std::runtime_error("floor socket");
  }
  const uint16_t port = ntohs(addr.sin_port);
  const int reps = a.Int("--reps", 5);
  const bool coalesce = a.Has("--coalesce");
  std::thread server([&] {
    for (int i = 0; i < reps + 1; ++i) {
      const int fd = ::accept(listener, nullptr, nullptr);
      if (fd < 0) return;
      ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      char req[4096];
      ::read(fd, req, sizeof req);  // the request head, in one segment on loopback
      static const char head[] =
          "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nTransfer-Encoding: chunked\r\n"
          "Connection: close\r\n\r\n";
      bool ok = ::write(fd, head, sizeof head - 1) > 0;
      auto last_push = Clock::now();
      for (size_t k = 0; ok && k < chunks.size(); ++k) {
        int flags = 0;
        if (coalesce) {
          const auto now = Clock::now();
          if (now - last_push < std::chrono::milliseconds(1)) {
            flags = MSG_MORE;
          } else {
            last_push = now;
          }
        }
        ok = ::send(fd, chunks[k].data(), chunks[k].size(), flags) > 0;
      }
      if (ok) ::write(fd, "0\r\n\r\n", 5);
      ::close(fd);
    }
  });
  ReadResult r = Request(port, "/", true, nullptr);
  std::vector<double> times;
  for (int i = 0; i < reps; ++i) {
    const auto t = Clock::now();
    r = Request(port, "/", true, nullptr);
    times.push_back(Since(t));
  }
  server.join();
  ::close(listener);
  PrintSpread(SpreadOf(times));
  std::printf(" lines=%zu bytes=%zu\n", lines.size(), r.bytes);
  return 0;
}

// --- time -------------------------------------------------------------------

double RunOnce(const std::vector<std::string>& argv) {
  const auto t = Clock::now();
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    std::vector<char*> args;
    for (const std::string& s : argv) args.push_back(const_cast<char*>(s.c_str()));
    args.push_back(nullptr);
    ::execvp(args[0], args.data());
    std::_Exit(127);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    throw std::runtime_error(argv[0] + std::string(" failed"));
  return Since(t);
}

int Time(const Args& a) {
  if (a.rest.empty()) throw std::runtime_error("time: no program");
  const int reps = a.Int("--reps", 5);
  RunOnce(a.rest);
  std::vector<double> times;
  for (int i = 0; i < reps; ++i) times.push_back(RunOnce(a.rest));
  PrintSpread(SpreadOf(times));
  std::printf("\n");
  return 0;
}

// --- dbcycle ----------------------------------------------------------------

int DbCycle(const Args& a) {
  engine::ConfigureAliases(a.Get("--data-dir"), a.Get("--aliases"));
  const int reps = a.Int("--reps", 2000);
  for (size_t i = 1; i < a.positional.size(); ++i) {
    const std::string alias = a.positional[i];
    engine::TDatabase db;
    db.AliasName = alias;
    // The first open connects anew, as a server without the pool would on
    // every request.
    engine::DropPooledConnections();
    auto t = Clock::now();
    db.Open();
    const double first = Since(t);
    db.Close();
    // Batches of cycles, so that the spread shows between batches.
    std::vector<double> per_cycle;
    const int batches = 5;
    for (int b = 0; b < batches; ++b) {
      t = Clock::now();
      for (int k = 0; k < reps / batches; ++k) {
        db.Open();
        db.Close();
      }
      per_cycle.push_back(Since(t) / (reps / batches));
    }
    const Spread cycle = SpreadOf(per_cycle);
    std::printf("alias=%s first_open=%.9f median=%.9f min=%.9f max=%.9f", alias.c_str(), first,
                cycle.median, cycle.min, cycle.max);
    std::printf("\n");
  }
  return 0;
}

// --- hold -------------------------------------------------------------------

// Reads one chunked reply to its end (the last chunk), without keeping it.
// False when the connection ended first or the reply is not chunked (a
// refusal).
bool ReadChunkedReply(int fd) {
  std::string tail;
  char buf[8192];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n <= 0) return false;
    tail.append(buf, static_cast<size_t>(n));
    if (tail.rfind("HTTP/1.1 200", 0) != 0 && tail.size() >= 12) return false;
    if (tail.size() >= 5 && tail.compare(tail.size() - 5, 5, "0\r\n\r\n") == 0) return true;
    if (tail.size() > 65536) tail.erase(0, tail.size() - 8);
  }
}

int Hold(const Args& a) {
  const uint16_t port = static_cast<uint16_t>(a.Int("--port", 0));
  const int idle = a.Int("--idle", 0), slow = a.Int("--slow", 0);
  const std::string target = a.Get("--target", "/?mode=2&symbol=0002");
  rlimit files{};
  if (::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
    files.rlim_cur = files.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &files);
  }
  const std::string request = "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
  const std::string half = "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: ";
  std::atomic<int> next{0}, failed{0}, idle_held{0}, slow_held{0};
  // Several openers at once: one at a time, thousands of round trips take
  // long on a busy machine.
  std::vector<std::thread> openers;
  for (int t = 0; t < 8; ++t) {
    openers.emplace_back([&] {
      for (int i = next++; i < idle + slow; i = next++) {
        int fd = -1;
        try {
          fd = Connect(port);
        } catch (const std::exception&) {
          ++failed;
          continue;
        }
        // A server that neither answers nor closes must not hold the opener.
        timeval patience{10, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
        const std::string& what = i < idle ? request : half;
        bool ok = ::send(fd, what.data(), what.size(), MSG_NOSIGNAL) ==
                  static_cast<ssize_t>(what.size());
        if (ok && i < idle) ok = ReadChunkedReply(fd);
        if (!ok) {
          ::close(fd);
          ++failed;
          continue;
        }
        ++(i < idle ? idle_held : slow_held);  // the descriptor stays open
      }
    });
  }
  for (std::thread& t : openers) t.join();
  std::printf("ready idle=%d slow=%d failed=%d\n", idle_held.load(), slow_held.load(),
              failed.load());
  std::fflush(stdout);
  for (;;) ::pause();
}

}  // namespace

int main(int argc, char** argv) {
  signal(SIGPIPE, SIG_IGN);
  if (argc < 2) {
    std::fprintf(stderr, "usage: histbench market|market-files|fetch|floor|time|dbcycle|hold ...\n");
    return 2;
  }
  const std::string cmd = argv[1];
  try {
    const Args a = Parse(argc, argv, 1, {"--http11", "--coalesce"});
    if (cmd == "market") return Market(a);
    if (cmd == "market-files") return TicksMarketFiles(a);
    if (cmd == "fetch") return Fetch(a);
    if (cmd == "floor") return Floor(a);
    if (cmd == "time") return Time(a);
    if (cmd == "dbcycle") return DbCycle(a);
    if (cmd == "hold") return Hold(a);
    std::fprintf(stderr, "histbench: unknown command %s\n", cmd.c_str());
    return 2;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "histbench %s: %s\n", cmd.c_str(), e.what());
    return 1;
  }
}
