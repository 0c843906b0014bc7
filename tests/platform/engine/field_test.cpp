// Fields over rows of known types and values, read from a cursor of the
// test's own: the text forms, the conversions and the row buffer rules.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "platform/engine/engine.h"
#include "platform/rtl/datetime.h"
#include "tests/platform/engine/scratch_store.h"

namespace {

using engine::Column;
using engine::EDatabaseError;
using engine::FieldType;
using engine::Value;

class VectorCursor : public engine::Cursor {
 public:
  VectorCursor(std::vector<Column> columns, std::vector<std::vector<Value>> rows)
      : columns_(std::move(columns)), rows_(std::move(rows)) {}
  const std::vector<Column>& columns() const override { return columns_; }
  bool Next(std::vector<Value>& row) override {
    if (next_ >= rows_.size()) return false;
    row = rows_[next_++];
    return true;
  }

 private:
  std::vector<Column> columns_;
  std::vector<std::vector<Value>> rows_;
  size_t next_ = 0;
};

class RowsDataSet : public engine::TDataSet {
 public:
  using TDataSet::TDataSet;
  std::vector<Column> columns;
  std::vector<std::vector<Value>> rows;
  int opens = 0;

 protected:
  std::unique_ptr<engine::Cursor> OpenCursor(engine::Connection&) override {
    ++opens;
    return std::make_unique<VectorCursor>(columns, rows);
  }
};

class FieldTest : public ::testing::Test {
 protected:
  FieldTest() { db.AliasName = "scratch"; }

  // One row of one column.
  engine::TField& One(FieldType type, Value v) {
    ds.Close();
    ds.columns = {{"F", type}};
    ds.rows = {{v}};
    ds.Open();
    return ds.FieldByName("F");
  }

  enginetest::ScratchStore store;
  engine::TDatabase db;
  RowsDataSet ds{&db};
};

TEST_F(FieldTest, FloatsInTheShortestForm) {
  EXPECT_EQ(One(FieldType::kFloat, Value::Float(12.5)).AsString(), "12.5");
  EXPECT_EQ(One(FieldType::kFloat, Value::Float(0.1 + 0.2)).AsString(), "0.3");
  EXPECT_EQ(One(FieldType::kFloat, Value::Float(1234567)).AsString(), "1234567");
  EXPECT_EQ(One(FieldType::kFloat, Value::Int(42)).AsString(), "42");
  EXPECT_EQ(One(FieldType::kInteger, Value::Int(-7)).AsString(), "-7");
}

TEST_F(FieldTest, NullIsEmptyTextAndZero) {
  for (FieldType t : {FieldType::kString, FieldType::kFloat, FieldType::kInteger, FieldType::kDate,
                      FieldType::kDateTime, FieldType::kTime}) {
    engine::TField& f = One(t, Value::Null());
    EXPECT_TRUE(f.IsNull());
    EXPECT_EQ(f.AsString(), "");
    EXPECT_EQ(f.AsFloat(), 0);
    EXPECT_EQ(f.AsInteger(), 0);
    EXPECT_EQ(f.AsDateTime(), 0);
    EXPECT_EQ(f.AsStringView(), "");
  }
}

TEST_F(FieldTest, DatesAndTimes) {
  double day = rtl::EncodeDate(2003, 7, 4);
  double time = rtl::EncodeTime(9, 5, 7, 0);
  EXPECT_EQ(One(FieldType::kDate, Value::Float(day)).AsString(), "2003/7/4");
  EXPECT_EQ(One(FieldType::kDateTime, Value::Float(day)).AsString(), "2003/7/4");
  EXPECT_EQ(One(FieldType::kDateTime, Value::Float(day + time)).AsString(), "2003/7/4 09:05:07");
  EXPECT_EQ(One(FieldType::kTime, Value::Float(time)).AsString(), "09:05:07");
  // Just short of midnight rounds to the next day's midnight: no time shown.
  EXPECT_EQ(One(FieldType::kDateTime, Value::Float(day + 1 - 1e-10)).AsString(), "2003/7/5");
  EXPECT_DOUBLE_EQ(One(FieldType::kDateTime, Value::Float(day + time)).AsDateTime(), day + time);
}

TEST_F(FieldTest, IntegersRoundHalfToEven) {
  EXPECT_EQ(One(FieldType::kFloat, Value::Float(2.5)).AsInteger(), 2);
  EXPECT_EQ(One(FieldType::kFloat, Value::Float(3.5)).AsInteger(), 4);
  EXPECT_EQ(One(FieldType::kFloat, Value::Float(-2.5)).AsInteger(), -2);
  EXPECT_EQ(One(FieldType::kFloat, Value::Float(2.6)).AsInteger(), 3);
  EXPECT_EQ(One(FieldType::kInteger, Value::Int(1000)).AsInteger(), 1000);
}

TEST_F(FieldTest, TextConvertsOrFailsClearly) {
  EXPECT_EQ(One(FieldType::kString, Value::Text(" 12.25")).AsFloat(), 12.25);
  EXPECT_EQ(One(FieldType::kString, Value::Text("17")).AsInteger(), 17);
  EXPECT_EQ(One(FieldType::kString, Value::Text("abc")).AsStringView(), "abc");
  EXPECT_DOUBLE_EQ(One(FieldType::kString, Value::Text("2003/7/4 10:00:00")).AsDateTime(),
                   rtl::EncodeDate(2003, 7, 4) + rtl::EncodeTime(10, 0, 0, 0));
  try {
    One(FieldType::kString, Value::Text("12x")).AsFloat();
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "'12x' is not a valid floating point value");
  }
  EXPECT_THROW(One(FieldType::kString, Value::Text("x")).AsInteger(), EDatabaseError);
  EXPECT_THROW(One(FieldType::kString, Value::Text("2003/13/40")).AsDateTime(), EDatabaseError);
}

TEST_F(FieldTest, AppendTextAddsToWhatIsThere) {
  engine::TField& f = One(FieldType::kFloat, Value::Float(1.5));
  std::string line = "TICK|";
  f.AppendText(line);
  EXPECT_EQ(line, "TICK|1.5");
}

TEST_F(FieldTest, LastRowStaysReadableAtEof) {
  ds.columns = {{"N", FieldType::kInteger}, {"S", FieldType::kString}};
  ds.rows = {{Value::Int(1), Value::Text("a")}, {Value::Int(2), Value::Text("b")}};
  ds.Open();
  engine::TField& n = ds.FieldByName("n");
  EXPECT_EQ(n.AsInteger(), 1);
  ds.Next();
  EXPECT_EQ(ds.FieldByName("S").AsString(), "b");
  ds.Next();
  EXPECT_TRUE(ds.Eof());
  EXPECT_EQ(n.AsInteger(), 2);
  ds.Next();  // stays at the end
  EXPECT_TRUE(ds.Eof());
}

TEST_F(FieldTest, EmptyResultIsEofWithNullFields) {
  ds.columns = {{"N", FieldType::kInteger}};
  ds.Open();
  EXPECT_TRUE(ds.Eof());
  EXPECT_TRUE(ds.FieldByName("N").IsNull());
}

TEST_F(FieldTest, FieldsFollowTheColumnsOfEachOpen) {
  ds.columns = {{"A", FieldType::kInteger}, {"B", FieldType::kString}};
  ds.rows = {{Value::Int(1), Value::Text("x")}};
  ds.Open();
  engine::TField* a = &ds.FieldByName("A");
  engine::TField* b = &ds.FieldByName("B");
  ds.Close();
  ds.columns = {{"C", FieldType::kFloat}, {"A", FieldType::kInteger}};
  ds.rows = {{Value::Float(2.5), Value::Int(9)}};
  ds.Open();
  EXPECT_EQ(ds.FieldCount(), 2u);
  EXPECT_EQ(&ds.FieldByName("a"), a);  // same column: same field object
  EXPECT_EQ(a->AsInteger(), 9);
  EXPECT_EQ(ds.FieldByName("C").AsString(), "2.5");
  try {
    b->AsString();  // its column is gone; the pointer is still safe to use
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Field 'B' not found");
  }
  try {
    ds.FieldByName("B");
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Field 'B' not found");
  }
}

TEST_F(FieldTest, NeverOpenedDatasetIsClosed) {
  try {
    ds.FieldByName("A");
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), engine::kClosedDatasetMessage);
  }
}

TEST_F(FieldTest, OpenTwiceKeepsThePosition) {
  ds.columns = {{"N", FieldType::kInteger}};
  ds.rows = {{Value::Int(1)}, {Value::Int(2)}};
  ds.Open();
  ds.Next();
  ds.Open();
  EXPECT_EQ(ds.opens, 1);
  EXPECT_EQ(ds.FieldByName("N").AsInteger(), 2);
}

TEST_F(FieldTest, DatasetWithoutDatabaseFailsToOpen) {
  RowsDataSet lone;
  EXPECT_THROW(lone.Open(), EDatabaseError);
  EXPECT_FALSE(lone.Active());
}

TEST_F(FieldTest, DatabaseWithoutKeepConnectionLetsGoWithItsLastDataset) {
  db.KeepConnection = false;
  RowsDataSet other(&db);
  ds.columns = other.columns = {{"N", FieldType::kInteger}};
  ds.Open();
  other.Open();
  ds.Close();
  EXPECT_TRUE(db.Connected());
  other.Close();
  EXPECT_FALSE(db.Connected());
}

TEST_F(FieldTest, DestroyedDatabaseLeavesItsDatasetsUnbound) {
  auto owned = std::make_unique<engine::TDatabase>();
  owned->AliasName = "scratch";
  RowsDataSet bound(owned.get());
  bound.columns = {{"N", FieldType::kInteger}};
  bound.Open();
  owned.reset();
  EXPECT_FALSE(bound.Active());
  EXPECT_EQ(bound.Database(), nullptr);
}

}  // namespace
