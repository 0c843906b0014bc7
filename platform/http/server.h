// The standalone HTTP host: accepts connections on one address and port and
// hands each request to a handler as a host::Host, on a thread of its own
// connection.
//
// Replies stream: to an HTTP/1.1 request every body write goes out at once
// as one chunk of a chunked reply and the connection may be kept alive; to
// an HTTP/1.0 request the body goes out unframed and the connection closes
// at its end. A head that declares its own Content-Length is sent with that
// length instead. Requests that the host refuses get a short plain-text
// reply with the status named below and the connection is closed:
//   503  all connection threads are busy
//   431  the request head is larger than max_header_bytes
//   413  the declared or received body is larger than max_body_bytes
//   408  the head or body did not arrive within its time-out
//   400  the request cannot be parsed
// A client that goes away mid-reply is not reported to the handler: later
// writes are dropped and the handler runs to its end.
#ifndef HISTDATA_PLATFORM_HTTP_SERVER_H_
#define HISTDATA_PLATFORM_HTTP_SERVER_H_

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/host.h"

namespace httphost {

struct ServerOptions {
  std::string address = "0.0.0.0";
  uint16_t port = 0;  // 0 picks a free port (see HttpServer::Port)
  // Connections served at once, one thread each; more are refused with 503.
  size_t max_connections = 128;
  size_t max_header_bytes = 16 * 1024;
  size_t max_body_bytes = 1024 * 1024;
  // Wait for the next request's head, from connection or from the end of
  // the previous reply; a head that has started but not finished by then
  // gets 408, a connection that sent nothing is just closed.
  std::chrono::milliseconds idle_timeout{30000};
  // Time for the body of a request once its head is in.
  std::chrono::milliseconds read_timeout{30000};
  // Time for one write to be taken by the client; a write that does not
  // finish in time marks the client as gone.
  std::chrono::milliseconds write_timeout{30000};
};

// Serves one request; runs on the connection's thread. What it does not
// send is made up by the host: a handler that returns without a head gets a
// 500 reply.
using Handler = std::function<void(host::Host&)>;

class HttpServer {
 public:
  HttpServer(ServerOptions options, Handler handler);
  // Stops (see Stop).
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // Binds, listens and starts accepting on a thread of its own. Raises
  // std::runtime_error when the address cannot be bound.
  void Start();
  // The bound port (the chosen one when the options asked for 0).
  uint16_t Port() const;
  // Stops accepting, ends idle and reading connections, waits for the
  // handlers that are running to return and for every thread to end.
  void Stop();

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace httphost

#endif  // HISTDATA_PLATFORM_HTTP_SERVER_H_
