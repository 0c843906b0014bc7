// The fields of a request's query string or form body: "name=value" pieces
// separated by "&", each URL-decoded.
#ifndef HISTDATA_SERVICE_REQUEST_FIELDS_H_
#define HISTDATA_SERVICE_REQUEST_FIELDS_H_

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace hist {

// A "%" escape that is neither "%%" nor "%" and two hexadecimal digits.
class EFieldDecodeError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// "+" is a blank, "%%" a percent sign, "%" and two hexadecimal digits the
// byte they give. Raises EFieldDecodeError for any other "%".
std::string DecodeField(std::string_view text);

class TRequestFields {
 public:
  // Splits at "&" and decodes each piece; a piece without "=" is a name with
  // an empty value.
  explicit TRequestFields(std::string_view text);
  // The value of the first field whose name equals `name` without regard to
  // ASCII case; empty when there is none.
  std::string Value(std::string_view name) const;

 private:
  struct Field {
    std::string name;
    std::string value;
  };
  std::vector<Field> fields_;
};

}  // namespace hist

#endif  // HISTDATA_SERVICE_REQUEST_FIELDS_H_
