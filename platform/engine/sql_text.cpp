#include "platform/engine/sql_text.h"

namespace engine {

namespace {

bool IsNameChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// Index just past the construct that opens at `i` and ends with `close`
// (the end of the text when it never closes).
size_t SkipTo(std::string_view text, size_t i, std::string_view close) {
  size_t end = text.find(close, i);
  return end == std::string_view::npos ? text.size() : end + close.size();
}

}  // namespace

ParsedStatement ParseNamedParameters(std::string_view text) {
  ParsedStatement out;
  std::string piece;
  size_t i = 0;
  while (i < text.size()) {
    char c = text[i];
    size_t next = i + 1;
    if (c == '\'' || c == '"') {
      // A doubled quote inside a quoted text ends nothing: skipping to the
      // next quote and going on from there covers it.
      next = SkipTo(text, i + 1, std::string_view(&text[i], 1));
    } else if (c == '-' && i + 1 < text.size() && text[i + 1] == '-') {
      next = SkipTo(text, i + 2, "\n");
    } else if (c == '/' && i + 1 < text.size() && text[i + 1] == '*') {
      next = SkipTo(text, i + 2, "*/");
    } else if (c == ':' && i + 1 < text.size() && text[i + 1] == ':') {
      next = i + 2;
    } else if (c == ':' && i + 1 < text.size() && IsNameChar(text[i + 1])) {
      size_t end = i + 1;
      while (end < text.size() && IsNameChar(text[end])) ++end;
      out.statement.pieces.push_back(std::move(piece));
      piece.clear();
      out.names.emplace_back(text.substr(i + 1, end - i - 1));
      i = end;
      continue;
    }
    piece.append(text.substr(i, next - i));
    i = next;
  }
  out.statement.pieces.push_back(std::move(piece));
  return out;
}

}  // namespace engine
