#include "platform/rtl/numbers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <random>

namespace rtl {
namespace {

TEST(TryStrToInt, WholeNumberRule) {
  struct Case {
    const char* text;
    bool ok;
    int32_t value;
  };
  const Case cases[] = {
      {"7", true, 7},           {" 7", true, 7},          {"\t 7", true, 7},
      {"7x", false, 0},         {"7 ", false, 0},         {"$3C", true, 60},
      {"0x3C", true, 60},       {"0X3c", true, 60},       {"-60", true, -60},
      {"+60", true, 60},        {"-$10", true, -16},      {"-0x10", true, -16},
      {"abc", false, 0},        {"", false, 0},           {"   ", false, 0},
      {"-", false, 0},          {"$", false, 0},          {"0x", false, 0},
      {"0", true, 0},           {"007", true, 7},         {"1e3", false, 0},
      {"3.5", false, 0},        {"2147483647", true, 2147483647},
      {"-2147483648", true, std::numeric_limits<int32_t>::min()},
      {"2147483648", false, 0}, {"-2147483649", false, 0}, {"99999999999999999999", false, 0},
      {"$7FFFFFFF", true, 2147483647}, {"$FFFFFFFF", false, 0}, {"--1", false, 0},
      {"+-1", false, 0},        {"0x-1", false, 0},       {"x3C", false, 0},
  };
  for (const Case& c : cases) {
    int32_t v = -12345;
    EXPECT_EQ(TryStrToInt(c.text, v), c.ok) << '"' << c.text << '"';
    EXPECT_EQ(v, c.ok ? c.value : -12345) << c.text;
  }
}

TEST(TryStrToInt, EmbeddedNulIsNotADigit) {
  int32_t v;
  EXPECT_FALSE(TryStrToInt(std::string_view("12\0", 3), v));
}

TEST(StrToIntDef, DefaultOnFailure) {
  EXPECT_EQ(StrToIntDef("abc", 300), 300);
  EXPECT_EQ(StrToIntDef("", 300), 300);
  EXPECT_EQ(StrToIntDef("0", 300), 0);
  EXPECT_EQ(StrToIntDef("-60", 300), -60);
  EXPECT_EQ(StrToIntDef("0x3C", 300), 60);
}

TEST(FloatToStr, GeneralForm) {
  EXPECT_EQ(FloatToStr(12.5), "12.5");
  EXPECT_EQ(FloatToStr(0), "0");
  EXPECT_EQ(FloatToStr(-0.0), "0");
  EXPECT_EQ(FloatToStr(1234567), "1234567");
  EXPECT_EQ(FloatToStr(0.1), "0.1");
  EXPECT_EQ(FloatToStr(1e20), "1E20");
  EXPECT_EQ(FloatToStr(123456789012345678.0), "1.23456789012346E17");
  EXPECT_EQ(FloatToStr(-12.25), "-12.25");
  EXPECT_EQ(FloatToStr(10.05), "10.05");
  EXPECT_EQ(FloatToStr(0.1 + 0.2), "0.3");
  EXPECT_EQ(FloatToStr(100), "100");
  EXPECT_EQ(FloatToStr(1.0 / 3), "0.333333333333333");
  EXPECT_EQ(FloatToStr(2.0 / 3), "0.666666666666667");
}

TEST(FloatToStr, FixedAndScientificBoundaries) {
  EXPECT_EQ(FloatToStr(123456789012345.0), "123456789012345");  // 15 digits
  EXPECT_EQ(FloatToStr(1e15), "1E15");
  EXPECT_EQ(FloatToStr(-2.25e15), "-2.25E15");
  EXPECT_EQ(FloatToStr(999999999999999.9), "1E15");  // rounds up first
  EXPECT_EQ(FloatToStr(0.0001), "0.0001");
  EXPECT_EQ(FloatToStr(0.00012), "0.00012");
  EXPECT_EQ(FloatToStr(0.00001), "1E-5");
  EXPECT_EQ(FloatToStr(1.5e-6), "1.5E-6");
  EXPECT_EQ(FloatToStr(1e-6), "1E-6");
  EXPECT_EQ(FloatToStr(-1e-300), "-1E-300");
  EXPECT_EQ(FloatToStr(1.7976931348623157e308), "1.79769313486232E308");
}

TEST(FloatToStr, NonFinite) {
  EXPECT_EQ(FloatToStr(NAN), "NAN");
  EXPECT_EQ(FloatToStr(INFINITY), "INF");
  EXPECT_EQ(FloatToStr(-INFINITY), "-INF");
}

TEST(FormatFixed, Decimals) {
  EXPECT_EQ(FormatFixed(12.5, 2), "12.50");
  EXPECT_EQ(FormatFixed(12.5, 3), "12.500");
  EXPECT_EQ(FormatFixed(0, 2), "0.00");
  EXPECT_EQ(FormatFixed(1234567.891, 2), "1234567.89");  // no thousands separator
  EXPECT_EQ(FormatFixed(-3.14159, 3), "-3.142");
  EXPECT_EQ(FormatFixed(2.675, 2), "2.67");  // the double lies below 2.675
  EXPECT_EQ(FormatFixed(1.0005, 3), "1.000");
  EXPECT_EQ(FormatFixed(7, 0), "7");
  EXPECT_EQ(FormatFixed(-0.001, 2), "0.00");
  EXPECT_EQ(FormatFixed(-0.0, 2), "0.00");
  EXPECT_EQ(FormatFixed(1e300, 2).size(), 301u + 3u);
}

TEST(Append, ToExistingText) {
  std::string out = "TICK|";
  AppendInt(out, -42);
  out += '|';
  AppendFixed(out, 10.05, 2);
  out += '|';
  AppendFloat(out, 10.05);
  out += '|';
  AppendInt(out, std::numeric_limits<int64_t>::min());
  EXPECT_EQ(out, "TICK|-42|10.05|10.05|-9223372036854775808");
}

TEST(FloatForms, AgreeWithPrintfOnRandomValues) {
  std::mt19937_64 rng(12345);
  std::uniform_real_distribution<double> mantissa(-10.0, 10.0);
  std::uniform_int_distribution<int> exponent(-8, 18);
  for (int i = 0; i < 20000; ++i) {
    const double v = mantissa(rng) * std::pow(10.0, exponent(rng));
    char expect[400];
    for (int decimals : {2, 3}) {
      std::snprintf(expect, sizeof expect, "%.*f", decimals, v);
      std::string want = expect;
      if (want.find_first_not_of("-0.") == std::string::npos) want = want.substr(want[0] == '-');
      ASSERT_EQ(FormatFixed(v, decimals), want) << v;
    }
    // The general form holds the same 15 significant digits as "%.14e".
    std::snprintf(expect, sizeof expect, "%.14e", v);
    ASSERT_EQ(std::strtod(FloatToStr(v).c_str(), nullptr), std::strtod(expect, nullptr)) << v;
  }
}

TEST(RoundHalfEven, HalvesGoToEven) {
  EXPECT_EQ(RoundHalfEven(2.5), 2);
  EXPECT_EQ(RoundHalfEven(3.5), 4);
  EXPECT_EQ(RoundHalfEven(-2.5), -2);
  EXPECT_EQ(RoundHalfEven(-3.5), -4);
  EXPECT_EQ(RoundHalfEven(0.5), 0);
  EXPECT_EQ(RoundHalfEven(1.5), 2);
  EXPECT_EQ(RoundHalfEven(2.4999), 2);
  EXPECT_EQ(RoundHalfEven(2.5001), 3);
  EXPECT_EQ(RoundHalfEven64(4503599627370495.5), 4503599627370496LL);
}

TEST(RoundHalfEven, SaturatesOutOfRange) {
  EXPECT_EQ(RoundHalfEven(1e12), std::numeric_limits<int32_t>::max());
  EXPECT_EQ(RoundHalfEven(-1e12), std::numeric_limits<int32_t>::min());
  EXPECT_EQ(RoundHalfEven(NAN), 0);
  EXPECT_EQ(RoundHalfEven64(1e30), std::numeric_limits<int64_t>::max());
  EXPECT_EQ(RoundHalfEven64(-INFINITY), std::numeric_limits<int64_t>::min());
}

}  // namespace
}  // namespace rtl
