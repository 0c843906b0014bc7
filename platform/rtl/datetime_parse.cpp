// Reading times and dates typed by clients.
//
// The scanner is tolerant only of blanks: they may stand before any number,
// separator or AM/PM marker and after the whole text. Anything else left
// over fails, so that a malformed parameter is reported, not half-read.

#include "platform/rtl/datetime.h"

namespace rtl {

namespace {

class Scanner {
 public:
  explicit Scanner(std::string_view text) : text_(text) {}

  void SkipBlanks() {
    while (pos_ < text_.size() && text_[pos_] == ' ') ++pos_;
  }

  // Decimal digits after optional blanks. `digits` receives how many were
  // read. Stops before a value could overflow; the caller's range check
  // then fails on the leftover digits.
  bool Number(int& value, int& digits) {
    SkipBlanks();
    const size_t start = pos_;
    int v = 0;
    while (pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9' && v < 1000) {
      v = v * 10 + (text_[pos_] - '0');
      ++pos_;
    }
    if (pos_ == start) return false;
    digits = static_cast<int>(pos_ - start);
    value = v;
    return true;
  }

  bool Char(char c) {
    SkipBlanks();
    if (pos_ < text_.size() && text_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }

  // A word compared without regard to case.
  bool Word(std::string_view word) {
    SkipBlanks();
    if (text_.size() - pos_ < word.size()) return false;
    for (size_t i = 0; i < word.size(); ++i) {
      char c = text_[pos_ + i];
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
      if (c != word[i]) return false;
    }
    pos_ += word.size();
    return true;
  }

  bool AtEnd() {
    SkipBlanks();
    return pos_ == text_.size();
  }

 private:
  std::string_view text_;
  size_t pos_ = 0;
};

// -1 without a marker, 0 for AM, 12 for PM.
int ScanAmPm(Scanner& s) {
  if (s.Word("AM")) return 0;
  if (s.Word("PM")) return 12;
  return -1;
}

int CurrentYear() {
  return DecodeDateTime(Now()).year;
}

}  // namespace

bool TryStrToTime(std::string_view text, TDateTime& out) {
  Scanner s(text);
  int base_hour = ScanAmPm(s);
  int hour, min = 0, sec = 0, msec = 0, digits;
  if (!s.Number(hour, digits)) return false;
  // An hour alone is not a time: the minutes are required.
  if (!s.Char(':') || !s.Number(min, digits)) return false;
  if (s.Char(':')) {
    if (!s.Number(sec, digits)) return false;
    if (s.Char('.') && !s.Number(msec, digits)) return false;
  }
  if (base_hour < 0) base_hour = ScanAmPm(s);
  if (base_hour >= 0) {
    // 12-hour clock: 12 AM is midnight, 12 PM is noon.
    if (hour == 0 || hour > 12) return false;
    if (hour == 12) hour = 0;
    hour += base_hour;
  }
  if (!s.AtEnd()) return false;
  return TryEncodeTime(hour, min, sec, msec, out);
}

TDateTime StrToTime(std::string_view text) {
  TDateTime out;
  if (!TryStrToTime(text, out)) {
    throw EConvertError("'" + std::string(text) + "' is not a valid time");
  }
  return out;
}

bool TryStrToDate(std::string_view text, TDateTime& out) {
  Scanner s(text);
  int n1, n2, n3, l1, l2, l3;
  if (!s.Number(n1, l1) || !s.Char('/') || !s.Number(n2, l2)) return false;
  int year, month, day;
  if (s.Char('/')) {
    if (!s.Number(n3, l3)) return false;
    year = n1;
    month = n2;
    day = n3;
    if (l1 <= 2) {
      // A short year falls within the 100 years that start 50 years ago.
      const int century_base = CurrentYear() - 50;
      year += century_base / 100 * 100;
      if (year < century_base) year += 100;
    }
  } else {
    year = CurrentYear();
    month = n1;
    day = n2;
  }
  s.Char('/');  // a closing separator is allowed
  if (!s.AtEnd()) return false;
  return TryEncodeDate(year, month, day, out);
}

TDateTime StrToDate(std::string_view text) {
  TDateTime out;
  if (!TryStrToDate(text, out)) {
    throw EConvertError("'" + std::string(text) + "' is not a valid date");
  }
  return out;
}

}  // namespace rtl
