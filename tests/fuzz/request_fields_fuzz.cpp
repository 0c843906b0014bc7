// The request field decoder: query strings and form bodies as clients send
// them. Properties: a decoded field is never longer than its text; every
// byte string survives escaping and decoding unchanged; a lookup finds the
// first field of a name, whatever its case.
#include <string>

#include "service/request_fields.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

// Every byte escaped, the way a careful client would send it.
std::string Escape(std::string_view bytes) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : bytes) {
    out += '%';
    out += kHex[c >> 4];
    out += kHex[c & 15];
  }
  return out;
}

// The first field's name and value as the decoder should see them, or
// false when the first piece has no "=".
bool FirstField(std::string_view text, std::string& name, std::string& value) {
  const std::string_view piece = text.substr(0, text.find('&'));
  const std::string decoded = hist::DecodeField(piece);
  const size_t eq = decoded.find('=');
  if (eq == std::string::npos) return false;
  name = decoded.substr(0, eq);
  value = decoded.substr(eq + 1);
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text = fuzz::AsText(data, size);

  FUZZ_CHECK(hist::DecodeField(Escape(text)) == text);

  std::string decoded;
  bool decodes = true;
  try {
    decoded = hist::DecodeField(text);
  } catch (const hist::EFieldDecodeError&) {
    decodes = false;
  }
  if (decodes) {
    FUZZ_CHECK(decoded.size() <= text.size());
    FUZZ_CHECK(hist::DecodeField(Escape(decoded)) == decoded);
  }

  try {
    hist::TRequestFields fields(text);
    // A text the splitter accepts decodes piece by piece, so the first
    // field (when it names one) is what a lookup of its name returns,
    // also with the name's case changed.
    std::string name, value;
    if (FirstField(text, name, value)) {
      FUZZ_CHECK(fields.Value(name) == value);
      std::string upper = name;
      for (char& c : upper)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
      FUZZ_CHECK(fields.Value(upper) == value);
    }
    FUZZ_CHECK(fields.Value("mode").size() <= text.size());
  } catch (const hist::EFieldDecodeError&) {
    // A malformed escape somewhere in the text: the handler's catch-all
    // takes it.
  }
  return 0;
}
