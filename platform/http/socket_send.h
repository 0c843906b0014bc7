// Sends a reply's pieces to a client socket from the handler's own
// thread, without an event loop: the pieces (a chunk's size line, its data,
// its CR LF) go out in one gathered send, in place, with no copy and no
// allocation. A client that stops reading holds the sender at most for the
// time-out, which is only looked at once the socket's buffer is full, so a
// send that fits costs one system call.
#ifndef HISTDATA_PLATFORM_HTTP_SOCKET_SEND_H_
#define HISTDATA_PLATFORM_HTTP_SOCKET_SEND_H_

#include <chrono>
#include <cstddef>
#include <span>
#include <string_view>

namespace httphost {

// The most pieces one SendAll takes.
constexpr size_t kMaxSendPieces = 4;

// Writes every byte of `pieces`, in order, to the connected stream socket
// `fd`, whatever its blocking mode. True once all of them are in the
// socket's send buffer; false when the peer is gone or the socket is shut
// down, or when the whole did not fit within `timeout` of the first moment
// it had to wait. Raises no SIGPIPE. More than kMaxSendPieces pieces raise
// std::length_error. With `more`, the caller promises more bytes soon: a
// TCP socket may then hold a partial segment back (MSG_MORE) until a send
// without it, a Push, or the kernel's own ceiling of about 200 ms.
bool SendAll(int fd, std::span<const std::string_view> pieces,
             std::chrono::milliseconds timeout, bool more = false);

// Sends at once whatever a TCP socket `fd` holds back after sends with
// `more`. Other sockets ignore it.
void Push(int fd);

}  // namespace httphost

#endif  // HISTDATA_PLATFORM_HTTP_SOCKET_SEND_H_
