// isapi-testhost LIBRARY QUERY [THREADS]
// Loads an extension library, sends QUERY as a GET from THREADS threads at
// once (default 1) and prints each reply: status, head and body.
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "tests/support/isapi_driver.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s LIBRARY QUERY [THREADS]\n", argv[0]);
    return 2;
  }
  int threads = argc > 3 ? std::atoi(argv[3]) : 1;
  if (threads < 1) threads = 1;
  try {
    testing_support::IsapiLibrary lib(argv[1]);
    HSE_VERSION_INFO info{};
    if (!lib.GetExtensionVersion(&info)) {
      std::fprintf(stderr, "GetExtensionVersion failed\n");
      return 1;
    }
    std::vector<testing_support::IsapiReply> replies(threads);
    std::vector<std::thread> workers;
    for (int i = 0; i < threads; ++i)
      workers.emplace_back([&, i] {
        testing_support::IsapiRequest request;
        request.query = argv[2];
        replies[i] = lib.Call(request);
      });
    for (std::thread& t : workers) t.join();
    for (const auto& r : replies) {
      std::printf("result %u status %u %s\n%s", static_cast<unsigned>(r.result),
                  static_cast<unsigned>(r.status_code), r.status_text.c_str(),
                  r.headers.c_str());
      std::fwrite(r.Body().data(), 1, r.Body().size(), stdout);
      std::printf("\n");
    }
    lib.TerminateExtension(0);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}
