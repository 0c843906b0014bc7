// The host operations of one request over an extension control block.
#ifndef HISTDATA_PLATFORM_ISAPI_ECB_HOST_H_
#define HISTDATA_PLATFORM_ISAPI_ECB_HOST_H_

#include <string>

#include "platform/host.h"
#include "platform/isapi/isapi.h"

namespace isapi {

class EcbHost : public host::Host {
 public:
  explicit EcbHost(EXTENSION_CONTROL_BLOCK* ecb) : ecb_(ecb) {}

  std::string Method() override;
  std::string QueryString() override;
  std::string PathInfo() override;
  // The "SERVER_PROTOCOL" server variable; empty when the server has none.
  std::string Protocol() override;
  int64_t ContentLength() override;
  std::string BodyReceived() override;
  std::string ReadClient(size_t count) override;
  void SendHead(const std::string& status_text, const std::string& headers) override;
  // WriteClient in pieces of at most 8192 bytes.
  void Write(const char* data, size_t size) override;
  void SetStatus(int code) override;

 private:
  EXTENSION_CONTROL_BLOCK* ecb_;
};

}  // namespace isapi

#endif  // HISTDATA_PLATFORM_ISAPI_ECB_HOST_H_
