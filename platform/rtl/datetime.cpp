// The date-time value: its parts and its text forms.
//
// Every text form decodes the value at the nearest millisecond: a time read
// back from a float store rarely lands exactly on its second, and printing
// the truncated value would turn 16:00:00 into 15:59:59.
#include "platform/rtl/datetime.h"
#include "platform/rtl/calendar.h"
#include "platform/rtl/text.h"

#include <charconv>
#include <cmath>
#include <cstdlib>

namespace rtl {

namespace {

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
