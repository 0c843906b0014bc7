#include "platform/http/exchange.h"

#include <cctype>
#include <charconv>
#include <string_view>

#include <boost/beast/http/field.hpp>
#include <boost/beast/http/verb.hpp>

#include "platform/http/socket_send.h"
#include "platform/rtl/text.h"

namespace httphost {

namespace http = boost::beast::http;

namespace {

// A status text or header value must not end the line early: CR and LF
// inside it would let the text inject lines of its own.
std::string OneLine(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  return out;
}

bool HasStatusCode(std::string_view text) {
  return text.size() >= 3 && std::isdigit(static_cast<unsigned char>(text[0])) &&
         std::isdigit(static_cast<unsigned char>(text[1])) &&
         std::isdigit(static_cast<unsigned char>(text[2])) &&
         (text.size() == 3 || text[3] == ' ');
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

std::string_view View(boost::beast::string_view v) { return std::string_view(v.data(), v.size()); }

}  // namespace

Exchange::Exchange(Connection& connection, Request& request)
    : connection_(connection),
      request_(request),
      head_only_(request.method() == http::verb::head),
      keep_alive_(request.version() == 11 && request.keep_alive()) {}

std::string Exchange::Method() { return std::string(request_.method_string()); }

std::string Exchange::QueryString() {
  std::string_view target = View(request_.target());
  size_t q = target.find('?');
  return q == std::string_view::npos ? std::string() : std::string(target.substr(q + 1));
}

std::string Exchange::PathInfo() {
  std::string_view target = View(request_.target());
  return std::string(target.substr(0, target.find('?')));
}

std::string Exchange::Protocol() {
  unsigned v = request_.version();
  return "HTTP/" + std::to_string(v / 10) + "." + std::to_string(v % 10);
}

int64_t Exchange::ContentLength() {
  auto it = request_.find(http::field::content_length);
  if (it != request_.end()) {
    int64_t n = 0;
    std::string_view v = View(it->value());
    auto r = std::from_chars(v.data(), v.data() + v.size(), n);
    if (r.ec == std::errc() && r.ptr == v.data() + v.size()) return n;
  }
  return static_cast<int64_t>(request_.body().size());
}

std::string Exchange::BodyReceived() { return request_.body(); }

std::string Exchange::ReadClient(size_t) { return std::string(); }

void Exchange::SendHead(const std::string& status_text, const std::string& headers) {
  if (head_sent_) return;
  head_sent_ = true;

  std::string status = OneLine(status_text);
  if (!HasStatusCode(status)) status = std::to_string(status_code_) + " " + status;
  std::string head = "HTTP/1.1 " + status + "\r\n";

  bool has_length = false;
  std::string_view block = headers;
  while (!block.empty()) {
    size_t end = block.find('\n');
    std::string_view line = block.substr(0, end);
    block = end == std::string_view::npos ? std::string_view() : block.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) break;  // the block's own end of head
    if (rtl::StartsWithText(line, "Content-Length:")) {
      std::string_view v = Trim(line.substr(15));
      uint64_t n = 0;
      auto r = std::from_chars(v.data(), v.data() + v.size(), n);
      if (r.ec != std::errc() || r.ptr != v.data() + v.size()) continue;  // not a length
      has_length = true;
      declared_length_ = n;
    }
    head.append(OneLine(line));
    head.append("\r\n");
  }

  if (has_length) {
    framing_ = Framing::kLength;
  } else if (request_.version() == 11) {
    framing_ = Framing::kChunked;
    head.append("Transfer-Encoding: chunked\r\n");
  } else {
    framing_ = Framing::kClose;
    keep_alive_ = false;
  }
  if (!keep_alive_) head.append("Connection: close\r\n");
  head.append("\r\n");
  // The head rides with the first body bytes (or the end of the reply): a
  // packet and a wake-up of the client fewer for every reply.
  held_head_ = std::move(head);
  if (head_only_) Send({});
}

void Exchange::Write(const char* data, size_t size) {
  // An empty chunk would end a chunked body.
  if (size == 0) return;
  if (!head_sent_) SendHead("200 OK", std::string());
  if (head_only_) return;
  body_written_ += size;
  // A reply is one write per line, and thousands of lines a second each in
  // a segment of its own cost the kernel a packet and the client a wake-up
  // apiece. Writes that come within kPushEvery of the last one sent at once
  // share segments instead; the first write after it, and the end of the
  // reply, send everything. A steady stream is so held back at most
  // kPushEvery; a handler that stops writing for long after a held write
  // leaves it waiting until its next write or end, and at most the kernel's
  // ceiling of about 200 ms.
  constexpr auto kPushEvery = std::chrono::milliseconds(1);
  const auto now = std::chrono::steady_clock::now();
  const bool more = now - last_push_ < kPushEvery;
  if (!more) last_push_ = now;
  std::string_view bytes(data, size);
  if (framing_ != Framing::kChunked) {
    Send({bytes}, more);
    return;
  }
  // The chunk's size line, its data and its end go out together, the data
  // from where the caller holds it.
  char size_line[20];
  auto r = std::to_chars(size_line, size_line + 16, static_cast<uint64_t>(size), 16);
  *r.ptr++ = '\r';
  *r.ptr++ = '\n';
  Send({std::string_view(size_line, r.ptr - size_line), bytes, "\r\n"}, more);
}

bool Exchange::Finish(bool completed) {
  const bool reusable = EndReply(completed);
  // Whatever way the reply ended, nothing of it may stay held back.
  if (held_back_) connection_.Push();
  return reusable;
}

bool Exchange::EndReply(bool completed) {
  if (!head_sent_) {
    // The handler ended without a reply of its own.
    static constexpr std::string_view kBody = "Internal Server Error\r\n";
    SendHead("500 Internal Server Error",
             "Content-Type: text/plain\r\nContent-Length: " + std::to_string(kBody.size()) +
                 "\r\n");
    Write(kBody.data(), kBody.size());
    return keep_alive_ && !failed_;
  }
  if (!completed) {
    Send({});
    return false;  // a cut reply must not look complete
  }
  if (head_only_) return keep_alive_ && !failed_;
  if (framing_ == Framing::kChunked) {
    Send({"0\r\n\r\n"});
  } else {
    Send({});
  }
  if (framing_ == Framing::kLength && body_written_ != declared_length_) return false;
  return keep_alive_ && !failed_;
}

void Exchange::Send(std::initializer_list<std::string_view> pieces, bool more) {
  if (failed_) return;
  std::string_view all[kMaxSendPieces];
  size_t n = 0;
  if (!held_head_.empty()) all[n++] = held_head_;
  for (std::string_view piece : pieces) all[n++] = piece;
  if (n == 0) return;
  const bool sent = connection_.Send(std::span(all, n), more);
  held_back_ = more;
  held_head_.clear();
  if (!sent) failed_ = true;
}

}  // namespace httphost
