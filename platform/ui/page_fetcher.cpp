#include "page_fetcher.hpp"

#include <algorithm>

#include "platform/plain_http.hpp"
#include "url_resolve.hpp"

namespace platform::ui::detail {

namespace {

constexpr int kMaxRedirects = 10;
constexpr const char* kDomain = "NetworkError";

int codeOf(PlainHttpFailure failure) {
  switch (failure) {
    case PlainHttpFailure::Timeout: return -1001;
    case PlainHttpFailure::HostNotFound: return -1003;
    case PlainHttpFailure::CannotConnect: return -1004;
    case PlainHttpFailure::UnsupportedURL: return -1002;
    case PlainHttpFailure::Cancelled: return -999;
    default: return -1;
  }
}

bool isHttp(const std::string& url) {
  return url.rfind("http://", 0) == 0 || url.rfind("https://", 0) == 0 || url.rfind("HTTP://", 0) == 0 ||
         url.rfind("HTTPS://", 0) == 0;
}

bool isRedirect(long status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

PlainHttpRequest exchangeFor(const URLRequest& request, const std::shared_ptr<std::atomic<bool>>& cancelled) {
  PlainHttpRequest exchange;
  exchange.method = request.httpMethod();
  exchange.body = request.httpBody();
  exchange.headers = request.allHTTPHeaderFields();
  const double seconds = request.timeoutInterval() > 0 ? request.timeoutInterval() : 60;
  exchange.timeout = std::chrono::milliseconds(static_cast<long>(seconds * 1000));
  exchange.connectTimeout = std::chrono::milliseconds(static_cast<long>(std::min(seconds, 15.0) * 1000));
  exchange.maxBodyBytes = kMaxPageBytes;
  exchange.userAgent = "Vestavind-reader-headless/1.0";
  exchange.acceptCompressed = true;
  exchange.cancelled = [cancelled] { return cancelled && cancelled->load(); };
  return exchange;
}

}  // namespace

FetchedPage fetchPage(const URLRequest& request, const std::shared_ptr<std::atomic<bool>>& cancelled) {
  FetchedPage page;
  PlainHttpRequest exchange = exchangeFor(request, cancelled);
  std::string logicalURL = request.url();
  for (int hop = 0; hop <= kMaxRedirects; ++hop) {
    if (!isHttp(logicalURL)) {
      page.error = makeError(kDomain, -1002, "unsupported URL (" + logicalURL + ")");
      return page;
    }
    exchange.url = logicalURL;
    PlainHttpAnswer answer = plainHttpExchange(exchange);
    if (!answer.ok()) {
      page.error = makeError(kDomain, codeOf(answer.failure), answer.failureText + " (" + logicalURL + ")");
      return page;
    }
    if (isRedirect(answer.status) && answer.location && !answer.location->empty()) {
      // Resolve against the logical URL, not the routed one, so the next
      // hop is routed by its own host.
      logicalURL = resolveURL(logicalURL, *answer.location);
      if (answer.status == 303 || ((answer.status == 301 || answer.status == 302) && exchange.method == "POST")) {
        exchange.method = "GET";
        exchange.body.clear();
      }
      continue;
    }
    page.ok = true;
    page.status = static_cast<int>(answer.status);
    page.finalURL = logicalURL;
    page.body = std::move(answer.body);
    return page;
  }
  page.error = makeError(kDomain, -1007, "too many redirects (" + request.url() + ")");
  return page;
}

}  // namespace platform::ui::detail
