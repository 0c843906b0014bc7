// The ini reader follows the platform's profile-file reader: names are
// trimmed and compared without regard to case, a value loses the blanks
// around it and one pair of matching quotes, ';' starts a comment line, and
// only the first section of a name counts. The file is read whole on every
// call (one read), so an edited file takes effect at once and a reader
// never mixes two versions of it.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <unordered_map>

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

std::string LowerCopy(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = rtl::LowerAscii(c);
  return out;
}

#ifdef _WIN32
// Binary, so that the bytes are read as they are: no line-end translation,
// and a Ctrl-Z does not end the file.
constexpr int kOpenFlags = O_RDONLY | O_BINARY | O_NOINHERIT;
#else
// Non-blocking, so that a FIFO in the file's place cannot hang the reader.
constexpr int kOpenFlags = O_RDONLY | O_CLOEXEC | O_NONBLOCK;
#endif

// No settings file is this large; the cap keeps a damaged or runaway file
// from exhausting memory on every read.
constexpr size_t kMaxFile = 64u << 20;

// The whole file (at most kMaxFile bytes of it), or false when it is not a
// readable regular file.
bool ReadWholeFile(const std::string& path, std::string& out) {
  const int fd = open(path.c_str(), kOpenFlags);
  if (fd < 0) return false;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return false;
  }
  out.clear();
  out.resize(st.st_size > 0 ? std::min(static_cast<size_t>(st.st_size), kMaxFile) : 4096);
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

std::string TIniFile::ReadString(std::string_view section, std::string_view key,
                                 std::string_view default_value) const {
  std::string text;
  if (!ReadWholeFile(path_, text)) return DefaultText(default_value);
  key = Trim(key);
  for (const Entry& e : SectionEntries(text, section)) {
    if (rtl::SameText(e.name, key)) {
      return e.has_value ? ValueText(e.value) : DefaultText(default_value);
    }
  }
  return DefaultText(default_value);
}

void TIniFile::ReadSectionValues(std::string_view section, std::vector<std::string>& list) const {
  std::string text;
  if (!ReadWholeFile(path_, text)) return;
  const std::vector<Entry> entries = SectionEntries(text, section);

  // The first entry of each name, as a lookup by name would find it.
  std::unordered_map<std::string, const Entry*> first;
  for (const Entry& e : entries) first.emplace(LowerCopy(e.name), &e);

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
      index.emplace(LowerCopy(entry.substr(0, entry.find('='))), i);
    }
  };
  rebuild();
  for (std::string_view name : names) {
    const std::string lower = LowerCopy(name);
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

}  // namespace zetini
