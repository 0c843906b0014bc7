// The ini reader follows the platform's profile-file reader: names are
// trimmed and compared without regard to case, a value loses the blanks
// around it and one pair of matching quotes, ';' starts a comment line, and
// only the first section of a name counts. Each read looks at the file as it
// is at that moment: its version (identity, size, change times, one stat)
// tells whether it is the one read last time, whose text is kept; any other
// is read whole again (one read). So an edited file takes effect with the
// next read, a reader never mixes two versions of it, and the several reads
// of every request cost a stat each while the file stays as it is.
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "platform/metrics/metrics.h"
#include "platform/os/files.h"
#include "platform/rtl/text.h"
#include "settings/zetini.h"

namespace zetini {

namespace {

// Longest value handed out, the size of the platform's value buffer less its
// terminating zero.
constexpr size_t kMaxValue = 2047;
// Size of the buffer that gathers a section's key names: each name takes
// its length plus a terminating zero, and the list ends with one more.
constexpr size_t kKeyNameBuffer = 16384;

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f' ||
         c == '\x1a';
}

std::string_view TrimLeft(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  return s;
}

std::string_view TrimRight(std::string_view s) {
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

std::string_view Trim(std::string_view s) { return TrimRight(TrimLeft(s)); }

// No settings file is this large; the cap keeps a damaged or runaway file
// from costing every read (five per request) time and memory: a settings
// file replaced by a huge one still leaves requests served at their pace.
constexpr size_t kMaxFile = 4u << 20;

// The whole file (at most kMaxFile bytes of it) and its version as it was
// opened, or false when it is not a readable regular file.
bool ReadWholeFile(const std::string& path, std::string& out, os::FileVersion& version) {
  const int fd = os::OpenForReading(path);
  if (fd < 0) return false;
  if (!os::RegularFileVersion(fd, version)) {
    close(fd);
    return false;
  }
  out.clear();
  out.resize(version.size > 0 ? std::min(static_cast<size_t>(version.size), kMaxFile) : 4096);
  size_t used = 0;
  for (;;) {
    if (used == out.size()) {
      if (used >= kMaxFile) break;
      out.resize(std::min(out.size() * 2, kMaxFile));
    }
    const ssize_t n = read(fd, out.data() + used, out.size() - used);
    if (n < 0) {
      close(fd);
      return false;
    }
    if (n == 0) break;
    used += static_cast<size_t>(n);
  }
  close(fd);
  out.resize(used);
  return true;
}

// File times move in steps (of milliseconds, or seconds on some file
// systems), so a file written again within a step of its last change can
// keep the same version. Its text is kept only once it has been left alone
// for longer than any such step; until then every read reads it.
constexpr int64_t kSettledNs = 2'000'000'000;

bool SettledWhenRead(const os::FileVersion& v) { return os::LeftAloneFor(v, kSettledNs); }

struct Snapshot {
  os::FileVersion version;
  std::shared_ptr<const std::string> text;
};

// The last text read of each path: a handful (the candidates of the search
// and the downloaded file).
std::mutex snapshots_mu;
std::unordered_map<std::string, Snapshot> snapshots;
// Registered with the program, so that the operator sees it from the start.
metrics::Counter& file_reads = metrics::Default().AddCounter(
    "histdata_settings_reloads_total",
    "Settings files read because they were new or had changed since their last read.");

// The file's text now, or null when it is not a readable regular file.
std::shared_ptr<const std::string> CurrentText(const std::string& path, const os::FileVersion* seen) {
  os::FileVersion now;
  if (seen != nullptr) {
    now = *seen;
  } else if (!os::RegularFileVersion(path, now)) {
    return nullptr;
  }
  {
    std::lock_guard<std::mutex> lock(snapshots_mu);
    auto it = snapshots.find(path);
    if (it != snapshots.end() && it->second.version == now) return it->second.text;
  }
  // Kept with the version it had when opened: a write during the read
  // leaves a later version, which the next read sees as a change.
  auto text = std::make_shared<std::string>();
  os::FileVersion opened;
  if (!ReadWholeFile(path, *text, opened)) return nullptr;
  file_reads.Add();
  const bool settled = SettledWhenRead(opened);
  std::lock_guard<std::mutex> lock(snapshots_mu);
  if (settled) {
    snapshots[path] = Snapshot{opened, text};
  } else {
    snapshots.erase(path);
  }
  return text;
}

struct Entry {
  std::string_view name;
  std::string_view value;
  bool has_value;  // false for a line without "="
};

// The entries of the first section named `section`, in file order.
std::vector<Entry> SectionEntries(std::string_view text, std::string_view section) {
  std::vector<Entry> entries;
  if (text.size() >= 3 && text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  section = Trim(section);
  bool inside = false;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = TrimLeft(text.substr(pos, end - pos));
    pos = end + 1;
    if (line.empty()) continue;
    if (line.front() == '[') {
      const size_t close = line.rfind(']');
      if (close != std::string_view::npos) {
        if (inside) break;  // only the first section of the name counts
        inside = rtl::SameText(Trim(line.substr(1, close - 1)), section);
        continue;
      }
    }
    if (!inside) continue;
    line = TrimRight(line);
    if (line.front() == ';') continue;
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos) {
      entries.push_back(Entry{line, {}, false});
    } else {
      entries.push_back(Entry{TrimRight(line.substr(0, eq)), TrimLeft(line.substr(eq + 1)), true});
    }
  }
  return entries;
}

std::string ValueText(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  return std::string(value.substr(0, kMaxValue));
}

std::string DefaultText(std::string_view value) {
  while (!value.empty() && value.back() == ' ') value.remove_suffix(1);
  return std::string(value.substr(0, kMaxValue));
}

}  // namespace

namespace {

// The value of `key` among a section's entries, as ReadString gives it.
std::string ValueOf(const std::vector<Entry>& entries, std::string_view key, std::string_view default_value) {
  key = Trim(key);
  for (const Entry& e : entries) {
    if (rtl::SameText(e.name, key)) {
      return e.has_value ? ValueText(e.value) : DefaultText(default_value);
    }
  }
  return DefaultText(default_value);
}

}  // namespace

std::string TIniFile::ReadString(std::string_view section, std::string_view key,
                                 std::string_view default_value) const {
  const std::shared_ptr<const std::string> text = CurrentText(path_, TakeSeen());
  if (!text) return DefaultText(default_value);
  return ValueOf(SectionEntries(*text, section), key, default_value);
}

std::vector<std::string> TIniFile::ReadStrings(std::string_view section,
                                               std::initializer_list<KeyDefault> keys) const {
  const std::shared_ptr<const std::string> text = CurrentText(path_, TakeSeen());
  const std::vector<Entry> entries = text ? SectionEntries(*text, section) : std::vector<Entry>();
  std::vector<std::string> values;
  values.reserve(keys.size());
  for (const KeyDefault& k : keys) values.push_back(ValueOf(entries, k.key, k.default_value));
  return values;
}

void TIniFile::ReadSectionValues(std::string_view section, std::vector<std::string>& list) const {
  const std::shared_ptr<const std::string> text = CurrentText(path_, TakeSeen());
  if (!text) return;
  const std::vector<Entry> entries = SectionEntries(*text, section);

  // The first entry of each name, as a lookup by name would find it.
  std::unordered_map<std::string, const Entry*> first;
  for (const Entry& e : entries) first.emplace(rtl::LowerAscii(e.name), &e);

  // Key names as the fixed buffer holds them: a name that does not fit is
  // cut short and ends the list.
  std::vector<std::string_view> names;
  size_t used = 0;
  const size_t room = kKeyNameBuffer - 2;
  for (const Entry& e : entries) {
    if (e.name.empty()) continue;
    if (used + e.name.size() + 1 <= room) {
      names.push_back(e.name);
      used += e.name.size() + 1;
      continue;
    }
    if (used < room) names.push_back(e.name.substr(0, room - used));
    break;
  }

  // Each key is set as a "name=value" entry: an existing entry of the name
  // is replaced, an empty value removes it.
  std::unordered_map<std::string, size_t> index;
  auto rebuild = [&] {
    index.clear();
    for (size_t i = 0; i < list.size(); ++i) {
      const std::string_view entry = list[i];
      index.emplace(rtl::LowerAscii(entry.substr(0, entry.find('='))), i);
    }
  };
  rebuild();
  for (std::string_view name : names) {
    const std::string lower = rtl::LowerAscii(name);
    auto it = first.find(lower);
    const std::string value =
        (it != first.end() && it->second->has_value) ? ValueText(it->second->value) : "";
    auto at = index.find(lower);
    if (value.empty()) {
      if (at != index.end()) {
        list.erase(list.begin() + static_cast<ptrdiff_t>(at->second));
        rebuild();
      }
      continue;
    }
    std::string line = std::string(name) + "=" + value;
    if (at != index.end()) {
      list[at->second] = std::move(line);
    } else {
      index.emplace(lower, list.size());
      list.push_back(std::move(line));
    }
  }
}

uint64_t SettingsFileReads() { return file_reads.Value(); }

}  // namespace zetini
