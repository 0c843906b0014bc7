#include "tools/csv_values.h"

#include <charconv>
#include <cmath>

#include "platform/rtl/datetime.h"

namespace admin {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// from_chars takes no "+": drops one, so that "+5" reads as 5; false for an
// empty text and for a second sign ("+-5"), which from_chars would take.
bool StripPlus(std::string_view& s) {
  if (!s.empty() && s.front() == '+') {
    s.remove_prefix(1);
    if (!s.empty() && s.front() == '-') return false;
  }
  return !s.empty();
}

// Reads 1..max_digits digits at `pos` (exactly `max_digits` when `exact`).
bool Digits(std::string_view s, size_t& pos, size_t max_digits, bool exact, int& out) {
  size_t start = pos;
  out = 0;
  while (pos < s.size() && pos - start < max_digits && IsDigit(s[pos])) {
    out = out * 10 + (s[pos] - '0');
    ++pos;
  }
  size_t n = pos - start;
  return exact ? n == max_digits : n > 0;
}

bool DatePart(std::string_view s, size_t& pos, int32_t& day) {
  int y, m, d;
  if (!Digits(s, pos, 4, true, y)) return false;
  if (pos >= s.size() || (s[pos] != '-' && s[pos] != '/')) return false;
  const char sep = s[pos++];
  if (!Digits(s, pos, 2, false, m)) return false;
  if (pos >= s.size() || s[pos] != sep) return false;
  ++pos;
  if (!Digits(s, pos, 2, false, d)) return false;
  rtl::TDateTime value;
  if (!rtl::TryEncodeDate(y, m, d, value)) return false;
  day = static_cast<int32_t>(value);
  return true;
}

bool TimePart(std::string_view s, size_t& pos, int32_t& ms) {
  int h, n, sec, frac = 0;
  if (!Digits(s, pos, 2, false, h)) return false;
  if (pos >= s.size() || s[pos++] != ':') return false;
  if (!Digits(s, pos, 2, true, n)) return false;
  if (pos >= s.size() || s[pos++] != ':') return false;
  if (!Digits(s, pos, 2, true, sec)) return false;
  if (pos < s.size() && s[pos] == '.') {
    ++pos;
    size_t start = pos;
    if (!Digits(s, pos, 3, false, frac)) return false;
    for (size_t k = pos - start; k < 3; ++k) frac *= 10;  // ".5" is 500 ms
  }
  if (h > 23 || n > 59 || sec > 59) return false;
  ms = ((h * 60 + n) * 60 + sec) * 1000 + frac;
  return true;
}

}  // namespace

bool ParseNumber(std::string_view text, double& out) {
  std::string_view s = TrimBlanks(text);
  if (!StripPlus(s)) return false;
  // from_chars alone would take "inf", "nan" and the like; only digits,
  // sign, point and exponent make a number here.
  for (char c : s) {
    if (!IsDigit(c) && c != '-' && c != '.' && c != 'e' && c != 'E' && c != '+') return false;
  }
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
  return ec == std::errc() && end == s.data() + s.size() && std::isfinite(out);
}

bool ParseInteger(std::string_view text, int64_t& out) {
  std::string_view s = TrimBlanks(text);
  if (!StripPlus(s)) return false;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
  return ec == std::errc() && end == s.data() + s.size();
}

bool ParseDate(std::string_view text, int32_t& day) {
  std::string_view s = TrimBlanks(text);
  size_t pos = 0;
  return DatePart(s, pos, day) && pos == s.size();
}

bool ParseTime(std::string_view text, int32_t& ms) {
  std::string_view s = TrimBlanks(text);
  size_t pos = 0;
  return TimePart(s, pos, ms) && pos == s.size();
}

bool ParseDateTime(std::string_view text, double& out) {
  std::string_view s = TrimBlanks(text);
  size_t pos = 0;
  int32_t day = 0, ms = 0;
  if (!DatePart(s, pos, day)) return false;
  if (pos < s.size()) {
    if (s[pos] != ' ' && s[pos] != '\t') return false;
    while (pos < s.size() && (s[pos] == ' ' || s[pos] == '\t')) ++pos;
    if (!TimePart(s, pos, ms) || pos != s.size()) return false;
  }
  out = ToDateTime(day, ms);
  return true;
}

double ToDateTime(int32_t day, int32_t ms) {
  // Before the epoch the whole part counts back and the fraction is still
  // the time of day: 1899-12-29 06:00 is -1.25, not -0.75.
  const double fraction = static_cast<double>(ms) / static_cast<double>(rtl::kMsPerDay);
  return day < 0 ? day - fraction : day + fraction;
}

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

void AppendHexEscape(std::string& out, unsigned char c) {
  static const char kHex[] = "0123456789abcdef";
  out += "\\x";
  out += kHex[c >> 4];
  out += kHex[c & 15];
}

std::string ShownText(std::string_view text) {
  constexpr size_t kMax = 40;
  std::string out = "\"";
  for (size_t i = 0; i < text.size() && i < kMax; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 || c >= 0x7F || c == '"' || c == '\\') {
      AppendHexEscape(out, c);
    } else {
      out += static_cast<char>(c);
    }
  }
  if (text.size() > kMax) out += "...";
  return out + "\"";
}

}  // namespace admin
