#include "platform/engine/sqlite/result_cache.h"

#include <cstdint>
#include <exception>
#include <iterator>
#include <utility>

namespace engine::sqlite {

namespace {

// A result of more rows is read from the file every time: the questions
// worth keeping have one answer, and keeping more would hold big results.
constexpr size_t kMaxRows = 4;
// Beyond either bound every kept result is dropped and keeping starts
// again: a few megabytes hold the names of every symbol of a market.
constexpr size_t kMaxResults = 16384;
constexpr size_t kMaxBytes = size_t{8} << 20;

void AppendBytes(std::string& key, const void* bytes, size_t size) {
  key.append(static_cast<const char*>(bytes), size);
}

void AppendSized(std::string& key, const std::string& text) {
  const uint64_t size = text.size();
  AppendBytes(key, &size, sizeof size);
  key += text;
}

}  // namespace

// The statement and its parameter values, each part sized, so that no two
// questions share a key.
std::string ResultCache::KeyOf(const Statement& sql, const std::vector<BoundParam>& params) {
  std::string key;
  for (const std::string& piece : sql.pieces) AppendSized(key, piece);
  for (const BoundParam& p : params) {
    key += static_cast<char>(p.type);
    key += static_cast<char>(p.value.kind);
    switch (p.value.kind) {
      case Value::Kind::kNull:
        break;
      case Value::Kind::kInteger:
        AppendBytes(key, &p.value.i, sizeof p.value.i);
        break;
      case Value::Kind::kFloat:
        AppendBytes(key, &p.value.d, sizeof p.value.d);
        break;
      case Value::Kind::kText:
        AppendSized(key, p.value.s);
        break;
    }
  }
  return key;
}

namespace {

size_t BytesOf(const std::string& key, const ResultCache::Result& result) {
  size_t bytes = key.size();
  for (const Column& c : result.columns) bytes += sizeof c + c.name.size();
  for (const std::vector<Value>& row : result.rows) {
    for (const Value& v : row) bytes += sizeof v + v.s.size();
  }
  return bytes;
}

// The rows of a kept result.
class KeptCursor : public Cursor {
 public:
  explicit KeptCursor(std::shared_ptr<const ResultCache::Result> result) : result_(std::move(result)) {}
  const std::vector<Column>& columns() const override { return result_->columns; }
  bool Next(std::vector<Value>& row) override {
    if (next_ == result_->rows.size()) return false;
    row = result_->rows[next_++];
    return true;
  }

 private:
  std::shared_ptr<const ResultCache::Result> result_;
  size_t next_ = 0;
};

// The rows of a statement, the first kMaxRows + 1 of them read at once:
// when that reaches the end, the result is whole, the statement is given
// back (ending its read transaction) and the result may be kept. A failure
// met on the way is raised where the caller's own read meets it, after the
// rows before it, as the statement alone would.
class ReadAheadCursor : public Cursor {
 public:
  explicit ReadAheadCursor(std::unique_ptr<Cursor> source) : source_(std::move(source)) {
    result_.columns = source_->columns();
    while (result_.rows.size() <= kMaxRows) {
      std::vector<Value> row;
      try {
        if (!source_->Next(row)) {
          source_.reset();
          return;
        }
      } catch (...) {
        failure_ = std::current_exception();
        return;
      }
      result_.rows.push_back(std::move(row));
    }
  }
  bool whole() const { return source_ == nullptr; }
  const ResultCache::Result& result() const { return result_; }

  const std::vector<Column>& columns() const override { return result_.columns; }
  bool Next(std::vector<Value>& row) override {
    if (next_ < result_.rows.size()) {
      row = result_.rows[next_++];
      return true;
    }
    if (failure_) std::rethrow_exception(failure_);
    return source_ != nullptr && source_->Next(row);
  }

 private:
  std::unique_ptr<Cursor> source_;  // null once read to its end
  std::exception_ptr failure_;      // met while reading ahead
  ResultCache::Result result_;
  size_t next_ = 0;
};

}  // namespace

std::shared_ptr<ResultCache> ResultCache::Of(const std::string& path, const std::string& log_path) {
  if (!os::VersionMovesWithEachWrite()) return nullptr;
  static std::mutex mu;
  static std::unordered_map<std::string, std::weak_ptr<ResultCache>> caches;
  std::lock_guard<std::mutex> lock(mu);
  std::shared_ptr<ResultCache> cache = caches[path].lock();
  if (cache == nullptr) {
    // A file no connection reads any more leaves its name behind: the
    // names go when a file is first read, so that a server that reads a
    // day after another all year keeps no more than the files it reads.
    for (auto it = caches.begin(); it != caches.end();) {
      it = it->second.expired() ? caches.erase(it) : std::next(it);
    }
    cache = std::make_shared<ResultCache>(path, log_path);
    caches[path] = cache;
  }
  return cache;
}

ResultCache::ResultCache(std::string path, std::string log_path)
    : path_(std::move(path)), log_path_(std::move(log_path)) {}

std::unique_ptr<Cursor> ResultCache::Rows(std::string key, const std::function<std::unique_ptr<Cursor>()>& run) {
  // Looked at before the rows are read: a write after the look leaves a
  // later version, which the next look sees as a change.
  const FileLook look = LookAtFile(path_, log_path_);
  const bool settled = Settled(look);
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (look != seen_) {
      results_.clear();
      bytes_ = 0;
      seen_ = look;
    } else if (settled) {
      auto it = results_.find(key);
      if (it != results_.end()) {
        if (it->second->none) return nullptr;
        return std::make_unique<KeptCursor>(it->second);
      }
    }
  }
  std::unique_ptr<Cursor> source = run();
  std::unique_ptr<ReadAheadCursor> cursor;
  std::shared_ptr<Result> result;
  if (source == nullptr) {
    if (!settled) return nullptr;
    result = std::make_shared<Result>();
    result->none = true;
  } else {
    cursor = std::make_unique<ReadAheadCursor>(std::move(source));
    if (!settled || !cursor->whole()) return cursor;
    result = std::make_shared<Result>(cursor->result());
  }
  const size_t bytes = BytesOf(key, *result);
  std::lock_guard<std::mutex> lock(mu_);
  if (look == seen_) {
    if (results_.size() >= kMaxResults || bytes_ + bytes > kMaxBytes) {
      results_.clear();
      bytes_ = 0;
    }
    if (results_.emplace(std::move(key), std::move(result)).second) bytes_ += bytes;
  }
  return cursor;
}

}  // namespace engine::sqlite
