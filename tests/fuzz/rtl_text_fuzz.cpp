// The time, date and whole-number parsers of request parameters, and the
// text forms of stored numbers and date-times. Properties: what a parser
// accepts lies in its range and reads back the same from its own text
// form; the whole-number rule agrees with an independent reading; any
// double (a damaged store can hold one) prints within its form.
#include <charconv>
#include <cmath>
#include <cstring>
#include <string>

#include "platform/rtl/datetime.h"
#include "platform/rtl/numbers.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

void CheckTime(std::string_view text) {
  rtl::TDateTime t;
  if (!rtl::TryStrToTime(text, t)) return;
  FUZZ_CHECK(t >= 0 && t < 1);
  rtl::TDateTime again;
  FUZZ_CHECK(rtl::TryStrToTime(rtl::FormatDateTime("hh:nn:ss.zzz", t), again));
  FUZZ_CHECK(again == t);
}

void CheckDate(std::string_view text) {
  rtl::TDateTime d;
  if (!rtl::TryStrToDate(text, d)) return;
  FUZZ_CHECK(d == std::floor(d));
  const rtl::DateTimeParts p = rtl::DecodeDateTime(d);
  FUZZ_CHECK(p.year >= 1 && p.year <= 9999);
  rtl::TDateTime again;
  FUZZ_CHECK(rtl::TryStrToDate(rtl::FormatDateTime("yyyy/m/d", d), again));
  FUZZ_CHECK(again == d);
}

// The whole-number rule read another way: the digits through from_chars.
bool ReferenceInt(std::string_view text, int32_t& out) {
  size_t i = 0;
  while (i < text.size() && static_cast<unsigned char>(text[i]) <= ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int base = 10;
  if (i < text.size() && text[i] == '$') {
    base = 16;
    ++i;
  } else if (text.substr(i, 2) == "0x" || text.substr(i, 2) == "0X") {
    base = 16;
    i += 2;
  }
  const std::string_view digits = text.substr(i);
  if (digits.empty()) return false;
  uint64_t magnitude = 0;
  auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), magnitude, base);
  if (ec != std::errc() || end != digits.data() + digits.size()) return false;
  if (magnitude > (negative ? 2147483648ULL : 2147483647ULL)) return false;
  out = static_cast<int32_t>(negative ? -static_cast<int64_t>(magnitude)
                                      : static_cast<int64_t>(magnitude));
  return true;
}

void CheckInt(std::string_view text) {
  int32_t value = 0, expected = 0;
  const bool ok = rtl::TryStrToInt(text, value);
  FUZZ_CHECK(ok == ReferenceInt(text, expected));
  if (!ok) {
    FUZZ_CHECK(rtl::StrToIntDef(text, 300) == 300);
    return;
  }
  FUZZ_CHECK(value == expected);
  std::string back;
  rtl::AppendInt(back, value);
  int32_t again = 0;
  FUZZ_CHECK(rtl::TryStrToInt(back, again) && again == value);
}

// A stored value printed as a float or a date-time.
void CheckStoredValue(double v) {
  const std::string text = rtl::FloatToStr(v);
  if (std::isfinite(v)) {
    // The text is the value at 15 significant digits.
    char expected[64];
    std::snprintf(expected, sizeof expected, "%.14e", v);
    FUZZ_CHECK(std::strtod(text.c_str(), nullptr) == std::strtod(expected, nullptr));
  }
  const rtl::DateTimeParts p = rtl::DecodeDateTime(v);
  FUZZ_CHECK(p.month >= 1 && p.month <= 12 && p.day >= 1 && p.day <= 31);
  FUZZ_CHECK(p.hour >= 0 && p.hour <= 23 && p.minute >= 0 && p.minute <= 59);
  FUZZ_CHECK(p.second >= 0 && p.second <= 59 && p.msec >= 0 && p.msec <= 999);
  FUZZ_CHECK(rtl::TimeToStr(v).size() == 8);
  FUZZ_CHECK(!rtl::DateTimeToStr(v).empty());
  FUZZ_CHECK(rtl::FormatFixed(v, 2).size() < 400);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text = fuzz::AsText(data, size);
  CheckTime(text);
  CheckDate(text);
  CheckInt(text);
  if (size >= sizeof(double)) {
    double v;
    std::memcpy(&v, data, sizeof v);
    CheckStoredValue(v);
  }
  return 0;
}
