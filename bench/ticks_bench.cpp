// ticks_bench: how fast the tick generators answer through the HTTP server
// on loopback, against what the same machine can do at best in the same run.
//
//   ticks_bench [--ticks N] [--symbols S] [--others M] [--reps R]
//               [--seconds T] [--clients C] [--only mode0|mode2]
//
// It builds one day table (N ticks of one symbol among S symbols, M ticks
// for each of the others) in a temporary data folder, starts the server in
// this process on a free loopback port, and prints:
//   - mode 0 lines per second for the big symbol's whole day, over HTTP/1.0
//     (one unframed write per line) and HTTP/1.1 (one chunk per line);
//   - the floor: the same lines, pre-formatted, each written with one write()
//     to a loopback socket and read by the same client loop;
//   - mode 2 requests per second from C concurrent clients for T seconds,
//     for the big symbol (whose day is read up to the cut-off) and for a
//     symbol of ordinary size.
// Best of R runs for the throughput figures. Nothing is asserted.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "log/zetUtilities.h"
#include "platform/engine/aliases.h"
#include "platform/engine/day_tables.h"
#include "platform/engine/driver.h"
#include "platform/http/server.h"
#include "platform/rtl/datetime.h"
#include "platform/rtl/numbers.h"
#include "service/app.h"
#include "tools/schema.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

struct Options {
  int ticks = 200000;
  int symbols = 500;
  int others = 200;
  int reps = 3;
  double seconds = 5;
  int clients = 10;
  bool mode0 = true, mode2 = true;
};

Options ParseOptions(int argc, char** argv) {
  Options o;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string name = argv[i];
    if (name == "--only") {
      const std::string what = argv[i + 1];
      if (what != "mode0" && what != "mode2") throw std::runtime_error("--only takes mode0 or mode2");
      o.mode0 = what == "mode0";
      o.mode2 = what == "mode2";
      continue;
    }
    int32_t n = 0;
    if (!rtl::TryStrToInt(argv[i + 1], n) || n <= 0) throw std::runtime_error("bad value for " + name);
    if (name == "--ticks") o.ticks = n;
    else if (name == "--symbols") o.symbols = n;
    else if (name == "--others") o.others = n;
    else if (name == "--reps") o.reps = n;
    else if (name == "--seconds") o.seconds = n;
    else if (name == "--clients") o.clients = n;
    else throw std::runtime_error("unknown option " + name);
  }
  return o;
}

std::string SymbolName(int i) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d", i);
  return buf;
}

// One day table: symbol 0000 with `big` ticks, the others with `others`
// each, all between 09:30 and 16:00 with rising prices and volumes.
void BuildDay(rtl::TDateTime day, const Options& o) {
  auto conn = engine::ConnectAlias(admin::kTickAlias, {}, /*writable=*/true);
  const std::string table = engine::DayTableName(day);
  conn->CreateTickTable(table);
  conn->Begin();
  auto inserter = conn->PrepareInsert(
      table, {"id", "date", "time", "symbol", "bid", "offer", "price", "bidsize", "volume", "offersize"});
  const double open = rtl::EncodeTime(9, 30, 0, 0);
  const double span = rtl::EncodeTime(16, 0, 0, 0) - open;
  std::vector<engine::Value> row(10);
  int64_t id = 1;
  for (int s = 0; s < o.symbols; ++s) {
    const int count = s == 0 ? o.ticks : o.others;
    const std::string symbol = SymbolName(s);
    double volume = 0;
    for (int i = 0; i < count; ++i) {
      const int64_t ms = std::llround((open + span * i / count) * rtl::kMsPerDay);
      const double price = 10 + (i % 97) * 0.01;
      volume += 100 * (1 + i % 7);
      row[0] = engine::Value::Int(id++);
      row[1] = engine::Value::Float(day);
      row[2] = engine::Value::Float(static_cast<double>(ms) / rtl::kMsPerDay);
      row[3] = engine::Value::Text(symbol);
      row[4] = engine::Value::Float(price - 0.01);
      row[5] = engine::Value::Float(price + 0.01);
      row[6] = engine::Value::Float(price);
      row[7] = engine::Value::Float(1000 + i % 50);
      row[8] = engine::Value::Float(volume);
      row[9] = engine::Value::Float(2000 + i % 30);
      inserter->Insert(row);
    }
  }
  inserter.reset();
  conn->Commit();
}

int ConnectLoopback(uint16_t port) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) throw std::runtime_error("socket");
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd);
    throw std::runtime_error("connect");
  }
  return fd;
}

// Reads until the peer closes; returns everything read.
std::string ReadAll(int fd) {
  std::string out;
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n <= 0) break;
    out.append(buf, static_cast<size_t>(n));
  }
  return out;
}

// One request; the whole reply, head included. HTTP/1.1 asks the server to
// close at the end so that the same read loop ends it.
std::string Fetch(uint16_t port, const std::string& target, bool http11) {
  int fd = ConnectLoopback(port);
  std::string req = "GET " + target + (http11 ? " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n"
                                               : " HTTP/1.0\r\n\r\n");
  if (::write(fd, req.data(), req.size()) != static_cast<ssize_t>(req.size())) {
    ::close(fd);
    throw std::runtime_error("write");
  }
  std::string reply = ReadAll(fd);
  ::close(fd);
  return reply;
}

size_t CountTickLines(const std::string& reply) {
  size_t n = 0;
  for (size_t p = reply.find("TICK|"); p != std::string::npos; p = reply.find("TICK|", p + 5)) ++n;
  return n;
}

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// The floor: each line written with one write() to a loopback socket, read
// by the same loop that reads the server's replies.
double FloorSeconds(const std::vector<std::string>& lines) {
  int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(listener, 1) != 0 ||
      ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    throw std::runtime_error("floor socket");
  }
  std::thread writer([&] {
    int fd = ::accept(listener, nullptr, nullptr);
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    for (const std::string& line : lines) {
      if (::write(fd, line.data(), line.size()) < 0) break;
    }
    ::close(fd);
  });
  const auto start = Clock::now();
  int fd = ConnectLoopback(ntohs(addr.sin_port));
  std::string got = ReadAll(fd);
  const auto end = Clock::now();
  ::close(fd);
  writer.join();
  ::close(listener);
  return Seconds(end - start);
}

std::vector<std::string> SplitLines(const std::string& body) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < body.size()) {
    size_t end = body.find("\r\n", start);
    end = end == std::string::npos ? body.size() : end + 2;
    lines.push_back(body.substr(start, end - start));
    start = end;
  }
  return lines;
}

// Requests per second of `clients` threads each asking `target` again and
// again for `seconds`.
double RequestsPerSecond(uint16_t port, const std::string& target, int clients, double seconds,
                         size_t& failures) {
  std::atomic<bool> stop{false};
  std::atomic<size_t> done{0}, bad{0};
  std::vector<std::thread> threads;
  const auto start = Clock::now();
  for (int i = 0; i < clients; ++i) {
    threads.emplace_back([&] {
      while (!stop.load()) {
        std::string reply = Fetch(port, target, false);
        if (reply.find("TICK|0|") == std::string::npos) ++bad;
        ++done;
      }
    });
  }
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  stop = true;
  for (auto& t : threads) t.join();
  failures = bad;
  return static_cast<double>(done) / Seconds(Clock::now() - start);
}

// Mode 0 over the big symbol's whole day, against the floor.
void RunMode0(uint16_t port, const Options& o) {
  const std::string mode0 = "/getHistory?symbol=0000&mode=0&dateStart=2003/07/04&dateOver=2003/07/04";
  Fetch(port, mode0, false);  // warms the module pool and the page cache
  double best10 = 1e9, best11 = 1e9, best_floor = 1e9;
  std::string body;
  size_t lines = 0;
  for (int r = 0; r < o.reps; ++r) {
    auto t0 = Clock::now();
    std::string reply = Fetch(port, mode0, false);
    best10 = std::min(best10, Seconds(Clock::now() - t0));
    t0 = Clock::now();
    std::string reply11 = Fetch(port, mode0, true);
    best11 = std::min(best11, Seconds(Clock::now() - t0));
    lines = CountTickLines(reply);
    size_t head_end = reply.find("\r\n\r\n");
    body = head_end == std::string::npos ? reply : reply.substr(head_end + 4);
  }
  const std::vector<std::string> body_lines = SplitLines(body);
  for (int r = 0; r < o.reps; ++r) best_floor = std::min(best_floor, FloorSeconds(body_lines));

  std::printf("mode 0: %zu tick lines, %zu bytes\n", lines, body.size());
  std::printf("  HTTP/1.0  %10.0f lines/s  (%.3f s)\n", body_lines.size() / best10, best10);
  std::printf("  HTTP/1.1  %10.0f lines/s  (%.3f s)\n", body_lines.size() / best11, best11);
  std::printf("  floor     %10.0f lines/s  (%.3f s, one write per line to loopback)\n",
              body_lines.size() / best_floor, best_floor);
  std::printf("  ratio HTTP/1.0 / floor: %.2f\n", best_floor / best10);
}

// Mode 2 from concurrent clients, for the big symbol and an ordinary one.
void RunMode2(uint16_t port, const Options& o) {
  for (const char* symbol : {"0000", "0001"}) {
    size_t failures = 0;
    const double rps = RequestsPerSecond(port, std::string("/getHistory?symbol=") + symbol + "&mode=2",
                                         o.clients, o.seconds, failures);
    std::printf("mode 2, symbol %s (%d ticks): %.0f requests/s with %d clients%s\n", symbol,
                symbol == std::string("0000") ? o.ticks : o.others, rps, o.clients,
                failures ? " (some replies held no tick line!)" : "");
  }
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const Options o = ParseOptions(argc, argv);
    signal(SIGPIPE, SIG_IGN);

    char tmpl[] = "/tmp/ticks_bench.XXXXXX";
    if (::mkdtemp(tmpl) == nullptr) throw std::runtime_error("mkdtemp");
    const fs::path root = tmpl;
    fs::create_directories(root / "data" / "histdata");
    fs::create_directories(root / "work");
    fs::create_directories(root / "log");
    std::ofstream(root / "work" / "zet.ini") << "[KORVA]\r\nMaxConnection=32\r\n";
    if (::chdir((root / "work").c_str()) != 0) throw std::runtime_error("chdir");
    zetlog::SetLogFolder((root / "log").string());
    engine::ConfigureAliases((root / "data").string());
    admin::InitAllStores();

    const rtl::TDateTime day = rtl::EncodeDate(2003, 7, 4);
    auto built = Clock::now();
    BuildDay(day, o);
    std::printf("built %d + %d x %d ticks in %.1f s\n", o.ticks, o.symbols - 1, o.others,
                Seconds(Clock::now() - built));
    // Mode 2 reads "today": the clock stands at 17:00 on the table's day.
    rtl::SetClockForTesting([day] { return day + rtl::EncodeTime(17, 0, 0, 0); });

    hist::StartExtension();
    httphost::ServerOptions options;
    options.address = "127.0.0.1";
    options.port = 0;
    httphost::HttpServer server(options, [](host::Host& h) { hist::HttpExtensionProc(h); });
    server.Start();
    const uint16_t port = server.Port();

    if (o.mode0) RunMode0(port, o);
    if (o.mode2) RunMode2(port, o);

    server.Stop();
    hist::UnloadExtension();
    rtl::SetClockForTesting(nullptr);
    std::error_code ec;
    fs::remove_all(root, ec);
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "ticks_bench: %s\n", e.what());
    return 1;
  }
}
