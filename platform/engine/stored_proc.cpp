// Stored procedures: declared parameters, the input ones sent in order.
#include "platform/engine/engine.h"
#include "platform/engine/sql_text.h"
#include "platform/rtl/text.h"

namespace engine {

namespace {

std::string_view WithoutAt(std::string_view name) {
  if (!name.empty() && name.front() == '@') name.remove_prefix(1);
  return name;
}

// "QueryIntervals;1" names the procedure QueryIntervals.
std::string WithoutGroupSuffix(const std::string& name) {
  size_t semi = name.rfind(';');
  if (semi == std::string::npos) return name;
  for (size_t i = semi + 1; i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9') return name;
  }
  return name.substr(0, semi);
}

}  // namespace

void TStoredProc::DeclareParam(std::string name, FieldType type, bool is_result) {
  // The return value is never an input, whatever its declaration says.
  bool result = is_result || rtl::SameText(WithoutAt(name), "RETURN_VALUE");
  Params.Add(std::move(name), type);
  is_result_.resize(Params.Count() - 1, false);
  is_result_.push_back(result);
}

std::unique_ptr<Cursor> TStoredProc::OpenCursor(Connection& connection) {
  if (StoredProcName.empty()) throw EDatabaseError("No stored procedure name");
  std::vector<BoundParam> bound;
  for (size_t i = 0; i < Params.Count(); ++i) {
    if (i < is_result_.size() && is_result_[i]) continue;
    const TParam& p = Params[i];
    bound.push_back(BoundParam{std::string(WithoutAt(p.Name())), p.DataType(), p.value()});
  }
  return connection.CallProcedure(WithoutGroupSuffix(StoredProcName), bound);
}

}  // namespace engine
