#include "platform/plain_http.hpp"

#include <curl/curl.h>

#include <memory>
#include <string_view>

#include "platform/curl_setup.hpp"
#include "platform/service_routing.hpp"

namespace platform {
namespace {

struct Transfer {
  std::size_t limit = 0;
  std::string body;
  bool truncated = false;
  const std::function<bool()>* cancelled = nullptr;
};

size_t keepBody(char* data, size_t size, size_t count, void* target) {
  auto* transfer = static_cast<Transfer*>(target);
  const size_t length = size * count;
  const size_t room = transfer->limit - transfer->body.size();
  if (length > room) {
    transfer->body.append(data, room);
    transfer->truncated = true;
    return 0;  // stops the transfer
  }
  transfer->body.append(data, length);
  return length;
}

int stopWhenCancelled(void* target, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  const auto* cancelled = static_cast<Transfer*>(target)->cancelled;
  return *cancelled && (*cancelled)() ? 1 : 0;
}

struct CurlDeleter {
  void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
struct SlistDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using HeaderList = std::unique_ptr<curl_slist, SlistDeleter>;

bool hasLineBreak(std::string_view text) { return text.find_first_of("\r\n") != std::string_view::npos; }

// Appending keeps the head of a list, or makes the head of an empty one.
void addHeader(HeaderList& list, const std::string& line) {
  curl_slist* head = curl_slist_append(list.get(), line.c_str());
  if (head && !list) list.reset(head);
}

HeaderList headerListFor(const PlainHttpRequest& request, const std::optional<RoutedRequest>& routed) {
  HeaderList list;
  for (const auto& [name, value] : request.headers) {
    if (name.empty() || hasLineBreak(name) || hasLineBreak(value)) continue;
    if (routed && curl_strequal(name.c_str(), "Host")) continue;
    // "Name;" is libcurl's way to send an empty value ("Name:" would remove the header).
    addHeader(list, value.empty() ? name + ";" : name + ": " + value);
  }
  if (routed) addHeader(list, "Host: " + routed->hostHeader);
  return list;
}

PlainHttpFailure failureOf(CURLcode code) {
  switch (code) {
    case CURLE_OPERATION_TIMEDOUT: return PlainHttpFailure::Timeout;
    case CURLE_COULDNT_RESOLVE_HOST: return PlainHttpFailure::HostNotFound;
    case CURLE_COULDNT_CONNECT: return PlainHttpFailure::CannotConnect;
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_URL_MALFORMAT: return PlainHttpFailure::UnsupportedURL;
    case CURLE_ABORTED_BY_CALLBACK: return PlainHttpFailure::Cancelled;
    default: return PlainHttpFailure::Other;
  }
}

PlainHttpAnswer failed(PlainHttpFailure failure, std::string text) {
  PlainHttpAnswer answer;
  answer.failure = failure;
  answer.failureText = std::move(text);
  return answer;
}

void setMethod(CURL* curl, const PlainHttpRequest& request) {
  if (request.method == "POST") {
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, request.body.c_str());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(request.body.size()));
  } else if (request.method != "GET") {
    curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, request.method.c_str());
  }
}

std::optional<std::string> locationOf(CURL* curl) {
  curl_header* header = nullptr;
  if (curl_easy_header(curl, "Location", 0, CURLH_HEADER, -1, &header) != CURLHE_OK || !header) return std::nullopt;
  return std::string(header->value);
}

}  // namespace

PlainHttpAnswer plainHttpExchange(const PlainHttpRequest& request) {
  if (!ensureCurlSetUp()) return failed(PlainHttpFailure::Other, "cannot set up libcurl");
  std::unique_ptr<CURL, CurlDeleter> curl(curl_easy_init());
  if (!curl) return failed(PlainHttpFailure::Other, "cannot start a transfer");

  const auto routed = ServiceRouting::shared().route(request.url);
  const std::string target = routed ? routed->url : request.url;
  HeaderList headers = headerListFor(request, routed);
  Transfer transfer;
  transfer.limit = request.maxBodyBytes;
  transfer.cancelled = &request.cancelled;

  CURL* easy = curl.get();
  curl_easy_setopt(easy, CURLOPT_URL, target.c_str());
  curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, static_cast<long>(request.timeout.count()));
  if (request.connectTimeout) {
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(request.connectTimeout->count()));
  }
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers.get());
  if (!request.userAgent.empty()) curl_easy_setopt(easy, CURLOPT_USERAGENT, request.userAgent.c_str());
  if (request.acceptCompressed) curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "");
  setMethod(easy, request);
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, keepBody);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, &transfer);
  curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, stopWhenCancelled);
  curl_easy_setopt(easy, CURLOPT_XFERINFODATA, &transfer);

  const CURLcode code = curl_easy_perform(easy);
  if (code != CURLE_OK && !(code == CURLE_WRITE_ERROR && transfer.truncated)) {
    return failed(failureOf(code), curl_easy_strerror(code));
  }
  PlainHttpAnswer answer;
  curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &answer.status);
  answer.body = std::move(transfer.body);
  answer.truncated = transfer.truncated;
  answer.location = locationOf(easy);
  return answer;
}

}  // namespace platform
