// Calendar arithmetic and the text forms of the date-time value.
//
// Every text form decodes the value at the nearest millisecond: a time read
// back from a float store rarely lands exactly on its second, and printing
// the truncated value would turn 16:00:00 into 15:59:59.
#include "platform/rtl/datetime.h"
#include "platform/rtl/text.h"

#include <charconv>
#include <cmath>
#include <cstdlib>

namespace rtl {

namespace {

// Days from 1899-12-30 to 1970-01-01.
constexpr int64_t kUnixEpochDay = 25569;

bool IsLeapYear(int year) {
  return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

int DaysInMonth(int year, int month) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Proleptic Gregorian calendar, counted from 1970-01-01 (H. Hinnant's
// algorithms): exact for every year without tables or loops.
int64_t DaysFromCivil(int64_t y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int& year, int& month, int& day) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(yoe + era * 400 + (month <= 2));
}

void AppendNumber(std::string& out, int64_t value, int width) {
  // Months, days, hours, minutes and seconds: one or two digits written
  // directly, as every reply line asks for several of them.
  if (value >= 0 && value < 100 && width <= 2) {
    if (value >= 10 || width == 2) out.push_back(static_cast<char>('0' + value / 10));
    out.push_back(static_cast<char>('0' + value % 10));
    return;
  }
  if (value < 0) {
    out.push_back('-');
    value = -value;
  }
  char buf[24];
  auto res = std::to_chars(buf, buf + sizeof buf, value);
  for (int64_t n = res.ptr - buf; n < width; ++n) out.push_back('0');
  out.append(buf, res.ptr);
}

}  // namespace

// The value as a whole count of milliseconds. Values far outside any
// calendar are clamped so that the conversion stays defined.
bool TryEncodeDate(int year, int month, int day, TDateTime& out) {
  if (year < 1 || year > 9999 || month < 1 || month > 12) return false;
  if (day < 1 || day > DaysInMonth(year, month)) return false;
  out = static_cast<double>(DaysFromCivil(year, month, day) + kUnixEpochDay);
  return true;
}

TDateTime EncodeDate(int year, int month, int day) {
  TDateTime out;
  if (!TryEncodeDate(year, month, day, out)) throw EConvertError("Invalid argument to date encode");
  return out;
}

bool TryEncodeTime(int hour, int min, int sec, int msec, TDateTime& out) {
  if (hour < 0 || hour > 23 || min < 0 || min > 59 || sec < 0 || sec > 59 || msec < 0 ||
      msec > 999) {
    return false;
  }
  const int64_t ms = ((hour * 60LL + min) * 60 + sec) * 1000 + msec;
  out = static_cast<double>(ms) / static_cast<double>(kMsPerDay);
  return true;
}

TDateTime EncodeTime(int hour, int min, int sec, int msec) {
  TDateTime out;
  if (!TryEncodeTime(hour, min, sec, msec, out)) throw EConvertError("Invalid argument to time encode");
  return out;
}

DateTimeParts DecodeDateTime(TDateTime value) {
  const int64_t count = ToMilliseconds(value);
  // The day truncates toward zero and the time of day is the absolute
  // fraction: the convention of stored values before the epoch.
  const int64_t day = count / kMsPerDay;
  int64_t tod = std::llabs(count % kMsPerDay);
  DateTimeParts p;
  CivilFromDays(day - kUnixEpochDay, p.year, p.month, p.day);
  p.msec = static_cast<int>(tod % 1000);
  tod /= 1000;
  p.second = static_cast<int>(tod % 60);
  tod /= 60;
  p.minute = static_cast<int>(tod % 60);
  p.hour = static_cast<int>(tod / 60);
  return p;
}

void AppendDateTime(std::string& out, std::string_view pattern, TDateTime value) {
  const DateTimeParts p = DecodeDateTime(value);
  size_t i = 0;
  const size_t n = pattern.size();
  while (i < n) {
    const char c = pattern[i];
    const char lc = LowerAscii(c);
    size_t run = 1;
    while (i + run < n && LowerAscii(pattern[i + run]) == lc) ++run;
    switch (lc) {
      case 'y':
        if (run >= 3) {
          AppendNumber(out, p.year, 4);
        } else {
          AppendNumber(out, p.year % 100, 2);
        }
        i += run;
        continue;
      case 'm':
      case 'd':
      case 'h':
      case 'n':
      case 's': {
        // Pairs print two digits; a lone letter prints without padding.
        const int v = lc == 'm' ? p.month
                      : lc == 'd' ? p.day
                      : lc == 'h' ? p.hour
                      : lc == 'n' ? p.minute
                                  : p.second;
        const size_t take = run >= 2 ? 2 : 1;
        AppendNumber(out, v, static_cast<int>(take));
        i += take;
        continue;
      }
      case 'z': {
        const size_t take = run >= 3 ? 3 : 1;
        AppendNumber(out, p.msec, take == 3 ? 3 : 1);
        i += take;
        continue;
      }
      case '"':
      case '\'': {
        // Quoted literal text.
        size_t end = pattern.find(c, i + 1);
        if (end == std::string_view::npos) end = n;
        out.append(pattern.substr(i + 1, end - i - 1));
        i = end < n ? end + 1 : n;
        continue;
      }
      default:
        out.push_back(c);
        ++i;
    }
  }
}

std::string FormatDateTime(std::string_view pattern, TDateTime value) {
  std::string out;
  out.reserve(pattern.size() + 8);
  AppendDateTime(out, pattern, value);
  return out;
}

std::string DateToStr(TDateTime value) { return FormatDateTime(kShortDatePattern, value); }

std::string DateTimeToStr(TDateTime value) {
  std::string out = DateToStr(value);
  if (ToMilliseconds(value) % kMsPerDay != 0) {
    out.push_back(' ');
    AppendDateTime(out, kLongTimePattern, value);
  }
  return out;
}

std::string TimeToStr(TDateTime value) { return FormatDateTime(kLongTimePattern, value); }

}  // namespace rtl
