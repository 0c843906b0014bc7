// The general float form, text for text, against the C library's "%.15g":
// the same 15 significant digits without trailing zeros and the same choice
// between fixed and scientific form; only the exponent is spelled "E" and
// without sign or leading zeros ("1E20", "1.5E-5").
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "platform/rtl/numbers.h"

namespace rtl {
namespace {

std::string PrintfForm(double v) {
  if (v == 0) return "0";
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.15g", v);
  std::string s = buf;
  const size_t e = s.find('e');
  if (e == std::string::npos) return s;
  return s.substr(0, e) + "E" + std::to_string(std::atoi(s.c_str() + e + 1));
}

void ExpectPrintfForm(double v) {
  std::string got = "|";
  AppendFloat(got, v);
  ASSERT_EQ(got, "|" + PrintfForm(v)) << std::hexfloat << v;
}

// Prices, sizes and volumes: decimals of a few places, as stores hold them.
TEST(FloatText, ShortDecimalsOfEveryScale) {
  std::mt19937_64 rng(20031);
  for (int i = 0; i < 300000; ++i) {
    const int places = static_cast<int>(rng() % 7);
    const int64_t whole = static_cast<int64_t>(rng() % 1000000000000000000ULL) /
                          static_cast<int64_t>(std::pow(10.0, static_cast<double>(rng() % 18)));
    const double v = static_cast<double>(whole) / std::pow(10.0, places);
    ExpectPrintfForm(v);
    ExpectPrintfForm(-v);
  }
}

TEST(FloatText, ArbitraryBitPatterns) {
  std::mt19937_64 rng(7);
  for (int i = 0; i < 300000; ++i) {
    const uint64_t bits = rng();
    double v;
    std::memcpy(&v, &bits, sizeof v);
    if (!std::isfinite(v)) continue;
    ExpectPrintfForm(v);
  }
}

TEST(FloatText, SumsThatAreNotTheirDecimal) {
  // Sums carry binary error that the 15-digit rounding removes.
  ExpectPrintfForm(0.1 + 0.2);
  ExpectPrintfForm(10 + 0.01 * 3);
  for (int i = 0; i < 100000; ++i) ExpectPrintfForm(10 + i * 0.01);
}

TEST(FloatText, EdgesOfTheFixedForm) {
  for (double v : {1e-4, 9.99999999999999e-5, 0.00012345, 1e15, 999999999999999.0,
                   999999999999999.4, 99999999999999.95, 123456789012345.6, 0.5, 1.0, 1e14,
                   4503599627370496.0, 2.2250738585072014e-308, 4.9e-324, 1.7976931348623157e308}) {
    ExpectPrintfForm(v);
    ExpectPrintfForm(-v);
  }
}

}  // namespace
}  // namespace rtl
