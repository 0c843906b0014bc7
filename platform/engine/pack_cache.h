// The packs this process has read, kept for the requests to come while
// their source is unchanged.
//
// A desk charts the same symbols over the same weeks again and again, and
// the days of those weeks no longer change. Reading a day's pack from a
// SQLite file takes a read transaction (its locks and looks for a journal
// and a log) and a read of every page the pack spans, some 250 system calls
// for a symbol of 100,000 ticks; from PostgreSQL it takes the whole pack
// over the connection. A kept pack costs two looks at the file's metadata,
// or a round trip that answers "unchanged".
//
// One cache for the process, shared by every connection, within a fixed
// budget of bytes: the packs read least recently go first. Each pack is
// kept with the version of its source when it was read, which its reader
// compares with the source's version now. Thread-safe.
#ifndef HISTDATA_PLATFORM_ENGINE_PACK_CACHE_H_
#define HISTDATA_PLATFORM_ENGINE_PACK_CACHE_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

namespace engine {

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
  bool Enabled() const { return budget_.load() > 0; }

  // One kept answer: the version of its source when it was read, and the
  // pack (null when there was none).
  struct Kept {
    std::string version;
    std::shared_ptr<const std::string> bytes;
  };
  // What is kept under `name`, now the most recently read; false if nothing.
  bool Find(const std::string& name, Kept& kept);
  // Keeps `kept` under `name` in place of what was, when it fits.
  void Keep(const std::string& name, Kept kept);
  // Lets go of what is kept under `name`.
  void Drop(const std::string& name);

  // Readers count the answers they gave from the cache.
  void CountHit() { hits_.fetch_add(1, std::memory_order_relaxed); }
  uint64_t Hits() const { return hits_.load(std::memory_order_relaxed); }
  size_t BytesHeld() const;

 private:
  struct Entry {
    std::string name;
    Kept kept;
  };
  using Entries = std::list<Entry>;  // most recently read first

  void Forget(Entries::iterator it);
  void FitBudget();

  std::atomic<size_t> budget_;
  mutable std::mutex mu_;
  Entries entries_;
  std::unordered_map<std::string, Entries::iterator> by_name_;
  size_t bytes_ = 0;
  std::atomic<uint64_t> hits_{0};
};

}  // namespace engine

#endif  // HISTDATA_PLATFORM_ENGINE_PACK_CACHE_H_
