// TestServer: the real HTTP host serving the real request service in
// process, on an ephemeral loopback port; and a small blocking HTTP client
// that shows a reply as it came over the wire.
//
// Typical use (with a StoreFixture, which provides the working folder with
// zet.ini, the stores and the log):
//
//   histtest::StoreFixture stores;
//   histtest::TestServer server;               // start sequence + listen
//   histtest::HttpReply r = server.Get("/?symbol=0005&mode=2");
//   EXPECT_EQ(r.status, 200);
//   EXPECT_EQ(r.body, "ERROR|Record not found.|");
//   EXPECT_EQ(r.chunks.size(), 1u);            // one line write, one chunk
//
// A test that wants the pool to make a subclass of THistData (a double that
// overrides the generators) passes a factory:
//
//   histtest::TestServer server([] { return std::make_unique<MyModule>(); });
//
// Only one TestServer may exist at a time: the service's application object
// is process-wide. The server is stopped and the service unloaded when the
// TestServer is destroyed.
#ifndef HISTDATA_TESTS_SUPPORT_TEST_SERVER_H_
#define HISTDATA_TESTS_SUPPORT_TEST_SERVER_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/http/server.h"
#include "service/app.h"

namespace histtest {

// One reply as received.
struct HttpReply {
  std::string status_line;  // "HTTP/1.1 200 OK", without CR LF
  int status = 0;           // 200; 0 when no reply arrived
  // Header lines in the order sent, name and value split at the first ":"
  // (the value without leading blanks).
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;  // de-chunked when chunked
  // For a chunked reply, each chunk's data in order (the host writes one
  // chunk per line write). Empty otherwise.
  std::vector<std::string> chunks;
  bool chunked = false;
  // The server closed the connection after this reply.
  bool closed = false;

  // Value of the first header of that name (any case); empty when absent.
  std::string Header(std::string_view name) const;
  bool HasHeader(std::string_view name) const;
};

// A blocking client over one connection to 127.0.0.1. Every read gives up
// after a time-out (60 s: a long reply on a loaded machine takes seconds to
// start), so a server that hangs fails the test instead of
// blocking it.
class HttpClient {
 public:
  explicit HttpClient(uint16_t port);
  ~HttpClient();
  HttpClient(const HttpClient&) = delete;
  HttpClient& operator=(const HttpClient&) = delete;

  bool connected() const { return fd_ >= 0; }
  // Sends raw bytes; false when the connection is gone.
  bool Send(std::string_view bytes);
  // Reads one reply: head, then the body framed by chunks, Content-Length or
  // the end of the connection. `head_only` for the reply to a HEAD request.
  HttpReply ReadReply(bool head_only = false);
  // Reads up to `count` raw bytes (at least one unless the connection ended).
  std::string ReadSome(size_t count);
  // Whether the server has closed the connection (waits up to the time-out).
  bool WaitClosed();
  // Whether bytes (or the end) are there to read within `wait`.
  bool Readable(int wait_ms);
  // Closes at once with a reset, as a client that dies does.
  void Abort();

 private:
  bool Fill();  // reads more into buffer_; false at end or error
  bool ReadLine(std::string& line);
  bool ReadExact(size_t n, std::string& out);
  int fd_ = -1;
  std::string buffer_;
  bool eof_ = false;
};

// One request on a fresh connection; the reply as received.
HttpReply SendRequest(uint16_t port, std::string_view raw_request);
// "GET <target> HTTP/1.1" with Host and "Connection: close".
HttpReply Get(uint16_t port, std::string_view target);
// "POST <target> HTTP/1.1", form content type, Content-Length of `body`.
HttpReply Post(uint16_t port, std::string_view target, std::string_view body);

class TestServer {
 public:
  // Runs the service's start sequence (reading MaxConnection from the
  // working folder's zet.ini) with `factory` making the modules (THistData
  // when empty), then listens on 127.0.0.1 with `options` (port forced to
  // an ephemeral one).
  explicit TestServer(hist::TWebApplication::ModuleFactory factory = nullptr,
                      httphost::ServerOptions options = {});
  ~TestServer();
  TestServer(const TestServer&) = delete;
  TestServer& operator=(const TestServer&) = delete;

  uint16_t port() const { return server_.Port(); }
  hist::TWebApplication& app() { return *hist::Application(); }

  HttpReply Get(std::string_view target) { return histtest::Get(port(), target); }
  HttpReply Post(std::string_view target, std::string_view body) {
    return histtest::Post(port(), target, body);
  }

 private:
  static httphost::ServerOptions Loopback(httphost::ServerOptions options);
  httphost::HttpServer server_;
};

}  // namespace histtest

#endif  // HISTDATA_TESTS_SUPPORT_TEST_SERVER_H_
