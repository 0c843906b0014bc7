// The gathered socket send of the HTTP host, on local stream socket pairs.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <string>
#include <string_view>
#include <thread>

#include "platform/http/socket_send.h"

namespace histtest {
namespace {

using namespace std::chrono_literals;

class SocketSendTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds_), 0);
    // A small buffer, so that large pieces go out over many partial sends.
    int size = 4096;
    ::setsockopt(fds_[0], SOL_SOCKET, SO_SNDBUF, &size, sizeof(size));
  }
  void TearDown() override {
    if (fds_[0] >= 0) ::close(fds_[0]);
    if (fds_[1] >= 0) ::close(fds_[1]);
  }
  int writer() const { return fds_[0]; }
  // Reads everything until the writer closes.
  std::string ReadToEnd() {
    std::string got;
    char buffer[1500];  // not a divisor of the pieces' sizes
    for (;;) {
      ssize_t n = ::read(fds_[1], buffer, sizeof(buffer));
      if (n <= 0) return got;
      got.append(buffer, static_cast<size_t>(n));
    }
  }
  void CloseWriter() {
    ::close(fds_[0]);
    fds_[0] = -1;
  }
  void CloseReader() {
    ::close(fds_[1]);
    fds_[1] = -1;
  }

  int fds_[2] = {-1, -1};
};

TEST_F(SocketSendTest, PiecesArriveWholeAndInOrder) {
  const std::string big(300000, 'd');
  std::string with_marks = big;
  for (size_t i = 0; i < with_marks.size(); i += 997) with_marks[i] = static_cast<char>('A' + i % 26);
  auto reader = std::async(std::launch::async, [this] { return ReadToEnd(); });

  const std::string_view chunk[] = {"493E0\r\n", with_marks, "\r\n"};
  EXPECT_TRUE(httphost::SendAll(writer(), chunk, 5s));
  const std::string_view with_empty[] = {"", "x", "", "yz"};
  EXPECT_TRUE(httphost::SendAll(writer(), with_empty, 5s));
  const std::string_view none[] = {"", ""};
  EXPECT_TRUE(httphost::SendAll(writer(), none, 5s));
  CloseWriter();

  ASSERT_EQ(reader.wait_for(20s), std::future_status::ready);
  EXPECT_EQ(reader.get(), "493E0\r\n" + with_marks + "\r\nxyz");
}

TEST_F(SocketSendTest, PeerGoneIsAFailureNotASignal) {
  CloseReader();
  const std::string_view line[] = {"TICK|0|a|\r\n"};
  // With SIGPIPE at its default the process would end here.
  EXPECT_FALSE(httphost::SendAll(writer(), line, 5s));
  EXPECT_FALSE(httphost::SendAll(writer(), line, 5s));
}

TEST_F(SocketSendTest, PeerThatStopsReadingTimesOutOnABlockingSocket) {
  // The descriptor is in blocking mode; the send must still give up.
  const std::string big(1 << 20, 'z');
  const std::string_view pieces[] = {big};
  auto sent = std::async(std::launch::async,
                         [&] { return httphost::SendAll(writer(), pieces, 100ms); });
  ASSERT_EQ(sent.wait_for(20s), std::future_status::ready);
  EXPECT_FALSE(sent.get());
}

TEST_F(SocketSendTest, ShutDownSocketEndsAWaitingSend) {
  const std::string big(1 << 20, 's');
  const std::string_view pieces[] = {big};
  auto sent = std::async(std::launch::async,
                         [&] { return httphost::SendAll(writer(), pieces, 60s); });
  // Let the send fill the buffer and wait; the shutdown must wake it well
  // before its time-out.
  std::this_thread::sleep_for(100ms);
  ::shutdown(writer(), SHUT_RDWR);
  ASSERT_EQ(sent.wait_for(20s), std::future_status::ready);
  EXPECT_FALSE(sent.get());
}

// Writes sent with `more` may wait in the kernel for their successors; Push
// must send them all at once, or a reply's last lines would sit there for
// the kernel's own ceiling. Asked of the socket itself (its bytes not yet
// sent), since on loopback a pushed segment leaves before the call returns.
TEST(SocketSendPushTest, PushSendsWhatMoreHeldBack) {
  const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(::listen(listener, 1), 0);
  ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len), 0);
  const int client = ::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_EQ(::connect(client, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  const int server = ::accept(listener, nullptr, nullptr);
  ASSERT_GE(server, 0);
  httphost::Push(server);  // sets TCP_NODELAY, as the host does for its sockets

  std::string expected;
  for (int i = 0; i < 50; ++i) {
    const std::string line = "TICK|" + std::to_string(i) + "|\r\n";
    const std::string_view pieces[] = {line};
    ASSERT_TRUE(httphost::SendAll(server, pieces, 5s, true));
    expected += line;
  }
  httphost::Push(server);
  int unsent = -1;
  ASSERT_EQ(::ioctl(server, SIOCOUTQNSD, &unsent), 0);
  EXPECT_EQ(unsent, 0);
  std::string got;
  char buffer[4096];
  while (got.size() < expected.size()) {
    const ssize_t n = ::read(client, buffer, sizeof buffer);
    ASSERT_GT(n, 0);
    got.append(buffer, static_cast<size_t>(n));
  }
  EXPECT_EQ(got, expected);
  ::close(server);
  ::close(client);
  ::close(listener);
}

}  // namespace
}  // namespace histtest
