// Whole-number and floating-point text forms.
#include "platform/rtl/numbers.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace rtl {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

namespace {

bool AppendNonFinite(std::string& out, double value) {
  if (std::isnan(value)) {
    out += "NAN";
    return true;
  }
  if (std::isinf(value)) {
    out += value < 0 ? "-INF" : "INF";
    return true;
  }
  return false;
}

// Powers of ten that a double holds exactly.
constexpr double kPowersOfTen[] = {1, 10, 100, 1000, 10000};

// Writes `value` when it is the nearest double to a decimal of at most 15
// significant digits and at most four places, as stored prices, sizes and
// volumes nearly always are. That decimal is then the value's correctly
// rounded 15-digit form (the value lies within half a binary step of it,
// far less than half a step of the 15th digit), so it is written from a
// whole number, without the general conversion. False for any other value;
// nothing is written then.
bool AppendShortDecimal(std::string& out, double value) {
  const double magnitude = std::fabs(value);
  // The fixed form's range; outside it the general form decides.
  if (!(magnitude >= 1e-4 && magnitude < 1e15)) return false;
  for (int places = 0; places <= 4; ++places) {
    const double scaled = std::nearbyint(magnitude * kPowersOfTen[places]);
    if (scaled >= 1e15) return false;
    // Division of two exact whole numbers rounds correctly: equality means
    // the value is the decimal's nearest double. The first number of
    // places that fits leaves no trailing zero.
    if (scaled / kPowersOfTen[places] != magnitude) continue;
    char digits[24];
    const int len = static_cast<int>(
        std::to_chars(digits, digits + sizeof digits, static_cast<int64_t>(scaled)).ptr - digits);
    if (value < 0) out.push_back('-');
    if (len <= places) {
      out += "0.";
      out.append(static_cast<size_t>(places - len), '0');
      out.append(digits, static_cast<size_t>(len));
    } else {
      out.append(digits, static_cast<size_t>(len - places));
      if (places > 0) {
        out.push_back('.');
        out.append(digits + len - places, static_cast<size_t>(places));
      }
    }
    return true;
  }
  return false;
}

template <typename Int>
Int RoundHalfEvenTo(double value) {
  // Whole numbers in range, the common case of sizes and volumes, need no
  // rounding call.
  if (value > -2147483648.0 && value < 2147483648.0) {
    const auto whole = static_cast<int32_t>(value);
    if (static_cast<double>(whole) == value) return whole;
  }
  if (std::isnan(value)) return 0;
  // nearbyint rounds halves to even in the default rounding mode.
  const double r = std::nearbyint(value);
  if (r >= static_cast<double>(std::numeric_limits<Int>::max())) {
    return std::numeric_limits<Int>::max();
  }
  if (r <= static_cast<double>(std::numeric_limits<Int>::min())) {
    return std::numeric_limits<Int>::min();
  }
  return static_cast<Int>(r);
}

}  // namespace

bool TryStrToInt(std::string_view text, int32_t& out) {
  size_t i = 0;
  const size_t n = text.size();
  while (i < n && static_cast<unsigned char>(text[i]) <= ' ') ++i;
  bool negative = false;
  if (i < n && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  int base = 10;
  if (i < n && text[i] == '$') {
    base = 16;
    ++i;
  } else if (i + 1 < n && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i == n) return false;
  // The magnitude may reach 2^31 for the most negative value.
  const int64_t limit = negative ? 2147483648LL : 2147483647LL;
  int64_t v = 0;
  for (; i < n; ++i) {
    const int d = base == 16 ? HexDigit(text[i]) : (text[i] >= '0' && text[i] <= '9' ? text[i] - '0' : -1);
    if (d < 0) return false;
    v = v * base + d;
    if (v > limit) return false;
  }
  out = static_cast<int32_t>(negative ? -v : v);
  return true;
}

int32_t StrToIntDef(std::string_view text, int32_t default_value) {
  int32_t v;
  return TryStrToInt(text, v) ? v : default_value;
}

void AppendFloat(std::string& out, double value) {
  if (AppendNonFinite(out, value)) return;
  if (value == 0) {
    out.push_back('0');  // also for -0
    return;
  }
  if (AppendShortDecimal(out, value)) return;
  // 15 significant digits, correctly rounded (as printf's "%.14e" would),
  // then the exponent decides
  // between the fixed and the scientific form.
  char buf[40];
  const char* end = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific, 14).ptr;
  const char* p = buf;
  if (*p == '-') {
    out.push_back('-');
    ++p;
  }
  char digits[16];
  int count = 0;
  for (; *p != 'e'; ++p) {
    if (*p != '.') digits[count++] = *p;
  }
  int exponent = 0;
  std::from_chars(p + (p[1] == '+' ? 2 : 1), end, exponent);
  while (count > 1 && digits[count - 1] == '0') --count;

  if (exponent >= 15 || exponent < -4) {
    out.push_back(digits[0]);
    if (count > 1) {
      out.push_back('.');
      out.append(digits + 1, count - 1);
    }
    out.push_back('E');
    AppendInt(out, exponent);
    return;
  }
  if (exponent < 0) {
    out += "0.";
    out.append(static_cast<size_t>(-exponent - 1), '0');
    out.append(digits, count);
    return;
  }
  const int whole = exponent + 1;
  if (count <= whole) {
    out.append(digits, count);
    out.append(static_cast<size_t>(whole - count), '0');
    return;
  }
  out.append(digits, whole);
  out.push_back('.');
  out.append(digits + whole, count - whole);
}

std::string FloatToStr(double value) {
  std::string out;
  AppendFloat(out, value);
  return out;
}

void AppendFixed(std::string& out, double value, int decimals) {
  if (AppendNonFinite(out, value)) return;
  if (decimals < 0) decimals = 0;
  if (decimals > 20) decimals = 20;
  char buf[400];  // 309 integer digits, sign, point and 20 decimals
  int len = static_cast<int>(
      std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals).ptr - buf);
  const char* start = buf;
  // A negative value that rounds to zero prints without its sign.
  if (buf[0] == '-' && std::string_view(buf + 1, len - 1).find_first_not_of("0.") ==
                           std::string_view::npos) {
    ++start;
    --len;
  }
  out.append(start, len);
}

std::string FormatFixed(double value, int decimals) {
  std::string out;
  AppendFixed(out, value, decimals);
  return out;
}

void AppendInt(std::string& out, int64_t value) {
  char buf[24];
  auto res = std::to_chars(buf, buf + sizeof buf, value);
  out.append(buf, res.ptr);
}

int32_t RoundHalfEven(double value) { return RoundHalfEvenTo<int32_t>(value); }
int64_t RoundHalfEven64(double value) { return RoundHalfEvenTo<int64_t>(value); }

}  // namespace rtl
