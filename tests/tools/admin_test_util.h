// Helpers of the loader's tests: files to load and rows read back through
// the engine objects the server uses.
#ifndef HISTDATA_TESTS_TOOLS_ADMIN_TEST_UTIL_H_
#define HISTDATA_TESTS_TOOLS_ADMIN_TEST_UTIL_H_

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "platform/engine/engine.h"
#include "tests/support/store_fixture.h"

namespace admintest {

using Rows = std::vector<std::vector<std::string>>;

// Writes `content` to a file in the fixture's working folder.
inline std::string WriteFile(const histtest::StoreFixture& stores, const std::string& name,
                             const std::string& content) {
  const std::string path = stores.WorkDir() + "/" + name;
  std::ofstream out(path, std::ios::binary);
  out << content;
  return path;
}

// Every remaining row of an open dataset, each field as its text.
inline Rows ReadRows(engine::TDataSet& ds, const std::vector<std::string>& fields) {
  Rows rows;
  for (; !ds.Eof(); ds.Next()) {
    std::vector<std::string> row;
    for (const std::string& f : fields) row.push_back(ds.FieldByName(f).AsString());
    rows.push_back(row);
  }
  return rows;
}

// The rows of a statement on a store.
inline Rows Select(const std::string& alias, const std::string& sql,
                   const std::vector<std::string>& fields) {
  engine::TDatabase db;
  db.AliasName = alias;
  engine::TQuery query(&db);
  query.SetSQL(sql);
  query.Open();
  return ReadRows(query, fields);
}

// A day table's rows in SymbolTime order, from its first row.
inline Rows TickRows(const std::string& table) {
  engine::TDatabase db;
  db.AliasName = "HISTDATA";
  db.ReadOnly = true;
  engine::TTable t(&db);
  t.TableName = table;
  if (!t.Exists()) return {};
  t.Open();
  t.FindNearest("");
  return ReadRows(t, {"ID", "Date", "Time", "Symbol", "Bid", "Offer", "Price", "BidSize",
                      "Volume", "OfferSize"});
}

inline bool TickTableExists(const std::string& table) {
  engine::TDatabase db;
  db.AliasName = "HISTDATA";
  db.ReadOnly = true;
  engine::TTable t(&db);
  t.TableName = table;
  return t.Exists();
}

}  // namespace admintest

#endif  // HISTDATA_TESTS_TOOLS_ADMIN_TEST_UTIL_H_
