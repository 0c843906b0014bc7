// The packs this process has read from database files it only reads, kept
// while their file and its log are unchanged.
//
// A desk charts the same symbols over the same weeks again and again, and
// the days of those weeks no longer change. Reading a day's pack from its
// file takes SQLite's read transaction (its locks and looks for a journal
// and a log) and a read of every page the pack spans, some 250 system calls
// for a symbol of 100,000 ticks; a kept pack costs two looks at the file's
// metadata.
//
// One cache for the process, shared by every connection, within a fixed
// budget of bytes: the packs read least recently go first. Thread-safe.
#ifndef HISTDATA_PLATFORM_ENGINE_SQLITE_PACK_CACHE_H_
#define HISTDATA_PLATFORM_ENGINE_SQLITE_PACK_CACHE_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "platform/engine/sqlite/file_look.h"

namespace engine::sqlite {

class PackCache {
 public:
  // Keeps packs of up to `budget` bytes in all; a pack larger than a
  // quarter of it is never kept.
  explicit PackCache(size_t budget);
  PackCache(const PackCache&) = delete;
  PackCache& operator=(const PackCache&) = delete;

  // The process's cache, of 64 MB unless set otherwise.
  static PackCache& Default();

  // Keeps at most `budget` bytes from now on (0: nothing), letting go of
  // the packs read least recently until it does.
  void SetBudget(size_t budget);

  // The pack `key` names (its table and folded symbol) in the file at
  // `path`, whose write-ahead log is at `log_path`, into `bytes`; false
  // when there is none. A kept answer while neither file has changed since
  // it was read, else `read(bytes)`'s, which is kept when the file had been
  // left alone for a second before (Settled). Where a file's version does
  // not tell whether another process wrote it, every call reads.
  bool Read(const std::string& path, const std::string& log_path, const std::string& key, std::string& bytes,
            const std::function<bool(std::string&)>& read);

  // Answers given from the cache, and bytes held (for tests and figures).
  uint64_t Hits() const { return hits_.load(std::memory_order_relaxed); }
  size_t BytesHeld() const;

 private:
  struct Entry {
    std::string name;  // path, then key
    FileLook look;     // of the file when the pack was read
    bool found = false;
    std::shared_ptr<const std::string> bytes;
  };
  using Entries = std::list<Entry>;  // most recently read first

  void Keep(Entry entry);
  void Forget(Entries::iterator it);
  void FitBudget();

  std::atomic<size_t> budget_;
  mutable std::mutex mu_;
  Entries entries_;
  std::unordered_map<std::string, Entries::iterator> by_name_;
  size_t bytes_ = 0;
  std::atomic<uint64_t> hits_{0};
};

}  // namespace engine::sqlite

#endif  // HISTDATA_PLATFORM_ENGINE_SQLITE_PACK_CACHE_H_
