#include "platform/engine/postgres/pg_inserter.h"

#include "platform/engine/errors.h"
#include "platform/engine/postgres/pg_text.h"

namespace engine::pg {

CopyInserter::CopyInserter(Session& session, std::string copy_sql, std::vector<FieldType> types)
    : session_(session), sql_(std::move(copy_sql)), types_(std::move(types)) {}

CopyInserter::~CopyInserter() {
  if (session_.CopyActive(copy_)) session_.AbandonCopy();
}

void CopyInserter::Insert(const std::vector<Value>& row) {
  if (row.size() != types_.size()) {
    throw EDBEngineError("Insert of " + std::to_string(row.size()) + " values into " +
                         std::to_string(types_.size()) + " columns");
  }
  line_.clear();
  for (size_t i = 0; i < row.size(); ++i) {
    if (i > 0) line_.push_back('\t');
    const FieldType type = types_[i];
    if (!ParamText(type, row[i], text_)) {
      line_ += "\\N";
      continue;
    }
    // A time column takes the time of day of a date-time value.
    const bool time_value = type == FieldType::kTime && row[i].kind == Value::Kind::kFloat;
    for (size_t k = time_value ? text_.find(' ') + 1 : 0; k < text_.size(); ++k) {
      const char c = text_[k];
      switch (c) {
        case '\\': line_ += "\\\\"; break;
        case '\t': line_ += "\\t"; break;
        case '\n': line_ += "\\n"; break;
        case '\r': line_ += "\\r"; break;
        default: line_.push_back(c);
      }
    }
  }
  line_.push_back('\n');
  // Any other command ends a copy; the next row starts another.
  if (!session_.CopyActive(copy_)) copy_ = session_.Copy(sql_);
  session_.CopyData(line_);
}

}  // namespace engine::pg
