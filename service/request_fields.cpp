#include "platform/rtl/numbers.h"
#include "platform/rtl/text.h"
#include "service/request_fields.h"

namespace hist {

std::string DecodeField(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '+') {
      out.push_back(' ');
    } else if (c != '%') {
      out.push_back(c);
    } else if (i + 1 < text.size() && text[i + 1] == '%') {
      out.push_back('%');
      ++i;
    } else {
      int hi = i + 1 < text.size() ? rtl::HexDigit(text[i + 1]) : -1;
      int lo = i + 2 < text.size() ? rtl::HexDigit(text[i + 2]) : -1;
      if (hi < 0 || lo < 0) {
        throw EFieldDecodeError("Invalid escape '" + std::string(text.substr(i, 3)) +
                                "' in request field");
      }
      out.push_back(static_cast<char>(hi * 16 + lo));
      i += 2;
    }
  }
  return out;
}

TRequestFields::TRequestFields(std::string_view text) {
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('&', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view piece = text.substr(start, end - start);
    if (!piece.empty()) {
      // The piece is decoded whole, so the name ends at the first "=" of
      // the decoded text.
      std::string field = DecodeField(piece);
      // A piece without "=" names no value and is not a field: "?mode&mode=2"
      // asks for mode 2.
      size_t eq = field.find('=');
      if (eq != std::string::npos) fields_.push_back({field.substr(0, eq), field.substr(eq + 1)});
    }
    start = end + 1;
  }
}

std::string TRequestFields::Value(std::string_view name) const {
  for (const Field& f : fields_) {
    if (rtl::SameText(f.name, name)) return f.value;
  }
  return std::string();
}

}  // namespace hist
