#include "platform/http/server.h"

#include <list>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <utility>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/write.hpp>

#include "platform/http/connection.h"

namespace httphost {

namespace net = boost::asio;
using tcp = net::ip::tcp;
using error_code = boost::system::error_code;

namespace {

constexpr std::string_view kBusyReply =
    "HTTP/1.1 503 Service Unavailable\r\nContent-Type: text/plain\r\nContent-Length: 21\r\n"
    "Connection: close\r\n\r\nServer busy, retry.\r\n";

// How long a refused connection may take to send its request before it is
// closed.
constexpr std::chrono::milliseconds kBusyDrainTime{1000};

// A connection refused for want of threads: the 503 reply goes out, what the
// client sends is read and dropped until it closes or time runs out, all on
// the acceptor's thread without blocking it.
struct BusyRefusal : std::enable_shared_from_this<BusyRefusal> {
  BusyRefusal(tcp::socket s) : socket(std::move(s)), timer(socket.get_executor()) {}

  void Start() {
    auto self = shared_from_this();
    net::async_write(socket, net::buffer(kBusyReply.data(), kBusyReply.size()),
                     [self](error_code ec, size_t) {
                       if (ec) return self->Close();
                       error_code ignored;
                       self->socket.shutdown(tcp::socket::shutdown_send, ignored);
                       self->timer.expires_after(kBusyDrainTime);
                       self->timer.async_wait([self](error_code) { self->Close(); });
                       self->Drain();
                     });
  }
  void Drain() {
    auto self = shared_from_this();
    socket.async_read_some(net::buffer(scratch), [self](error_code ec, size_t) {
      if (ec) return self->Close();
      self->Drain();
    });
  }
  void Close() {
    error_code ignored;
    timer.cancel();
    socket.close(ignored);
  }

  tcp::socket socket;
  net::steady_timer timer;
  char scratch[4096];
};

}  // namespace

class HttpServer::Impl {
 public:
  Impl(ServerOptions options, Handler handler)
      : options_(std::move(options)), handler_(std::move(handler)), acceptor_(accept_ioc_) {}

  void Start() {
    if (started_) return;
    error_code ec;
    auto address = net::ip::make_address(options_.address, ec);
    if (ec) throw std::runtime_error("Invalid listen address " + options_.address);
    tcp::endpoint endpoint(address, options_.port);
    acceptor_.open(endpoint.protocol(), ec);
    if (!ec) acceptor_.set_option(net::socket_base::reuse_address(true), ec);
    if (!ec) acceptor_.bind(endpoint, ec);
    if (!ec) acceptor_.listen(net::socket_base::max_listen_connections, ec);
    if (ec) {
      throw std::runtime_error("Cannot listen on " + options_.address + ":" +
                               std::to_string(options_.port) + ": " + ec.message());
    }
    port_ = acceptor_.local_endpoint().port();
    started_ = true;
    Accept();
    accept_thread_ = std::thread([this] { accept_ioc_.run(); });
  }

  uint16_t Port() const { return port_; }

  void Stop() {
    if (!started_ || stopped_) return;
    stopped_ = true;
    net::post(accept_ioc_, [this] {
      stopping_ = true;
      error_code ignored;
      acceptor_.close(ignored);
    });
    accept_thread_.join();
    std::lock_guard<std::mutex> guard(lock_);
    for (Slot& slot : slots_) slot.connection->Shutdown();
    for (Slot& slot : slots_) slot.thread.join();
    slots_.clear();
  }

 private:
  struct Slot {
    std::unique_ptr<Connection> connection;
    std::thread thread;
  };

  void Accept() {
    acceptor_.async_accept([this](error_code ec, tcp::socket socket) {
      if (stopping_) return;
      if (ec) {
        // Out of descriptors and the like: try again shortly rather than
        // spin.
        auto timer = std::make_shared<net::steady_timer>(accept_ioc_);
        timer->expires_after(std::chrono::milliseconds(50));
        timer->async_wait([this, timer](error_code) {
          if (!stopping_) Accept();
        });
        return;
      }
      Admit(std::move(socket));
      Accept();
    });
  }

  void Admit(tcp::socket socket) {
    std::lock_guard<std::mutex> guard(lock_);
    Reap();
    if (slots_.size() < options_.max_connections) {
      auto connection = std::make_unique<Connection>(options_, handler_);
      error_code ec;
      auto protocol = socket.local_endpoint(ec).protocol();
      if (ec) return;
      auto native = socket.release(ec);
      if (ec) return;
      connection->socket().assign(protocol, native, ec);
      if (ec) return;
      // Each write is a line the client should have at once; waiting to
      // coalesce small writes would also hold back a reply's last chunk.
      connection->socket().set_option(tcp::no_delay(true), ec);
      Connection* raw = connection.get();
      try {
        std::thread thread([raw] { raw->Serve(); });
        slots_.push_back(Slot{std::move(connection), std::move(thread)});
        return;
      } catch (const std::system_error&) {
        // No thread to be had: refuse below with the connection's socket.
        socket = tcp::socket(accept_ioc_);
        socket.assign(protocol, raw->socket().release(ec), ec);
      }
    }
    std::make_shared<BusyRefusal>(std::move(socket))->Start();
  }

  // Joins the threads of connections that have ended.
  void Reap() {
    for (auto it = slots_.begin(); it != slots_.end();) {
      if (it->connection->Done()) {
        it->thread.join();
        it = slots_.erase(it);
      } else {
        ++it;
      }
    }
  }

  ServerOptions options_;
  Handler handler_;
  net::io_context accept_ioc_;
  tcp::acceptor acceptor_;
  std::thread accept_thread_;
  std::mutex lock_;
  std::list<Slot> slots_;
  bool stopping_ = false;  // accept thread only
  bool started_ = false;
  bool stopped_ = false;
  uint16_t port_ = 0;
};

HttpServer::HttpServer(ServerOptions options, Handler handler)
    : impl_(std::make_unique<Impl>(std::move(options), std::move(handler))) {}

HttpServer::~HttpServer() { Stop(); }

void HttpServer::Start() { impl_->Start(); }

uint16_t HttpServer::Port() const { return impl_->Port(); }

void HttpServer::Stop() { impl_->Stop(); }

}  // namespace httphost
