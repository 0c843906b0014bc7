// The standalone HTTP host: accepts connections on one address and port and
// hands each request to a handler as a host::Host.
//
// One event-loop thread owns every connection while it waits: for a head,
// for a body, for the next request of a kept-alive connection. Waiting costs
// a socket, not a thread, so thousands of idle or slow clients do not keep
// anyone else out. A complete request runs its handler on a thread of a
// pool that grows as requests need it (up to max_handler_threads) and keeps
// its threads for later requests; the handler's writes go to the client one
// by one from that thread, each before the handler goes on. After a reply
// on a kept-alive connection, while no request waits for a thread, that
// thread waits a moment (2 ms) for the connection's next request and serves
// it itself when it comes whole, as most clients send it.
//
// Replies stream: to an HTTP/1.1 request every body write goes out at once
// as one chunk of a chunked reply and the connection may be kept alive; to
// an HTTP/1.0 request the body goes out unframed and the connection closes
// at its end. A head that declares its own Content-Length is sent with that
// length instead. Requests that the host refuses get a short plain-text
// reply with the status named below and the connection is closed:
//   503  max_connections connections are already open
//   431  the request head is larger than max_header_bytes
//   413  the declared or received body is larger than max_body_bytes
//   408  the head or body did not arrive within its time limit
//   400  the request cannot be parsed
// A client that goes away mid-reply is not reported to the handler: its
// socket is closed at the first failed write, later writes are dropped and
// the handler runs to its end.
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
  // Connections open at once, waiting or being served; a connection beyond
  // them gets 503. Each needs a file descriptor.
  size_t max_connections = 10000;
  // Handlers running at once; a complete request beyond them waits for the
  // first to return.
  size_t max_handler_threads = 256;
  size_t max_header_bytes = 16 * 1024;
  size_t max_body_bytes = 1024 * 1024;
  // The whole head of a request must arrive within this time of the
  // connection being accepted, or of its first byte on a kept-alive
  // connection. A head that has started by then gets 408; a connection that
  // sent nothing is just closed.
  std::chrono::milliseconds head_timeout{10000};
  // A kept-alive connection whose next request has not started within this
  // time of the previous reply is closed.
  std::chrono::milliseconds idle_timeout{30000};
  // Time for the body of a request once its head is in.
  std::chrono::milliseconds body_timeout{30000};
  // Time for one write to be taken by the client; a write that does not
  // finish in time marks the client as gone.
  std::chrono::milliseconds write_timeout{30000};
};

// Serves one request; runs on a handler thread. What it does not
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

  // Connections open now (refused ones aside), and those of them that are
  // running no handler: waiting for a request, its head or body, or
  // closing. Cheap, from any thread.
  size_t OpenConnections() const;
  size_t IdleConnections() const;

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace httphost

#endif  // HISTDATA_PLATFORM_HTTP_SERVER_H_
