// Shared set-up of the interval bar tests (modes 4 and 6 over the tick
// tables): fresh stores over each backend with the SQL stores made, settings
// written to zet.ini before the real server starts on the first request, and
// builders of the expected reply lines.
#ifndef HISTDATA_TESTS_GENERATORS_BAR_SERVICE_TEST_H_
#define HISTDATA_TESTS_GENERATORS_BAR_SERVICE_TEST_H_

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

#include "tests/support/store_fixture.h"
#include "tests/support/test_server.h"

namespace histtest {

class BarServiceTest : public StoreTest {
 protected:
  BarServiceTest() { stores.InitSqlStores(); }
  ~BarServiceTest() override { server_.reset(); }

  // Settings of section KORVA; they take effect with the next request.
  void Set(const std::string& key, const std::string& value) {
    stores.SetSetting("KORVA", key, value);
  }

  HttpReply Get(const std::string& target) {
    if (!server_) server_ = std::make_unique<TestServer>();
    return server_->Get(target);
  }

 private:
  std::unique_ptr<TestServer> server_;
};

// "hh:nn:ss" of a second of the day.
inline std::string Clock(int second_of_day) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", second_of_day / 3600,
                second_of_day / 60 % 60, second_of_day % 60);
  return buf;
}

inline int At(int h, int m, int s = 0) { return (h * 60 + m) * 60 + s; }

inline std::string Count(int n) { return "NOTE|RECORDCOUNT|" + std::to_string(n) + "|\r\n"; }

inline const std::string kNotFound = "ERROR|Record not found.|\r\n";
inline const std::string kNoDataForDate = "ERROR|No data for specified date|\r\n";
inline const std::string kInvalidInterval = "ERROR|Invalid interval.|\r\n";

}  // namespace histtest

#endif  // HISTDATA_TESTS_GENERATORS_BAR_SERVICE_TEST_H_
