#include "tools/feed_lines.h"

#include "platform/engine/day_tables.h"
#include "platform/rtl/datetime.h"
#include "platform/rtl/text.h"
#include "tools/csv_values.h"

namespace admin {
namespace {

constexpr const char* kColumns[] = {"date",  "time",    "symbol", "bid",      "offer",
                                    "price", "bidsize", "volume", "offersize"};
constexpr int kColumnCount = 9;

size_t Utf8Length(std::string_view s) {
  size_t n = 0;
  for (unsigned char c : s)
    if ((c & 0xC0) != 0x80) ++n;
  return n;
}

int ColumnOf(std::string_view name) {
  const std::string folded = rtl::LowerAscii(TrimBlanks(name));
  for (int c = 0; c < kColumnCount; ++c)
    if (folded == kColumns[c]) return c;
  return -1;
}

}  // namespace

TickLineParser::TickLineParser() {
  for (int c = 0; c < kColumnCount; ++c) slot_of_field_.push_back(c);
}

TickLineParser::Kind TickLineParser::Parse(std::string_view line, engine::TickRecord& tick,
                                           std::string& reason) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  // A byte order mark may start a file.
  if (line.substr(0, 3) == "\xEF\xBB\xBF") line.remove_prefix(3);
  if (TrimBlanks(line).empty()) return Kind::kBlank;
  if (!Split(line, reason)) return Kind::kBad;
  if (ColumnOf(fields_[0]) >= 0) return ReadHeader(reason) ? Kind::kHeader : Kind::kBad;
  if (fields_.size() != slot_of_field_.size()) {
    reason = "expected " + std::to_string(slot_of_field_.size()) + " fields, found " +
             std::to_string(fields_.size());
    return Kind::kBad;
  }
  return Convert(tick, reason) ? Kind::kTick : Kind::kBad;
}

// RFC 4180 fields of one line; a tick never spans lines.
bool TickLineParser::Split(std::string_view line, std::string& reason) {
  fields_.clear();
  size_t i = 0;
  for (;;) {
    std::string field;
    if (i < line.size() && line[i] == '"') {
      ++i;
      for (;;) {
        if (i >= line.size()) {
          reason = "unterminated quoted field";
          return false;
        }
        if (line[i] == '"') {
          if (i + 1 < line.size() && line[i + 1] == '"') {
            field += '"';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        field += line[i++];
      }
      if (i < line.size() && line[i] != ',') {
        reason = "text after a closing quote";
        return false;
      }
    } else {
      const size_t end = line.find(',', i);
      const std::string_view text = line.substr(i, end == std::string_view::npos ? end : end - i);
      if (text.find('"') != std::string_view::npos) {
        reason = "quote inside an unquoted field";
        return false;
      }
      if (text.find('\0') != std::string_view::npos) {
        reason = "NUL byte (binary data)";
        return false;
      }
      field.assign(text);
      i += text.size();
    }
    fields_.push_back(std::move(field));
    if (fields_.size() > 64) {
      reason = "too many fields";
      return false;
    }
    if (i >= line.size()) return true;
    ++i;  // the comma
  }
}

bool TickLineParser::ReadHeader(std::string& reason) {
  std::vector<int> slots;
  std::vector<bool> seen(kColumnCount, false);
  for (const std::string& f : fields_) {
    const int c = ColumnOf(f);
    if (c < 0) {
      reason = "unknown column " + ShownText(f) + " for ticks";
      return false;
    }
    if (seen[c]) {
      reason = "column " + ShownText(f) + " given twice";
      return false;
    }
    seen[c] = true;
    slots.push_back(c);
  }
  for (int c = 0; c < kColumnCount; ++c) {
    if (!seen[c]) {
      reason = std::string("missing column ") + kColumns[c];
      return false;
    }
  }
  slot_of_field_ = std::move(slots);
  return true;
}

bool TickLineParser::Convert(engine::TickRecord& tick, std::string& reason) {
  tick = engine::TickRecord{};
  bool have_day = false, have_time = false;
  for (size_t f = 0; f < fields_.size(); ++f) {
    const std::string_view text = TrimBlanks(fields_[f]);
    const int c = slot_of_field_[f];
    if (c == 0) {
      if (text.empty()) {
        reason = "missing Date";
        return false;
      }
      if (!ParseDate(text, tick.day)) {
        reason = "bad date in column Date: " + ShownText(text) + " (expected yyyy-mm-dd)";
        return false;
      }
      have_day = true;
    } else if (c == 1) {
      int32_t ms = 0;
      if (text.empty()) {
        reason = "missing Time";
        return false;
      }
      if (!ParseTime(text, ms)) {
        reason = "bad time in column Time: " + ShownText(text) + " (expected hh:nn:ss or hh:nn:ss.zzz)";
        return false;
      }
      tick.time = ToDateTime(0, ms);
      have_time = true;
    } else if (c == 2) {
      if (fields_[f].empty()) {
        reason = "missing Symbol";
        return false;
      }
      if (Utf8Length(fields_[f]) > 15) {
        reason = "Symbol longer than 15 characters: " + ShownText(fields_[f]);
        return false;
      }
      tick.symbol = fields_[f];
    } else {
      const int k = c - 3;
      if (text.empty()) {
        tick.null_mask |= static_cast<uint8_t>(1u << k);
      } else if (!ParseNumber(text, tick.numbers[k])) {
        reason = std::string("bad number in column ") + kColumns[c] + ": " + ShownText(text);
        return false;
      }
    }
  }
  if (!have_day || !have_time) {
    reason = "missing Date or Time";
    return false;
  }
  if (tick.day == last_day_) return true;
  // Days a century apart share a day table; the first one met keeps it.
  const int32_t table_key = static_cast<int32_t>(
      std::stoi(engine::DayTableName(tick.day).substr(4)));
  auto [it, added] = day_of_table_.emplace(table_key, tick.day);
  if (!added && it->second != tick.day) {
    reason = "date " + rtl::FormatDateTime("yyyy-mm-dd", tick.day) + " shares the day table " +
             engine::DayTableName(tick.day) + " with " + rtl::FormatDateTime("yyyy-mm-dd", it->second);
    return false;
  }
  last_day_ = tick.day;
  return true;
}

}  // namespace admin
