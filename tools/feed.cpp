#include "tools/feed.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

#include "platform/engine/day_tables.h"
#include "platform/engine/errors.h"
#include "platform/engine/pacing.h"
#include "platform/engine/tick_packer.h"
#include "platform/engine/tick_writer.h"
#include "platform/engine/transaction.h"
#include "platform/http/server.h"
#include "platform/metrics/metrics.h"
#include "platform/os/followed_input.h"
#include "platform/rtl/datetime.h"
#include "platform/rtl/text.h"
#include "platform/rtl/unix_time.h"
#include "tools/feed_lines.h"
#include "tools/feed_position.h"
#include "tools/feed_priority.h"
#include "tools/feed_rejects.h"
#include "tools/schema.h"
#include "tools/tick_tables.h"

namespace admin {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kFirstBackoffMs = 100;
constexpr int kLastBackoffMs = 5000;

double SecondsSince(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

struct FeedMetrics {
  metrics::Counter& ticks = metrics::Default().AddCounter(
      "histdata_feed_ticks_committed_total", "Ticks committed to the tick store.");
  metrics::Counter& rejects = metrics::Default().AddCounter(
      "histdata_feed_rejects_total", "Lines of the source that were not ticks (see the reject file).");
  metrics::Counter& batches = metrics::Default().AddCounter(
      "histdata_feed_batches_committed_total", "Transactions committed.");
  metrics::Counter& store_errors = metrics::Default().AddCounter(
      "histdata_feed_store_errors_total", "Failed commits, each retried.");
  metrics::Histogram& commit_seconds = metrics::Default().AddHistogram(
      "histdata_feed_commit_seconds", "Time to write and commit one batch.",
      {0.001, 0.0025, 0.005, 0.01, 0.025, 0.05, 0.1, 0.25, 0.5, 1, 2.5, 5});
  metrics::Gauge& last_tick = metrics::Default().AddGauge(
      "histdata_feed_last_tick_timestamp_seconds",
      "Time stamp of the newest tick committed (its Date and Time as local time).");
  metrics::Gauge& last_commit = metrics::Default().AddGauge(
      "histdata_feed_last_commit_timestamp_seconds", "When the last batch was committed.");
  metrics::Counter& raises = metrics::Default().AddCounter(
      "histdata_feed_priority_raises_total",
      "Times the feed, yielding the CPU, fell behind its source and was raised to normal priority.");
};

void ServeMetrics(host::Host& host) {
  const bool known = host.PathInfo() == "/metrics";
  const std::string body = known ? metrics::Default().Render() : "not found\n";
  host.SetStatus(known ? 200 : 404);
  host.SendHead(known ? "200 OK" : "404 Not Found",
                std::string("Content-Type: ") +
                    (known ? "text/plain; version=0.0.4; charset=utf-8" : "text/plain; charset=utf-8") +
                    "\r\nContent-Length: " + std::to_string(body.size()) + "\r\nCache-Control: no-store\r\n");
  host.Write(body.data(), body.size());
}

// A day is closed once a tick of a later day has come: it gets its packed
// copy then, in a transaction of its own, so that the server reads the day
// from its columns from then on. A late tick for it drops the packs it
// touches again (the store's triggers see to that).
void PackClosedDay(engine::Connection& connection, const std::string& table) {
  engine::InTransaction(connection, [&] { engine::PackDayTable(connection, table); });
  connection.WriteLive(table, false);
}

// The day closed before the day of the position a restart resumes from: a
// feeder killed after the new day's first commit, before it packed the day
// that commit closed, left that day without a single pack. A day with any
// pack was packed, and only late ticks dropped some since.
void PackDayLeftUnpacked(engine::Connection& connection, const std::string& resumed_table) {
  std::string closed;
  for (const std::string& name : connection.ListDayTables()) {
    const std::string table = rtl::LowerAscii(name);
    if (table < resumed_table && table > closed) closed = table;
  }
  if (closed.empty() || !connection.PackKeys(closed).empty() || connection.CountRows(closed, 1) == 0) return;
  PackClosedDay(connection, closed);
}

// The writing connection to the tick store, made again after a failure.
class Store {
 public:
  explicit Store(const engine::Credentials& credentials) : credentials_(credentials) {}
  engine::Connection& Get() {
    if (connection_ == nullptr) {
      InitStore(kTickAlias, credentials_);
      connection_ = engine::ConnectAlias(kTickAlias, credentials_, /*writable=*/true);
    }
    return *connection_;
  }
  // The tick writer of the open transaction: kept from one batch to the
  // next, so that its prepared inserts (and a day file's page cache) are
  // made once, not at every commit.
  engine::TickWriter& Writer() {
    if (writer_ == nullptr) {
      writer_ = std::make_unique<engine::TickWriter>(Get());
    } else {
      writer_->NextTransaction();
    }
    return *writer_;
  }
  // After a commit into `table`: once per day and connection, the day is
  // set to be written live, so that the server's readers of today need not
  // wait for our commits. A store that cannot do it is fed all the same.
  void WriteLive(const std::string& table, std::ostream& err) {
    if (live_ == table) return;
    live_ = table;
    try {
      Get().WriteLive(table, true);
    } catch (const std::exception& e) {
      err << "feed: readers of " << table << " wait for each commit: " << e.what() << "\n";
      err.flush();
    }
  }
  // After a failure: nothing of the old connection is used again.
  void Drop() {
    writer_.reset();
    connection_.reset();
    live_.clear();
  }

 private:
  engine::Credentials credentials_;
  std::unique_ptr<engine::Connection> connection_;
  std::unique_ptr<engine::TickWriter> writer_;  // uses connection_
  std::string live_;                            // the day set live on connection_
};

class Feeder {
 public:
  Feeder(const FeedOptions& options, std::ostream& out, std::ostream& err)
      : options_(options), out_(out), err_(err), store_(options.credentials),
        source_(options.path, options.source) {
    name_ = options.source_name;
    if (name_.empty()) {
      name_ = options.path == "-" ? "stdin" : std::filesystem::absolute(options.path).lexically_normal().string();
    }
  }

  FeedResult Run();

 private:
  template <class Action>
  bool Retrying(const char* what, Action action);
  bool Commit(const std::vector<engine::TickRecord>& batch, const SourcePosition& end);
  void Status(bool force);

  const FeedOptions& options_;
  std::ostream& out_;
  std::ostream& err_;
  FeedMetrics metrics_;
  Store store_;
  LineSource source_;
  std::string name_;
  CommittedPosition committed_;
  std::unique_ptr<RejectFile> rejects_;
  int64_t rejects_total_ = 0;  // up to the read position
  int32_t newest_day_ = 0;     // latest day committed by this run or the last
  double newest_tick_ = 0;     // date-time of the newest tick committed
  FeedResult result_;
  std::unique_ptr<FeedPriority> priority_;
  Clock::time_point status_at_ = Clock::now();
  int64_t status_ticks_ = 0;
  int64_t status_rejects_ = 0;
};

// Runs `action` on the store until it succeeds, waiting longer after each
// failure; the position stays where it was meanwhile. False when a stop was
// asked first.
template <class Action>
bool Feeder::Retrying(const char* what, Action action) {
  int backoff = kFirstBackoffMs;
  for (;;) {
    try {
      action(store_.Get());
      return true;
    } catch (const std::exception& e) {
      store_.Drop();
      metrics_.store_errors.Add();
      err_ << "feed: " << what << " failed: " << e.what() << " (again in " << backoff << " ms)\n";
      err_.flush();
    }
    if (os::StopAsked()) return false;
    os::SleepMs(backoff);
    if (os::StopAsked()) return false;
    backoff = std::min(backoff * 2, kLastBackoffMs);
  }
}

bool Feeder::Commit(const std::vector<engine::TickRecord>& batch, const SourcePosition& end) {
  rejects_->Flush();
  CommittedPosition next = committed_;
  ++next.batch;
  next.source = end;
  next.ticks += static_cast<int64_t>(batch.size());
  next.rejects = rejects_total_;
  const int32_t day = batch.front().day;
  const std::string table = engine::DayTableName(day);
  bool committed = false, tried = false;
  const auto start = Clock::now();
  Retrying("commit", [&](engine::Connection& connection) {
    if (tried) {
      // A commit whose answer was lost may still have gone in: the
      // position stored with it says so.
      std::optional<CommittedPosition> stored = ReadPosition(connection, table, name_);
      if (stored && stored->batch >= next.batch) {
        committed = true;
        return;
      }
    }
    tried = true;
    engine::InTransaction(connection, [&] {
      engine::TickWriter& writer = store_.Writer();
      writer.AppendBatch(batch);
      WritePosition(connection, table, name_, next);
    });
    committed = true;
  });
  if (!committed) return false;
  metrics_.commit_seconds.Observe(SecondsSince(start));
  committed_ = next;
  result_.ticks += static_cast<int64_t>(batch.size());
  metrics_.ticks.Add(batch.size());
  metrics_.batches.Add();
  metrics_.last_commit.Set(static_cast<double>(std::time(nullptr)));
  for (const engine::TickRecord& tick : batch) newest_tick_ = std::max(newest_tick_, tick.day + tick.time);
  metrics_.last_tick.Set(rtl::LocalToUnixSeconds(newest_tick_));
  if (newest_day_ != 0 && day > newest_day_) {
    const std::string closed = engine::DayTableName(newest_day_);
    Retrying("packing", [&](engine::Connection& connection) { PackClosedDay(connection, closed); });
  }
  newest_day_ = std::max(newest_day_, day);
  if (day == newest_day_) store_.WriteLive(table, err_);
  return true;
}

void Feeder::Status(bool force) {
  const double elapsed = SecondsSince(status_at_);
  if (!force && (options_.status_seconds <= 0 || elapsed < options_.status_seconds)) return;
  const int64_t ticks = result_.ticks - status_ticks_;
  err_ << "feed: " << static_cast<int64_t>(elapsed > 0 ? ticks / elapsed : 0) << " ticks/s";
  if (newest_tick_ > 0) {
    char lag[32];
    std::snprintf(lag, sizeof lag, "%.1f", (rtl::Now() - newest_tick_) * 86400.0);
    err_ << ", lag " << lag << " s";
  }
  err_ << ", " << (rejects_total_ - status_rejects_) << " rejects (" << rejects_total_
       << " in all), " << committed_.ticks << " ticks committed";
  const int64_t backlog = source_.Backlog();
  if (backlog >= 0) err_ << ", " << backlog << " bytes unread";
  if (priority_ != nullptr && priority_->Raised()) err_ << ", behind: at normal priority";
  err_ << "\n";
  err_.flush();
  status_at_ = Clock::now();
  status_ticks_ = result_.ticks;
  status_rejects_ = rejects_total_;
}

FeedResult Feeder::Run() {
  std::unique_ptr<httphost::HttpServer> metrics_server;
  if (options_.metrics_port >= 0) {
    httphost::ServerOptions server_options;
    server_options.address = options_.metrics_address;
    server_options.port = static_cast<uint16_t>(options_.metrics_port);
    server_options.max_connections = 64;
    server_options.max_handler_threads = 2;
    metrics_server = std::make_unique<httphost::HttpServer>(server_options, ServeMetrics);
    metrics_server->Start();
    err_ << "feed: metrics on http://" << options_.metrics_address << ":" << metrics_server->Port()
         << "/metrics\n";
  }
  std::optional<CommittedPosition> stored;
  std::string stored_table;
  if (!Retrying("reading the committed position", [&](engine::Connection& connection) {
        stored = ReadNewestPosition(connection, name_, &stored_table);
      })) {
    result_.stopped_uncommitted = false;
    return result_;
  }
  if (stored) {
    committed_ = *stored;
    // The day of the last commit before a restart is closed, and packed, by
    // the first tick of a later day, as if the feed had never stopped; the
    // day before it may still wait for its packing.
    newest_day_ = DayOfTableName(stored_table);
    Retrying("packing", [&](engine::Connection& connection) {
      PackDayLeftUnpacked(connection, rtl::LowerAscii(stored_table));
    });
  }
  rejects_total_ = committed_.rejects;
  std::string note;
  source_.Resume(committed_.source, note);
  rejects_ = std::make_unique<RejectFile>(
      options_.rejects_path.empty() ? engine::DataDir() + "/feed-rejects.txt" : options_.rejects_path,
      committed_.source.seq);
  err_ << "feed: " << name_ << ": "
       << (stored ? "resuming after line " + std::to_string(committed_.source.seq) + " (" +
                        std::to_string(committed_.ticks) + " ticks committed before)"
                  : std::string("first feed of this source"))
       << (note.empty() ? "" : "; " + note) << "\n";
  err_.flush();

  std::string priority_note;
  priority_ = std::make_unique<FeedPriority>(options_.max_yield_ms, metrics_.raises, priority_note);
  err_ << "feed: " << priority_note << "\n";
  err_.flush();
  source_.OnCaughtUp([this](int wait_ms) { priority_->CaughtUp(wait_ms); });

  TickLineParser parser;
  std::vector<engine::TickRecord> batch;
  batch.reserve(static_cast<size_t>(options_.commit_ticks));
  std::optional<engine::TickRecord> held;  // the first tick of the next batch
  engine::TickRecord tick;
  std::string reason;
  bool ended = false;
  while (!ended) {
    batch.clear();
    SourcePosition end = source_.position();
    Clock::time_point deadline = Clock::time_point::max();
    if (held) {
      batch.push_back(std::move(*held));
      held.reset();
      deadline = Clock::now() + std::chrono::milliseconds(options_.commit_ms);
    }
    while (static_cast<int>(batch.size()) < options_.commit_ticks && !os::StopAsked()) {
      int wait_ms = options_.commit_ms;
      if (deadline != Clock::time_point::max()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) break;
        wait_ms = static_cast<int>(left.count());
      }
      const SourcePosition before = source_.position();
      std::string_view line;
      const LineSource::Got got = source_.Next(line, wait_ms);
      std::string moved = source_.TakeNote();
      if (!moved.empty()) err_ << "feed: " << moved << "\n";
      if (got == LineSource::Got::kEnd) {
        ended = true;
        break;
      }
      if (got == LineSource::Got::kNothingYet) {
        Status(false);
        continue;
      }
      engine::Pace();
      const TickLineParser::Kind kind = parser.Parse(line, tick, reason);
      if (kind == TickLineParser::Kind::kTick) {
        if (!batch.empty() && tick.day != batch.front().day) {
          // One commit never spans two days: the day's file holds the
          // position of the ticks it holds.
          held = std::move(tick);
          end = before;
          break;
        }
        if (batch.empty()) deadline = Clock::now() + std::chrono::milliseconds(options_.commit_ms);
        batch.push_back(std::move(tick));
      } else if (kind == TickLineParser::Kind::kBad) {
        const SourcePosition& at = source_.position();
        rejects_->Add(at.seq, source_.current_name(), at.line, reason, line);
        ++rejects_total_;
        ++result_.rejects;
        metrics_.rejects.Add();
      }
      end = source_.position();
    }
    if (!batch.empty()) {
      if (!Commit(batch, end)) {
        result_.stopped_uncommitted = true;
        break;
      }
    } else {
      rejects_->Flush();
    }
    Status(false);
    if (os::StopAsked() && !held) break;
  }
  rejects_->Flush();
  if (newest_day_ != 0) {
    // Stopping leaves the day's file whole by itself, as a load would.
    const std::string table = engine::DayTableName(newest_day_);
    Retrying("closing the day's log", [&](engine::Connection& connection) { connection.WriteLive(table, false); });
  }
  Status(true);
  priority_.reset();
  out_ << "feed: " << name_ << ": " << result_.ticks << " ticks committed, " << result_.rejects
       << " lines rejected" << (result_.rejects > 0 ? " (see " + rejects_->path() + ")" : "")
       << (result_.stopped_uncommitted ? "; stopped with the last batch uncommitted" : "") << "\n";
  return result_;
}

}  // namespace

FeedResult RunFeed(const FeedOptions& options, std::ostream& out, std::ostream& err) {
  os::AskToStopOnSignals();
  Feeder feeder(options, out, err);
  return feeder.Run();
}

std::string FeedUsage() {
  return "  feed [FILE|-] [--commit-ms N] [--commit-ticks N] [--rejects FILE]\n"
         "       [--source-name NAME] [--until-end] [--stream-resumes]\n"
         "       [--status-seconds N] [--metrics-port PORT] [--metrics-address ADDR]\n"
         "       [--max-yield-ms N]\n"
         "                          load ticks as they are written: CSV lines with the\n"
         "                          columns of import ticks (a header line optional),\n"
         "                          from standard input (- or no FILE), a FIFO, or a\n"
         "                          file that grows, followed across rotation as\n"
         "                          tail -F follows it; FILE.gz is read to its end.\n"
         "                          Ticks are committed every --commit-ms (default 200)\n"
         "                          or --commit-ticks (default 10000), whichever comes\n"
         "                          first, each batch with the source position it\n"
         "                          reaches: a restart resumes after the last commit,\n"
         "                          losing and repeating nothing of a file. Standard\n"
         "                          input cannot be read again: a feeder killed loses\n"
         "                          the lines of its uncommitted batch (at most\n"
         "                          --commit-ticks). A restarted stream is taken to\n"
         "                          replay from its first line, and the committed lines\n"
         "                          are skipped; --stream-resumes: it goes on after\n"
         "                          them instead.\n"
         "                          Lines that are not ticks go to the reject file\n"
         "                          (default DIR/feed-rejects.txt) with their line\n"
         "                          numbers and reasons; the feed goes on. A store that\n"
         "                          fails is retried with growing waits, the position\n"
         "                          held. --until-end: stop at the end of the input\n"
         "                          instead of waiting for more. SIGTERM commits what was\n"
         "                          read and stops. A status line every\n"
         "                          --status-seconds (default 5) on standard error;\n"
         "                          --metrics-port serves /metrics (address default\n"
         "                          127.0.0.1). --source-name: the name the position is\n"
         "                          kept under (default the file's absolute path, or\n"
         "                          stdin).\n"
         "                          --max-yield-ms N (default 5000): while the feed\n"
         "                          keeps up with its source it runs at idle CPU\n"
         "                          priority, so that it never delays the server's\n"
         "                          requests; once it has gone N ms without catching up\n"
         "                          (cores full of requests leave it next to no CPU),\n"
         "                          it runs at normal priority until it has. That needs\n"
         "                          the right to return to normal priority (root,\n"
         "                          CAP_SYS_NICE, or RLIMIT_NICE 20: LimitNICE=+0 in a\n"
         "                          unit); without it the feed runs at normal priority.\n"
         "                          Either way it works in slices of 250 us and lets\n"
         "                          waiting threads run between them. 0: normal\n"
         "                          priority, no slices.\n";
}

}  // namespace admin
