// Small results of the statements that this process runs on a database
// file it only reads, kept while the file is unchanged.
//
// A request asks a file the same few questions as thousands of requests
// before it (a symbol's names, whether it is valid, its last tick of a
// past day), and the answers change a few times a day. A kept answer costs
// two looks at the file's metadata (the file and its write-ahead log)
// instead of SQLite's read transaction: its locks, its looks for a journal
// and a log, its read of the change counter and its release, eight system
// calls.
//
// One cache per file in the process, shared by every read-only connection
// to it (which holds it alive). Thread-safe.
#ifndef HISTDATA_PLATFORM_ENGINE_SQLITE_RESULT_CACHE_H_
#define HISTDATA_PLATFORM_ENGINE_SQLITE_RESULT_CACHE_H_

#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/engine/driver.h"
#include "platform/engine/sqlite/file_look.h"

namespace engine::sqlite {

class ResultCache {
 public:
  // The cache of the database file at `path`, whose write-ahead log is at
  // `log_path`; null where a file's version does not tell whether another
  // process wrote it.
  static std::shared_ptr<ResultCache> Of(const std::string& path, const std::string& log_path);

  ResultCache(std::string path, std::string log_path);
  ResultCache(const ResultCache&) = delete;
  ResultCache& operator=(const ResultCache&) = delete;

  // The question of running `sql` with `params`, as Rows takes it.
  static std::string KeyOf(const Statement& sql, const std::vector<BoundParam>& params);

  // The rows that `run()` gives for the question `key` (null when it gives
  // none): those kept from an earlier run when neither the file nor its log
  // has changed since, else run()'s, which are kept when they are few and
  // the file had not changed within the second before they were read.
  std::unique_ptr<Cursor> Rows(std::string key, const std::function<std::unique_ptr<Cursor>()>& run);

  // One result as kept.
  struct Result {
    bool none = false;  // run() gave no cursor
    std::vector<Column> columns;
    std::vector<std::vector<Value>> rows;
  };

 private:
  const std::string path_, log_path_;
  std::mutex mu_;
  // The look under which `results_` were read; they are dropped at the
  // first look that finds anything else.
  FileLook seen_;
  std::unordered_map<std::string, std::shared_ptr<const Result>> results_;
  size_t bytes_ = 0;
};

}  // namespace engine::sqlite

#endif  // HISTDATA_PLATFORM_ENGINE_SQLITE_RESULT_CACHE_H_
