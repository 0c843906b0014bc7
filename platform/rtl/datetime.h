// The date-time value and its text forms.
//
// A TDateTime counts days since 1899-12-30 00:00:00 as a double; its fraction
// is the time of day. A time of day has whole part 0, a date has fraction 0.
// Every text form goes through the nearest millisecond first, so that
// 15:59:59.9999 prints as 16:00:00; a negative value prints the time of day of
// its absolute fraction (-0.25 is 06:00:00), as stored date-times always have.
#ifndef HISTDATA_PLATFORM_RTL_DATETIME_H_
#define HISTDATA_PLATFORM_RTL_DATETIME_H_

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace rtl {

using TDateTime = double;

constexpr double kOneSecond = 1.0 / 86400.0;
constexpr double kOneMinute = 1.0 / 1440.0;
constexpr double kOneHour = 1.0 / 24.0;
constexpr int64_t kMsPerDay = 86400000;

// Raised by the throwing conversions below.
class EConvertError : public std::exception {
 public:
  explicit EConvertError(std::string message) : message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
};

// Valid for years 1..9999; false (or EConvertError) otherwise.
bool TryEncodeDate(int year, int month, int day, TDateTime& out);
TDateTime EncodeDate(int year, int month, int day);
// Hours 0..23, minutes and seconds 0..59, milliseconds 0..999.
bool TryEncodeTime(int hour, int min, int sec, int msec, TDateTime& out);
TDateTime EncodeTime(int hour, int min, int sec, int msec);

// Split a value at the nearest millisecond.
struct DateTimeParts {
  int year, month, day, hour, minute, second, msec;
};
DateTimeParts DecodeDateTime(TDateTime value);

// The value as a whole count of milliseconds (nearest). Bar and slot
// arithmetic uses it so that floating drift never moves a boundary.
inline int64_t ToMilliseconds(TDateTime value) {
  if (value != value) return 0;  // NaN
  constexpr double kLimit = 1e9;  // days; about 2.7 million years
  if (value > kLimit) value = kLimit;
  if (value < -kLimit) value = -kLimit;
  // Halves away from zero, as std::round does, without its library call (it
  // runs for every tick read): the difference between a value below 2^52
  // and its truncation is exact, and a larger one is whole already.
  const double ms = value * static_cast<double>(kMsPerDay);
  auto whole = static_cast<int64_t>(ms);
  const double rest = ms - static_cast<double>(whole);
  if (rest >= 0.5) ++whole;
  if (rest <= -0.5) --whole;
  return whole;
}

// Formats with the patterns this system uses, built from the tokens
// yyyy yy mm m dd d hh h nn n ss s zzz and literal characters
// (for instance "yyyy/mm/dd", "hh:nn:ss", "yyyy/m/d", "yymmdd", "mm/dd/yyyy",
// "hhnnss", "yyyy/mm/dd hh:nn:ss"). "mm"/"m" always mean the month.
std::string FormatDateTime(std::string_view pattern, TDateTime value);
// FormatDateTime appended to `out`, for callers that reuse one buffer per
// reply line.
void AppendDateTime(std::string& out, std::string_view pattern, TDateTime value);

// The short date pattern every request uses for stored dates.
inline constexpr std::string_view kShortDatePattern = "yyyy/m/d";
// The long time form of stored date-times and times.
inline constexpr std::string_view kLongTimePattern = "hh:nn:ss";

// Text of a stored date field: the short date pattern.
std::string DateToStr(TDateTime value);
// Text of a stored date-time field: the date, then a blank and the long time
// form only when the time of day (at the nearest millisecond) is not midnight.
std::string DateTimeToStr(TDateTime value);
// Text of a stored time field: the long time form.
std::string TimeToStr(TDateTime value);

// Time of day from "h:n", "h:n:s" or "h:n:s.z" (blanks around allowed, an
// optional AM/PM suffix); hours 0..23, minutes and seconds 0..59.
// "25:00" fails.
bool TryStrToTime(std::string_view text, TDateTime& out);
TDateTime StrToTime(std::string_view text);  // EConvertError on failure

// Date in the order of the short date pattern: year, month, day separated by
// "/" (2003/5/12 and 2003/05/12 are both 12 May 2003). Two numbers are month
// and day of the current year; a two-digit year falls within 50 years of now.
bool TryStrToDate(std::string_view text, TDateTime& out);
TDateTime StrToDate(std::string_view text);  // EConvertError on failure

// Local clock. Tests may replace it; an empty function restores the real one.
TDateTime Now();
TDateTime Date();  // today, fraction 0
TDateTime Time();  // time of day
void SetClockForTesting(std::function<TDateTime()> clock);

}  // namespace rtl

#endif  // HISTDATA_PLATFORM_RTL_DATETIME_H_
