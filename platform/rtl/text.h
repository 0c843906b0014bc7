// Text comparisons shared by every part that matches names: settings keys,
// request parameters, statement parameters, procedure names.
#ifndef HISTDATA_PLATFORM_RTL_TEXT_H_
#define HISTDATA_PLATFORM_RTL_TEXT_H_

#include <string_view>

namespace rtl {

inline char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

// Equal with ASCII letters compared without regard to case; other bytes
// (UTF-8 included) must match exactly.
inline bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

}  // namespace rtl

#endif  // HISTDATA_PLATFORM_RTL_TEXT_H_
