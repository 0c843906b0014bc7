// Where aliases lead, with and without a configuration file, and the
// session names.
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <thread>

#include "platform/engine/aliases.h"
#include "platform/engine/engine.h"
#include "platform/engine/pool.h"
#include "tests/platform/engine/scratch_store.h"

namespace {

using engine::AliasTarget;
using engine::EDatabaseError;
using engine::ResolveAlias;

class AliasTest : public ::testing::Test {
 protected:
  void WriteConfig(const std::string& text) {
    std::ofstream(store.dir() + "/aliases.ini") << text;
    engine::ConfigureAliases(store.dir());
  }
  std::string Error(const std::string& text) {
    std::ofstream(store.dir() + "/aliases.ini") << text;
    try {
      engine::ConfigureAliases(store.dir());
    } catch (const EDatabaseError& e) {
      return e.what();
    }
    return "";
  }
  enginetest::ScratchStore store;
};

TEST_F(AliasTest, DefaultsAreSQLiteStoresInTheDataFolder) {
  EXPECT_EQ(engine::DataDir(), store.dir());
  AliasTarget t = ResolveAlias("HISTDATA");
  EXPECT_EQ(t.driver, AliasTarget::Driver::kSQLite);
  EXPECT_TRUE(t.day_tables);
  EXPECT_EQ(t.location, store.dir() + "/histdata");
  t = ResolveAlias("Historical");
  EXPECT_FALSE(t.day_tables);
  EXPECT_EQ(t.location, store.dir() + "/historical.db");
  EXPECT_EQ(ResolveAlias("ZetData").location, store.dir() + "/zetdata.db");
}

TEST_F(AliasTest, AliasesThatWouldLeaveTheDataFolderAreRefused) {
  EXPECT_THROW(ResolveAlias("../etc"), EDatabaseError);
  EXPECT_THROW(ResolveAlias("a/b"), EDatabaseError);
  EXPECT_THROW(ResolveAlias(""), EDatabaseError);
}

TEST_F(AliasTest, ConfigurationSendsAliasesElsewhere) {
  WriteConfig(
      "; stores\n[historical]\r\nDriver = postgres\nConnInfo=host=/tmp dbname=h user=x\n\n"
      "[HISTDATA]\ndriver=SQLite\npath=ticks\n[zet]\nPath=/abs/zet.db\n");
  AliasTarget t = ResolveAlias("Historical");
  EXPECT_EQ(t.driver, AliasTarget::Driver::kPostgres);
  EXPECT_EQ(t.location, "host=/tmp dbname=h user=x");
  t = ResolveAlias("histdata");
  EXPECT_EQ(t.driver, AliasTarget::Driver::kSQLite);
  EXPECT_TRUE(t.day_tables);
  EXPECT_EQ(t.location, store.dir() + "/ticks");
  EXPECT_EQ(ResolveAlias("ZET").location, "/abs/zet.db");
  EXPECT_EQ(ResolveAlias("ardandata").location, store.dir() + "/ardandata.db");
}

TEST_F(AliasTest, MalformedConfigurationIsAClearError) {
  EXPECT_NE(Error("[a]\nDriver=oracle\n").find("Unknown driver 'oracle'"), std::string::npos);
  EXPECT_NE(Error("Driver=sqlite\n").find("line 1"), std::string::npos);
  EXPECT_NE(Error("[a]\nno equals sign\n").find("line 2"), std::string::npos);
  EXPECT_NE(Error("[a\n").find("line 1"), std::string::npos);
  EXPECT_NE(Error("[a]\nDriver=postgres\n").find("ConnInfo"), std::string::npos);
  EXPECT_THROW(engine::ConfigureAliases(store.dir(), store.dir() + "/missing.ini"), EDatabaseError);
}

TEST_F(AliasTest, MissingStoreFailsToConnect) {
  engine::TDatabase db;
  db.AliasName = "nosuchstore";
  EXPECT_THROW(db.Open(), engine::EDBEngineError);
  EXPECT_FALSE(db.Connected());
  db.AliasName = "HISTDATA";  // no folder yet
  EXPECT_THROW(db.Open(), engine::EDBEngineError);
}

TEST_F(AliasTest, LoginParametersKeyThePool) {
  engine::TDatabase a, b;
  a.AliasName = b.AliasName = "scratch";
  a.Params = {"USER NAME=sa", "PASSWORD="};
  b.Params = {"user name=other", "PASSWORD=x"};
  a.Open();
  engine::Connection* first = &a.connection();
  a.Close();
  b.Open();
  EXPECT_NE(&b.connection(), first);
  b.Close();
  a.Open();
  EXPECT_EQ(&a.connection(), first);
}

TEST_F(AliasTest, ReconfiguringDropsPooledConnections) {
  engine::TDatabase db;
  db.AliasName = "scratch";
  db.Open();
  db.Close();
  EXPECT_GT(engine::IdleConnectionCount(), 0u);
  engine::ConfigureAliases(store.dir());
  EXPECT_EQ(engine::IdleConnectionCount(), 0u);
}

class BrokenConnection : public engine::Connection {
 public:
  bool healthy = true;
  bool Healthy() override { return healthy; }
  bool TableExists(const std::string&) override { return false; }
  std::vector<std::string> ListDayTables() override { return {}; }
  std::unique_ptr<engine::Cursor> SeekTicks(const std::string&, std::string_view, bool, double) override {
    return nullptr;
  }
  std::unique_ptr<engine::Cursor> SeekLastTick(const std::string&, std::string_view, bool, double) override {
    return nullptr;
  }
  int64_t CountRows(const std::string&, int64_t) override { return 0; }
  int64_t LastTickId(const std::string&) override { return 0; }
  bool ReadPack(const std::string&, std::string_view, std::string&) override { return false; }
  std::unique_ptr<engine::Cursor> ScanKeyedTicks(const std::string&) override { return nullptr; }
  std::vector<std::string> PackKeys(const std::string&) override { return {}; }
  void ClearPacks(const std::string&) override {}
  void StorePack(const std::string&, const std::string&, std::string_view) override {}
  std::unique_ptr<engine::Cursor> Query(const engine::Statement&, const std::vector<engine::BoundParam>&) override {
    return nullptr;
  }
  std::unique_ptr<engine::Cursor> CallProcedure(const std::string&,
                                                const std::vector<engine::BoundParam>&) override {
    return nullptr;
  }
  void ExecuteScript(const std::string&) override {}
  void CreateTickTable(const std::string&) override {}
  void Begin() override {}
  void Commit() override {}
  void Rollback() override {}
  void PrepareToServe(const std::vector<std::string>&) override {}
  std::unique_ptr<Inserter> PrepareInsert(const std::string&, const std::vector<std::string>&) override {
    return nullptr;
  }
};

TEST_F(AliasTest, BrokenConnectionIsDroppedNotPooled) {
  engine::DropPooledConnections();
  size_t before = engine::IdleConnectionCount();
  auto broken = std::make_unique<BrokenConnection>();
  broken->healthy = false;
  { engine::ConnectionLease lease("k", 0, std::move(broken)); }
  EXPECT_EQ(engine::IdleConnectionCount(), before);
}

TEST_F(AliasTest, PoolServesManyThreads) {
  std::vector<std::thread> threads;
  std::atomic<int> failures{0};
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 50; ++i) {
        engine::TDatabase db;
        db.AliasName = "scratch";
        engine::TQuery q(&db);
        q.SetSQL("select :v as v");
        q.ParamByName("v").SetAsInteger(i);
        q.Open();
        if (q.FieldByName("v").AsInteger() != i) ++failures;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_LE(engine::IdleConnectionCount(), 4u);
}

TEST(SessionNames, LowestFreeNumberPerComponent) {
  std::string a = engine::AutoSessionName("TestSession");
  std::string b = engine::AutoSessionName("TestSession");
  EXPECT_EQ(a, "TestSession_1");
  EXPECT_EQ(b, "TestSession_2");
  engine::ReleaseSessionName(a);
  EXPECT_EQ(engine::AutoSessionName("TestSession"), "TestSession_1");
  EXPECT_EQ(engine::AutoSessionName("Other"), "Other_1");
  engine::ReleaseSessionName("TestSession_1");
  engine::ReleaseSessionName(b);
  engine::ReleaseSessionName("Other_1");
}

TEST(SessionNames, CurrentNameIsPerThreadAndCapped) {
  engine::SetCurrentSessionName("1135020000000065");
  std::string other;
  std::thread([&] {
    engine::SetCurrentSessionName(std::string(40, 'x'));
    other = engine::CurrentSessionName();
  }).join();
  EXPECT_EQ(engine::CurrentSessionName(), "1135020000000065");
  EXPECT_EQ(other, std::string(32, 'x'));
}

}  // namespace
