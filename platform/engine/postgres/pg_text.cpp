#include "platform/engine/postgres/pg_text.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/engine/errors.h"
#include "platform/rtl/calendar.h"
#include "platform/rtl/datetime.h"

namespace engine::pg {
namespace {

// Type OIDs of the built-in types (pg_type.dat); fixed for every server.
constexpr unsigned kInt8 = 20, kInt2 = 21, kInt4 = 23, kName = 19, kText = 25;
constexpr unsigned kFloat4 = 700, kFloat8 = 701, kBpchar = 1042, kVarchar = 1043;
constexpr unsigned kDateOid = 1082, kTimeOid = 1083, kTimestamp = 1114, kTimestampTz = 1184;
constexpr unsigned kTimeTz = 1266, kNumeric = 1700;

// Reads exactly `width` digits at `pos` (or, with width 0, one or more).
bool Digits(std::string_view s, size_t& pos, size_t width, int64_t& out) {
  const size_t start = pos;
  out = 0;
  while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9' && (width == 0 || pos - start < width)) {
    if (pos - start > 12) return false;
    out = out * 10 + (s[pos] - '0');
    ++pos;
  }
  return pos > start && (width == 0 || pos - start == width);
}

bool Expect(std::string_view s, size_t& pos, char c) {
  if (pos >= s.size() || s[pos] != c) return false;
  ++pos;
  return true;
}

// "yyyy-mm-dd" at `pos`: the day count since 1899-12-30.
bool DatePart(std::string_view s, size_t& pos, int64_t& days) {
  int64_t y, m, d;
  if (!Digits(s, pos, 0, y) || !Expect(s, pos, '-') || !Digits(s, pos, 2, m) || !Expect(s, pos, '-') ||
      !Digits(s, pos, 2, d)) {
    return false;
  }
  if (m < 1 || m > 12 || d < 1) return false;
  if (d > rtl::DaysInMonth(y, static_cast<int>(m))) return false;
  days = rtl::DaysFromCivil(y, static_cast<int>(m), static_cast<int>(d)) + rtl::kUnixEpochDay;
  return true;
}

// "hh:mm:ss[.ffffff]" at `pos`: milliseconds of the day, rounded.
bool TimePart(std::string_view s, size_t& pos, int64_t& ms) {
  int64_t h, m, sec;
  if (!Digits(s, pos, 2, h) || !Expect(s, pos, ':') || !Digits(s, pos, 2, m) || !Expect(s, pos, ':') ||
      !Digits(s, pos, 2, sec)) {
    return false;
  }
  int64_t micros = 0;
  if (pos < s.size() && s[pos] == '.') {
    ++pos;
    int scale = 100000;
    const size_t start = pos;
    while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9') {
      if (scale > 0) micros += (s[pos] - '0') * scale;
      scale /= 10;
      ++pos;
    }
    if (pos == start) return false;
  }
  if (m > 59 || sec > 60 || h > 24) return false;
  ms = ((h * 60 + m) * 60 + sec) * 1000 + (micros + 500) / 1000;
  return ms <= rtl::kMsPerDay;
}

// A zone offset after a time ("+02", "-05:30", "+05:30:15"): skipped.
bool OffsetPart(std::string_view s, size_t& pos) {
  if (pos == s.size()) return true;
  if (s[pos] != '+' && s[pos] != '-') return false;
  ++pos;
  int64_t part;
  if (!Digits(s, pos, 2, part)) return false;
  while (pos < s.size() && s[pos] == ':') {
    ++pos;
    if (!Digits(s, pos, 2, part)) return false;
  }
  return pos == s.size();
}

double Combine(int64_t days, int64_t ms) {
  const double fraction = static_cast<double>(ms) / static_cast<double>(rtl::kMsPerDay);
  // Before the epoch the fraction still counts forward from midnight.
  return days >= 0 ? static_cast<double>(days) + fraction : static_cast<double>(days) - fraction;
}

void AppendDigits(std::string& out, int64_t v, int width) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, v < 0 ? -v : v);
  if (v < 0) out.push_back('-');
  for (int n = static_cast<int>(r.ptr - buf); n < width; ++n) out.push_back('0');
  out.append(buf, r.ptr);
}

void AppendTimeOfDay(std::string& out, int64_t ms) {
  AppendDigits(out, ms / 3600000, 2);
  out.push_back(':');
  AppendDigits(out, ms / 60000 % 60, 2);
  out.push_back(':');
  AppendDigits(out, ms / 1000 % 60, 2);
  out.push_back('.');
  AppendDigits(out, ms % 1000, 3);
}

[[noreturn]] void BadField(FieldType type, std::string_view text) {
  const char* what = type == FieldType::kInteger ? "an integer"
                     : type == FieldType::kFloat ? "a float"
                                                 : "a date-time";
  throw EDBEngineError("Cannot convert '" + std::string(text) + "' to " + what);
}

}  // namespace

FieldType FieldTypeOfOid(unsigned int oid) {
  switch (oid) {
    case kInt2:
    case kInt4:
    case kInt8:
      return FieldType::kInteger;
    case kFloat4:
    case kFloat8:
    case kNumeric:
      return FieldType::kFloat;
    case kDateOid:
      return FieldType::kDate;
    case kTimeOid:
    case kTimeTz:
      return FieldType::kTime;
    case kTimestamp:
    case kTimestampTz:
      return FieldType::kDateTime;
    case kText:
    case kVarchar:
    case kBpchar:
    case kName:
    default:
      return FieldType::kString;
  }
}

bool ParseDate(std::string_view text, double& out) {
  size_t pos = 0;
  int64_t days;
  if (!DatePart(text, pos, days) || pos != text.size()) return false;
  out = static_cast<double>(days);
  return true;
}

bool ParseTime(std::string_view text, double& out) {
  size_t pos = 0;
  int64_t ms;
  if (!TimePart(text, pos, ms) || !OffsetPart(text, pos)) return false;
  out = Combine(0, ms);
  return true;
}

bool ParseTimestamp(std::string_view text, double& out) {
  size_t pos = 0;
  int64_t days, ms;
  if (!DatePart(text, pos, days) || !Expect(text, pos, ' ') || !TimePart(text, pos, ms) ||
      !OffsetPart(text, pos)) {
    return false;
  }
  out = Combine(days, ms);
  return true;
}

void ParseField(FieldType type, std::string_view text, Value& out) {
  const char* first = text.data();
  const char* last = first + text.size();
  switch (type) {
    case FieldType::kInteger: {
      int64_t v;
      auto r = std::from_chars(first, last, v);
      if (r.ec != std::errc() || r.ptr != last) BadField(type, text);
      out.SetInt(v);
      return;
    }
    case FieldType::kFloat: {
      double v;
      auto r = std::from_chars(first, last, v);
      if (r.ec == std::errc::result_out_of_range && r.ptr == last) {
        // numeric holds magnitudes no double does: the nearest is infinity
        // (or zero), which strtod gives.
        v = std::strtod(std::string(text).c_str(), nullptr);
      } else if (r.ec != std::errc() || r.ptr != last) {
        BadField(type, text);
      }
      out.SetFloat(v);
      return;
    }
    case FieldType::kDate:
    case FieldType::kTime:
    case FieldType::kDateTime: {
      double v;
      bool ok = type == FieldType::kDate ? ParseDate(text, v)
                : type == FieldType::kTime ? ParseTime(text, v)
                                           : ParseTimestamp(text, v);
      if (!ok) BadField(type, text);
      out.SetFloat(v);
      return;
    }
    case FieldType::kString:
    case FieldType::kUnknown:
      out.SetText(text);
      return;
  }
}

void AppendIsoDateTime(std::string& out, double value) {
  const rtl::DateTimeParts p = rtl::DecodeDateTime(value);
  AppendDigits(out, p.year, 4);
  out.push_back('-');
  AppendDigits(out, p.month, 2);
  out.push_back('-');
  AppendDigits(out, p.day, 2);
  out.push_back(' ');
  AppendTimeOfDay(out, ((p.hour * 60 + p.minute) * 60 + p.second) * 1000 + p.msec);
}

void AppendIsoTime(std::string& out, double value) {
  double ms = std::round(value * static_cast<double>(rtl::kMsPerDay));
  if (!(ms > 0)) ms = 0;  // also NaN
  if (ms > static_cast<double>(rtl::kMsPerDay)) ms = static_cast<double>(rtl::kMsPerDay);
  AppendTimeOfDay(out, static_cast<int64_t>(ms));
}

bool ParamText(FieldType type, const Value& value, std::string& out) {
  out.clear();
  switch (value.kind) {
    case Value::Kind::kNull:
      return false;
    case Value::Kind::kInteger:
      AppendDigits(out, value.i, 0);
      return true;
    case Value::Kind::kFloat:
      if (type == FieldType::kDate || type == FieldType::kTime || type == FieldType::kDateTime) {
        if (!std::isfinite(value.d)) throw EDBEngineError("Invalid date-time parameter value");
        AppendIsoDateTime(out, value.d);
      } else if (std::isnan(value.d)) {
        out = "NaN";
      } else if (std::isinf(value.d)) {
        out = value.d > 0 ? "Infinity" : "-Infinity";
      } else {
        char buf[32];
        auto r = std::to_chars(buf, buf + sizeof buf, value.d);
        out.assign(buf, r.ptr);
      }
      return true;
    case Value::Kind::kText:
      if (value.s.find('\0') != std::string::npos) {
        throw EDBEngineError("Parameter value holds a zero byte");
      }
      out = value.s;
      return true;
  }
  return false;
}

std::string QuoteIdent(std::string_view name) {
  // The protocol ends statement text at a zero byte.
  if (name.empty() || name.find('\0') != std::string_view::npos) {
    throw EDBEngineError("Invalid table name '" + std::string(name.substr(0, name.find('\0'))) + "'");
  }
  std::string out;
  out.reserve(name.size() + 2);
  out.push_back('"');
  for (char c : name) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c == '"') out.push_back('"');
    out.push_back(c);
  }
  out.push_back('"');
  return out;
}

std::string OneLine(std::string_view message) {
  std::string out;
  out.reserve(message.size());
  size_t i = 0;
  while (i < message.size()) {
    const char c = message[i];
    if (c == '\n' || c == '\r') {
      while (i < message.size() && (message[i] == '\n' || message[i] == '\r' || message[i] == ' ' ||
                                    message[i] == '\t')) {
        ++i;
      }
      if (i < message.size()) out.push_back(' ');
      continue;
    }
    out.push_back(c);
    ++i;
  }
  while (!out.empty() && (out.back() == ' ' || out.back() == '\t')) out.pop_back();
  return out;
}

}  // namespace engine::pg
