#include "app/http_get.hpp"

#include <atomic>

#include "platform/plain_http.hpp"

namespace app {
namespace {

// Bumped by cancelOutstandingHttpGets; a GET started under an older value stops.
std::atomic<unsigned> cancelGeneration{0};

}  // namespace

std::optional<HttpAnswer> httpGet(const std::string& url, const HeaderList& headers,
                                  std::chrono::milliseconds timeout) {
  if (url.empty()) return std::nullopt;
  platform::PlainHttpRequest request;
  request.url = url;
  request.headers = headers;
  request.timeout = timeout;
  request.maxBodyBytes = kMaxAnswerBytes;
  request.cancelled = [generation = cancelGeneration.load()] { return generation != cancelGeneration.load(); };
  platform::PlainHttpAnswer answer = platform::plainHttpExchange(request);
  if (!answer.ok() || answer.truncated) return std::nullopt;
  return HttpAnswer{answer.status, std::move(answer.body)};
}

void cancelOutstandingHttpGets() { ++cancelGeneration; }

}  // namespace app
