// Databases: an alias, login parameters and a pooled connection.
#include <algorithm>

#include "platform/engine/aliases.h"
#include "platform/engine/engine.h"
#include "platform/engine/pool.h"
#include "platform/engine/sql_text.h"
#include "platform/engine/store_errors.h"
#include "platform/rtl/text.h"

namespace engine {

namespace {

// The value of "NAME=value" in the login parameters; names ignore case.
std::string LoginValue(const std::vector<std::string>& params, std::string_view name) {
  for (const std::string& line : params) {
    size_t eq = line.find('=');
    if (eq != std::string::npos && rtl::SameText(std::string_view(line).substr(0, eq), name)) {
      return line.substr(eq + 1);
    }
  }
  return "";
}

}  // namespace

TDatabase::TDatabase() = default;

TDatabase::~TDatabase() {
  Close();
  std::vector<TDataSet*> datasets = datasets_;
  for (TDataSet* ds : datasets) ds->SetDatabase(nullptr);
}

void TDatabase::Open() {
  if (lease_) return;
  const std::string& alias = Alias();
  AliasTarget target = ResolveAlias(alias);
  Credentials credentials{LoginValue(Params, "USER NAME"), LoginValue(Params, "PASSWORD")};
  try {
    lease_ = AcquireConnection(target, credentials);
  } catch (const EDBEngineError&) {
    StoreErrorCounter(alias, target.driver).Add();
    throw;
  }
}

void TDatabase::Close() {
  if (!lease_) return;
  std::vector<TDataSet*> datasets = datasets_;
  for (TDataSet* ds : datasets) ds->Close();
  lease_.reset();
}

bool TDatabase::Connected() const { return lease_ != nullptr; }

Connection& TDatabase::connection() {
  Open();
  return lease_->connection();
}

void TDatabase::Attach(TDataSet* ds) { datasets_.push_back(ds); }

void TDatabase::Detach(TDataSet* ds) {
  datasets_.erase(std::remove(datasets_.begin(), datasets_.end(), ds), datasets_.end());
}

}  // namespace engine
