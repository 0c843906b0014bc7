// Text comparisons shared by every part that matches names: settings keys,
// request parameters, statement parameters, procedure names.
#ifndef HISTDATA_PLATFORM_RTL_TEXT_H_
#define HISTDATA_PLATFORM_RTL_TEXT_H_

#include <string>
#include <string_view>

namespace rtl {

inline char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

// `s` with its ASCII letters in lower case; other bytes (UTF-8 included) as
// they are, whatever the process's locale.
inline std::string LowerAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = LowerAscii(c);
  return out;
}

// Equal with ASCII letters compared without regard to case; other bytes
// (UTF-8 included) must match exactly.
inline bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

// Whether `text` begins with `prefix`, compared as SameText does.
inline bool StartsWithText(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && SameText(text.substr(0, prefix.size()), prefix);
}

}  // namespace rtl

#endif  // HISTDATA_PLATFORM_RTL_TEXT_H_
