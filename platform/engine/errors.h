// Errors of the database layer. The mode-1 retry catches EDatabaseError and
// its descendants alone, so every driver failure must be one of them.
#ifndef HISTDATA_PLATFORM_ENGINE_ERRORS_H_
#define HISTDATA_PLATFORM_ENGINE_ERRORS_H_

#include <stdexcept>
#include <string>

namespace engine {

class EDatabaseError : public std::runtime_error {
 public:
  explicit EDatabaseError(const std::string& message) : std::runtime_error(message) {}
  // The class name shown by the server-error reply.
  virtual const char* ClassName() const { return "EDatabaseError"; }
};

// A failure reported by a store (connection refused, statement rejected...).
class EDBEngineError : public EDatabaseError {
 public:
  using EDatabaseError::EDatabaseError;
  const char* ClassName() const override { return "EDBEngineError"; }
};

inline constexpr const char* kClosedDatasetMessage =
    "Cannot perform this operation on a closed dataset";

}  // namespace engine

#endif  // HISTDATA_PLATFORM_ENGINE_ERRORS_H_
