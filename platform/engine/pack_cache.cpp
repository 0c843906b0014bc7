#include "platform/engine/pack_cache.h"

#include <iterator>
#include <utility>

namespace engine {

namespace {

// Twenty days of a symbol of 100,000 ticks a day take some 20 MB; 64 MB
// keeps a few such charts, and is what the cache may add to the server's
// memory at most.
constexpr size_t kDefaultBudget = size_t{64} << 20;

// What an entry counts against the budget beyond its pack: a kept "no
// pack" still costs its name, version and bookkeeping.
constexpr size_t kEntryOverhead = 128;

size_t CostOf(const std::string& name, const PackCache::Kept& kept) {
  return kEntryOverhead + name.size() + kept.version.size() + (kept.bytes != nullptr ? kept.bytes->size() : 0);
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

bool PackCache::Find(const std::string& name, Kept& kept) {
  std::lock_guard<std::mutex> lock(mu_);
  auto it = by_name_.find(name);
  if (it == by_name_.end()) return false;
  entries_.splice(entries_.begin(), entries_, it->second);
  kept = it->second->kept;
  return true;
}

void PackCache::Keep(const std::string& name, Kept kept) {
  if (CostOf(name, kept) > budget_.load() / 4) {
    Drop(name);
    return;
  }
  std::lock_guard<std::mutex> lock(mu_);
  auto it = by_name_.find(name);
  if (it != by_name_.end()) Forget(it->second);
  bytes_ += CostOf(name, kept);
  entries_.push_front(Entry{name, std::move(kept)});
  by_name_.emplace(name, entries_.begin());
  FitBudget();
}

void PackCache::Drop(const std::string& name) {
  std::lock_guard<std::mutex> lock(mu_);
  auto it = by_name_.find(name);
  if (it != by_name_.end()) Forget(it->second);
}

void PackCache::FitBudget() {
  while (bytes_ > budget_.load()) Forget(std::prev(entries_.end()));
}

void PackCache::Forget(Entries::iterator it) {
  bytes_ -= CostOf(it->name, it->kept);
  by_name_.erase(it->name);
  entries_.erase(it);
}

}  // namespace engine
