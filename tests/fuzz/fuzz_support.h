// What the fuzz targets share: a property check that stops the run with the
// failing property, and a scratch file for readers that take a path.
#ifndef HISTDATA_TESTS_FUZZ_FUZZ_SUPPORT_H_
#define HISTDATA_TESTS_FUZZ_FUZZ_SUPPORT_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

// A broken property is a finding like a crash: libFuzzer saves the input.
#define FUZZ_CHECK(cond)                                                        \
  do {                                                                          \
    if (!(cond)) {                                                              \
      std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, \
                   #cond);                                                      \
      std::abort();                                                             \
    }                                                                           \
  } while (0)

namespace fuzz {

inline std::string_view AsText(const uint8_t* data, size_t size) {
  return std::string_view(reinterpret_cast<const char*>(data), size);
}

// Replaces the process's scratch file with `bytes` and returns its path.
const std::string& WriteScratchFile(std::string_view bytes);

}  // namespace fuzz

#endif  // HISTDATA_TESTS_FUZZ_FUZZ_SUPPORT_H_
