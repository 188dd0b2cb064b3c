#include "page_fetcher.hpp"

#include <curl/curl.h>


#include "platform/curl_setup.hpp"
#include "platform/service_routing.hpp"
#include "url_resolve.hpp"

namespace platform::ui::detail {

namespace {

constexpr int kMaxRedirects = 10;
constexpr const char* kDomain = "NetworkError";

struct Transfer {
  std::string body;
  bool truncated = false;
  const std::atomic<bool>* cancelled = nullptr;
};

size_t onBody(char* data, size_t size, size_t count, void* user) {
  auto* t = static_cast<Transfer*>(user);
  const size_t bytes = size * count;
  const size_t room = kMaxPageBytes - t->body.size();
  if (bytes > room) {
    t->body.append(data, room);
    t->truncated = true;
    return 0;  // stops the transfer; the page keeps what fits
  }
  t->body.append(data, bytes);
  return bytes;
}

int onProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  auto* t = static_cast<Transfer*>(user);
  return t->cancelled && t->cancelled->load() ? 1 : 0;
}

Error errorFor(CURLcode code, const std::string& url) {
  int ours = -1;
  switch (code) {
    case CURLE_OPERATION_TIMEDOUT: ours = -1001; break;
    case CURLE_COULDNT_RESOLVE_HOST: ours = -1003; break;
    case CURLE_COULDNT_CONNECT: ours = -1004; break;
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_URL_MALFORMAT: ours = -1002; break;
    case CURLE_ABORTED_BY_CALLBACK: ours = -999; break;
    default: break;
  }
  return makeError(kDomain, ours, std::string(curl_easy_strerror(code)) + " (" + url + ")");
}

struct EasyHandle {
  CURL* handle = curl_easy_init();
  ~EasyHandle() {
    if (handle) curl_easy_cleanup(handle);
  }
};

struct HeaderList {
  curl_slist* list = nullptr;
  void add(const std::string& line) {
    if (auto* next = curl_slist_append(list, line.c_str())) list = next;
  }
  ~HeaderList() { curl_slist_free_all(list); }
};

bool isHttp(const std::string& url) {
  return url.rfind("http://", 0) == 0 || url.rfind("https://", 0) == 0 || url.rfind("HTTP://", 0) == 0 ||
         url.rfind("HTTPS://", 0) == 0;
}

}  // namespace

FetchedPage fetchPage(const URLRequest& request, const std::shared_ptr<std::atomic<bool>>& cancelled) {
  platform::ensureCurlSetUp();
  FetchedPage page;
  std::string logicalURL = request.url();
  std::string method = request.httpMethod();
  std::string body = request.httpBody();
  for (int hop = 0; hop <= kMaxRedirects; ++hop) {
    if (!isHttp(logicalURL)) {
      page.error = makeError(kDomain, -1002, "unsupported URL (" + logicalURL + ")");
      return page;
    }
    EasyHandle easy;
    if (!easy.handle) {
      page.error = makeError(kDomain, -1, "cannot start a transfer");
      return page;
    }
    const auto routed = ServiceRouting::shared().route(logicalURL);
    const std::string wireURL = routed ? routed->url : logicalURL;
    HeaderList headers;
    for (const auto& [name, value] : request.allHTTPHeaderFields()) {
      // The routed Host header wins over one the request carries.
      if (routed && curl_strequal(name.c_str(), "Host")) continue;
      headers.add(value.empty() ? name + ";" : name + ": " + value);
    }
    if (routed) headers.add("Host: " + routed->hostHeader);
    Transfer transfer;
    transfer.cancelled = cancelled.get();
    const double timeout = request.timeoutInterval() > 0 ? request.timeoutInterval() : 60;
    curl_easy_setopt(easy.handle, CURLOPT_URL, wireURL.c_str());
    curl_easy_setopt(easy.handle, CURLOPT_HTTPHEADER, headers.list);
    curl_easy_setopt(easy.handle, CURLOPT_WRITEFUNCTION, onBody);
    curl_easy_setopt(easy.handle, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(easy.handle, CURLOPT_XFERINFOFUNCTION, onProgress);
    curl_easy_setopt(easy.handle, CURLOPT_XFERINFODATA, &transfer);
    curl_easy_setopt(easy.handle, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(easy.handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy.handle, CURLOPT_TIMEOUT_MS, static_cast<long>(timeout * 1000));
    curl_easy_setopt(easy.handle, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(std::min(timeout, 15.0) * 1000));
    curl_easy_setopt(easy.handle, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy.handle, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(easy.handle, CURLOPT_USERAGENT, "Vestavind-reader-headless/1.0");
    if (method == "POST") {
      curl_easy_setopt(easy.handle, CURLOPT_POSTFIELDS, body.c_str());
      curl_easy_setopt(easy.handle, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
    } else if (method != "GET") {
      curl_easy_setopt(easy.handle, CURLOPT_CUSTOMREQUEST, method.c_str());
    }
    const CURLcode code = curl_easy_perform(easy.handle);
    if (code != CURLE_OK && !(code == CURLE_WRITE_ERROR && transfer.truncated)) {
      page.error = errorFor(code, logicalURL);
      return page;
    }
    long status = 0;
    curl_easy_getinfo(easy.handle, CURLINFO_RESPONSE_CODE, &status);
    char* location = nullptr;
    curl_easy_getinfo(easy.handle, CURLINFO_REDIRECT_URL, &location);
    const bool redirect = status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
    if (redirect && location && *location) {
      // Resolve against the logical URL, not the routed one, so the next
      // hop is routed by its own host.
      curl_header* header = nullptr;
      if (curl_easy_header(easy.handle, "Location", 0, CURLH_HEADER, -1, &header) == CURLHE_OK && header) {
        logicalURL = resolveURL(logicalURL, header->value);
      } else {
        logicalURL = location;
      }
      if (status == 303 || ((status == 301 || status == 302) && method == "POST")) {
        method = "GET";
        body.clear();
      }
      continue;
    }
    page.ok = true;
    page.status = static_cast<int>(status);
    page.finalURL = logicalURL;
    page.body = std::move(transfer.body);
    return page;
  }
  page.error = makeError(kDomain, -1007, "too many redirects (" + request.url() + ")");
  return page;
}

}  // namespace platform::ui::detail
