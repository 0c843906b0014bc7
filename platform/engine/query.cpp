// Statements with named parameters.
#include "platform/engine/engine.h"
#include "platform/engine/sql_text.h"
#include "platform/rtl/text.h"

namespace engine {

namespace {

void CopyValue(const TParam& from, TParam& to) {
  const Value& v = from.value();
  switch (v.kind) {
    case Value::Kind::kNull: to.Clear(); break;
    case Value::Kind::kInteger: to.SetAsInteger(v.i); break;
    case Value::Kind::kFloat: to.SetAsFloat(v.d); break;
    case Value::Kind::kText: to.SetAsString(v.s); break;
  }
}

// A line needs quotes when it holds a control character, a blank, a comma
// or a double quote.
bool NeedsQuotes(std::string_view line) {
  for (char c : line) {
    if (static_cast<unsigned char>(c) <= ' ' || c == ',' || c == '"') return true;
  }
  return false;
}

// Lines split at CR, LF or CR LF; a final line break ends the last line
// rather than starting an empty one.
std::vector<std::string_view> SplitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
    if (text[end] == '\r' && start < text.size() && text[start] == '\n') ++start;
  }
  return lines;
}

}  // namespace

void TQuery::SetSQL(std::string_view text) {
  Close();
  ParsedStatement parsed = ParseNamedParameters(text);
  TParams params;
  param_slots_.clear();
  for (const std::string& name : parsed.names) {
    size_t slot = 0;
    while (slot < params.Count() && !rtl::SameText(params[slot].Name(), name)) ++slot;
    if (slot == params.Count()) {
      TParam* old = Params.FindParam(name);
      TParam& added = params.Add(name, old != nullptr ? old->DataType() : FieldType::kUnknown);
      if (old != nullptr) CopyValue(*old, added);
    }
    param_slots_.push_back(slot);
  }
  Params = std::move(params);
  statement_ = std::move(parsed.statement);
  sql_.assign(text);
}

std::string TQuery::SQLCommaText() const {
  std::vector<std::string_view> lines = SplitLines(sql_);
  // A lone empty line must still show as a value.
  if (lines.size() == 1 && lines[0].empty()) return "\"\"";
  std::string out;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (i > 0) out += ',';
    if (!NeedsQuotes(lines[i])) {
      out += lines[i];
      continue;
    }
    out += '"';
    for (char c : lines[i]) {
      if (c == '"') out += '"';
      out += c;
    }
    out += '"';
  }
  return out;
}

std::unique_ptr<Cursor> TQuery::OpenCursor(Connection& connection) {
  if (sql_.empty()) throw EDatabaseError("No SQL statement available");
  std::vector<BoundParam> bound;
  bound.reserve(param_slots_.size());
  for (size_t slot : param_slots_) {
    const TParam& p = Params[slot];
    bound.push_back(BoundParam{p.Name(), p.DataType(), p.value()});
  }
  return connection.Query(statement_, bound);
}

}  // namespace engine
