// What the fault-injection tests share: the real programs run as child
// processes, and the rule a reply must keep whatever fails behind it.
#ifndef HISTDATA_TESTS_FAULTS_FAULT_SUPPORT_H_
#define HISTDATA_TESTS_FAULTS_FAULT_SUPPORT_H_

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace histtest::faults {

// A reply that stopped where a failure stood still holds whole lines only.
inline bool WholeLines(const std::string& body) {
  return body.empty() || (body.size() >= 2 && body.compare(body.size() - 2, 2, "\r\n") == 0);
}

// Polls `condition` until it holds; false after `limit` (a bound for a
// broken system, far beyond what a loaded machine needs).
inline bool WaitFor(const std::function<bool()>& condition,
                    std::chrono::seconds limit = std::chrono::seconds(60)) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

// A loopback port that was free a moment ago.
inline uint16_t FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  close(fd);
  return ntohs(addr.sin_port);
}

inline bool PortOpen(uint16_t port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(port);
  const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  close(fd);
  return ok;
}

// A program run as a child process; killed and reaped with this object.
// `in_child` runs between fork and exec (resource limits, say).
class Child {
 public:
  explicit Child(const std::vector<std::string>& argv, const std::function<void()>& in_child = {}) {
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
      if (in_child) in_child();
      execv(args[0], args.data());
      _exit(127);
    }
  }
  ~Child() {
    if (Running()) Kill(SIGKILL);
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  pid_t pid() const { return pid_; }
  bool Running() {
    if (done_) return false;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == 0) return true;
    done_ = true;
    status_ = status;
    return false;
  }
  // Sends `signal` and waits for the end; the wait status.
  int Kill(int signal) {
    if (!done_) {
      kill(pid_, signal);
      return Wait();
    }
    return status_;
  }
  int Wait() {
    if (!done_) {
      waitpid(pid_, &status_, 0);
      done_ = true;
    }
    return status_;
  }

 private:
  pid_t pid_ = -1;
  bool done_ = false;
  int status_ = 0;
};

}  // namespace histtest::faults

#endif  // HISTDATA_TESTS_FAULTS_FAULT_SUPPORT_H_
