// Series storage and the text rendering. Series are held through
// unique_ptr, so a reference handed out stays valid while others are added.
#include "platform/metrics/metrics.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <stdexcept>

#include "platform/os/process_lifetime.h"

namespace metrics {

namespace {

enum Type { kCounter, kGauge, kHistogram };

const char* TypeName(int type) {
  switch (type) {
    case kCounter: return "counter";
    case kGauge: return "gauge";
    default: return "histogram";
  }
}

// Shortest text that reads back as the same double; the format's own words
// for the values that are not finite.
void AppendNumber(std::string& out, double v) {
  if (std::isnan(v)) {
    out += "NaN";
  } else if (std::isinf(v)) {
    out += v > 0 ? "+Inf" : "-Inf";
  } else {
    char buf[32];
    auto r = std::to_chars(buf, buf + sizeof(buf), v);
    out.append(buf, r.ptr);
  }
}

void AppendCount(std::string& out, uint64_t v) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof(buf), v);
  out.append(buf, r.ptr);
}

// Help text escapes backslash and newline; label values also the quote.
void AppendEscaped(std::string& out, const std::string& text, bool quote) {
  for (char c : text) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '"' && quote) {
      out += "\\\"";
    } else {
      out += c;
    }
  }
}

// "{a="x",b="y"}" with `extra` (the bucket's le) last; nothing when empty.
void AppendLabels(std::string& out, const Labels& labels, const char* extra_name = nullptr,
                  const std::string& extra_value = std::string()) {
  if (labels.empty() && extra_name == nullptr) return;
  out += '{';
  bool first = true;
  for (const auto& [name, value] : labels) {
    if (!first) out += ',';
    first = false;
    out += name;
    out += "=\"";
    AppendEscaped(out, value, true);
    out += '"';
  }
  if (extra_name != nullptr) {
    if (!first) out += ',';
    out += extra_name;
    out += "=\"";
    out += extra_value;
    out += '"';
  }
  out += '}';
}

}  // namespace

Histogram::Histogram(std::vector<double> bounds)
    : bounds_(std::move(bounds)), counts_(new std::atomic<uint64_t>[bounds_.size() + 1]) {
  std::sort(bounds_.begin(), bounds_.end());
  for (size_t i = 0; i <= bounds_.size(); ++i) counts_[i].store(0, std::memory_order_relaxed);
}

void Histogram::Observe(double value) {
  size_t i = 0;
  while (i < bounds_.size() && value > bounds_[i]) ++i;
  counts_[i].fetch_add(1, std::memory_order_relaxed);
  sum_.fetch_add(value, std::memory_order_relaxed);
}

struct Registry::Series {
  Labels labels;
  std::unique_ptr<Counter> counter;
  std::unique_ptr<Gauge> gauge;
  std::unique_ptr<Histogram> histogram;
};

struct Registry::Family {
  std::string name, help;
  int type;
  std::vector<std::unique_ptr<Series>> series;
};

Registry::Registry() = default;
Registry::~Registry() = default;

Registry::Family& Registry::FamilyOf(const std::string& name, const std::string& help, int type) {
  for (auto& f : families_) {
    if (f->name != name) continue;
    if (f->type != type) throw std::logic_error("metric " + name + " added with another type");
    return *f;
  }
  families_.push_back(std::make_unique<Family>(Family{name, help, type, {}}));
  return *families_.back();
}

Registry::Series* Registry::Find(Family& family, const Labels& labels) {
  for (auto& s : family.series) {
    if (s->labels == labels) return s.get();
  }
  family.series.push_back(std::make_unique<Series>());
  family.series.back()->labels = labels;
  return family.series.back().get();
}

Counter& Registry::AddCounter(const std::string& name, const std::string& help,
                              const Labels& labels) {
  std::lock_guard<std::mutex> guard(lock_);
  Series* s = Find(FamilyOf(name, help, kCounter), labels);
  if (!s->counter) s->counter = std::make_unique<Counter>();
  return *s->counter;
}

Gauge& Registry::AddGauge(const std::string& name, const std::string& help, const Labels& labels) {
  std::lock_guard<std::mutex> guard(lock_);
  Series* s = Find(FamilyOf(name, help, kGauge), labels);
  if (!s->gauge) s->gauge = std::make_unique<Gauge>();
  return *s->gauge;
}

Histogram& Registry::AddHistogram(const std::string& name, const std::string& help,
                                  const std::vector<double>& bounds, const Labels& labels) {
  std::lock_guard<std::mutex> guard(lock_);
  Series* s = Find(FamilyOf(name, help, kHistogram), labels);
  if (!s->histogram) s->histogram = std::make_unique<Histogram>(bounds);
  return *s->histogram;
}

std::string Registry::Render() const {
  std::lock_guard<std::mutex> guard(lock_);
  std::string out;
  for (const auto& f : families_) {
    if (f->series.empty()) continue;
    out += "# HELP " + f->name + ' ';
    AppendEscaped(out, f->help, false);
    out += "\n# TYPE " + f->name + ' ' + TypeName(f->type) + '\n';
    for (const auto& s : f->series) {
      if (s->histogram) {
        const Histogram& h = *s->histogram;
        uint64_t total = 0;
        for (size_t i = 0; i <= h.Bounds().size(); ++i) {
          total += h.BucketCount(i);
          std::string le;
          AppendNumber(le, i < h.Bounds().size() ? h.Bounds()[i] : INFINITY);
          out += f->name + "_bucket";
          AppendLabels(out, s->labels, "le", le);
          out += ' ';
          AppendCount(out, total);
          out += '\n';
        }
        out += f->name + "_sum";
        AppendLabels(out, s->labels);
        out += ' ';
        AppendNumber(out, h.Sum());
        out += '\n' + f->name + "_count";
        AppendLabels(out, s->labels);
        out += ' ';
        AppendCount(out, total);
        out += '\n';
        continue;
      }
      out += f->name;
      AppendLabels(out, s->labels);
      out += ' ';
      if (s->counter) {
        AppendCount(out, s->counter->Value());
      } else {
        AppendNumber(out, s->gauge->Value());
      }
      out += '\n';
    }
  }
  return out;
}

Registry& Default() {
  static Registry* registry = os::KeptForProcess(new Registry);
  return *registry;
}

}  // namespace metrics
