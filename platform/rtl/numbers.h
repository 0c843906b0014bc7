// Whole-number and floating-point conversions with the text forms that reply
// lines and stored fields use.
#ifndef HISTDATA_PLATFORM_RTL_NUMBERS_H_
#define HISTDATA_PLATFORM_RTL_NUMBERS_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace rtl {

// The whole-number rule: leading blanks, an optional sign, then decimal
// digits, or hexadecimal digits after "$" or "0x"/"0X"; nothing may follow.
// Values outside the signed 32-bit range fail.
bool TryStrToInt(std::string_view text, int32_t& out);
int32_t StrToIntDef(std::string_view text, int32_t default_value);

// Text of a stored float: the shortest general form with up to 15
// significant digits and no trailing zeros (12.5, 0, 1234567, 1E20, 1E-6).
std::string FloatToStr(double value);

// Fixed-point with the given number of decimals ("%f" is 2, "%0.*f" with 3
// is 3), "." as separator, no thousands separator.
std::string FormatFixed(double value, int decimals);
void AppendFixed(std::string& out, double value, int decimals);
void AppendFloat(std::string& out, double value);  // FloatToStr, appended
void AppendInt(std::string& out, int64_t value);

// Nearest whole number, halves to the even neighbour (2.5 -> 2, 3.5 -> 4).
// Out of the 32-bit range saturates.
int32_t RoundHalfEven(double value);
int64_t RoundHalfEven64(double value);

// The value of a hexadecimal digit (either case), -1 for any other byte.
int HexDigit(char c);

// Division rounded toward minus infinity, so that values before the epoch
// fall into the slot that starts before them.
inline int64_t FloorDiv(int64_t a, int64_t b) {
  const int64_t q = a / b;
  return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
}

}  // namespace rtl

#endif  // HISTDATA_PLATFORM_RTL_NUMBERS_H_
