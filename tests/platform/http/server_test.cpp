// The standalone HTTP host on real sockets, with plain handlers.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/http/server.h"
#include "tests/support/test_server.h"

namespace histtest {
namespace {

using namespace std::chrono_literals;

class Gate {
 public:
  void Open() {
    std::lock_guard<std::mutex> g(m_);
    open_ = true;
    cv_.notify_all();
  }
  void Wait() {
    std::unique_lock<std::mutex> g(m_);
    cv_.wait_for(g, 20s, [&] { return open_; });
  }

 private:
  std::mutex m_;
  std::condition_variable cv_;
  bool open_ = false;
};

// Polls `condition` until it holds; false after `limit`.
bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit = 20s) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

int ThreadsOfThisProcess() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("Threads:", 0) == 0) return std::stoi(line.substr(8));
  }
  return -1;
}

// What the handler saw of the request.
struct Seen {
  std::string method, query, path, protocol, body;
  int64_t length = -1;
};

// A server whose handler answers with two text lines, each one Write.
class HostTest : public ::testing::Test {
 protected:
  void Serve(httphost::Handler handler, httphost::ServerOptions options = {}) {
    options.address = "127.0.0.1";
    options.port = 0;
    server_ = std::make_unique<httphost::HttpServer>(options, std::move(handler));
    server_->Start();
  }
  void ServeLines(httphost::ServerOptions options = {}) {
    Serve(
        [this](host::Host& h) {
          {
            std::lock_guard<std::mutex> g(seen_lock_);
            seen_.method = h.Method();
            seen_.query = h.QueryString();
            seen_.path = h.PathInfo();
            seen_.protocol = h.Protocol();
            seen_.length = h.ContentLength();
            seen_.body = h.BodyReceived() + h.ReadClient(1000);
          }
          h.SendHead("200 OK", "Content-Type: text/plain\r\n");
          h.Write("TICK|0|a|\r\n", 11);
          h.Write("", 0);
          h.Write("NOTE|RECORDCOUNT|1|\r\n", 21);
        },
        options);
  }
  uint16_t port() { return server_->Port(); }
  Seen seen() {
    std::lock_guard<std::mutex> g(seen_lock_);
    return seen_;
  }

  std::unique_ptr<httphost::HttpServer> server_;
  std::mutex seen_lock_;
  Seen seen_;
};

TEST_F(HostTest, Http11StreamsOneChunkPerWrite) {
  ServeLines();
  HttpReply r = Get(port(), "/hist/data?symbol=0005&mode=0");
  EXPECT_EQ(r.status_line, "HTTP/1.1 200 OK");
  EXPECT_EQ(r.Header("Content-Type"), "text/plain");
  EXPECT_TRUE(r.chunked);
  EXPECT_FALSE(r.HasHeader("Content-Length"));
  ASSERT_EQ(r.chunks.size(), 2u);
  EXPECT_EQ(r.chunks[0], "TICK|0|a|\r\n");
  EXPECT_EQ(r.chunks[1], "NOTE|RECORDCOUNT|1|\r\n");
  Seen s = seen();
  EXPECT_EQ(s.method, "GET");
  EXPECT_EQ(s.query, "symbol=0005&mode=0");
  EXPECT_EQ(s.path, "/hist/data");
  EXPECT_EQ(s.protocol, "HTTP/1.1");
  EXPECT_EQ(s.length, 0);
}

TEST_F(HostTest, Http11KeepsTheConnectionForTheNextRequest) {
  ServeLines();
  HttpClient client(port());
  ASSERT_TRUE(client.Send("GET /?a=1 HTTP/1.1\r\nHost: x\r\n\r\nGET /?a=2 HTTP/1.1\r\nHost: x\r\n\r\n"));
  HttpReply first = client.ReadReply();
  EXPECT_EQ(first.body, "TICK|0|a|\r\nNOTE|RECORDCOUNT|1|\r\n");
  EXPECT_FALSE(first.closed);
  HttpReply second = client.ReadReply();
  EXPECT_EQ(second.status, 200);
  EXPECT_EQ(seen().query, "a=2");
  ASSERT_TRUE(client.Send("GET /?a=3 HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n"));
  HttpReply third = client.ReadReply();
  EXPECT_EQ(third.Header("Connection"), "close");
  EXPECT_TRUE(client.WaitClosed());
}

TEST_F(HostTest, KeptAliveConnectionsTakeRequestsWholeInPiecesOrBroken) {
  // The next request of a kept-alive connection may come whole, in pieces,
  // with a body, or not as a request at all.
  ServeLines();
  HttpClient client(port());
  auto served = [&](const std::string& query, const std::string& body) {
    HttpReply r = client.ReadReply();
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, "TICK|0|a|\r\nNOTE|RECORDCOUNT|1|\r\n");
    EXPECT_FALSE(r.closed);
    EXPECT_EQ(seen().query, query);
    EXPECT_EQ(seen().body, body);
  };
  ASSERT_TRUE(client.Send("GET /?a=1 HTTP/1.1\r\nHost: x\r\n\r\n"));
  served("a=1", "");
  ASSERT_TRUE(client.Send("POST /?b=1 HTTP/1.1\r\nHost: x\r\nContent-Length: 5\r\n\r\nhello"));
  served("b=1", "hello");
  ASSERT_TRUE(client.Send("GET /?c=1 HTTP/1.1\r\nHo"));
  EXPECT_FALSE(client.Readable(50));
  ASSERT_TRUE(client.Send("st: x\r\n\r\n"));
  served("c=1", "");
  ASSERT_TRUE(client.Send("POST /?d=1 HTTP/1.1\r\nHost: x\r\nContent-Length: 4\r\n\r\nab"));
  EXPECT_FALSE(client.Readable(50));
  ASSERT_TRUE(client.Send("cd"));
  served("d=1", "abcd");
  ASSERT_TRUE(client.Send("GET /?e=1 HTTP/1.1\r\nHost: x\r\n\r\nGET /?f=1 HTTP/1.1\r\nHost: x\r\n\r\n"));
  // Two at once: the second may be served before the first reply is read.
  EXPECT_EQ(client.ReadReply().status, 200);
  served("f=1", "");
  ASSERT_TRUE(client.Send("NOT A REQUEST\r\n\r\n"));
  EXPECT_EQ(client.ReadReply().status, 400);
  EXPECT_TRUE(client.WaitClosed());

  HttpClient big(port());
  ASSERT_TRUE(big.Send("GET /?g=1 HTTP/1.1\r\nHost: x\r\n\r\n"));
  EXPECT_EQ(big.ReadReply().status, 200);
  ASSERT_TRUE(big.Send("GET /?h=1 HTTP/1.1\r\nX-Big: " + std::string(20000, 'x') + "\r\n\r\n"));
  EXPECT_EQ(big.ReadReply().status, 431);
  EXPECT_TRUE(big.WaitClosed());
}

TEST_F(HostTest, Http10BodyEndsWithTheConnection) {
  ServeLines();
  HttpClient client(port());
  ASSERT_TRUE(client.Send("GET /?symbol=1 HTTP/1.0\r\n\r\n"));
  HttpReply r = client.ReadReply();
  EXPECT_EQ(r.status_line, "HTTP/1.1 200 OK");
  EXPECT_FALSE(r.chunked);
  EXPECT_FALSE(r.HasHeader("Transfer-Encoding"));
  EXPECT_FALSE(r.HasHeader("Content-Length"));
  EXPECT_EQ(r.Header("Connection"), "close");
  EXPECT_EQ(r.body, "TICK|0|a|\r\nNOTE|RECORDCOUNT|1|\r\n");
  EXPECT_TRUE(r.closed);
  EXPECT_EQ(seen().protocol, "HTTP/1.0");
}

TEST_F(HostTest, HeadRequestGetsTheHeadAlone) {
  ServeLines();
  HttpClient client(port());
  client.Send("HEAD /?symbol=1 HTTP/1.1\r\nHost: x\r\n\r\n");
  HttpReply r = client.ReadReply(/*head_only=*/true);
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(seen().method, "HEAD");
  // Nothing of the body follows: the next reply starts right after the head.
  client.Send("GET / HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
  HttpReply next = client.ReadReply();
  EXPECT_EQ(next.status_line, "HTTP/1.1 200 OK");
  EXPECT_EQ(next.body, "TICK|0|a|\r\nNOTE|RECORDCOUNT|1|\r\n");
}

TEST_F(HostTest, PostBodiesReachTheHandler) {
  ServeLines();
  HttpReply r = Post(port(), "/", "symbol=0005&mode=2");
  EXPECT_EQ(r.status, 200);
  Seen s = seen();
  EXPECT_EQ(s.method, "POST");
  EXPECT_EQ(s.body, "symbol=0005&mode=2");
  EXPECT_EQ(s.length, 18);

  r = SendRequest(port(),
                  "POST / HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n"
                  "7\r\nsymbol=\r\n4\r\n0005\r\n0\r\n\r\n");
  EXPECT_EQ(r.status, 200);
  s = seen();
  EXPECT_EQ(s.body, "symbol=0005");
  EXPECT_EQ(s.length, 11);

  // A client waiting for leave to send its body gets it.
  HttpClient client(port());
  client.Send("POST / HTTP/1.1\r\nHost: x\r\nContent-Length: 8\r\nExpect: 100-continue\r\n\r\n");
  EXPECT_EQ(client.ReadSome(25), "HTTP/1.1 100 Continue\r\n\r\n");
  client.Send("mode=2&x");
  r = client.ReadReply();
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(seen().body, "mode=2&x");
}

TEST_F(HostTest, HeadWithItsOwnLengthIsSentUnchunked) {
  Serve([](host::Host& h) {
    h.SetStatus(500);
    h.SendHead("500 Too\r\nmany", "Content-Type: text/html\r\nContent-Length: 5\r\nContent:\r\n\r\n");
    h.SendHead("200 OK", "");  // dropped
    h.Write("hello", 5);
  });
  HttpClient client(port());
  client.Send("GET / HTTP/1.1\r\nHost: x\r\n\r\n");
  HttpReply r = client.ReadReply();
  EXPECT_EQ(r.status_line, "HTTP/1.1 500 Too  many");
  EXPECT_FALSE(r.chunked);
  EXPECT_EQ(r.Header("Content-Length"), "5");
  EXPECT_TRUE(r.HasHeader("Content"));
  EXPECT_EQ(r.body, "hello");
  EXPECT_FALSE(r.closed);
  // The connection still serves.
  client.Send("GET / HTTP/1.1\r\nHost: x\r\n\r\n");
  EXPECT_EQ(client.ReadReply().body, "hello");
}

TEST_F(HostTest, MissingHeadIsMadeUp) {
  std::atomic<int> n{0};
  Serve([&n](host::Host& h) {
    if (n++ == 0) {
      h.Write("x|\r\n", 4);  // no head: a plain 200 goes first
    }
  });
  HttpReply r = Get(port(), "/");
  EXPECT_EQ(r.status_line, "HTTP/1.1 200 OK");
  EXPECT_EQ(r.body, "x|\r\n");
  r = Get(port(), "/");
  EXPECT_EQ(r.status, 500);
}

TEST_F(HostTest, OversizedHeadIsRefused) {
  httphost::ServerOptions options;
  options.max_header_bytes = 1024;
  ServeLines(options);
  HttpReply r = SendRequest(
      port(), "GET / HTTP/1.1\r\nHost: x\r\nX-Pad: " + std::string(4000, 'a') + "\r\n\r\n");
  EXPECT_EQ(r.status, 431);
  EXPECT_TRUE(r.closed);
  EXPECT_EQ(seen().method, "");
}

TEST_F(HostTest, OversizedBodyIsRefused) {
  httphost::ServerOptions options;
  options.max_body_bytes = 100;
  ServeLines(options);
  HttpReply r = SendRequest(port(),
                            "POST / HTTP/1.1\r\nHost: x\r\nContent-Length: 1000000\r\n\r\nabc");
  EXPECT_EQ(r.status, 413);
  EXPECT_TRUE(r.closed);
  r = SendRequest(port(), "POST / HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n200\r\n" +
                              std::string(0x200, 'a') + "\r\n0\r\n\r\n");
  EXPECT_EQ(r.status, 413);
  EXPECT_EQ(seen().method, "");
}

TEST_F(HostTest, MalformedRequestIsRefused) {
  ServeLines();
  HttpReply r = SendRequest(port(), "GARBAGE\r\n\r\n");
  EXPECT_EQ(r.status, 400);
  r = SendRequest(port(), "GET / HTTP/1.1\r\nContent-Length: abc\r\n\r\n");
  EXPECT_EQ(r.status, 400);
  EXPECT_EQ(seen().method, "");
}

TEST_F(HostTest, SlowClientsMeetTheTimeLimits) {
  httphost::ServerOptions options;
  options.head_timeout = 300ms;
  options.body_timeout = 300ms;
  ServeLines(options);
  {
    HttpClient client(port());
    client.Send("GET / HTTP/1.1\r\nHo");
    HttpReply r = client.ReadReply();
    EXPECT_EQ(r.status, 408);
    EXPECT_TRUE(client.WaitClosed());
  }
  {
    // A head that keeps coming, a byte at a time, must still be whole in
    // time.
    HttpClient client(port());
    client.Send("GET / HTTP/1.1\r\nX-Slow: ");
    auto deadline = std::chrono::steady_clock::now() + 20s;
    while (!client.Readable(20) && std::chrono::steady_clock::now() < deadline) client.Send("a");
    EXPECT_EQ(client.ReadReply().status, 408);
  }
  {
    HttpClient client(port());
    client.Send("POST / HTTP/1.1\r\nHost: x\r\nContent-Length: 10\r\n\r\nabc");
    HttpReply r = client.ReadReply();
    EXPECT_EQ(r.status, 408);
  }
  {
    // Silent connections are closed without a reply.
    HttpClient client(port());
    EXPECT_TRUE(client.WaitClosed());
    EXPECT_EQ(client.ReadReply().status, 0);
  }
  EXPECT_EQ(seen().method, "");
  EXPECT_EQ(Get(port(), "/").status, 200);
  EXPECT_TRUE(WaitFor([&] { return server_->OpenConnections() == 0; }));

  // A kept-alive connection waits for its next request for the idle time,
  // however long a head may take.
  server_.reset();
  options.head_timeout = 60s;
  options.idle_timeout = 300ms;
  ServeLines(options);
  HttpClient client(port());
  client.Send("GET / HTTP/1.1\r\nHost: x\r\n\r\n");
  EXPECT_EQ(client.ReadReply().status, 200);
  EXPECT_TRUE(client.WaitClosed());
  EXPECT_TRUE(WaitFor([&] { return server_->OpenConnections() == 0; }));
}

TEST_F(HostTest, WaitingConnectionsCostNoThreadAndKeepNoOneOut) {
  ServeLines();
  // Silent, half-sent and kept-alive connections, more than the threads a
  // server of one thread per connection would give them.
  std::vector<std::unique_ptr<HttpClient>> waiting;
  for (int i = 0; i < 400; ++i) {
    auto client = std::make_unique<HttpClient>(port());
    ASSERT_TRUE(client->connected());
    if (i % 4 == 1) client->Send("GET / HTTP/1.1\r\nHost: x\r\nX-Slow: ");
    if (i % 4 == 2) {
      client->Send("GET /?idle HTTP/1.1\r\nHost: x\r\n\r\n");
      ASSERT_EQ(client->ReadReply().status, 200);
    }
    waiting.push_back(std::move(client));
  }
  ASSERT_TRUE(WaitFor([&] { return server_->OpenConnections() == 400; }));
  EXPECT_TRUE(WaitFor([&] { return server_->IdleConnections() == 400; }));
  EXPECT_LT(ThreadsOfThisProcess(), 64);

  for (int i = 0; i < 20; ++i) {
    HttpReply r = Get(port(), "/?n=" + std::to_string(i));
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, "TICK|0|a|\r\nNOTE|RECORDCOUNT|1|\r\n");
  }
  EXPECT_EQ(seen().query, "n=19");
  // The kept-alive ones still serve; the finished ones are gone.
  waiting[2]->Send("GET /?again HTTP/1.1\r\nHost: x\r\n\r\n");
  EXPECT_EQ(waiting[2]->ReadReply().status, 200);
  EXPECT_TRUE(WaitFor([&] { return server_->OpenConnections() == 400; }));

  // What the clients close is closed here too.
  waiting.clear();
  EXPECT_TRUE(WaitFor([&] { return server_->OpenConnections() == 0; }));
  EXPECT_EQ(server_->IdleConnections(), 0u);
}

TEST_F(HostTest, ClientGoneMidReplyLosesItsSocketAndDoesNotStopTheServer) {
  Gate first_line_sent, client_gone, socket_checked;
  std::promise<int> writes_done;
  std::atomic<bool> first{true};
  Serve([&](host::Host& h) {
    h.SendHead("200 OK", "Content-Type: text/plain\r\n");
    if (!first.exchange(false)) {
      h.Write("ok\r\n", 4);
      return;
    }
    std::string line(1000, 'x');
    line += "\r\n";
    h.Write(line.data(), line.size());
    first_line_sent.Open();
    client_gone.Wait();
    int n = 0;
    for (; n < 5000; ++n) h.Write(line.data(), line.size());
    socket_checked.Wait();
    writes_done.set_value(n);
  });
  auto done = writes_done.get_future();
  {
    HttpClient client(port());
    client.Send("GET / HTTP/1.1\r\nHost: x\r\n\r\n");
    first_line_sent.Wait();
    EXPECT_FALSE(client.ReadSome(10).empty());
    client.Abort();
  }
  client_gone.Open();
  // Closed while its handler is still running.
  EXPECT_TRUE(WaitFor([&] { return server_->OpenConnections() == 0; }));
  EXPECT_EQ(done.wait_for(0s), std::future_status::timeout);
  socket_checked.Open();
  ASSERT_EQ(done.wait_for(20s), std::future_status::ready);
  EXPECT_EQ(done.get(), 5000);  // the handler ran to its end
  EXPECT_EQ(Get(port(), "/").body, "ok\r\n");
}

TEST_F(HostTest, ClientThatStopsReadingCannotHoldTheHandler) {
  httphost::ServerOptions options;
  options.write_timeout = 200ms;
  std::promise<void> finished;
  Serve(
      [&](host::Host& h) {
        h.SendHead("200 OK", "");
        std::string line(1000, 'y');
        for (int i = 0; i < 40000; ++i) h.Write(line.data(), line.size());
        finished.set_value();
      },
      options);
  auto done = finished.get_future();
  HttpClient client(port());
  client.Send("GET / HTTP/1.1\r\nHost: x\r\n\r\n");
  // The client reads nothing; the writes that no longer fit time out and
  // the rest are dropped.
  EXPECT_EQ(done.wait_for(30s), std::future_status::ready);
}

TEST_F(HostTest, LargeWritesKeepTheirFraming) {
  // Larger than the socket buffers: each write goes out over many sends.
  std::string big(12 << 20, 'b');
  for (size_t i = 0; i < big.size(); i += 1009) big[i] = static_cast<char>('a' + i % 26);
  Serve([&big](host::Host& h) {
    h.SendHead("200 OK", "Content-Type: text/plain\r\n");
    h.Write(big.data(), big.size());
    h.Write("end\r\n", 5);
  });
  HttpReply r = Get(port(), "/");
  ASSERT_EQ(r.chunks.size(), 2u);
  EXPECT_TRUE(r.chunks[0] == big);
  EXPECT_EQ(r.chunks[1], "end\r\n");

  HttpClient client(port());
  client.Send("GET / HTTP/1.0\r\n\r\n");
  HttpReply raw = client.ReadReply();
  EXPECT_FALSE(raw.chunked);
  EXPECT_TRUE(raw.body == big + "end\r\n");
}

TEST_F(HostTest, StopEndsWritesToAClientThatStopsReading) {
  httphost::ServerOptions options;
  options.write_timeout = 120s;  // longer than the test waits
  Gate writing;
  std::promise<void> finished;
  Serve(
      [&](host::Host& h) {
        h.SendHead("200 OK", "");
        std::string line(1000, 'w');
        for (int i = 0; i < 40000; ++i) {
          h.Write(line.data(), line.size());
          if (i == 0) writing.Open();
        }
        finished.set_value();
      },
      options);
  auto done = finished.get_future();
  HttpClient client(port());
  client.Send("GET / HTTP/1.1\r\nHost: x\r\n\r\n");
  writing.Wait();
  // The handler soon waits on a full socket; Stop must wake it, and the
  // handler's remaining writes are dropped.
  std::this_thread::sleep_for(200ms);
  auto stopped = std::async(std::launch::async, [this] { server_->Stop(); });
  EXPECT_EQ(stopped.wait_for(30s), std::future_status::ready);
  EXPECT_EQ(done.wait_for(30s), std::future_status::ready);
}

TEST_F(HostTest, ConnectionsBeyondTheBoundGet503) {
  httphost::ServerOptions options;
  options.max_connections = 2;
  Gate release;
  std::atomic<int> inside{0};
  Serve(
      [&](host::Host& h) {
        ++inside;
        release.Wait();
        h.SendHead("200 OK", "");
        h.Write("done\r\n", 6);
      },
      options);
  auto a = std::async(std::launch::async, [&] { return Get(port(), "/"); });
  auto b = std::async(std::launch::async, [&] { return Get(port(), "/"); });
  for (int i = 0; i < 2000 && inside.load() < 2; ++i) std::this_thread::sleep_for(5ms);
  ASSERT_EQ(inside.load(), 2);
  HttpReply busy = Get(port(), "/");
  EXPECT_EQ(busy.status, 503);
  EXPECT_TRUE(busy.closed);
  release.Open();
  EXPECT_EQ(a.get().body, "done\r\n");
  EXPECT_EQ(b.get().body, "done\r\n");
  // Ended connections free their places.
  HttpReply again;
  for (int i = 0; i < 200; ++i) {
    again = Get(port(), "/");
    if (again.status == 200) break;
    std::this_thread::sleep_for(10ms);
  }
  EXPECT_EQ(again.body, "done\r\n");
}

TEST_F(HostTest, StopEndsIdleConnections) {
  ServeLines();
  HttpClient client(port());
  client.Send("GET / HTTP/1.1\r\nHost: x\r\n\r\n");
  EXPECT_EQ(client.ReadReply().status, 200);
  server_->Stop();
  EXPECT_TRUE(client.WaitClosed());
  EXPECT_FALSE(HttpClient(port()).connected());
}

TEST(HostStartTest, UnusableAddressIsReported) {
  httphost::ServerOptions options;
  options.address = "not an address";
  httphost::HttpServer server(options, [](host::Host&) {});
  EXPECT_THROW(server.Start(), std::runtime_error);
}

}  // namespace
}  // namespace histtest
