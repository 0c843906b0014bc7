// Counters, gauges and histograms that any part of a program can count
// into, and their rendering in the Prometheus text exposition format.
//
// Counting (Counter::Add, Gauge::Set, Histogram::Observe) is a relaxed
// atomic operation on a series found once: no lock, no allocation. Finding
// or adding a series takes the registry's lock and may allocate, so a hot
// path keeps the reference it got (series live as long as the registry).
//
//   static metrics::Counter& done = metrics::Default().AddCounter(
//       "jobs_total", "Jobs finished.", {{"kind", "copy"}});
//   done.Add();
//   std::string text = metrics::Default().Render();
#ifndef HISTDATA_PLATFORM_METRICS_METRICS_H_
#define HISTDATA_PLATFORM_METRICS_METRICS_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace metrics {

using Labels = std::vector<std::pair<std::string, std::string>>;

class Counter {
 public:
  void Add(uint64_t n = 1) { value_.fetch_add(n, std::memory_order_relaxed); }
  uint64_t Value() const { return value_.load(std::memory_order_relaxed); }

 private:
  std::atomic<uint64_t> value_{0};
};

class Gauge {
 public:
  void Set(double v) { value_.store(v, std::memory_order_relaxed); }
  double Value() const { return value_.load(std::memory_order_relaxed); }

 private:
  std::atomic<double> value_{0};
};

// Observations counted into fixed buckets given by their upper bounds
// (ascending; the +Inf bucket is implied).
class Histogram {
 public:
  explicit Histogram(std::vector<double> bounds);
  void Observe(double value);
  const std::vector<double>& Bounds() const { return bounds_; }
  // Observations in bucket i alone (not cumulative); i == Bounds().size()
  // is the +Inf bucket.
  uint64_t BucketCount(size_t i) const { return counts_[i].load(std::memory_order_relaxed); }
  double Sum() const { return sum_.load(std::memory_order_relaxed); }

 private:
  std::vector<double> bounds_;
  std::unique_ptr<std::atomic<uint64_t>[]> counts_;
  std::atomic<double> sum_{0};
};

class Registry {
 public:
  Registry();
  ~Registry();
  Registry(const Registry&) = delete;
  Registry& operator=(const Registry&) = delete;

  // Find-or-add: the series of that name and labels, made on first call.
  // The help text of a family is the one given first. A name used with
  // another type raises std::logic_error.
  Counter& AddCounter(const std::string& name, const std::string& help, const Labels& labels = {});
  Gauge& AddGauge(const std::string& name, const std::string& help, const Labels& labels = {});
  Histogram& AddHistogram(const std::string& name, const std::string& help,
                          const std::vector<double>& bounds, const Labels& labels = {});

  // Every family in the order first added, each with its HELP and TYPE
  // lines, series in the order added (text format version 0.0.4).
  std::string Render() const;

 private:
  struct Family;
  struct Series;
  Family& FamilyOf(const std::string& name, const std::string& help, int type);
  Series* Find(Family& family, const Labels& labels);

  mutable std::mutex lock_;
  std::vector<std::unique_ptr<Family>> families_;
};

// The process's registry. Never destroyed, so counting from code that runs
// during static destruction stays safe.
Registry& Default();

}  // namespace metrics

#endif  // HISTDATA_PLATFORM_METRICS_METRICS_H_
