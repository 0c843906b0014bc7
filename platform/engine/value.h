// One value as it travels between the engine and its drivers.
#ifndef HISTDATA_PLATFORM_ENGINE_VALUE_H_
#define HISTDATA_PLATFORM_ENGINE_VALUE_H_

#include <cstdint>
#include <string>

namespace engine {

// Declared type of a column or parameter. Date, Time and DateTime values are
// date-time values (days since 1899-12-30 as a double).
enum class FieldType { kUnknown, kString, kInteger, kFloat, kDate, kTime, kDateTime };

struct Value {
  enum class Kind { kNull, kInteger, kFloat, kText };
  Kind kind = Kind::kNull;
  int64_t i = 0;
  double d = 0;     // kFloat, and every date/time type
  std::string s;    // kText

  bool is_null() const { return kind == Kind::kNull; }
  void SetNull() { kind = Kind::kNull; }
  void SetInt(int64_t v) { kind = Kind::kInteger; i = v; }
  void SetFloat(double v) { kind = Kind::kFloat; d = v; }
  void SetText(std::string_view v) { kind = Kind::kText; s.assign(v); }

  static Value Null() { return {}; }
  static Value Int(int64_t v) { Value x; x.SetInt(v); return x; }
  static Value Float(double v) { Value x; x.SetFloat(v); return x; }
  static Value Text(std::string_view v) { Value x; x.SetText(v); return x; }
};

}  // namespace engine

#endif  // HISTDATA_PLATFORM_ENGINE_VALUE_H_
