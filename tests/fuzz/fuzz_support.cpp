#include "tests/fuzz/fuzz_support.h"

#include <unistd.h>

#include <cstdlib>

namespace fuzz {

const std::string& WriteScratchFile(std::string_view bytes) {
  // One file per process, removed at exit, so that parallel runs never
  // share it; in memory where the system offers a folder for that.
  static const std::string path = [] {
    const char* tmp = std::getenv("TMPDIR");
    const std::string folder = tmp && *tmp                 ? tmp
                               : access("/dev/shm", W_OK) == 0 ? "/dev/shm"
                                                               : "/tmp";
    std::string p = folder + "/histdata-fuzz-" +
                    std::to_string(getpid());
    std::atexit([] { unlink(path.c_str()); });
    return p;
  }();
  FILE* f = std::fopen(path.c_str(), "wb");
  FUZZ_CHECK(f != nullptr);
  FUZZ_CHECK(std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size());
  FUZZ_CHECK(std::fclose(f) == 0);
  return path;
}

}  // namespace fuzz
