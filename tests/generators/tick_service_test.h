// Shared set-up of the tick generator tests: fresh stores over each backend
// (SQL stores made, so that the name lookup finds its table), a clock that
// the test sets, and the real server started on the first request, after
// the test has put its rows and settings in place.
#ifndef HISTDATA_TESTS_GENERATORS_TICK_SERVICE_TEST_H_
#define HISTDATA_TESTS_GENERATORS_TICK_SERVICE_TEST_H_

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "log/zetUtilities.h"
#include "platform/rtl/datetime.h"
#include "tests/support/store_fixture.h"
#include "tests/support/test_server.h"

namespace histtest {

class TickServiceTest : public StoreTest {
 protected:
  TickServiceTest() {
    stores.InitSqlStores();
    SetClock(rtl::EncodeDate(2003, 7, 4) + rtl::EncodeTime(12, 0, 0, 0));
    rtl::SetClockForTesting([this] { return now_.load(); });
  }
  ~TickServiceTest() override {
    server_.reset();
    rtl::SetClockForTesting(nullptr);
  }

  void SetClock(rtl::TDateTime now) { now_.store(now); }

  // Unloads the service; the next request starts it again.
  void StopServer() { server_.reset(); }

  HttpReply Get(const std::string& target) {
    if (!server_) {
      server_ = std::make_unique<TestServer>();
      log_start_ = ReadWholeLog().size();
    }
    return server_->Get(target);
  }

  // Log lines written since the server started.
  std::vector<std::string> LogLines() const {
    const std::string text = ReadWholeLog().substr(log_start_);
    std::vector<std::string> lines;
    for (size_t start = 0; start < text.size();) {
      size_t end = text.find("\r\n", start);
      if (end == std::string::npos) end = text.size();
      lines.push_back(text.substr(start, end - start));
      start = end + 2;
    }
    return lines;
  }

  // The log lines that begin with `prefix`, in order.
  std::vector<std::string> LogLinesStartingWith(const std::string& prefix) const {
    std::vector<std::string> out;
    for (const std::string& line : LogLines()) {
      if (line.rfind(prefix, 0) == 0) out.push_back(line);
    }
    return out;
  }

  bool LogHasLine(const std::string& wanted) const {
    for (const std::string& line : LogLines()) {
      if (line == wanted) return true;
    }
    return false;
  }

 private:
  static std::string ReadWholeLog() {
    std::ifstream in(zetlog::LogPath(), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }

  std::atomic<double> now_{0};
  std::unique_ptr<TestServer> server_;
  size_t log_start_ = 0;
};

}  // namespace histtest

#endif  // HISTDATA_TESTS_GENERATORS_TICK_SERVICE_TEST_H_
