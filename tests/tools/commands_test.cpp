// The command line of histdata-admin: usage errors, and the commands run end
// to end on a store.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "tests/support/store_fixture.h"
#include "tests/tools/admin_test_util.h"
#include "tools/commands.h"

namespace {

using admintest::Rows;
using admintest::Select;
using admintest::WriteFile;

struct AdminRun {
  int code;
  std::string out, err;
};

AdminRun Admin(const std::vector<std::string>& args) {
  std::ostringstream out, err;
  const int code = admin::RunAdmin(args, out, err);
  return {code, out.str(), err.str()};
}

TEST(AdminCommandLine, HelpAndUsageErrors) {
  const AdminRun help = Admin({"--help"});
  EXPECT_EQ(help.code, admin::kExitOk);
  EXPECT_NE(help.out.find("import KIND FILE"), std::string::npos);
  EXPECT_NE(help.out.find("intervals300"), std::string::npos);

  const struct {
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
      {{}, "no command given"},
      {{"frobnicate", "--data-dir", "d"}, "unknown command \"frobnicate\""},
      {{"init"}, "--data-dir DIR is required"},
      {{"init", "--data-dir"}, "--data-dir needs a value"},
      {{"init", "--data-dir", "d", "extra"}, "unexpected argument \"extra\""},
      {{"init", "--data-dir", "d", "--days", "3"}, "unknown option --days for init"},
      {{"import", "--data-dir", "d"}, "import needs a KIND"},
      {{"import", "ticks", "--data-dir", "d"}, "import needs at least one FILE"},
      {{"import", "bars", "f.csv", "--data-dir", "d"}, "unknown kind \"bars\""},
      {{"sample", "--data-dir", "d", "--days", "x"}, "--days must be a whole number"},
      {{"sample", "--data-dir", "d", "--symbols", "0"}, "--symbols must be a whole number"},
      {{"sample", "--data-dir=d", "--seed", "-1"}, "--seed must be a whole number"},
      {{"derive", "--data-dir", "d", "--from", "2003-13-01"}, "--from must be a date"},
      {{"derive", "--data-dir", "d", "--from", "2003-07-05", "--to", "2003-07-04"},
       "--from is after --to"},
      {{"init", "--data-dir", "d", "--data-dir", "e"}, "--data-dir given twice"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    const AdminRun run = Admin(c.args);
    EXPECT_EQ(run.code, admin::kExitUsage);
    EXPECT_NE(run.err.find(std::string("histdata-admin: ") + c.message), std::string::npos)
        << run.err;
    // One line naming the fault, not the whole usage text.
    EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
    EXPECT_TRUE(run.out.empty());
  }
}

class AdminCommands : public histtest::StoreTest {};

TEST_P(AdminCommands, InitImportDeriveEndToEnd) {
  const std::string dir = stores.DataDir();
  EXPECT_EQ(Admin({"init", "--data-dir", dir}).code, admin::kExitOk);

  const std::string good = WriteFile(stores, "good.csv",
                                     "Date,Time,Symbol,Bid,Offer,Price,BidSize,Volume,OfferSize\n"
                                     "2003-07-04,09:30:00,0005,9,11,10,1,100,1\n"
                                     "2003-07-04,09:31:00,0005,9,11,12,1,300,1\n");
  const std::string bad = WriteFile(stores, "bad.csv",
                                    "Date,Time,Symbol,Bid,Offer,Price,BidSize,Volume,OfferSize\n"
                                    "2003-07-04,09:32:00,0005,9,11,abc,1,400,1\n");
  // The bad file is refused whole; the good one still loads.
  const AdminRun load = Admin({"import", "ticks", bad, good, "--data-dir", dir});
  EXPECT_EQ(load.code, admin::kExitFailed);
  EXPECT_NE(load.err.find(bad + ":2: bad number in column Price"), std::string::npos) << load.err;
  EXPECT_NE(load.out.find(good + ": 2 rows into hist030704"), std::string::npos) << load.out;
  EXPECT_EQ(admintest::TickRows("hist030704").size(), 2u);

  const AdminRun derive = Admin({"derive", "--data-dir", dir});
  EXPECT_EQ(derive.code, admin::kExitOk) << derive.err;
  EXPECT_NE(derive.out.find("derived 1 day from 2 ticks"), std::string::npos) << derive.out;
  EXPECT_EQ(Select("Historical", "select closing, shares_traded from datastore",
                   {"closing", "shares_traded"}),
            (Rows{{"12", "300"}}));
}

TEST_P(AdminCommands, SampleRunsSmall) {
  const AdminRun run = Admin({"sample", "--data-dir", stores.DataDir(), "--days", "2", "--symbols", "3",
                         "--ticks", "50", "--seed", "5"});
  EXPECT_EQ(run.code, admin::kExitOk) << run.err;
  EXPECT_NE(run.out.find("sample market: 3 symbols, 2 trading days"), std::string::npos)
      << run.out;
  EXPECT_EQ(Select("Historical", "select Stock_code from DailySymbol", {"Stock_code"}).size(), 3u);
}

TEST_P(AdminCommands, StoreFailuresExitWithTheMessage) {
  const std::string missing = stores.WorkDir() + "/missing.csv";
  const AdminRun run = Admin({"import", "names", missing, "--data-dir", stores.DataDir()});
  EXPECT_EQ(run.code, admin::kExitFailed);
  EXPECT_NE(run.err.find(missing + ": cannot open"), std::string::npos) << run.err;
}

INSTANTIATE_TEST_SUITE_P(Stores, AdminCommands, ::testing::ValuesIn(histtest::Backends()),
                         histtest::BackendName);

}  // namespace
