// Fields read the current row of their dataset in place: no copy per row.
#include <charconv>
#include <cmath>
#include <limits>

#include "platform/engine/engine.h"
#include "platform/rtl/datetime.h"
#include "platform/rtl/numbers.h"

namespace engine {

namespace {

bool IsDateType(FieldType t) {
  return t == FieldType::kDate || t == FieldType::kTime || t == FieldType::kDateTime;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool ParseFloat(std::string_view text, double& out) {
  text = Trim(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return false;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return ec == std::errc() && end == text.data() + text.size() && std::isfinite(out);
}

// "yyyy/m/d", "h:n[:s[.z]]" or both separated by a blank.
bool ParseDateTime(std::string_view text, double& out) {
  text = Trim(text);
  size_t blank = text.find(' ');
  double date = 0, time = 0;
  if (blank != std::string_view::npos) {
    if (!rtl::TryStrToDate(text.substr(0, blank), date)) return false;
    if (!rtl::TryStrToTime(text.substr(blank + 1), time)) return false;
    out = date + time;
    return true;
  }
  if (text.find(':') != std::string_view::npos) return rtl::TryStrToTime(text, out);
  return rtl::TryStrToDate(text, out);
}

int32_t SaturateInt32(int64_t v) {
  if (v > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (v < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(v);
}

void AppendDateText(std::string& out, FieldType type, double v) {
  switch (type) {
    // Appended in place: a tick line carries a date per row.
    case FieldType::kDate: rtl::AppendDateTime(out, rtl::kShortDatePattern, v); break;
    case FieldType::kTime: rtl::AppendDateTime(out, rtl::kLongTimePattern, v); break;
    default: out += rtl::DateTimeToStr(v); break;
  }
}

// A null, whole or float value as a double; false for text, which each
// reader parses in its own form.
bool NumberOf(const Value& v, double& out) {
  switch (v.kind) {
    case Value::Kind::kNull: out = 0; return true;
    case Value::Kind::kInteger: out = static_cast<double>(v.i); return true;
    case Value::Kind::kFloat: out = v.d; return true;
    case Value::Kind::kText: break;
  }
  return false;
}

}  // namespace

const Value& TField::value() const {
  if (owner_ == nullptr || !owner_->active_) throw EDatabaseError(kClosedDatasetMessage);
  if (index_ >= owner_->row_.size()) throw EDatabaseError("Field '" + name_ + "' not found");
  // Reading a field settles the dataset's deferred first row.
  const_cast<TDataSet*>(owner_)->Settle();
  return owner_->row_[index_];
}

bool TField::IsNull() const { return value().is_null(); }

std::string TField::AsString() const {
  std::string out;
  AppendText(out);
  return out;
}

void AppendFieldText(std::string& out, FieldType type, const Value& v) {
  switch (v.kind) {
    case Value::Kind::kNull:
      return;
    case Value::Kind::kText:
      out += v.s;
      return;
    case Value::Kind::kInteger:
      if (IsDateType(type)) {
        AppendDateText(out, type, static_cast<double>(v.i));
      } else {
        rtl::AppendInt(out, v.i);
      }
      return;
    case Value::Kind::kFloat:
      if (IsDateType(type)) {
        AppendDateText(out, type, v.d);
      } else {
        rtl::AppendFloat(out, v.d);
      }
      return;
  }
}

void TField::AppendText(std::string& out) const { AppendFieldText(out, type_, value()); }

double TField::AsFloat() const {
  const Value& v = value();
  double d = 0;
  if (NumberOf(v, d)) return d;
  if (Trim(v.s).empty()) return 0;
  if (!ParseFloat(v.s, d)) throw EDatabaseError("'" + v.s + "' is not a valid floating point value");
  return d;
}

int32_t TField::AsInteger() const {
  const Value& v = value();
  switch (v.kind) {
    case Value::Kind::kNull: return 0;
    case Value::Kind::kInteger: return SaturateInt32(v.i);
    case Value::Kind::kFloat: return rtl::RoundHalfEven(v.d);
    case Value::Kind::kText: break;
  }
  if (Trim(v.s).empty()) return 0;
  int32_t i = 0;
  if (rtl::TryStrToInt(v.s, i)) return i;
  double d = 0;
  if (ParseFloat(v.s, d)) return rtl::RoundHalfEven(d);
  throw EDatabaseError("'" + v.s + "' is not a valid integer value");
}

double TField::AsDateTime() const {
  const Value& v = value();
  double d = 0;
  if (NumberOf(v, d)) return d;
  if (Trim(v.s).empty()) return 0;
  if (ParseDateTime(v.s, d)) return d;
  throw EDatabaseError("'" + v.s + "' is not a valid date and time");
}

std::string_view TField::AsStringView() const {
  const Value& v = value();
  return v.kind == Value::Kind::kText ? std::string_view(v.s) : std::string_view();
}

}  // namespace engine
