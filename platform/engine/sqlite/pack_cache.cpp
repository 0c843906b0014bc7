#include "platform/engine/sqlite/pack_cache.h"

#include <utility>

#include "platform/os/files.h"

namespace engine::sqlite {

namespace {

// Twenty days of a symbol of 100,000 ticks a day take some 20 MB; 64 MB
// keeps a few such charts, and is what the cache may add to the server's
// memory at most.
constexpr size_t kDefaultBudget = size_t{64} << 20;

// What an entry counts against the budget beyond its bytes: a kept "no
// pack" still costs its name and bookkeeping.
constexpr size_t kEntryOverhead = 128;

size_t CostOf(const std::string& name, size_t bytes) { return kEntryOverhead + name.size() + bytes; }
size_t CostOf(const std::string& name, const std::shared_ptr<const std::string>& bytes) {
  return CostOf(name, bytes != nullptr ? bytes->size() : 0);
}

}  // namespace

PackCache::PackCache(size_t budget) : budget_(budget) {}

PackCache& PackCache::Default() {
  static PackCache* cache = new PackCache(kDefaultBudget);
  return *cache;
}

void PackCache::SetBudget(size_t budget) {
  std::lock_guard<std::mutex> lock(mu_);
  budget_.store(budget);
  FitBudget();
}

size_t PackCache::BytesHeld() const {
  std::lock_guard<std::mutex> lock(mu_);
  return bytes_;
}

bool PackCache::Read(const std::string& path, const std::string& log_path, const std::string& key,
                     std::string& bytes, const std::function<bool(std::string&)>& read) {
  if (!os::VersionMovesWithEachWrite() || budget_.load() == 0) return read(bytes);
  std::string name = path;
  name += '\0';
  name += key;
  // Looked at before the pack is read: a write after the look leaves a
  // later version, which the next look sees as a change.
  const FileLook look = LookAtFile(path, log_path);
  const bool settled = Settled(look);
  {
    std::unique_lock<std::mutex> lock(mu_);
    auto it = by_name_.find(name);
    if (it != by_name_.end()) {
      Entries::iterator entry = it->second;
      if (settled && entry->look == look) {
        entries_.splice(entries_.begin(), entries_, entry);
        const bool found = entry->found;
        std::shared_ptr<const std::string> kept = entry->bytes;
        lock.unlock();  // a pack is copied out of the lock: it may be megabytes
        hits_.fetch_add(1, std::memory_order_relaxed);
        if (found) bytes.assign(*kept);
        return found;
      }
      Forget(entry);
    }
  }
  const bool found = read(bytes);
  if (settled && CostOf(name, found ? bytes.size() : 0) <= budget_.load() / 4) {
    Keep(Entry{std::move(name), look, found, found ? std::make_shared<const std::string>(bytes) : nullptr});
  }
  return found;
}

void PackCache::Keep(Entry entry) {
  std::lock_guard<std::mutex> lock(mu_);
  // Another request may have read the same pack meanwhile: the later read
  // stays.
  auto it = by_name_.find(entry.name);
  if (it != by_name_.end()) Forget(it->second);
  bytes_ += CostOf(entry.name, entry.bytes);
  entries_.push_front(std::move(entry));
  by_name_.emplace(entries_.front().name, entries_.begin());
  FitBudget();
}

void PackCache::FitBudget() {
  while (bytes_ > budget_.load()) Forget(std::prev(entries_.end()));
}

void PackCache::Forget(Entries::iterator it) {
  bytes_ -= CostOf(it->name, it->bytes);
  by_name_.erase(it->name);
  entries_.erase(it);
}

}  // namespace engine::sqlite
