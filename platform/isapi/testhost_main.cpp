// isapi-testhost [--hold] LIBRARY QUERY [THREADS]
// Loads an extension library as a web server would and prints what it
// answers: the version and description GetExtensionVersion reports, then
// each reply (result, status, head, body, "-- end of reply"), then the
// result of TerminateExtension and, once the library is unloaded,
// "unloaded".
//   QUERY      sent as a GET from THREADS threads at once (default 1);
//              "@FILE" sends each line of FILE in turn instead.
//   --hold     every request waits at its first write to the client until
//              all of them have reached one or ended: they are all in
//              progress at the same time.
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include "platform/isapi/extension_driver.h"

namespace {

// Lets requests through once `total` of them have arrived.
class Gate {
 public:
  explicit Gate(int total) : total_(total) {}
  void Arrive(bool wait) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (++arrived_ >= total_) changed_.notify_all();
    if (wait) changed_.wait(lock, [&] { return arrived_ >= total_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int arrived_ = 0;
  const int total_;
};

void Print(const isapi::IsapiReply& r) {
  std::printf("reply result %u status %u %s\n%s", static_cast<unsigned>(r.result),
              static_cast<unsigned>(r.status_code), r.status_text.c_str(), r.headers.c_str());
  const std::string body = r.Body();
  std::fwrite(body.data(), 1, body.size(), stdout);
  std::printf("\n-- end of reply\n");
}

std::vector<std::string> Queries(const std::string& arg, int& threads) {
  if (arg.empty() || arg[0] != '@') return std::vector<std::string>(threads, arg);
  std::ifstream in(arg.substr(1));
  if (!in) throw std::runtime_error("cannot read " + arg.substr(1));
  std::vector<std::string> queries;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) queries.push_back(line);
  }
  threads = 1;
  return queries;
}

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
  // The replies' bytes as they are: no CR before each LF.
  _setmode(_fileno(stdout), _O_BINARY);
#endif
  int arg = 1;
  const bool hold = argc > arg && std::strcmp(argv[arg], "--hold") == 0;
  if (hold) ++arg;
  if (argc - arg < 2) {
    std::fprintf(stderr, "usage: %s [--hold] LIBRARY QUERY|@FILE [THREADS]\n", argv[0]);
    return 2;
  }
  int threads = argc - arg > 2 ? std::atoi(argv[arg + 2]) : 1;
  if (threads < 1) threads = 1;
  try {
    const std::vector<std::string> queries = Queries(argv[arg + 1], threads);
    {
      isapi::IsapiLibrary lib(argv[arg]);
      HSE_VERSION_INFO info{};
      if (!lib.GetExtensionVersion(&info)) {
        std::fprintf(stderr, "GetExtensionVersion failed\n");
        return 1;
      }
      std::printf("version %u.%u \"%s\"\n", static_cast<unsigned>(info.dwExtensionVersion >> 16),
                  static_cast<unsigned>(info.dwExtensionVersion & 0xFFFF),
                  info.lpszExtensionDesc);
      if (threads == 1) {
        for (const std::string& query : queries) {
          isapi::IsapiRequest request;
          request.query = query;
          Print(lib.Call(request));
        }
      } else {
        std::vector<isapi::IsapiReply> replies(threads);
        std::vector<std::thread> workers;
        Gate gate(threads);
        for (int i = 0; i < threads; ++i)
          workers.emplace_back([&, i] {
            bool arrived = false;
            isapi::IsapiRequest request;
            request.query = queries[i];
            if (hold) {
              request.on_write = [&] {
                if (!arrived) gate.Arrive(true);
                arrived = true;
              };
            }
            replies[i] = lib.Call(request);
            if (hold && !arrived) gate.Arrive(false);
          });
        for (std::thread& t : workers) t.join();
        for (const auto& r : replies) Print(r);
      }
      std::printf("terminated %d\n", lib.TerminateExtension(0) != 0 ? 1 : 0);
      std::fflush(stdout);
    }  // the library is unloaded here
    std::printf("unloaded\n");
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}
