// One accepted connection of the HTTP host: reads its requests one after
// another on the connection's own thread and serves each through the
// handler. Reads run on the connection's private io_context under a
// time-out; writes go straight to the socket from the same thread (a reply
// is many small writes, each of which must reach the client at once) under
// a time-out of their own. A slow or silent client can hold the thread only
// for the configured times.
#ifndef HISTDATA_PLATFORM_HTTP_CONNECTION_H_
#define HISTDATA_PLATFORM_HTTP_CONNECTION_H_

#include <atomic>
#include <chrono>
#include <mutex>
#include <span>
#include <string_view>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core/error.hpp>
#include <boost/beast/core/flat_buffer.hpp>

#include "platform/http/server.h"

namespace httphost {

class Connection {
 public:
  Connection(const ServerOptions& options, const Handler& handler);
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // The socket of this connection, bound to its io_context; the acceptor
  // hands the accepted descriptor to it before Serve.
  boost::asio::ip::tcp::socket& socket() { return socket_; }

  // Serves requests until the client closes, a time-out or a refusal ends
  // the connection, or Shutdown is called. Runs on the connection's thread.
  void Serve();
  // From any thread: ends the connection's reads and writes at once. A
  // handler that is running carries on; its writes are dropped.
  void Shutdown();
  bool Done() const { return done_.load(); }

  // Runs one asynchronous operation to completion on this thread. When the
  // time-out passes first the operation is cancelled (the socket stays
  // open, so a refusal can still be written) and the result is
  // boost::beast::error::timeout.
  template <class Start>
  boost::beast::error_code Run(std::chrono::milliseconds timeout, Start&& start) {
    boost::beast::error_code result;
    bool finished = false;
    bool timed_out = false;
    boost::asio::steady_timer timer(ioc_);
    timer.expires_after(timeout);
    timer.async_wait([&](boost::beast::error_code ec) {
      if (!ec && !finished) {
        timed_out = true;
        boost::beast::error_code ignored;
        socket_.cancel(ignored);
      }
    });
    start([&](boost::beast::error_code ec, std::size_t) {
      finished = true;
      result = ec;
      timer.cancel();
    });
    ioc_.restart();
    ioc_.run();
    if (timed_out && result) result = boost::beast::error::timeout;
    return result;
  }

  // Writes all of `bytes` under the write time-out; false when the client
  // is gone or too slow, or the connection is shut down.
  bool WriteAll(std::string_view bytes) { return WriteAll(std::span(&bytes, 1)); }
  // The same for up to kMaxSendPieces pieces sent back to back, as one
  // gathered write.
  bool WriteAll(std::span<const std::string_view> pieces);

  const ServerOptions& options() const { return options_; }

 private:
  // A short plain-text refusal with `status`, then the connection closes.
  void Refuse(int status, std::string_view reason);
  // Ends the connection after a final reply: the client sees the end of
  // our data before the socket closes, so it is not cut off by a reset.
  void CloseGracefully();

  const ServerOptions& options_;
  const Handler& handler_;
  boost::asio::io_context ioc_;
  boost::asio::ip::tcp::socket socket_;
  boost::beast::flat_buffer buffer_;
  // Guards the socket's descriptor against Shutdown from another thread
  // while this one closes it (the number could be reused by then).
  std::mutex close_lock_;
  bool closed_ = false;  // under close_lock_
  std::atomic<bool> shutting_down_{false};
  std::atomic<bool> done_{false};
};

}  // namespace httphost

#endif  // HISTDATA_PLATFORM_HTTP_CONNECTION_H_
