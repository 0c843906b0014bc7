// The cursor of an open dataset and the fields over its current row.
//
// Two row buffers alternate: the cursor reads into the spare one, which is
// swapped in only when a row came, so that at the end the fields still show
// the last row read. Their strings are reused from row to row.
#include "platform/engine/engine.h"
#include "platform/engine/sql_text.h"
#include "platform/engine/store_errors.h"
#include "platform/rtl/text.h"

namespace engine {

namespace {

constexpr size_t kNoColumn = static_cast<size_t>(-1);

void NullRow(std::vector<Value>& row, size_t size) {
  row.resize(size);
  for (Value& v : row) v.SetNull();
}

}  // namespace

TDataSet::TDataSet(TDatabase* database) { SetDatabase(database); }

TDataSet::~TDataSet() {
  Close();
  if (database_ != nullptr) database_->Detach(this);
}

void TDataSet::SetDatabase(TDatabase* database) {
  if (database == database_) return;
  Close();
  if (database_ != nullptr) database_->Detach(this);
  database_ = database;
  if (database_ != nullptr) database_->Attach(this);
}

Connection& TDataSet::OpenConnection() {
  if (database_ == nullptr) throw EDatabaseError("Dataset has no database");
  return database_->connection();
}

void TDataSet::CountStoreError() const noexcept {
  if (database_ != nullptr) engine::CountStoreError(database_->Alias());
}

void TDataSet::CheckActive() const {
  if (!active_) throw EDatabaseError(kClosedDatasetMessage);
}

void TDataSet::Open() {
  if (active_) return;
  Connection& connection = OpenConnection();
  std::unique_ptr<Cursor> cursor = Counted([&] { return OpenCursor(connection); });
  BindFields(cursor->columns());
  cursor_ = std::move(cursor);
  NullRow(row_, fields_.size());
  NullRow(spare_, fields_.size());
  active_ = true;
  eof_ = false;
  pending_ = true;
}

void TDataSet::Close() {
  if (!active_) return;
  cursor_.reset();
  active_ = false;
  eof_ = true;
  pending_ = false;
  // A database that does not keep its connection lets it go with its last
  // open dataset.
  if (database_ != nullptr && !database_->KeepConnection && database_->Connected()) {
    for (TDataSet* ds : database_->datasets_) {
      if (ds->active_) return;
    }
    database_->Close();
  }
}

void TDataSet::BindFields(const std::vector<Column>& columns) {
  std::vector<std::unique_ptr<TField>> fields;
  fields.reserve(columns.size());
  for (size_t i = 0; i < columns.size(); ++i) {
    std::unique_ptr<TField> field;
    for (auto& old : fields_) {
      if (old && old->type_ == columns[i].type && rtl::SameText(old->name_, columns[i].name)) {
        field = std::move(old);
        break;
      }
    }
    if (!field) field = std::make_unique<TField>(columns[i].name, columns[i].type);
    field->name_ = columns[i].name;
    field->owner_ = this;
    field->index_ = i;
    fields.push_back(std::move(field));
  }
  for (auto& old : fields_) {
    if (!old) continue;
    old->index_ = kNoColumn;
    retired_fields_.push_back(std::move(old));
  }
  fields_ = std::move(fields);
}

void TDataSet::Fetch() {
  pending_ = false;
  if (Counted([&] { return cursor_->Next(spare_); })) {
    row_.swap(spare_);
    eof_ = false;
  } else {
    eof_ = true;
  }
}

void TDataSet::Settle() {
  if (pending_) Fetch();
}

void TDataSet::ResetCursor(std::unique_ptr<Cursor> cursor) {
  CheckActive();
  cursor_ = std::move(cursor);
  NullRow(row_, fields_.size());
  Fetch();
}

bool TDataSet::Eof() {
  CheckActive();
  Settle();
  return eof_;
}

void TDataSet::Next() {
  CheckActive();
  Settle();
  if (!eof_) Fetch();
}

TField* TDataSet::FindField(std::string_view name) {
  for (auto& f : fields_) {
    if (rtl::SameText(f->FieldName(), name)) return f.get();
  }
  return nullptr;
}

TField& TDataSet::FieldByName(std::string_view name) {
  TField* f = FindField(name);
  if (f != nullptr) return *f;
  // A dataset never opened has no fields yet: the fault is that it is closed.
  if (!active_ && fields_.empty()) throw EDatabaseError(kClosedDatasetMessage);
  throw EDatabaseError("Field '" + std::string(name) + "' not found");
}

}  // namespace engine
