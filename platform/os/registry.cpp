// The export is parsed the way a registry editor imports it: later lines
// for the same value win, "[-Key]" and "name"=- delete, long hex data
// continues over lines ending in a backslash. Anything malformed is skipped
// so that a damaged file reads as missing values rather than failing.
#include "platform/os/registry.h"

// Windows reads the machine's registry itself: registry_win.cpp.
#ifndef _WIN32

#include <sys/stat.h>

#include <fstream>
#include <sstream>
#include <vector>

#include "platform/os/system_folder.h"
#include "platform/rtl/text.h"

namespace os {

namespace {

using rtl::LowerAscii;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

void AppendUtf8(std::string& out, unsigned cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// Registry editors export UTF-16LE with a byte-order mark; older tools
// write 8-bit text. Both become UTF-8 here.
std::string DecodeFile(const std::string& raw) {
  if (raw.size() >= 2 && static_cast<unsigned char>(raw[0]) == 0xFF &&
      static_cast<unsigned char>(raw[1]) == 0xFE) {
    std::string out;
    out.reserve(raw.size() / 2);
    for (size_t i = 2; i + 1 < raw.size(); i += 2) {
      AppendUtf8(out, static_cast<unsigned char>(raw[i]) |
                          (static_cast<unsigned>(static_cast<unsigned char>(raw[i + 1])) << 8));
    }
    return out;
  }
  if (raw.size() >= 3 && raw.compare(0, 3, "\xEF\xBB\xBF") == 0) return raw.substr(3);
  return raw;
}

// Reads a quoted text starting at s[pos] == '"', undoing \\ and \".
// False when the closing quote is missing.
bool ReadQuoted(std::string_view s, size_t& pos, std::string& out) {
  ++pos;
  while (pos < s.size()) {
    const char c = s[pos++];
    if (c == '"') return true;
    if (c == '\\' && pos < s.size() && (s[pos] == '\\' || s[pos] == '"')) {
      out.push_back(s[pos++]);
    } else {
      out.push_back(c);
    }
  }
  return false;
}

std::vector<unsigned char> HexBytes(std::string_view s) {
  std::vector<unsigned char> bytes;
  int nibbles = 0;
  unsigned value = 0;
  for (char c : s) {
    int d = -1;
    if (c >= '0' && c <= '9') d = c - '0';
    if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
    if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
    if (d >= 0) {
      value = value * 16 + static_cast<unsigned>(d);
      ++nibbles;
    } else if (c == ',') {
      if (nibbles > 0) bytes.push_back(static_cast<unsigned char>(value));
      nibbles = 0;
      value = 0;
    }
  }
  if (nibbles > 0) bytes.push_back(static_cast<unsigned char>(value));
  return bytes;
}

// UTF-16LE string data up to its terminating zero.
std::string Utf16Text(const std::vector<unsigned char>& bytes) {
  std::string out;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const unsigned cp = bytes[i] | (static_cast<unsigned>(bytes[i + 1]) << 8);
    if (cp == 0) break;
    AppendUtf8(out, cp);
  }
  return out;
}

// Joins lines that end in a backslash with the line after them.
std::vector<std::string> LogicalLines(const std::string& text) {
  std::vector<std::string> lines;
  std::string current;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    std::string_view t = Trim(line);
    if (!current.empty()) {
      current.append(t);
    } else {
      current.assign(t);
    }
    if (!current.empty() && current.back() == '\\') {
      current.pop_back();
      continue;
    }
    lines.push_back(std::move(current));
    current.clear();
  }
  if (!current.empty()) lines.push_back(std::move(current));
  return lines;
}

}  // namespace

std::string RegistryFilePath() { return SystemSettingsFolder() + "/registry.reg"; }

bool RegistryKey::OpenLocalMachineKey(std::string_view key_path, const std::string& file) {
  values_.clear();
  struct stat st;
  if (stat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  std::ifstream in(file, std::ios::binary);
  if (!in) return false;
  std::ostringstream raw;
  raw << in.rdbuf();

  while (!key_path.empty() && key_path.back() == '\\') key_path.remove_suffix(1);
  while (!key_path.empty() && key_path.front() == '\\') key_path.remove_prefix(1);
  const std::string wanted = LowerAscii(key_path);
  bool found = false;
  bool in_key = false;
  for (const std::string& line : LogicalLines(DecodeFile(raw.str()))) {
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      const size_t close = line.rfind(']');
      std::string_view name = close == std::string::npos
                                  ? std::string_view()
                                  : std::string_view(line).substr(1, close - 1);
      in_key = false;
      const bool remove = !name.empty() && name[0] == '-';
      if (remove) name.remove_prefix(1);
      std::string lower = LowerAscii(Trim(name));
      for (std::string_view root : {"hkey_local_machine\\", "hklm\\"}) {
        if (lower.compare(0, root.size(), root) == 0) {
          lower.erase(0, root.size());
          while (!lower.empty() && lower.back() == '\\') lower.pop_back();
          if (lower == wanted) {
            if (remove) {
              values_.clear();
              found = false;
            } else {
              in_key = found = true;
            }
          }
          break;
        }
      }
      continue;
    }
    if (!in_key) continue;

    size_t pos = 0;
    std::string name;
    if (line[0] == '"') {
      if (!ReadQuoted(line, pos, name)) continue;
    } else if (line[0] == '@') {
      pos = 1;  // the key's default value has the empty name
    } else {
      continue;
    }
    while (pos < line.size() && IsBlank(line[pos])) ++pos;
    if (pos >= line.size() || line[pos] != '=') continue;
    ++pos;
    while (pos < line.size() && IsBlank(line[pos])) ++pos;
    const std::string_view data = std::string_view(line).substr(pos);
    const std::string key = LowerAscii(name);

    if (!data.empty() && data[0] == '"') {
      std::string text;
      size_t at = 0;
      if (!ReadQuoted(data, at, text)) continue;
      values_[key] = Value{true, true, std::move(text)};
    } else if (data == "-") {
      values_.erase(key);
    } else if (LowerAscii(data.substr(0, 7)) == "hex(2):" || LowerAscii(data.substr(0, 7)) == "hex(1):") {
      // String and expandable string data written as UTF-16 bytes.
      values_[key] = Value{true, true, Utf16Text(HexBytes(data.substr(7)))};
    } else {
      // dword:, hex:, hex(n): and anything unrecognised are not strings.
      const size_t colon = data.find(':');
      const bool has_data =
          colon == std::string_view::npos || !HexBytes(data.substr(colon + 1)).empty();
      values_[key] = Value{false, has_data, ""};
    }
  }
  if (!found) values_.clear();
  return found;
}

std::string RegistryKey::ReadString(std::string_view name) const {
  auto it = values_.find(LowerAscii(name));
  if (it == values_.end()) return "";
  if (!it->second.is_string) {
    // Data of no length reads as an empty string, as the registry reports
    // no size to check the type against.
    if (!it->second.has_data) return "";
    throw ERegistryException("Invalid data type for '" + std::string(name) + "'");
  }
  return it->second.text;
}

}  // namespace os

#endif  // _WIN32
