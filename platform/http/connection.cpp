#include "platform/http/connection.h"

#include <poll.h>
#include <sys/socket.h>

#include <utility>

#include <boost/asio/post.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/string.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/read.hpp>

#include "platform/http/exchange.h"
#include "platform/http/socket_send.h"

namespace httphost {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = net::ip::tcp;
using error_code = beast::error_code;

namespace {

// What a finished or refused connection may still send us before it is
// closed, and for how long we wait for it.
constexpr size_t kDrainLimit = 64 * 1024;
constexpr std::chrono::milliseconds kDrainTime{1000};
// How long a handler thread waits for the next request of its connection.
constexpr int kLingerMs = 2;
// The first read of a request that may be whole.
constexpr size_t kFirstRead = 4096;

bool IsParseError(const error_code& ec) {
  return ec.category() == error_code(http::error::bad_target).category() &&
         ec != http::error::end_of_stream && ec != http::error::partial_message;
}

}  // namespace

void ConnectionHub::ShutdownAll() {
  std::lock_guard<std::mutex> guard(lock);
  stopping = true;
  for (Connection* c : live) c->Shutdown();
}

std::shared_ptr<Connection> Connection::Open(ConnectionHub& hub, tcp::socket socket,
                                             bool admitted) {
  std::shared_ptr<Connection> c(new Connection(hub, std::move(socket), admitted));
  std::lock_guard<std::mutex> guard(hub.lock);
  if (hub.stopping) {
    error_code ignored;
    c->socket_.close(ignored);
    c->closed_ = true;
    return nullptr;
  }
  hub.live.insert(c.get());
  if (admitted) {
    ++hub.open;
    ++hub.waiting;
    c->waiting_counted_ = true;
  }
  return c;
}

Connection::Connection(ConnectionHub& hub, tcp::socket socket, bool admitted)
    : hub_(hub), socket_(std::move(socket)), timer_(socket_.get_executor()), admitted_(admitted) {}

Connection::~Connection() { Close(); }

void Connection::Arm(std::chrono::milliseconds limit) {
  timed_out_ = false;
  unsigned generation = ++timer_generation_;
  timer_.expires_after(limit);
  timer_.async_wait([self = shared_from_this(), generation](error_code ec) {
    // A timer that fired just as its operation ended must not cancel the
    // next one.
    if (ec || generation != self->timer_generation_) return;
    self->timed_out_ = true;
    error_code ignored;
    self->socket_.cancel(ignored);
  });
}

void Connection::Disarm() {
  ++timer_generation_;
  timer_.cancel();
}

void Connection::Start() {
  // Reads made outside the loop (TakeWholeRequest) must not wait.
  error_code ignored;
  socket_.non_blocking(true, ignored);
  WaitForRequest();
}

void Connection::NewParser() {
  parser_.emplace();
  parser_->header_limit(static_cast<std::uint32_t>(hub_.options.max_header_bytes));
  parser_->body_limit(hub_.options.max_body_bytes);
}

void Connection::WaitForRequest() {
  NewParser();
  if (!kept_alive_ || buffer_.size() > 0) return ReadHead();
  // Between requests the connection holds no buffer, and the head's time
  // starts with its first byte.
  buffer_.shrink_to_fit();
  Arm(hub_.options.idle_timeout);
  socket_.async_wait(tcp::socket::wait_read, [self = shared_from_this()](error_code ec) {
    self->Disarm();
    if (ec) return self->Close();
    if (!self->TakeWholeRequest()) self->ReadHead();
  });
}

bool Connection::TakeWholeRequest() {
  // A small request arrives whole with its first bytes: read what is there
  // and parse it at once, without a timer set and cancelled for it or a
  // read queued on the loop. Anything less falls back to ReadHead, which
  // goes on from what the parser and the buffer hold.
  error_code ec;
  switch (ReadWhatArrived(ec)) {
    case Arrived::kWhole:
      Dispatch();
      return true;
    case Arrived::kBroken:
      Failed(ec);
      return true;
    case Arrived::kPart:
    case Arrived::kNothing:
      return false;
  }
  return false;
}

Connection::Arrived Connection::ReadWhatArrived(error_code& ec) {
  const size_t n = socket_.read_some(buffer_.prepare(kFirstRead), ec);
  if (ec) return Arrived::kNothing;  // nothing there after all, or the end: ReadHead sees it
  buffer_.commit(n);
  parser_->eager(true);
  buffer_.consume(parser_->put(buffer_.data(), ec));
  if (ec == http::error::need_more) return Arrived::kPart;
  if (ec) return Arrived::kBroken;
  return parser_->is_done() ? Arrived::kWhole : Arrived::kPart;
}

void Connection::ReadHead() {
  Arm(hub_.options.head_timeout);
  http::async_read_header(socket_, buffer_, *parser_,
                          [self = shared_from_this()](error_code ec, size_t) {
                            self->Disarm();
                            if (ec) return self->Failed(ec);
                            const auto& head = self->parser_->get();
                            auto expect = head.find(http::field::expect);
                            if (expect == head.end() ||
                                !beast::iequals(expect->value(), "100-continue") ||
                                self->parser_->is_done()) {
                              return self->ReadBody();
                            }
                            self->outgoing_ = "HTTP/1.1 100 Continue\r\n\r\n";
                            self->Arm(self->hub_.options.write_timeout);
                            net::async_write(self->socket_, net::buffer(self->outgoing_),
                                             [self](error_code ec, size_t) {
                                               self->Disarm();
                                               if (ec) return self->Close();
                                               self->ReadBody();
                                             });
                          });
}

void Connection::ReadBody() {
  if (parser_->is_done()) return Dispatch();
  Arm(hub_.options.body_timeout);
  http::async_read(socket_, buffer_, *parser_, [self = shared_from_this()](error_code ec, size_t) {
    self->Disarm();
    if (ec) return self->Failed(ec);
    self->Dispatch();
  });
}

void Connection::Failed(error_code ec) {
  if (ec == http::error::header_limit) {
    Refuse(431, "Request Header Fields Too Large", "");
  } else if (ec == http::error::body_limit) {
    Refuse(413, "Payload Too Large", "");
  } else if (timed_out_) {
    // A connection that sent nothing is just closed.
    if (parser_->got_some()) {
      Refuse(408, "Request Timeout", "");
    } else {
      Close();
    }
  } else if (IsParseError(ec)) {
    Refuse(400, "Bad Request", "");
  } else {
    Close();
  }
}

void Connection::Dispatch() {
  if (waiting_counted_) {
    waiting_counted_ = false;
    --hub_.waiting;
  }
  request_ = parser_->release();
  parser_.reset();
  if (!hub_.workers.Run([self = shared_from_this()] { self->Serve(); })) Close();
}

void Connection::Serve() {
  bool keep_alive = false;
  for (;;) {
    {
      Exchange exchange(*this, request_);
      bool completed = true;
      try {
        hub_.handler(exchange);
      } catch (...) {
        completed = false;
      }
      keep_alive = exchange.Finish(completed);
    }
    request_ = Request();
    if (!keep_alive || closed_) break;
    const Next next = NextRequestHere();
    if (next == Next::kTaken) return;
    if (next == Next::kNone) break;
  }
  // The wait for the next request starts from here rather than from the
  // event loop: the loop then wakes once per request (for its head), not
  // twice. Nothing of the loop touches this connection until that wait is
  // set up, and setting up a wait is safe from any thread.
  AfterReply(keep_alive);
}

// A client on a kept-alive connection mostly sends its next request as soon
// as it has read the reply. Waiting a moment for it here, on the thread that
// is free anyway, serves it with one wake-up of this thread instead of one
// of the event loop and another of a handler thread it hands the request
// to: on two cores those hand-overs cost as much as a small request's own
// work. Only while no request waits for a thread, and only a request that
// arrives whole in its first read; anything else goes on as after any
// reply.
Connection::Next Connection::NextRequestHere() {
  if (buffer_.size() > 0 || hub_.workers.Queued() > 0) return Next::kNone;
  pollfd ready{socket_.native_handle(), POLLIN, 0};
  if (::poll(&ready, 1, kLingerMs) != 1 || (ready.revents & POLLIN) == 0) return Next::kNone;
  NewParser();
  error_code ec;
  const Arrived arrived = ReadWhatArrived(ec);
  if (arrived == Arrived::kNothing) return Next::kNone;  // the loop sees the end, if it is one
  if (arrived == Arrived::kWhole) {
    request_ = parser_->release();
    parser_.reset();
    return Next::kHere;
  }
  kept_alive_ = true;
  waiting_counted_ = true;
  ++hub_.waiting;
  if (arrived == Arrived::kBroken) {
    Failed(ec);
  } else {
    ReadHead();  // goes on from what the parser and the buffer hold
  }
  return Next::kTaken;
}

void Connection::AfterReply(bool keep_alive) {
  if (closed_) return;  // the client went away during the reply
  waiting_counted_ = true;
  ++hub_.waiting;
  if (!keep_alive) return CloseGracefully();
  kept_alive_ = true;
  WaitForRequest();
}

bool Connection::Send(std::span<const std::string_view> pieces, bool more) {
  if (failed_) return false;
  if (SendAll(socket_.native_handle(), pieces, hub_.options.write_timeout, more)) return true;
  failed_ = true;
  // The rest of the reply can no longer arrive; the handler may still run
  // to its end, but not on an open socket.
  Close();
  return false;
}

void Connection::Push() {
  if (!failed_) httphost::Push(socket_.native_handle());
}

void Connection::Refuse(int status, std::string_view reason, std::string_view body) {
  std::string text = body.empty() ? std::string(reason) + "\r\n" : std::string(body);
  outgoing_ = "HTTP/1.1 " + std::to_string(status) + " " + std::string(reason) +
              "\r\nContent-Type: text/plain\r\nContent-Length: " + std::to_string(text.size()) +
              "\r\nConnection: close\r\n\r\n" + text;
  Arm(hub_.options.write_timeout);
  net::async_write(socket_, net::buffer(outgoing_), [self = shared_from_this()](error_code ec, size_t) {
    self->Disarm();
    self->outgoing_ = std::string();
    if (ec) return self->Close();
    self->CloseGracefully();
  });
}

void Connection::CloseGracefully() {
  error_code ec;
  socket_.shutdown(tcp::socket::shutdown_send, ec);
  if (ec) return Close();
  drained_ = 0;
  Arm(kDrainTime);
  Drain();
}

void Connection::Drain() {
  buffer_.consume(buffer_.size());
  socket_.async_read_some(buffer_.prepare(4096), [self = shared_from_this()](error_code ec, size_t n) {
    self->drained_ += n;
    if (!ec && self->drained_ < kDrainLimit) return self->Drain();
    self->Disarm();
    self->Close();
  });
}

void Connection::Shutdown() {
  std::lock_guard<std::mutex> guard(close_lock_);
  // At once, not through the event loop: a handler's send waiting for the
  // client runs outside it, and the shut socket wakes it with an error.
  if (!closed_) ::shutdown(socket_.native_handle(), SHUT_RDWR);
}

void Connection::Close() {
  {
    std::lock_guard<std::mutex> guard(close_lock_);
    if (closed_) return;
    error_code ignored;
    socket_.close(ignored);
    closed_ = true;
  }
  if (waiting_counted_) {
    waiting_counted_ = false;
    --hub_.waiting;
  }
  if (admitted_) --hub_.open;
  std::lock_guard<std::mutex> guard(hub_.lock);
  hub_.live.erase(this);
}

}  // namespace httphost
