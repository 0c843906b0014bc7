#include "tests/support/test_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>

namespace histtest {

namespace {

constexpr int kReadTimeoutSeconds = 60;

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

}  // namespace

std::string HttpReply::Header(std::string_view name) const {
  for (const auto& [n, v] : headers) {
    if (EqualsIgnoreCase(n, name)) return v;
  }
  return std::string();
}

bool HttpReply::HasHeader(std::string_view name) const {
  for (const auto& h : headers) {
    if (EqualsIgnoreCase(h.first, name)) return true;
  }
  return false;
}

HttpClient::HttpClient(uint16_t port) {
  fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd_ < 0) return;
  timeval tv{kReadTimeoutSeconds, 0};
  ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
  ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof(tv));
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

HttpClient::~HttpClient() {
  if (fd_ >= 0) ::close(fd_);
}

bool HttpClient::Send(std::string_view bytes) {
  while (!bytes.empty() && fd_ >= 0) {
    ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return fd_ >= 0;
}

bool HttpClient::Fill() {
  if (fd_ < 0 || eof_) return false;
  char buf[8192];
  ssize_t n = ::recv(fd_, buf, sizeof(buf), 0);
  if (n <= 0) {
    eof_ = true;
    return false;
  }
  buffer_.append(buf, static_cast<size_t>(n));
  return true;
}

bool HttpClient::ReadLine(std::string& line) {
  for (;;) {
    size_t end = buffer_.find("\r\n");
    if (end != std::string::npos) {
      line = buffer_.substr(0, end);
      buffer_.erase(0, end + 2);
      return true;
    }
    if (!Fill()) return false;
  }
}

bool HttpClient::ReadExact(size_t n, std::string& out) {
  while (buffer_.size() < n) {
    if (!Fill()) return false;
  }
  out.append(buffer_, 0, n);
  buffer_.erase(0, n);
  return true;
}

std::string HttpClient::ReadSome(size_t count) {
  if (buffer_.empty()) Fill();
  std::string out = buffer_.substr(0, count);
  buffer_.erase(0, out.size());
  return out;
}

bool HttpClient::WaitClosed() {
  while (Fill()) {
  }
  return eof_;
}

bool HttpClient::Readable(int wait_ms) {
  if (!buffer_.empty() || eof_) return true;
  if (fd_ < 0) return false;
  pollfd p{fd_, POLLIN, 0};
  return ::poll(&p, 1, wait_ms) > 0;
}

void HttpClient::Abort() {
  if (fd_ < 0) return;
  linger l{1, 0};  // close with a reset
  ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &l, sizeof(l));
  ::close(fd_);
  fd_ = -1;
}

HttpReply HttpClient::ReadReply(bool head_only) {
  HttpReply reply;
  std::string line;
  // Interim 1xx replies come before the real one.
  do {
    reply = HttpReply();
    if (!ReadLine(reply.status_line)) return reply;
    if (reply.status_line.size() >= 12) reply.status = std::atoi(reply.status_line.c_str() + 9);
    for (;;) {
      if (!ReadLine(line)) return reply;
      if (line.empty()) break;
      size_t colon = line.find(':');
      std::string name = line.substr(0, colon);
      std::string value = colon == std::string::npos ? std::string() : line.substr(colon + 1);
      value.erase(0, value.find_first_not_of(" \t") == std::string::npos
                         ? value.size()
                         : value.find_first_not_of(" \t"));
      reply.headers.emplace_back(std::move(name), std::move(value));
    }
  } while (reply.status >= 100 && reply.status < 200);

  reply.chunked = EqualsIgnoreCase(reply.Header("Transfer-Encoding"), "chunked");
  if (head_only) {
  } else if (reply.chunked) {
    for (;;) {
      if (!ReadLine(line)) break;
      size_t size = std::strtoul(line.c_str(), nullptr, 16);
      if (size == 0) {
        ReadLine(line);  // the empty line after the last chunk
        break;
      }
      std::string data;
      if (!ReadExact(size, data)) break;
      reply.body += data;
      reply.chunks.push_back(std::move(data));
      ReadLine(line);  // CR LF after the data
    }
  } else if (reply.HasHeader("Content-Length")) {
    ReadExact(std::strtoul(reply.Header("Content-Length").c_str(), nullptr, 10), reply.body);
  } else {
    while (Fill()) {
    }
    reply.body = std::move(buffer_);
    buffer_.clear();
  }
  reply.closed = EqualsIgnoreCase(reply.Header("Connection"), "close") || eof_;
  return reply;
}

HttpReply SendRequest(uint16_t port, std::string_view raw_request) {
  HttpClient client(port);
  client.Send(raw_request);
  bool head_only = raw_request.substr(0, 5) == "HEAD ";
  return client.ReadReply(head_only);
}

HttpReply Get(uint16_t port, std::string_view target) {
  std::string request = "GET " + std::string(target) +
                        " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
  return SendRequest(port, request);
}

HttpReply Post(uint16_t port, std::string_view target, std::string_view body) {
  std::string request = "POST " + std::string(target) +
                        " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n"
                        "Content-Type: application/x-www-form-urlencoded\r\n"
                        "Content-Length: " +
                        std::to_string(body.size()) + "\r\n\r\n" + std::string(body);
  return SendRequest(port, request);
}

httphost::ServerOptions TestServer::Loopback(httphost::ServerOptions options) {
  options.address = "127.0.0.1";
  options.port = 0;
  return options;
}

TestServer::TestServer(hist::TWebApplication::ModuleFactory factory,
                       httphost::ServerOptions options)
    : server_(Loopback(std::move(options)), [](host::Host& h) { hist::HttpExtensionProc(h); }) {
  hist::StartExtension(std::move(factory));
  server_.Start();
}

TestServer::~TestServer() {
  server_.Stop();
  hist::UnloadExtension();
}

}  // namespace histtest
