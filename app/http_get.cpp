#include "app/http_get.hpp"

#include <curl/curl.h>

#include <atomic>
#include <memory>

#include "platform/curl_setup.hpp"
#include "platform/service_routing.hpp"

namespace app {
namespace {

struct Body {
  std::string bytes;
  bool tooLarge = false;
};

size_t appendBody(char* data, size_t size, size_t count, void* target) {
  auto* body = static_cast<Body*>(target);
  const size_t length = size * count;
  if (body->bytes.size() + length > kMaxAnswerBytes) {
    body->tooLarge = true;
    return 0;  // aborts the transfer
  }
  body->bytes.append(data, length);
  return length;
}

struct CurlDeleter {
  void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
struct SlistDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

// Bumped by cancelOutstandingHttpGets; a GET started under an older value stops.
std::atomic<unsigned> cancelGeneration{0};

int stopWhenCancelled(void* startedUnder, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  return *static_cast<unsigned*>(startedUnder) != cancelGeneration.load() ? 1 : 0;
}

bool hasLineBreak(std::string_view text) { return text.find_first_of("\r\n") != std::string_view::npos; }

}  // namespace

std::optional<HttpAnswer> httpGet(const std::string& url, const HeaderList& headers,
                                  std::chrono::milliseconds timeout) {
  if (!platform::ensureCurlSetUp() || url.empty()) return std::nullopt;
  std::unique_ptr<CURL, CurlDeleter> curl(curl_easy_init());
  if (!curl) return std::nullopt;

  std::string target = url;
  curl_slist* list = nullptr;
  if (auto routed = platform::ServiceRouting::shared().route(url)) {
    target = routed->url;
    list = curl_slist_append(list, ("Host: " + routed->hostHeader).c_str());
  }
  for (const auto& [name, value] : headers) {
    // A header that could split the request is not sent.
    if (hasLineBreak(name) || hasLineBreak(value) || name.empty()) continue;
    list = curl_slist_append(list, (name + ": " + value).c_str());
  }
  std::unique_ptr<curl_slist, SlistDeleter> headerList(list);

  Body body;
  unsigned generation = cancelGeneration.load();
  curl_easy_setopt(curl.get(), CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(curl.get(), CURLOPT_XFERINFOFUNCTION, stopWhenCancelled);
  curl_easy_setopt(curl.get(), CURLOPT_XFERINFODATA, &generation);
  curl_easy_setopt(curl.get(), CURLOPT_URL, target.c_str());
  curl_easy_setopt(curl.get(), CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl.get(), CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl.get(), CURLOPT_TIMEOUT_MS, static_cast<long>(timeout.count()));
  curl_easy_setopt(curl.get(), CURLOPT_HTTPHEADER, headerList.get());
  curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, appendBody);
  curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &body);
  if (curl_easy_perform(curl.get()) != CURLE_OK || body.tooLarge) return std::nullopt;

  HttpAnswer answer;
  curl_easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &answer.status);
  answer.body = std::move(body.bytes);
  return answer;
}

void cancelOutstandingHttpGets() { ++cancelGeneration; }

}  // namespace app
