// The module pool: connection limit, reuse order, the server-error reply,
// and the start sequence's limit.
#include <gtest/gtest.h>

#include <future>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/engine/errors.h"
#include "service/app.h"
#include "tests/service/recording_module.h"
#include "tests/support/fake_host.h"
#include "tests/support/store_fixture.h"
#include "tests/support/test_server.h"

namespace histtest {
namespace {

const char* const kPoolReplyBody =
    "<html><title>Internal Server Error 500</title>\r\n"
    "<h1>Internal Server Error 500</h1><hr>\r\n"
    "Exception: Exception<br>\r\n"
    "Message: Maximum number of concurrent connections exceeded.  Please try again later<br>"
    "</html>\r\n";

// Requests whose generator waits until the test opens the latch named by
// the request's symbol.
class HeldRequests {
 public:
  HeldRequests() {
    Recorder::Get().Reset([this](hist::THistData&, const GenCall& call) {
      auto it = latches_.find(call.symbol);
      if (it != latches_.end()) it->second->Wait();
    });
  }
  ~HeldRequests() {
    for (auto& [name, latch] : latches_) latch->Open();
    for (auto& [name, reply] : replies_) {
      if (reply.valid()) reply.wait();
    }
  }
  // Sends a GET for `symbol` on its own thread and waits until its
  // generator runs.
  void Start(uint16_t port, const std::string& symbol) {
    latches_[symbol] = std::make_unique<Latch>();
    size_t before = Recorder::Get().Calls().size();
    replies_[symbol] = std::async(std::launch::async, [port, symbol] {
      return Get(port, "/?mode=2&symbol=" + symbol);
    });
    ASSERT_TRUE(Recorder::Get().WaitForCalls(before + 1));
  }
  HttpReply Finish(const std::string& symbol) {
    latches_[symbol]->Open();
    return replies_[symbol].get();
  }
  const hist::THistData* ModuleOf(const std::string& symbol) {
    for (const GenCall& c : Recorder::Get().Calls()) {
      if (c.symbol == symbol) return c.module;
    }
    return nullptr;
  }

 private:
  std::map<std::string, std::unique_ptr<Latch>> latches_;
  std::map<std::string, std::future<HttpReply>> replies_;
};

TEST(PoolTest, RequestBeyondTheLimitGetsTheServerErrorReply) {
  StoreFixture stores;
  stores.SetSetting("KORVA", "MaxConnection", "3");
  TestServer server(RecordingModule::Make);
  HeldRequests held;  // released before the server stops
  EXPECT_EQ(server.app().MaxConnections(), 3);
  held.Start(server.port(), "A");
  held.Start(server.port(), "B");
  held.Start(server.port(), "C");

  HttpReply refused = server.Get("/?mode=2&symbol=D");
  EXPECT_EQ(refused.status_line,
            "HTTP/1.1 500 Maximum number of concurrent connections exceeded.  Please try again "
            "later");
  EXPECT_EQ(refused.Header("Content-Type"), "text/html");
  EXPECT_EQ(refused.Header("Content-Length"), std::to_string(std::string(kPoolReplyBody).size()));
  EXPECT_TRUE(refused.HasHeader("Content"));
  EXPECT_EQ(refused.Header("Content"), "");
  EXPECT_EQ(refused.body, kPoolReplyBody);
  EXPECT_EQ(server.app().ModuleCount(), 3u);

  HttpReply a = held.Finish("A");
  EXPECT_EQ(a.status, 200);
  HttpReply e = server.Get("/?mode=2&symbol=E");
  EXPECT_EQ(e.status, 200);
  EXPECT_EQ(held.Finish("B").status, 200);
  EXPECT_EQ(held.Finish("C").status, 200);
  EXPECT_EQ(server.app().ModuleCount(), 3u);
  EXPECT_EQ(server.app().ActiveCount(), 0u);
}

TEST(PoolTest, RequestsBeyondTheLimitGetTheExactReplyAtOnceWhileManyConnectionsWait) {
  StoreFixture stores;
  stores.SetSetting("KORVA", "MaxConnection", "3");
  TestServer server(RecordingModule::Make);
  HeldRequests held;  // released before the server stops
  for (const char* s : {"A", "B", "C"}) held.Start(server.port(), s);
  // Connections that only wait, more than a thread per connection allows.
  std::vector<std::unique_ptr<HttpClient>> waiting;
  for (int i = 0; i < 150; ++i) waiting.push_back(std::make_unique<HttpClient>(server.port()));

  std::vector<std::future<HttpReply>> refused;
  for (int i = 0; i < 24; ++i) {
    refused.push_back(std::async(std::launch::async, [&server, i] {
      return server.Get("/?mode=2&symbol=R" + std::to_string(i));
    }));
  }
  // The held requests are still running: none of these waited for them.
  for (auto& f : refused) {
    HttpReply r = f.get();
    EXPECT_EQ(r.status_line,
              "HTTP/1.1 500 Maximum number of concurrent connections exceeded.  Please try "
              "again later");
    EXPECT_EQ(r.Header("Content-Length"), std::to_string(std::string(kPoolReplyBody).size()));
    EXPECT_EQ(r.body, kPoolReplyBody);
  }
  EXPECT_EQ(server.app().ModuleCount(), 3u);
  for (const char* s : {"A", "B", "C"}) EXPECT_EQ(held.Finish(s).status, 200);
  EXPECT_EQ(server.Get("/?mode=2&symbol=D").status, 200);
}

TEST(PoolTest, ModulesAreMadeOnDemandAndReusedInReleaseOrder) {
  StoreFixture stores;
  TestServer server(RecordingModule::Make);
  HeldRequests held;  // released before the server stops
  EXPECT_EQ(server.app().MaxConnections(), 10);
  EXPECT_EQ(server.app().ModuleCount(), 0u);
  for (const char* s : {"A", "B", "C", "D"}) held.Start(server.port(), s);
  EXPECT_EQ(server.app().ModuleCount(), 4u);
  EXPECT_EQ(server.app().ActiveCount(), 4u);

  // Released in the order C, A, D, B.
  for (const char* s : {"C", "A", "D", "B"}) EXPECT_EQ(held.Finish(s).status, 200);
  std::vector<hist::THistData*> idle = server.app().IdleModules();
  ASSERT_EQ(idle.size(), 4u);
  EXPECT_EQ(idle[0], held.ModuleOf("C"));
  EXPECT_EQ(idle[1], held.ModuleOf("A"));
  EXPECT_EQ(idle[2], held.ModuleOf("D"));
  EXPECT_EQ(idle[3], held.ModuleOf("B"));

  server.Get("/?mode=2&symbol=next1");
  EXPECT_EQ(held.ModuleOf("next1"), held.ModuleOf("C"));
  server.Get("/?mode=2&symbol=next2");
  EXPECT_EQ(held.ModuleOf("next2"), held.ModuleOf("A"));
  EXPECT_EQ(server.app().ModuleCount(), 4u);
}

TEST(PoolTest, NoLimitAtZeroOrBelow) {
  StoreFixture stores;
  Recorder::Get().Reset();
  hist::TWebApplication app(RecordingModule::Make);
  EXPECT_EQ(app.MaxConnections(), 32);
  EXPECT_TRUE(app.CacheConnections());
  EXPECT_EQ(app.Title(), "");
  app.SetMaxConnections(0);
  std::vector<hist::THistData*> taken;
  for (int i = 0; i < 40; ++i) taken.push_back(app.ActivateWebModule());
  EXPECT_EQ(app.ModuleCount(), 40u);
  app.SetMaxConnections(40);
  EXPECT_THROW(app.ActivateWebModule(), std::runtime_error);
  EXPECT_EQ(app.ModuleCount(), 40u);
  for (hist::THistData* m : taken) app.DeactivateWebModule(m);
  EXPECT_EQ(app.ActiveCount(), 0u);
  EXPECT_EQ(app.ActivateWebModule(), taken[0]);
}

class FailingModule : public RecordingModule {
 public:
  FailingModule() { throw engine::EDBEngineError("cannot make module"); }
};

TEST(PoolTest, FailedModuleCreationGetsTheServerErrorReplyAndEntersNoList) {
  StoreFixture stores;
  hist::TWebApplication app([]() -> std::unique_ptr<hist::THistData> {
    return std::make_unique<FailingModule>();
  });
  FakeHost host;
  EXPECT_EQ(app.HttpExtensionProc(host), hist::kStatusError);
  EXPECT_EQ(host.status_code, 500);
  EXPECT_EQ(host.heads_sent, 1);
  EXPECT_EQ(host.status_text, "500 cannot make module");
  std::string body =
      "<html><title>Internal Server Error 500</title>\r\n"
      "<h1>Internal Server Error 500</h1><hr>\r\n"
      "Exception: EDBEngineError<br>\r\n"
      "Message: cannot make module<br></html>\r\n";
  EXPECT_EQ(host.headers, "Content-Type: text/html\r\nContent-Length: " +
                              std::to_string(body.size()) + "\r\nContent:\r\n\r\n");
  ASSERT_EQ(host.writes.size(), 1u);
  EXPECT_EQ(host.writes[0], body);
  EXPECT_EQ(app.ModuleCount(), 0u);
  EXPECT_EQ(app.ActiveCount(), 0u);
  EXPECT_TRUE(app.IdleModules().empty());
}

TEST(PoolTest, ErrorClassNames) {
  engine::EDatabaseError db("x");
  engine::EDBEngineError engine_error("x");
  rtl::EConvertError convert("x");
  std::runtime_error other("x");
  EXPECT_EQ(hist::ErrorClassName(&db), "EDatabaseError");
  EXPECT_EQ(hist::ErrorClassName(&engine_error), "EDBEngineError");
  EXPECT_EQ(hist::ErrorClassName(&convert), "EConvertError");
  EXPECT_EQ(hist::ErrorClassName(&other), "Exception");
  EXPECT_EQ(hist::ErrorClassName(nullptr), "Exception");
}

TEST(PoolTest, RequestWithoutProtocolGetsTheBodyAlone) {
  StoreFixture stores;
  Recorder::Get().Reset([](hist::THistData& m, const GenCall&) { m.Response->SendLine("X|\r\n"); });
  hist::TWebApplication app(RecordingModule::Make);
  FakeHost host;
  host.protocol = "";
  host.query = "symbol=1&mode=2";
  EXPECT_EQ(app.HttpExtensionProc(host), hist::kStatusSuccess);
  EXPECT_EQ(host.heads_sent, 0);
  EXPECT_EQ(host.Body(), "X|\r\n");
  EXPECT_EQ(host.status_code, 0);
}

TEST(PoolTest, MaxConnectionSetting) {
  StoreFixture stores;
  struct Case {
    const char* value;  // nullptr: key absent
    int limit;
  } cases[] = {{nullptr, 10}, {"", 10}, {"abc", 10}, {"0", 0},   {"-5", -5},
               {" 7", 7},     {"7x", 10}, {"0x10", 16}, {"$10", 16}, {"99999999999", 10}};
  for (const Case& k : cases) {
    if (k.value == nullptr) {
      stores.WriteSettingsFile("[KORVA]\r\nCalcMode=DC\r\n");
    } else {
      stores.WriteSettingsFile(std::string("[KORVA]\r\nMaxConnection=") + k.value + "\r\n");
    }
    EXPECT_EQ(hist::GetMaxConnection(), k.limit) << (k.value ? k.value : "(absent)");
  }
  // The name is matched without regard to case; the first entry counts.
  stores.WriteSettingsFile("[korva]\r\nmaxconnection=4\r\nMaxConnection=5\r\n");
  EXPECT_EQ(hist::GetMaxConnection(), 4);
}

}  // namespace
}  // namespace histtest
