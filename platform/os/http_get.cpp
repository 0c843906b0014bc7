// libcurl; Windows uses its own client: http_get_win.cpp.
#ifndef _WIN32
#include "platform/os/http_get.h"

#include <curl/curl.h>

#include <memory>
#include <mutex>

namespace os {

namespace {

constexpr size_t kMaxBody = 16u << 20;

size_t Collect(char* data, size_t size, size_t count, void* user) {
  auto* body = static_cast<std::string*>(user);
  const size_t n = size * count;
  if (body->size() + n > kMaxBody) return 0;  // makes the transfer fail
  body->append(data, n);
  return n;
}

struct EasyDeleter {
  void operator()(CURL* c) const { curl_easy_cleanup(c); }
};

}  // namespace

HttpReply HttpGet(const std::string& url) {
  static std::once_flag init;
  std::call_once(init, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });

  std::unique_ptr<CURL, EasyDeleter> curl(curl_easy_init());
  if (!curl) throw EHttpError("HTTP client could not be created");
  HttpReply reply{0, {}};
  char error[CURL_ERROR_SIZE] = {0};
  CURL* c = curl.get();
  curl_easy_setopt(c, CURLOPT_URL, url.c_str());
  curl_easy_setopt(c, CURLOPT_ERRORBUFFER, error);
  // Only web schemes: the URL is built from registry text.
  curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(c, CURLOPT_MAXREDIRS, 10L);
  curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, 10L);
  curl_easy_setopt(c, CURLOPT_TIMEOUT, 60L);
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);  // time-outs without SIGALRM in threads
  curl_easy_setopt(c, CURLOPT_PROXY, "");     // no proxy, not even from the environment
  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, Collect);
  curl_easy_setopt(c, CURLOPT_WRITEDATA, &reply.body);
  const CURLcode rc = curl_easy_perform(c);
  if (rc != CURLE_OK) {
    throw EHttpError(std::string("HTTP GET ") + url + ": " +
                     (error[0] != '\0' ? error : curl_easy_strerror(rc)));
  }
  curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &reply.status);
  return reply;
}

}  // namespace os

#endif  // _WIN32
