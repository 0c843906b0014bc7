#include "platform/http/socket_send.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>

#include <cerrno>
#include <stdexcept>

namespace httphost {

namespace {

using Clock = std::chrono::steady_clock;

// Waits until `fd` takes more bytes or `deadline` passes; false on time-out
// or when poll itself fails.
bool WaitWritable(int fd, Clock::time_point deadline) {
  for (;;) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return false;
    pollfd p{fd, POLLOUT, 0};
    int n = ::poll(&p, 1, static_cast<int>(left.count()));
    if (n > 0) return true;  // writable, or an error the next send reports
    if (n < 0 && errno != EINTR) return false;
  }
}

}  // namespace

bool SendAll(int fd, std::span<const std::string_view> pieces,
             std::chrono::milliseconds timeout, bool more) {
  const int flags = MSG_NOSIGNAL | MSG_DONTWAIT | (more ? MSG_MORE : 0);
  if (pieces.size() > kMaxSendPieces) throw std::length_error("SendAll: too many pieces");
  iovec iov[kMaxSendPieces];
  size_t count = 0;
  for (std::string_view piece : pieces) {
    if (piece.empty()) continue;
    iov[count].iov_base = const_cast<char*>(piece.data());
    iov[count].iov_len = piece.size();
    ++count;
  }
  iovec* next = iov;
  bool waited = false;
  Clock::time_point deadline;
  while (count > 0) {
    msghdr message{};
    message.msg_iov = next;
    message.msg_iovlen = count;
    // Non-blocking whatever the descriptor's mode: a full buffer must come
    // back here to be waited for under the time-out.
    ssize_t sent = ::sendmsg(fd, &message, flags);
    if (sent < 0) {
      if (errno == EINTR) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) return false;
      if (!waited) {
        waited = true;
        deadline = Clock::now() + timeout;
      }
      // Bytes held back by earlier sends with `more` would leave a full
      // buffer only at the kernel's ceiling: send them before waiting.
      Push(fd);
      if (!WaitWritable(fd, deadline)) return false;
      continue;
    }
    // Step past what went out; a piece may have gone in part.
    size_t done = static_cast<size_t>(sent);
    while (count > 0 && done >= next->iov_len) {
      done -= next->iov_len;
      ++next;
      --count;
    }
    if (count > 0) {
      next->iov_base = static_cast<char*>(next->iov_base) + done;
      next->iov_len -= done;
    }
  }
  return true;
}

void Push(int fd) {
  // Setting TCP_NODELAY, even to the value it has, sends the held-back
  // partial segment at once; on a socket that is not TCP it fails harmlessly.
  int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

}  // namespace httphost
