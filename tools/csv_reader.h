// CsvReader: the records of a CSV file (RFC 4180: fields separated by commas,
// records by CR LF or LF, fields in double quotes may hold commas, line
// breaks and doubled quotes). Bytes pass through unchanged, so UTF-8 text
// stays as it was written.
//
// Malformed input raises CsvError with the line where the record starts:
// an unterminated quoted field, a quote inside an unquoted field, text after
// a closing quote, a NUL byte (binary data), a field or record too long.
#ifndef HISTDATA_TOOLS_CSV_READER_H_
#define HISTDATA_TOOLS_CSV_READER_H_

#include <cstdint>
#include <istream>
#include <stdexcept>
#include <string>
#include <vector>

namespace admin {

class CsvError : public std::runtime_error {
 public:
  CsvError(int64_t line, const std::string& reason) : std::runtime_error(reason), line_(line) {}
  int64_t line() const { return line_; }

 private:
  int64_t line_;
};

struct CsvField {
  std::string text;
  bool quoted = false;  // written in quotes: "" is an empty text, not a missing value
};

class CsvReader {
 public:
  // Longest field and most fields per record accepted.
  static constexpr size_t kMaxFieldBytes = 64 * 1024;
  static constexpr size_t kMaxFields = 1024;

  explicit CsvReader(std::istream& in) : in_(*in.rdbuf()) {}

  // Reads the next record into `fields`; false at the end of the input.
  // Blank lines are skipped. A UTF-8 byte order mark before the first
  // record is dropped.
  bool Next(std::vector<CsvField>& fields);
  // The line on which the last record read starts (the first line is 1).
  int64_t line() const { return record_line_; }
  // Bytes taken from the stream so far.
  int64_t bytes() const { return bytes_; }

 private:
  int Peek();
  int Get();
  std::streambuf& in_;
  std::string pending_;  // bytes read ahead at the start, read again first
  size_t pending_pos_ = 0;
  int64_t line_ = 1;
  int64_t record_line_ = 0;
  int64_t bytes_ = 0;
  bool started_ = false;
};

}  // namespace admin

#endif  // HISTDATA_TOOLS_CSV_READER_H_
