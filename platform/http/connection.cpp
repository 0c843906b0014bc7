#include "platform/http/connection.h"

#include <sys/socket.h>

#include <string>

#include <boost/asio/post.hpp>
#include <boost/beast/core/error.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/string_body.hpp>
#include <boost/beast/http/parser.hpp>

#include "platform/http/exchange.h"
#include "platform/http/socket_send.h"

namespace httphost {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;

namespace {

// What a refused connection may still send us before it is closed, and for
// how long we wait for it.
constexpr size_t kDrainLimit = 64 * 1024;
constexpr std::chrono::milliseconds kDrainTime{1000};

bool IsParseError(const beast::error_code& ec) {
  return ec.category() == beast::error_code(http::error::bad_target).category();
}

}  // namespace

Connection::Connection(const ServerOptions& options, const Handler& handler)
    : options_(options), handler_(handler), socket_(ioc_) {}

void Connection::Shutdown() {
  shutting_down_ = true;
  {
    // At once, not through the io_context: a write waiting for the client
    // runs outside it, and the shut socket wakes it with an error.
    std::lock_guard<std::mutex> guard(close_lock_);
    if (!closed_) ::shutdown(socket_.native_handle(), SHUT_RDWR);
  }
  net::post(ioc_, [this] {
    beast::error_code ignored;
    socket_.cancel(ignored);
  });
}

bool Connection::WriteAll(std::span<const std::string_view> pieces) {
  return SendAll(socket_.native_handle(), pieces, options_.write_timeout);
}

void Connection::Serve() {
  while (!shutting_down_) {
    http::request_parser<http::string_body> parser;
    parser.header_limit(static_cast<std::uint32_t>(options_.max_header_bytes));
    parser.body_limit(options_.max_body_bytes);

    beast::error_code ec = Run(options_.idle_timeout, [&](auto handler) {
      http::async_read_header(socket_, buffer_, parser, std::move(handler));
    });
    if (!ec && !parser.is_done()) {
      const auto& head = parser.get();
      auto expect = head.find(http::field::expect);
      if (expect != head.end() && beast::iequals(expect->value(), "100-continue") &&
          !WriteAll("HTTP/1.1 100 Continue\r\n\r\n")) {
        break;
      }
      ec = Run(options_.read_timeout, [&](auto handler) {
        http::async_read(socket_, buffer_, parser, std::move(handler));
      });
    }
    if (ec) {
      if (ec == http::error::header_limit) {
        Refuse(431, "Request Header Fields Too Large");
      } else if (ec == http::error::body_limit) {
        Refuse(413, "Payload Too Large");
      } else if (ec == beast::error::timeout) {
        if (parser.got_some()) Refuse(408, "Request Timeout");
      } else if (IsParseError(ec) && ec != http::error::end_of_stream &&
                 ec != http::error::partial_message) {
        Refuse(400, "Bad Request");
      }
      break;
    }

    Exchange::Request request = parser.release();
    Exchange exchange(*this, request);
    bool completed = true;
    try {
      handler_(exchange);
    } catch (...) {
      completed = false;
    }
    if (!exchange.Finish(completed)) break;
  }
  CloseGracefully();
  done_ = true;
}

void Connection::Refuse(int status, std::string_view reason) {
  std::string body = std::string(reason) + "\r\n";
  std::string reply = "HTTP/1.1 " + std::to_string(status) + " " + std::string(reason) +
                      "\r\nContent-Type: text/plain\r\nContent-Length: " +
                      std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
  WriteAll(reply);
}

void Connection::CloseGracefully() {
  beast::error_code ec;
  socket_.shutdown(net::ip::tcp::socket::shutdown_send, ec);
  // Read what the client still sends until it closes its side, so that
  // unread bytes do not turn our close into a reset that could discard the
  // reply before the client has read it.
  if (!ec && !shutting_down_) {
    size_t drained = 0;
    char scratch[4096];
    auto deadline = std::chrono::steady_clock::now() + kDrainTime;
    while (drained < kDrainLimit) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) break;
      size_t got = 0;
      ec = Run(left, [&](auto handler) {
        socket_.async_read_some(net::buffer(scratch), [&got, handler = std::move(handler)](
                                                          beast::error_code e, size_t n) mutable {
          got = n;
          handler(e, n);
        });
      });
      if (ec) break;
      drained += got;
    }
  }
  std::lock_guard<std::mutex> guard(close_lock_);
  socket_.close(ec);
  closed_ = true;
}

}  // namespace httphost
