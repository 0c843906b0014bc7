#include "platform/http/server.h"

#include <stdexcept>
#include <thread>
#include <utility>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>

#include "platform/http/connection.h"

namespace httphost {

namespace net = boost::asio;
using tcp = net::ip::tcp;
using error_code = boost::system::error_code;

class HttpServer::Impl {
 public:
  Impl(ServerOptions options, Handler handler)
      : hub_(std::move(options), std::move(handler)), acceptor_(ioc_), retry_(ioc_) {}

  void Start() {
    if (started_) return;
    const ServerOptions& options = hub_.options;
    error_code ec;
    auto address = net::ip::make_address(options.address, ec);
    if (ec) throw std::runtime_error("Invalid listen address " + options.address);
    tcp::endpoint endpoint(address, options.port);
    acceptor_.open(endpoint.protocol(), ec);
    if (!ec) acceptor_.set_option(net::socket_base::reuse_address(true), ec);
    if (!ec) acceptor_.bind(endpoint, ec);
    if (!ec) acceptor_.listen(net::socket_base::max_listen_connections, ec);
    if (ec) {
      throw std::runtime_error("Cannot listen on " + options.address + ":" +
                               std::to_string(options.port) + ": " + ec.message());
    }
    port_ = acceptor_.local_endpoint().port();
    started_ = true;
    Accept();
    loop_ = std::thread([this] { ioc_.run(); });
  }

  uint16_t Port() const { return port_; }

  void Stop() {
    if (!started_ || stopped_) return;
    stopped_ = true;
    hub_.ShutdownAll();
    net::post(ioc_, [this] {
      error_code ignored;
      acceptor_.close(ignored);
      retry_.cancel();
    });
    // Handlers see their writes fail and return; then every connection,
    // back on the loop, finds its socket shut and closes, and the loop runs
    // out of work.
    hub_.workers.Stop();
    loop_.join();
  }

  const ConnectionHub& hub() const { return hub_; }

 private:
  void Accept() {
    acceptor_.async_accept([this](error_code ec, tcp::socket socket) {
      if (!acceptor_.is_open()) return;
      if (ec) {
        // Out of descriptors and the like: try again shortly rather than
        // spin; the waiting clients stay in the listen queue meanwhile.
        retry_.expires_after(std::chrono::milliseconds(50));
        retry_.async_wait([this](error_code wait_ec) {
          if (!wait_ec && acceptor_.is_open()) Accept();
        });
        return;
      }
      Admit(std::move(socket));
      Accept();
    });
  }

  void Admit(tcp::socket socket) {
    // Each write is a line the client should have at once; waiting to
    // coalesce small writes would also hold back a reply's last chunk.
    error_code ignored;
    socket.set_option(tcp::no_delay(true), ignored);
    bool admitted = hub_.open.load() < hub_.options.max_connections;
    auto connection = Connection::Open(hub_, std::move(socket), admitted);
    if (!connection) return;
    if (admitted) {
      connection->Start();
    } else {
      connection->Refuse(503, "Service Unavailable", "Server busy, retry.\r\n");
    }
  }

  ConnectionHub hub_;
  net::io_context ioc_;
  tcp::acceptor acceptor_;
  net::steady_timer retry_;
  std::thread loop_;
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

size_t HttpServer::OpenConnections() const { return impl_->hub().open.load(); }

size_t HttpServer::IdleConnections() const { return impl_->hub().waiting.load(); }

}  // namespace httphost
