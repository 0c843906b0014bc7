// The database engine objects the request modules use: databases reached by
// alias, tick tables with a nearest-key search, parameterised queries and
// stored procedures, and the fields of their rows.
//
// The objects of one request module are used by one thread at a time; the
// alias registry and the connection pool below them are shared and locked.
#ifndef HISTDATA_PLATFORM_ENGINE_ENGINE_H_
#define HISTDATA_PLATFORM_ENGINE_ENGINE_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/engine/driver.h"
#include "platform/engine/errors.h"
#include "platform/engine/value.h"

namespace engine {

class TDatabase;
class ConnectionLease;  // engine/pool.h

// One column of the current row of an open dataset.
class TField {
 public:
  TField(std::string name, FieldType type) : name_(std::move(name)), type_(type) {}

  const std::string& FieldName() const { return name_; }
  FieldType DataType() const { return type_; }
  bool IsNull() const;
  // Text forms: floats in the shortest general form (up to 15 significant
  // digits), dates in the short date pattern, date-times with their time only
  // when it is not midnight, times as hh:nn:ss, integers in decimal, text
  // unchanged; null is empty. Reading a closed dataset raises EDatabaseError.
  std::string AsString() const;
  void AppendText(std::string& out) const;  // AsString, appended
  double AsFloat() const;                   // null is 0
  int32_t AsInteger() const;                // floats rounded half to even; null 0
  double AsDateTime() const;                // null 0
  // The stored text of a string field without a copy (empty for other
  // types and for null); for comparisons on the scan path.
  std::string_view AsStringView() const;

 private:
  friend class TDataSet;
  const Value& value() const;
  std::string name_;
  FieldType type_;
  const class TDataSet* owner_ = nullptr;
  size_t index_ = 0;
};

// The text form of `value` in a field of `type`, appended: what
// TField::AppendText gives for it.
void AppendFieldText(std::string& out, FieldType type, const Value& value);

// A parameter of a query or stored procedure. Never assigned means null.
class TParam {
 public:
  TParam(std::string name, FieldType type) : name_(std::move(name)), type_(type) {}
  const std::string& Name() const { return name_; }
  FieldType DataType() const { return type_; }
  void SetAsString(std::string_view v) { value_.SetText(v); }
  void SetAsInteger(int64_t v) { value_.SetInt(v); }
  void SetAsFloat(double v) { value_.SetFloat(v); }
  void SetAsDateTime(double v) { value_.SetFloat(v); }
  void Clear() { value_.SetNull(); }
  bool IsNull() const { return value_.is_null(); }
  const Value& value() const { return value_; }

 private:
  std::string name_;
  FieldType type_;
  Value value_;
};

// Parameters by name; names compare without regard to ASCII case.
class TParams {
 public:
  TParam& ParamByName(std::string_view name);  // "Parameter '%s' not found"
  TParam* FindParam(std::string_view name);
  TParam& Add(std::string name, FieldType type);
  size_t Count() const { return items_.size(); }
  TParam& operator[](size_t i) { return *items_[i]; }
  const TParam& operator[](size_t i) const { return *items_[i]; }
  void Clear() { items_.clear(); }

 private:
  std::vector<std::unique_ptr<TParam>> items_;
};

// Base of tables, queries and stored procedures: an open/closed cursor over
// rows with fields by name.
class TDataSet {
 public:
  explicit TDataSet(TDatabase* database = nullptr);
  virtual ~TDataSet();
  TDataSet(const TDataSet&) = delete;
  TDataSet& operator=(const TDataSet&) = delete;

  // Binds the dataset to a database (it registers with it, so that closing
  // the database closes the dataset).
  void SetDatabase(TDatabase* database);
  TDatabase* Database() const { return database_; }

  // Opening connects the database when it is closed.
  void Open();
  void Close();
  bool Active() const { return active_; }
  // Past the last row. Raises on a closed dataset.
  bool Eof();
  void Next();
  TField& FieldByName(std::string_view name);  // "Field '%s' not found"
  TField* FindField(std::string_view name);
  size_t FieldCount() const { return fields_.size(); }

 protected:
  // Makes the cursor of an Open(); the connection is the database's.
  virtual std::unique_ptr<Cursor> OpenCursor(Connection& connection) = 0;
  // Replaces the cursor of an open dataset (a new search) and reads its
  // first row.
  void ResetCursor(std::unique_ptr<Cursor> cursor);
  Connection& OpenConnection();
  void CheckActive() const;
  // Runs a call into the store, counting a failure it reports against the
  // database's alias before passing it on.
  template <class F>
  auto Counted(F&& call) -> decltype(call()) {
    try {
      return call();
    } catch (const EDBEngineError&) {
      CountStoreError();
      throw;
    }
  }
  void CountStoreError() const noexcept;

 private:
  friend class TField;
  void Fetch();
  void Settle();  // reads the first row when it has not been read yet
  void BindFields(const std::vector<Column>& columns);
  TDatabase* database_ = nullptr;
  bool active_ = false;
  bool eof_ = true;
  bool pending_ = false;  // the first row of the cursor is still unread
  std::unique_ptr<Cursor> cursor_;
  std::vector<Value> row_;
  std::vector<Value> spare_;  // the row being read; row_ stays whole at the end
  std::vector<std::unique_ptr<TField>> fields_;
  // Fields of an earlier open whose column is gone: kept so that a pointer a
  // caller holds stays valid (reading one raises "Field '%s' not found").
  std::vector<std::unique_ptr<TField>> retired_fields_;
};

// A per-day tick table read through its SymbolTime index.
class TTable : public TDataSet {
 public:
  using TDataSet::TDataSet;
  std::string TableName;

  // Presence of the table named TableName in the database, without opening.
  bool Exists();
  // Names of every day table ("hist" and six digits) of the database.
  std::vector<std::string> DayTableNames();
  // Nearest-key search on an open table: positions on the first row whose
  // key is at or after (symbol) or (symbol, time), or past the last row.
  // Never fails for want of a row.
  void FindNearest(std::string_view symbol);
  void FindNearest(std::string_view symbol, double time);
  // On an open table, positions on the last row that a forward scan from
  // FindNearest(symbol) would keep if it kept rows while their Symbol is
  // `symbol` exactly and their Time is before `before` (any Time when
  // `bounded` is false), or past the last row when it would keep none,
  // without reading the rows before it; Next() then goes past the last row.
  // False, and the position unchanged, when the store cannot find it that
  // way (another spelling of the symbol shares its rows); the caller then
  // scans forward.
  bool FindLast(std::string_view symbol, bool bounded, double before);
  // Where the store reads several day tables in one request (PostgreSQL),
  // FindLast(symbol, ...) on each table that `planner` plans from the
  // store's day tables (Connection::SeekLastTicks), at once; the number of
  // tables planned. -1, with nothing done, where it does not: the caller
  // then searches table by table.
  int FindLastOfTables(std::string_view symbol, const LastTickPlanner& planner);
  // Names the table after the `probe`th table of the last FindLastOfTables
  // and opens it as FindLast on it would leave it, with its result; used
  // once per table.
  bool OpenFoundLast(size_t probe);
  // Row count of the open table, counting no further than `limit`.
  int64_t RecordCount(int64_t limit = INT64_MAX);
  // The pack (engine/tick_pack.h) of `symbol`'s key in the table named
  // TableName, into `bytes`, without opening the table; false when the key
  // has none. The bytes are as stored: the caller checks them.
  bool ReadPack(std::string_view symbol, std::string& bytes);

 protected:
  std::unique_ptr<Cursor> OpenCursor(Connection& connection) override;

 private:
  // What the last FindLastOfTables found: each table and its cursor.
  std::vector<std::string> last_tables_;
  std::vector<std::unique_ptr<Cursor>> last_cursors_;
  // The name Exists() has just found, so that the Open() following it does
  // not ask the store again; used once.
  std::string found_;
};

// A statement with named ":parameters".
class TQuery : public TDataSet {
 public:
  using TDataSet::TDataSet;
  // Setting the statement parses its parameters again; a parameter of the
  // same name keeps its value.
  void SetSQL(std::string_view text);
  void ClearSQL() { SetSQL(""); }
  const std::string& SQL() const { return sql_; }
  // The statement as comma text: a line holding blanks, commas or quotes is
  // enclosed in double quotes (inner quotes doubled); lines joined by ",".
  std::string SQLCommaText() const;
  TParams Params;
  TParam& ParamByName(std::string_view name) { return Params.ParamByName(name); }

 protected:
  std::unique_ptr<Cursor> OpenCursor(Connection& connection) override;

 private:
  std::string sql_;
  Statement statement_;
  std::vector<size_t> param_slots_;  // which Params entry fills each placeholder
};

// A stored procedure with declared parameters ("@Name"; a result parameter
// such as "@RETURN_VALUE" or "RETURN_VALUE" is declared but never sent).
class TStoredProc : public TDataSet {
 public:
  using TDataSet::TDataSet;
  std::string StoredProcName;  // with its group suffix, "QueryIntervals;1"
  TParams Params;
  TParam& ParamByName(std::string_view name) { return Params.ParamByName(name); }
  // Declares a parameter; result parameters are not sent to the store.
  void DeclareParam(std::string name, FieldType type, bool is_result = false);

 protected:
  std::unique_ptr<Cursor> OpenCursor(Connection& connection) override;

 private:
  std::vector<bool> is_result_;
};

// A database reached by alias. Closing it closes its datasets and gives the
// physical connection back to the pool; opening a dataset reconnects it.
class TDatabase {
 public:
  TDatabase();
  ~TDatabase();
  TDatabase(const TDatabase&) = delete;
  TDatabase& operator=(const TDatabase&) = delete;

  std::string AliasName;
  std::string DatabaseName;
  std::string SessionName;
  // Login parameters as "NAME=value" lines: "USER NAME", "PASSWORD".
  std::vector<std::string> Params;
  bool KeepConnection = true;
  bool ReadOnly = false;

  void Open();  // EDBEngineError when the store cannot be reached
  void Close();
  bool Connected() const;
  Connection& connection();  // opens on demand

 private:
  friend class TDataSet;
  const std::string& Alias() const { return AliasName.empty() ? DatabaseName : AliasName; }
  void Attach(TDataSet* ds);
  void Detach(TDataSet* ds);
  std::unique_ptr<ConnectionLease> lease_;
  std::vector<TDataSet*> datasets_;
};

// Session names. A module's session is named after its component, "_" and the
// lowest number from 1 that no other automatically named session holds.
std::string AutoSessionName(std::string_view component);
// Gives an automatically taken name back (a module destroyed at unload).
void ReleaseSessionName(const std::string& name);
// The calling thread's current session name (at most 32 characters kept).
void SetCurrentSessionName(std::string_view name);
const std::string& CurrentSessionName();

}  // namespace engine

#endif  // HISTDATA_PLATFORM_ENGINE_ENGINE_H_
