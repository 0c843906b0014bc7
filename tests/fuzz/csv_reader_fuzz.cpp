// The loader's CSV reader over any bytes. Properties: limits hold, lines
// move forward, an error names a line of the input; and the records read,
// written back as CSV, read back the same, with the lines they start on.
#include <sstream>
#include <string>
#include <vector>

#include "tests/fuzz/fuzz_support.h"
#include "tools/csv_reader.h"

namespace {

struct Record {
  int64_t line;
  std::vector<admin::CsvField> fields;
};

// At most this many lines: a record also ends at a lone CR.
int64_t MaxLines(std::string_view text) {
  int64_t n = 1;
  for (char c : text) n += c == '\n' || c == '\r';
  return n;
}

// Every record, or false after a CsvError (checked on the way).
bool ReadAll(const std::string& text, std::vector<Record>& records) {
  std::istringstream in(text);
  admin::CsvReader reader(in);
  std::vector<admin::CsvField> fields;
  int64_t last_line = 0;
  try {
    while (reader.Next(fields)) {
      FUZZ_CHECK(reader.line() > last_line);
      last_line = reader.line();
      FUZZ_CHECK(!fields.empty() && fields.size() <= admin::CsvReader::kMaxFields);
      for (const admin::CsvField& f : fields) {
        FUZZ_CHECK(f.text.size() <= admin::CsvReader::kMaxFieldBytes);
        FUZZ_CHECK(f.text.find('\0') == std::string::npos);
      }
      records.push_back({reader.line(), fields});
    }
  } catch (const admin::CsvError& e) {
    FUZZ_CHECK(e.line() >= 1 && e.line() <= MaxLines(text));
    return false;
  }
  FUZZ_CHECK(reader.bytes() <= static_cast<int64_t>(text.size()));
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<Record> records;
  if (!ReadAll(std::string(fuzz::AsText(data, size)), records)) return 0;

  // Written back: quoted fields in quotes with doubled quotes, the others
  // as they were; a byte order mark in front, which the reader drops.
  std::string text = "\xEF\xBB\xBF";
  std::vector<int64_t> lines;
  int64_t line = 1;
  for (const Record& r : records) {
    lines.push_back(line);
    for (size_t i = 0; i < r.fields.size(); ++i) {
      if (i > 0) text += ',';
      const admin::CsvField& f = r.fields[i];
      if (!f.quoted) {
        text += f.text;
        continue;
      }
      text += '"';
      for (char c : f.text) {
        if (c == '"') text += '"';
        if (c == '\n') ++line;
        text += c;
      }
      text += '"';
    }
    text += "\r\n";
    ++line;
  }
  std::vector<Record> again;
  FUZZ_CHECK(ReadAll(text, again));
  FUZZ_CHECK(again.size() == records.size());
  for (size_t k = 0; k < records.size(); ++k) {
    FUZZ_CHECK(again[k].line == lines[k]);
    FUZZ_CHECK(again[k].fields.size() == records[k].fields.size());
    for (size_t i = 0; i < records[k].fields.size(); ++i) {
      FUZZ_CHECK(again[k].fields[i].text == records[k].fields[i].text);
      FUZZ_CHECK(again[k].fields[i].quoted == records[k].fields[i].quoted);
    }
  }
  return 0;
}
