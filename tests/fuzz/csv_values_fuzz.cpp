// The value parsers of loader files. Properties: numbers agree with the C
// library's reading of the same characters; dates, times and date-times
// lie in range and read back the same from their own text form.
#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <string>

#include "platform/rtl/datetime.h"
#include "tests/fuzz/fuzz_support.h"
#include "tools/csv_values.h"

namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool OnlyOf(std::string_view s, std::string_view allowed) {
  return !s.empty() && s.find_first_not_of(allowed) == std::string_view::npos;
}

void CheckNumber(std::string_view text) {
  double value = 0;
  const bool ok = admin::ParseNumber(text, value);
  // The C library, held to the same characters (no hexadecimal, infinity
  // or NaN), reads the whole text as one finite number in range.
  const std::string s(Trim(text));
  bool expected = false;
  double reference = 0;
  if (OnlyOf(s, "0123456789+-.eE")) {
    char* end = nullptr;
    errno = 0;
    reference = std::strtod(s.c_str(), &end);
    // A subnormal result is an underflow for one reading and a value for
    // the other: no verdict there.
    if (errno == ERANGE && reference != 0 && std::fabs(reference) < DBL_MIN) return;
    expected = end == s.c_str() + s.size() && errno != ERANGE && std::isfinite(reference);
  }
  FUZZ_CHECK(ok == expected);
  if (ok) FUZZ_CHECK(value == reference);
}

void CheckInteger(std::string_view text) {
  int64_t value = 0;
  const bool ok = admin::ParseInteger(text, value);
  const std::string s(Trim(text));
  const size_t sign = !s.empty() && (s[0] == '+' || s[0] == '-') ? 1 : 0;
  bool expected = false;
  long long reference = 0;
  if (OnlyOf(std::string_view(s).substr(sign), "0123456789")) {
    errno = 0;
    reference = std::strtoll(s.c_str(), nullptr, 10);
    expected = errno != ERANGE;
  }
  FUZZ_CHECK(ok == expected);
  if (ok) FUZZ_CHECK(value == reference);
}

void CheckDate(std::string_view text) {
  int32_t day = 0;
  if (!admin::ParseDate(text, day)) return;
  FUZZ_CHECK(day >= rtl::EncodeDate(1, 1, 1) && day <= rtl::EncodeDate(9999, 12, 31));
  int32_t again = 0;
  FUZZ_CHECK(admin::ParseDate(rtl::FormatDateTime("yyyy-mm-dd", day), again) && again == day);
}

void CheckTime(std::string_view text) {
  int32_t ms = 0;
  if (!admin::ParseTime(text, ms)) return;
  FUZZ_CHECK(ms >= 0 && ms < rtl::kMsPerDay);
  int32_t again = 0;
  FUZZ_CHECK(admin::ParseTime(rtl::FormatDateTime("hh:nn:ss.zzz", admin::ToDateTime(0, ms)),
                              again));
  FUZZ_CHECK(again == ms);
}

void CheckDateTime(std::string_view text) {
  double value = 0;
  if (!admin::ParseDateTime(text, value)) return;
  // The value names the same moment as its text form: the day of the date
  // and the time of day, also before the epoch.
  double again = 0;
  FUZZ_CHECK(admin::ParseDateTime(rtl::FormatDateTime("yyyy-mm-dd hh:nn:ss.zzz", value), again));
  FUZZ_CHECK(again == value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text = fuzz::AsText(data, size);
  CheckNumber(text);
  CheckInteger(text);
  CheckDate(text);
  CheckTime(text);
  CheckDateTime(text);
  return 0;
}
