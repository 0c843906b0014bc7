// The CSV reader and the value forms of loader files.
#include "tools/csv_reader.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "platform/rtl/datetime.h"
#include "tools/csv_values.h"

namespace {

using admin::CsvError;
using admin::CsvField;
using admin::CsvReader;

struct Record {
  int64_t line;
  std::vector<std::string> texts;
  std::vector<bool> quoted;
  bool operator==(const Record&) const = default;
};

std::vector<Record> ReadAll(const std::string& text) {
  std::istringstream in(text);
  CsvReader reader(in);
  std::vector<CsvField> fields;
  std::vector<Record> out;
  while (reader.Next(fields)) {
    Record r{reader.line(), {}, {}};
    for (const CsvField& f : fields) {
      r.texts.push_back(f.text);
      r.quoted.push_back(f.quoted);
    }
    out.push_back(r);
  }
  return out;
}

// The line and message of the first error.
std::pair<int64_t, std::string> ErrorOf(const std::string& text) {
  try {
    ReadAll(text);
  } catch (const CsvError& e) {
    return {e.line(), e.what()};
  }
  return {0, ""};
}

TEST(CsvReader, FieldsRecordsAndLineEndings) {
  const auto records = ReadAll("a,b,c\r\n1,,3\n\n\"x\",\"\",z");
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[0], (Record{1, {"a", "b", "c"}, {false, false, false}}));
  EXPECT_EQ(records[1], (Record{2, {"1", "", "3"}, {false, false, false}}));
  // The blank line 3 is skipped; an unquoted empty field differs from "".
  EXPECT_EQ(records[2], (Record{4, {"x", "", "z"}, {true, true, false}}));
}

TEST(CsvReader, QuotedFieldsHoldCommasQuotesAndLineBreaks) {
  const auto records = ReadAll("\"a,b\",\"say \"\"hi\"\"\",\"two\r\nlines\"\nnext,\"\xe6\xb1\x87\"\n");
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].texts, (std::vector<std::string>{"a,b", "say \"hi\"", "two\r\nlines"}));
  EXPECT_EQ(records[1].line, 3);  // the line break inside quotes counts
  EXPECT_EQ(records[1].texts[1], "\xe6\xb1\x87");
}

TEST(CsvReader, ByteOrderMarkIsDroppedButLookAlikeBytesStay) {
  EXPECT_EQ(ReadAll("\xEF\xBB\xBFsymbol,isValid\n")[0].texts,
            (std::vector<std::string>{"symbol", "isValid"}));
  EXPECT_EQ(ReadAll("\xEF\xBBx,y\n")[0].texts, (std::vector<std::string>{"\xEF\xBBx", "y"}));
  EXPECT_TRUE(ReadAll("").empty());
  EXPECT_TRUE(ReadAll("\xEF\xBB\xBF").empty());
}

TEST(CsvReader, MalformedInputNamesTheRecordsLine) {
  using Error = std::pair<int64_t, std::string>;
  EXPECT_EQ(ErrorOf("a\n\"open\nstill open"), Error(2, "unterminated quoted field"));
  EXPECT_EQ(ErrorOf("a\nb\"c\n"), Error(2, "quote inside an unquoted field"));
  EXPECT_EQ(ErrorOf("\"a\"b\n"), Error(1, "unexpected character after a closing quote"));
  EXPECT_EQ(ErrorOf(std::string("a\nb\0c\n", 6)), Error(2, "binary data (NUL byte)"));
  EXPECT_EQ(ErrorOf(std::string("\"a\0\"\n", 5)).second, "binary data (NUL byte)");
  EXPECT_EQ(ErrorOf("a\n" + std::string(CsvReader::kMaxFieldBytes + 1, 'x')).first, 2);
  EXPECT_NE(ErrorOf(std::string(CsvReader::kMaxFields + 1, ',')).second.find("more than"),
            std::string::npos);
  // Exactly the limit is fine.
  EXPECT_EQ(ReadAll(std::string(CsvReader::kMaxFieldBytes, 'x'))[0].texts[0].size(),
            CsvReader::kMaxFieldBytes);
}

TEST(CsvValues, Numbers) {
  double v = 0;
  EXPECT_TRUE(admin::ParseNumber(" 12.5 ", v));
  EXPECT_EQ(v, 12.5);
  EXPECT_TRUE(admin::ParseNumber("+1e3", v));
  EXPECT_EQ(v, 1000);
  EXPECT_TRUE(admin::ParseNumber("-.5", v));
  EXPECT_EQ(v, -0.5);
  for (const char* bad :
       {"", " ", "1x", "inf", "nan", "0x10", "1,5", "1e999", "--1", "1 2", "+-21", "+", "++1"})
    EXPECT_FALSE(admin::ParseNumber(bad, v)) << bad;
  int64_t i = 0;
  EXPECT_TRUE(admin::ParseInteger("-42", i));
  EXPECT_EQ(i, -42);
  EXPECT_FALSE(admin::ParseInteger("4.0", i));
  EXPECT_FALSE(admin::ParseInteger("99999999999999999999", i));
  EXPECT_TRUE(admin::ParseInteger("+7", i));
  EXPECT_EQ(i, 7);
  EXPECT_FALSE(admin::ParseInteger("+-7", i));
}

TEST(CsvReader, BytesReadNeverPassTheSize) {
  // Progress is reported from this count: the end of the input adds nothing.
  const std::string text = "a,b\r\n1,2";
  std::istringstream in(text);
  CsvReader reader(in);
  std::vector<CsvField> fields;
  while (reader.Next(fields)) {
  }
  EXPECT_FALSE(reader.Next(fields));
  EXPECT_EQ(reader.bytes(), static_cast<int64_t>(text.size()));
}

TEST(CsvValues, DatesTimesAndDateTimes) {
  int32_t day = 0;
  EXPECT_TRUE(admin::ParseDate("2003-07-04", day));
  EXPECT_EQ(day, static_cast<int32_t>(rtl::EncodeDate(2003, 7, 4)));
  EXPECT_TRUE(admin::ParseDate("2003/7/4", day));
  EXPECT_EQ(day, static_cast<int32_t>(rtl::EncodeDate(2003, 7, 4)));
  for (const char* bad : {"2003-07/04", "03-07-04", "2003-13-01", "2003-02-29", "2003-07-04x", ""})
    EXPECT_FALSE(admin::ParseDate(bad, day)) << bad;

  int32_t ms = 0;
  EXPECT_TRUE(admin::ParseTime("09:30:01.250", ms));
  EXPECT_EQ(ms, ((9 * 60 + 30) * 60 + 1) * 1000 + 250);
  EXPECT_TRUE(admin::ParseTime("9:30:01.5", ms));
  EXPECT_EQ(ms % 1000, 500);
  for (const char* bad : {"24:00:00", "09:60:00", "09:30", "09:30:00.1234", "09:30:0", "9h"})
    EXPECT_FALSE(admin::ParseTime(bad, ms)) << bad;

  double dt = 0;
  EXPECT_TRUE(admin::ParseDateTime("2003-07-04  15:30:00", dt));
  EXPECT_DOUBLE_EQ(dt, rtl::EncodeDate(2003, 7, 4) + rtl::EncodeTime(15, 30, 0, 0));
  EXPECT_TRUE(admin::ParseDateTime("2003-07-04", dt));
  EXPECT_EQ(dt, rtl::EncodeDate(2003, 7, 4));
  EXPECT_FALSE(admin::ParseDateTime("2003-07-04T15:30:00", dt));
  EXPECT_FALSE(admin::ParseDateTime("2003-07-04 25:00:00", dt));
  EXPECT_FALSE(admin::ParseDateTime("15:30:00", dt));
  // Before 1899-12-30 the time still counts forward from the day's
  // midnight, so the value prints back as the text it came from.
  EXPECT_TRUE(admin::ParseDateTime("1899-12-29 06:00:00", dt));
  EXPECT_EQ(dt, -1.25);
  EXPECT_TRUE(admin::ParseDateTime("0003-07-04 00:30:00", dt));
  EXPECT_EQ(rtl::FormatDateTime("yyyy-mm-dd hh:nn:ss", dt), "0003-07-04 00:30:00");
}

}  // namespace
