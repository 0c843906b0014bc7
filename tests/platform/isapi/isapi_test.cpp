// The extension library driven through its exports, as a web server would.
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/isapi/extension_driver.h"

namespace {

namespace fs = std::filesystem;
using isapi::IsapiLibrary;
using isapi::IsapiReply;
using isapi::IsapiRequest;

constexpr const char* kPoolMessage =
    "Maximum number of concurrent connections exceeded.  Please try again later";

// The library is loaded once for the whole program, in a working folder whose
// settings allow three requests at a time.
class LibraryEnvironment : public ::testing::Environment {
 public:
  static IsapiLibrary* lib;

  void SetUp() override {
    const fs::path so = HISTDATA_ISAPI_LIBRARY;
    root_ = fs::temp_directory_path() / ("isapi-test-" + std::to_string(getpid()));
    fs::create_directories(root_ / "data");
    fs::create_directories(root_ / "log");
    std::ofstream(root_ / "zet.ini") << "[KORVA]\r\nMaxConnection=3\r\n";
    fs::current_path(root_);
    setenv("HISTDATA_DATA_DIR", (root_ / "data").c_str(), 1);
    setenv("HISTDATA_LOG_DIR", (root_ / "log").c_str(), 1);
    lib = new IsapiLibrary(so.string());
  }
  void TearDown() override {
    delete lib;
    lib = nullptr;
    std::error_code ec;
    fs::remove_all(root_, ec);
  }

 private:
  fs::path root_;
};
IsapiLibrary* LibraryEnvironment::lib = nullptr;
const auto* const kEnv = ::testing::AddGlobalTestEnvironment(new LibraryEnvironment);

IsapiLibrary& Lib() { return *LibraryEnvironment::lib; }

constexpr const char* kTimeError = "ERROR|Invalid time format(yyyy/m/d).|\r\n";

TEST(IsapiExports, VersionIsTwoZeroWithAnEmptyDescription) {
  HSE_VERSION_INFO info;
  std::memset(&info, 'x', sizeof(info));
  BOOL ok = Lib().GetExtensionVersion(&info);
  EXPECT_EQ(ok, static_cast<BOOL>(~0u));  // TRUE with every bit set
  EXPECT_EQ(info.dwExtensionVersion, 0x00020000u);
  EXPECT_STREQ(info.lpszExtensionDesc, "");
}

TEST(IsapiExports, GetSendsOneTextHeadThenEachLineAsItsOwnWrite) {
  IsapiRequest request;
  request.query = "symbol=0005&timeStart=25:00";
  IsapiReply reply = Lib().Call(request);
  EXPECT_EQ(reply.result, HSE_STATUS_SUCCESS);
  EXPECT_EQ(reply.head_calls, 1);
  EXPECT_EQ(reply.status_text, "200 OK");
  EXPECT_EQ(reply.headers, "Content-Type: text/plain\r\n");
  ASSERT_EQ(reply.writes.size(), 1u);
  EXPECT_EQ(reply.writes[0], kTimeError);
  EXPECT_EQ(reply.status_code, 200u);
}

TEST(IsapiExports, RequestWithoutProtocolGetsTheBodyAlone) {
  IsapiRequest request;
  request.protocol = "";
  request.query = "symbol=0005&dateStart=2003/5/1";
  IsapiReply reply = Lib().Call(request);
  EXPECT_EQ(reply.head_calls, 0);
  EXPECT_EQ(reply.Body(), "ERROR|Invalid number of parameters.|\r\n");
}

TEST(IsapiExports, PostBodyPartlyInTheBlockIsCompletedByOneReadClient) {
  IsapiRequest request;
  request.method = "POST";
  request.query = "symbol=0005";  // ignored for POST
  request.body = "symbol=0005&mode=0&timeStart=25:00";
  request.available = 12;  // "symbol=0005&"; the time arrives through ReadClient
  IsapiReply reply = Lib().Call(request);
  EXPECT_EQ(reply.read_calls, 1);
  EXPECT_EQ(reply.Body(), kTimeError);
}

// Holds requests inside their first WriteClient until released.
class Gate {
 public:
  void Wait() {
    std::unique_lock<std::mutex> lock(mu_);
    ++waiting_;
    cv_.notify_all();
    cv_.wait(lock, [&] { return open_; });
  }
  void AwaitWaiting(int n) {
    std::unique_lock<std::mutex> lock(mu_);
    cv_.wait(lock, [&] { return waiting_ >= n; });
  }
  void Open() {
    std::lock_guard<std::mutex> lock(mu_);
    open_ = true;
    cv_.notify_all();
  }

 private:
  std::mutex mu_;
  std::condition_variable cv_;
  int waiting_ = 0;
  bool open_ = false;
};

TEST(IsapiPool, RequestBeyondTheLimitGetsTheServerErrorReplyWhileOthersComplete) {
  Gate gate;
  std::vector<IsapiReply> held(3);
  std::vector<std::thread> threads;
  for (int i = 0; i < 3; ++i) {
    threads.emplace_back([&, i] {
      IsapiRequest request;
      request.query = "symbol=0005&timeStart=25:00";
      request.on_write = [&] { gate.Wait(); };
      held[i] = Lib().Call(request);
    });
  }
  gate.AwaitWaiting(3);

  IsapiRequest fourth;
  fourth.query = "symbol=0005&timeStart=25:00";
  IsapiReply refused = Lib().Call(fourth);
  gate.Open();
  for (std::thread& t : threads) t.join();

  EXPECT_EQ(refused.result, HSE_STATUS_ERROR);
  EXPECT_EQ(refused.status_code, 500u);
  EXPECT_EQ(refused.status_text, std::string("500 ") + kPoolMessage);
  const std::string body = refused.Body();
  EXPECT_EQ(body, std::string("<html><title>Internal Server Error 500</title>\r\n"
                              "<h1>Internal Server Error 500</h1><hr>\r\n"
                              "Exception: Exception<br>\r\n"
                              "Message: ") +
                      kPoolMessage + "<br></html>\r\n");
  EXPECT_EQ(refused.headers, "Content-Type: text/html\r\nContent-Length: " +
                                 std::to_string(body.size()) + "\r\nContent:\r\n\r\n");
  for (const IsapiReply& r : held) {
    EXPECT_EQ(r.result, HSE_STATUS_SUCCESS);
    EXPECT_EQ(r.Body(), kTimeError);
  }

  IsapiRequest fifth;
  fifth.query = "symbol=0005&timeStart=25:00";
  EXPECT_EQ(Lib().Call(fifth).Body(), kTimeError);
}

TEST(IsapiPool, ManyThreadsAtOnceEachGetAWholeReplyOrTheRefusal) {
  constexpr int kThreads = 12;
  std::vector<IsapiReply> replies(kThreads);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i)
    threads.emplace_back([&, i] {
      IsapiRequest request;
      request.query = "symbol=S" + std::to_string(i) + "&timeOver=99:99";
      replies[i] = Lib().Call(request);
    });
  for (std::thread& t : threads) t.join();
  int served = 0;
  for (const IsapiReply& r : replies) {
    if (r.status_code == 500) {
      EXPECT_EQ(r.result, HSE_STATUS_ERROR);
      EXPECT_NE(r.Body().find(kPoolMessage), std::string::npos);
    } else {
      ++served;
      EXPECT_EQ(r.result, HSE_STATUS_SUCCESS);
      EXPECT_EQ(r.Body(), kTimeError);
    }
  }
  EXPECT_GT(served, 0);
}

TEST(IsapiExports, TerminateReturnsTrueAndModulesStayInService) {
  EXPECT_EQ(Lib().TerminateExtension(0), static_cast<BOOL>(~0u));
  IsapiRequest request;
  request.query = "symbol=0005&timeStart=25:00";
  IsapiReply reply = Lib().Call(request);
  EXPECT_EQ(reply.result, HSE_STATUS_SUCCESS);
  EXPECT_EQ(reply.Body(), kTimeError);
}

}  // namespace
