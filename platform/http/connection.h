// One accepted connection of the HTTP host. While it waits (for a request's
// head, its body, the next request of a kept-alive connection, or the end of
// a refused or finished one) it lives on the server's event loop and costs
// a socket and a few hundred bytes, never a thread. A complete request is
// handed to a handler thread, which writes the reply straight to the socket,
// each write going out before the handler goes on; when the handler returns
// the connection goes back to the event loop.
#ifndef HISTDATA_PLATFORM_HTTP_CONNECTION_H_
#define HISTDATA_PLATFORM_HTTP_CONNECTION_H_

#include <atomic>
#include <chrono>
#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_set>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core/error.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/string_body.hpp>

#include "platform/http/server.h"
#include "platform/http/worker_pool.h"

namespace httphost {

class Connection;

// What the connections of one server share.
struct ConnectionHub {
  ConnectionHub(ServerOptions o, Handler h)
      : options(std::move(o)), handler(std::move(h)), workers(options.max_handler_threads) {}

  // Any thread: no connection is registered from now on and every
  // registered one is shut down (see Connection::Shutdown).
  void ShutdownAll();

  const ServerOptions options;
  const Handler handler;
  WorkerPool workers;
  std::atomic<size_t> open{0};     // admitted and not yet closed
  std::atomic<size_t> waiting{0};  // open and running no handler

  // Every connection not yet closed, refused ones too.
  std::mutex lock;
  std::unordered_set<Connection*> live;  // under lock
  bool stopping = false;                 // under lock
};

class Connection : public std::enable_shared_from_this<Connection> {
 public:
  using Request = boost::beast::http::request<boost::beast::http::string_body>;

  // Event loop: takes over `socket` (a socket of the loop); `admitted` ones
  // count as open. Null once the server is stopping (the socket is closed).
  static std::shared_ptr<Connection> Open(ConnectionHub& hub, boost::asio::ip::tcp::socket socket,
                                          bool admitted);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Event loop: serves requests until the client leaves, a limit ends the
  // connection or a reply cannot go on.
  void Start();
  // Event loop: sends a short plain-text refusal, then closes.
  void Refuse(int status, std::string_view reason, std::string_view body);

  // Handler thread: writes all of `pieces` (at most kMaxSendPieces) as one
  // gathered send under the write time-out; `more` lets the socket hold a
  // partial segment back until the next send or Push. The first failure
  // closes the socket at once; from then on nothing more is sent and the
  // result is false.
  bool Send(std::span<const std::string_view> pieces, bool more = false);
  // Handler thread: sends what earlier sends with `more` held back.
  void Push();

  // Any thread: ends the connection's reads and writes at once. A handler
  // that is running carries on; its writes fail.
  void Shutdown();

 private:
  Connection(ConnectionHub& hub, boost::asio::ip::tcp::socket socket, bool admitted);

  void WaitForRequest();
  // True when the request was complete in what the socket held, and is
  // dispatched (or refused).
  bool TakeWholeRequest();
  // One read of what the socket holds, into the parser: a whole request, a
  // part of one, a request that cannot be parsed (`ec` says why), or
  // nothing (the read failed: no data after all, or the end).
  enum class Arrived { kWhole, kPart, kBroken, kNothing };
  Arrived ReadWhatArrived(boost::beast::error_code& ec);
  void ReadHead();
  void ReadBody();
  void Failed(boost::beast::error_code ec);
  void Dispatch();
  void Serve();  // handler thread
  // Handler thread, after a kept-alive reply: kHere when the next request
  // came whole and is in request_ to be served on this thread; kTaken when
  // it began to come and the event loop goes on reading it (or refuses
  // it); kNone when nothing came in time.
  enum class Next { kNone, kHere, kTaken };
  Next NextRequestHere();
  void NewParser();
  void AfterReply(bool keep_alive);
  // Ends the connection after a final reply: our side is shut first and
  // what the client still sends is read for a moment, so that the close
  // does not turn into a reset that could cut off the reply.
  void CloseGracefully();
  void Drain();
  void Close();

  // Times the operation about to start: when `limit` passes first, the
  // socket's operations are cancelled and timed_out_ says why.
  void Arm(std::chrono::milliseconds limit);
  void Disarm();

  ConnectionHub& hub_;
  boost::asio::ip::tcp::socket socket_;
  boost::asio::steady_timer timer_;
  unsigned timer_generation_ = 0;
  bool timed_out_ = false;
  boost::beast::flat_buffer buffer_;
  std::optional<boost::beast::http::request_parser<boost::beast::http::string_body>> parser_;
  Request request_;      // the request a handler runs for
  std::string outgoing_;  // a refusal or interim reply being written
  size_t drained_ = 0;
  bool kept_alive_ = false;  // a reply went out and the connection stayed
  const bool admitted_;
  bool waiting_counted_ = false;
  bool failed_ = false;  // handler thread: a send failed
  // Guards the descriptor against Shutdown from another thread while it is
  // being closed (its number could be reused by then).
  std::mutex close_lock_;
  std::atomic<bool> closed_{false};
};

}  // namespace httphost

#endif  // HISTDATA_PLATFORM_HTTP_CONNECTION_H_
