#include "tools/csv_reader.h"

namespace admin {
namespace {

constexpr int kEof = std::char_traits<char>::eof();

}  // namespace

int CsvReader::Peek() {
  if (pending_pos_ < pending_.size()) return static_cast<unsigned char>(pending_[pending_pos_]);
  return in_.sgetc();
}

int CsvReader::Get() {
  if (pending_pos_ < pending_.size()) return static_cast<unsigned char>(pending_[pending_pos_++]);
  const int c = in_.sbumpc();
  // The end of the input is no byte: progress never passes the size.
  if (c != kEof) ++bytes_;
  return c;
}

bool CsvReader::Next(std::vector<CsvField>& fields) {
  if (!started_) {
    started_ = true;
    // A byte order mark some editors write in front of the header. Bytes
    // that only begin like one are read again as data.
    static const char kBom[] = "\xEF\xBB\xBF";
    for (int i = 0; i < 3 && in_.sgetc() == static_cast<unsigned char>(kBom[i]); ++i) {
      pending_ += static_cast<char>(in_.sbumpc());
      ++bytes_;
    }
    if (pending_.size() == 3) pending_.clear();
  }

  for (;;) {
    fields.clear();
    record_line_ = line_;
    if (Peek() == kEof) return false;
    fields.emplace_back();
    for (;;) {
      // At the start of a field.
      if (Peek() == '"') {
        Get();
        CsvField& field = fields.back();
        field.quoted = true;
        for (;;) {
          int c = Get();
          if (c == kEof) throw CsvError(record_line_, "unterminated quoted field");
          if (c == '"') {
            if (Peek() == '"') {
              Get();
            } else {
              break;
            }
          } else if (c == '\n') {
            ++line_;
          } else if (c == 0) {
            throw CsvError(record_line_, "binary data (NUL byte)");
          }
          if (field.text.size() >= kMaxFieldBytes)
            throw CsvError(record_line_, "field longer than " + std::to_string(kMaxFieldBytes) +
                                             " bytes");
          field.text += static_cast<char>(c);
        }
        int c = Peek();
        if (c != ',' && c != '\r' && c != '\n' && c != kEof)
          throw CsvError(record_line_, "unexpected character after a closing quote");
      } else {
        CsvField& field = fields.back();
        for (;;) {
          int c = Peek();
          if (c == ',' || c == '\r' || c == '\n' || c == kEof) break;
          Get();
          if (c == '"') throw CsvError(record_line_, "quote inside an unquoted field");
          if (c == 0) throw CsvError(record_line_, "binary data (NUL byte)");
          if (field.text.size() >= kMaxFieldBytes)
            throw CsvError(record_line_, "field longer than " + std::to_string(kMaxFieldBytes) +
                                             " bytes");
          field.text += static_cast<char>(c);
        }
      }
      // After a field: a comma starts the next, anything else ends the record.
      int c = Get();
      if (c == ',') {
        if (fields.size() >= kMaxFields)
          throw CsvError(record_line_, "more than " + std::to_string(kMaxFields) + " fields");
        fields.emplace_back();
        continue;
      }
      if (c == '\r' && Peek() == '\n') Get();
      if (c != kEof) ++line_;
      break;
    }
    const bool blank = fields.size() == 1 && !fields[0].quoted && fields[0].text.empty();
    if (!blank) return true;
  }
}

}  // namespace admin
