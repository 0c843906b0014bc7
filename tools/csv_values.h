// The value forms of loader files: numbers, dates "yyyy-mm-dd" or
// "yyyy/mm/dd", times "hh:nn:ss" or "hh:nn:ss.zzz", and date-times made of a
// date, blanks and a time. Each parser takes the whole text (blanks around it
// allowed) and answers false for anything else.
#ifndef HISTDATA_TOOLS_CSV_VALUES_H_
#define HISTDATA_TOOLS_CSV_VALUES_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace admin {

// A finite decimal number: sign, digits, a point, an exponent. No "inf",
// "nan" or hexadecimal forms.
bool ParseNumber(std::string_view text, double& out);
// A whole number in the signed 64-bit range.
bool ParseInteger(std::string_view text, int64_t& out);
// A day as days since 1899-12-30 (the whole part of a date-time value).
bool ParseDate(std::string_view text, int32_t& day);
// A time of day in whole milliseconds from midnight.
bool ParseTime(std::string_view text, int32_t& ms);
// A date, or a date, blanks and a time, as a date-time value.
bool ParseDateTime(std::string_view text, double& out);

// The date-time value of a day and a time of day in milliseconds.
double ToDateTime(int32_t day, int32_t ms);

// `s` without the blanks and tabs around it.
std::string_view TrimBlanks(std::string_view s);
// Appends byte `c` as "\xNN": how a message shows a byte it cannot show.
void AppendHexEscape(std::string& out, unsigned char c);
// Text of a loaded file as a message shows it: quoted, control and
// non-ASCII bytes (and quotes and backslashes) escaped, cut after 40 bytes.
std::string ShownText(std::string_view text);

}  // namespace admin

#endif  // HISTDATA_TOOLS_CSV_VALUES_H_
