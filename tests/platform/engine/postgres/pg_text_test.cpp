#include "platform/engine/postgres/pg_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "platform/engine/errors.h"
#include "platform/rtl/datetime.h"

namespace engine::pg {
namespace {

TEST(PgTextTest, MapsTypeOids) {
  EXPECT_EQ(FieldTypeOfOid(21), FieldType::kInteger);    // int2
  EXPECT_EQ(FieldTypeOfOid(23), FieldType::kInteger);    // int4
  EXPECT_EQ(FieldTypeOfOid(20), FieldType::kInteger);    // int8
  EXPECT_EQ(FieldTypeOfOid(700), FieldType::kFloat);     // float4
  EXPECT_EQ(FieldTypeOfOid(701), FieldType::kFloat);     // float8
  EXPECT_EQ(FieldTypeOfOid(1700), FieldType::kFloat);    // numeric
  EXPECT_EQ(FieldTypeOfOid(25), FieldType::kString);     // text
  EXPECT_EQ(FieldTypeOfOid(1043), FieldType::kString);   // varchar
  EXPECT_EQ(FieldTypeOfOid(1042), FieldType::kString);   // bpchar
  EXPECT_EQ(FieldTypeOfOid(19), FieldType::kString);     // name
  EXPECT_EQ(FieldTypeOfOid(1082), FieldType::kDate);     // date
  EXPECT_EQ(FieldTypeOfOid(1083), FieldType::kTime);     // time
  EXPECT_EQ(FieldTypeOfOid(1114), FieldType::kDateTime); // timestamp
  EXPECT_EQ(FieldTypeOfOid(1184), FieldType::kDateTime); // timestamptz
  EXPECT_EQ(FieldTypeOfOid(16), FieldType::kString);     // bool: its text
}

TEST(PgTextTest, ParsesDates) {
  double v = -99;
  ASSERT_TRUE(ParseDate("1899-12-30", v));
  EXPECT_EQ(v, 0);
  ASSERT_TRUE(ParseDate("2003-07-04", v));
  EXPECT_EQ(v, rtl::EncodeDate(2003, 7, 4));
  ASSERT_TRUE(ParseDate("2004-02-29", v));
  EXPECT_EQ(v, rtl::EncodeDate(2004, 2, 29));
  ASSERT_TRUE(ParseDate("1899-12-29", v));
  EXPECT_EQ(v, -1);
  ASSERT_TRUE(ParseDate("0001-01-01", v));
  EXPECT_EQ(v, rtl::EncodeDate(1, 1, 1));
  for (const char* bad : {"2003-02-29", "2003-13-01", "2003-00-10", "2003-07-32", "infinity", "-infinity",
                          "0044-03-15 BC", "2003-7-4", "2003-07-04x", "", "2003/07/04"}) {
    EXPECT_FALSE(ParseDate(bad, v)) << bad;
  }
}

TEST(PgTextTest, ParsesTimesToTheMillisecond) {
  double v = -1;
  ASSERT_TRUE(ParseTime("10:30:00", v));
  EXPECT_EQ(v, rtl::EncodeTime(10, 30, 0, 0));
  ASSERT_TRUE(ParseTime("10:30:00.5", v));
  EXPECT_EQ(v, rtl::EncodeTime(10, 30, 0, 500));
  ASSERT_TRUE(ParseTime("10:30:00.123456", v));
  EXPECT_EQ(v, rtl::EncodeTime(10, 30, 0, 123));
  ASSERT_TRUE(ParseTime("10:30:00.1235", v));  // rounds up
  EXPECT_EQ(v, rtl::EncodeTime(10, 30, 0, 124));
  ASSERT_TRUE(ParseTime("23:59:59.9996", v));  // the end of the day
  EXPECT_EQ(v, 1.0);
  ASSERT_TRUE(ParseTime("24:00:00", v));
  EXPECT_EQ(v, 1.0);
  ASSERT_TRUE(ParseTime("10:30:00+02", v));  // timetz: the offset is not part of the value
  EXPECT_EQ(v, rtl::EncodeTime(10, 30, 0, 0));
  ASSERT_TRUE(ParseTime("10:30:00.25-05:30", v));
  EXPECT_EQ(v, rtl::EncodeTime(10, 30, 0, 250));
  for (const char* bad : {"10:30", "10:61:00", "24:00:01", "25:00:00", "10:30:00.", "10:30:00 x", "",
                          "10:30:00+2"}) {
    EXPECT_FALSE(ParseTime(bad, v)) << bad;
  }
}

TEST(PgTextTest, ParsesTimestamps) {
  double v = 0;
  ASSERT_TRUE(ParseTimestamp("2003-07-04 10:30:00.5", v));
  EXPECT_EQ(v, rtl::EncodeDate(2003, 7, 4) + rtl::EncodeTime(10, 30, 0, 500));
  ASSERT_TRUE(ParseTimestamp("2003-07-04 00:00:00", v));
  EXPECT_EQ(v, rtl::EncodeDate(2003, 7, 4));
  ASSERT_TRUE(ParseTimestamp("2003-07-04 10:30:00+05:30", v));
  EXPECT_EQ(v, rtl::EncodeDate(2003, 7, 4) + rtl::EncodeTime(10, 30, 0, 0));
  // Before the epoch the time of day still counts forward.
  ASSERT_TRUE(ParseTimestamp("1899-12-29 06:00:00", v));
  EXPECT_EQ(v, -1.25);
  EXPECT_EQ(rtl::FormatDateTime("yyyy/mm/dd hh:nn:ss", v), "1899/12/29 06:00:00");
  for (const char* bad : {"2003-07-04", "2003-07-04T10:30:00", "infinity", "2003-07-04 10:30:00 BC"}) {
    EXPECT_FALSE(ParseTimestamp(bad, v)) << bad;
  }
}

TEST(PgTextTest, ParsesFieldsByType) {
  Value v;
  ParseField(FieldType::kInteger, "-9223372036854775808", v);
  EXPECT_EQ(v.kind, Value::Kind::kInteger);
  EXPECT_EQ(v.i, std::numeric_limits<int64_t>::min());
  ParseField(FieldType::kFloat, "0.1", v);
  EXPECT_EQ(v.kind, Value::Kind::kFloat);
  EXPECT_EQ(v.d, 0.1);
  ParseField(FieldType::kFloat, "-Infinity", v);
  EXPECT_EQ(v.d, -std::numeric_limits<double>::infinity());
  ParseField(FieldType::kFloat, "NaN", v);
  EXPECT_TRUE(std::isnan(v.d));
  ParseField(FieldType::kFloat, "1" + std::string(400, '0'), v);  // a numeric beyond any double
  EXPECT_EQ(v.d, std::numeric_limits<double>::infinity());
  ParseField(FieldType::kDate, "2003-07-04", v);
  EXPECT_EQ(v.kind, Value::Kind::kFloat);
  EXPECT_EQ(v.d, rtl::EncodeDate(2003, 7, 4));
  ParseField(FieldType::kString, "t", v);
  EXPECT_EQ(v.kind, Value::Kind::kText);
  EXPECT_EQ(v.s, "t");
  EXPECT_THROW(ParseField(FieldType::kInteger, "12x", v), EDBEngineError);
  EXPECT_THROW(ParseField(FieldType::kFloat, "1,5", v), EDBEngineError);
  try {
    ParseField(FieldType::kDateTime, "infinity", v);
    FAIL() << "infinity converted";
  } catch (const EDBEngineError& e) {
    EXPECT_STREQ(e.what(), "Cannot convert 'infinity' to a date-time");
  }
}

TEST(PgTextTest, FormatsDateTimesAsIso) {
  std::string out;
  AppendIsoDateTime(out, rtl::EncodeDate(2003, 7, 4) + rtl::EncodeTime(10, 30, 0, 0));
  EXPECT_EQ(out, "2003-07-04 10:30:00.000");
  out.clear();
  AppendIsoDateTime(out, rtl::EncodeDate(2003, 7, 4) + rtl::EncodeTime(15, 59, 59, 999) + 0.9 / 86400000);
  EXPECT_EQ(out, "2003-07-04 16:00:00.000");
  out.clear();
  AppendIsoTime(out, rtl::EncodeTime(9, 5, 7, 42));
  EXPECT_EQ(out, "09:05:07.042");
  out.clear();
  AppendIsoTime(out, 1.0);
  EXPECT_EQ(out, "24:00:00.000");
  out.clear();
  AppendIsoTime(out, 3.5);  // clamped to the day
  EXPECT_EQ(out, "24:00:00.000");
  out.clear();
  AppendIsoTime(out, -0.25);
  EXPECT_EQ(out, "00:00:00.000");
}

TEST(PgTextTest, RendersParameters) {
  std::string out = "stale";
  EXPECT_FALSE(ParamText(FieldType::kString, Value::Null(), out));
  ASSERT_TRUE(ParamText(FieldType::kInteger, Value::Int(-42), out));
  EXPECT_EQ(out, "-42");
  ASSERT_TRUE(ParamText(FieldType::kFloat, Value::Float(0.1), out));
  EXPECT_EQ(out, "0.1");
  ASSERT_TRUE(ParamText(FieldType::kFloat, Value::Float(1e300), out));
  EXPECT_EQ(out, "1e+300");
  ASSERT_TRUE(ParamText(FieldType::kFloat, Value::Float(std::nan("")), out));
  EXPECT_EQ(out, "NaN");
  ASSERT_TRUE(ParamText(FieldType::kFloat, Value::Float(-HUGE_VAL), out));
  EXPECT_EQ(out, "-Infinity");
  const double when = rtl::EncodeDate(2003, 7, 4) + rtl::EncodeTime(10, 30, 0, 0);
  for (FieldType t : {FieldType::kDate, FieldType::kTime, FieldType::kDateTime}) {
    ASSERT_TRUE(ParamText(t, Value::Float(when), out));
    EXPECT_EQ(out, "2003-07-04 10:30:00.000");
  }
  // Only a float is a date-time; text goes unchanged.
  ASSERT_TRUE(ParamText(FieldType::kDateTime, Value::Text("07/04/2003"), out));
  EXPECT_EQ(out, "07/04/2003");
  ASSERT_TRUE(ParamText(FieldType::kString, Value::Float(2.5), out));
  EXPECT_EQ(out, "2.5");
  ASSERT_TRUE(ParamText(FieldType::kString, Value::Text(" a'b\"c "), out));
  EXPECT_EQ(out, " a'b\"c ");
  EXPECT_THROW(ParamText(FieldType::kString, Value::Text(std::string("ab\0cd", 5)), out), EDBEngineError);
  EXPECT_THROW(ParamText(FieldType::kDateTime, Value::Float(HUGE_VAL), out), EDBEngineError);
}

TEST(PgTextTest, QuotesIdentifiersInLowerCase) {
  EXPECT_EQ(QuoteIdent("Hist030704"), "\"hist030704\"");
  EXPECT_EQ(QuoteIdent("a\"b; drop table x"), "\"a\"\"b; drop table x\"");
  EXPECT_EQ(QuoteIdent("\xc3\x89t\xc3\xa9"), "\"\xc3\x89t\xc3\xa9\"");  // only ASCII folds
  EXPECT_THROW(QuoteIdent(""), EDBEngineError);
  EXPECT_THROW(QuoteIdent(std::string("a\0b", 3)), EDBEngineError);
}

TEST(PgTextTest, PutsMessagesOnOneLine) {
  EXPECT_EQ(OneLine("relation \"x\" does not exist\n"), "relation \"x\" does not exist");
  EXPECT_EQ(OneLine("connection failed: No such file\n\tIs the server running?\n"),
            "connection failed: No such file Is the server running?");
  EXPECT_EQ(OneLine("a\r\n\r\nb  \n "), "a b");
  EXPECT_EQ(OneLine(""), "");
}

}  // namespace
}  // namespace engine::pg
