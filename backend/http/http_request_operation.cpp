#include "backend/http/http_request_operation.hpp"

#include <sstream>
#include <vector>

namespace backend::http {
namespace {

std::vector<std::string> splitRange(const std::string& text) {
  std::vector<std::string> parts;
  std::string current;
  for (char c : text) {
    if (c == ' ' || c == '-' || c == '/') {
      parts.push_back(current);
      current.clear();
    } else {
      current.push_back(c);
    }
  }
  parts.push_back(current);
  return parts;
}

long long toNumber(const std::string& text) {
  try {
    return std::stoll(text);
  } catch (...) {
    return 0;
  }
}

platform::Error judgementError(std::int64_t code, const std::string& message, const std::string& url) {
  platform::Dictionary info;
  info.set(kLocalizedDescriptionKey, message);
  info.set(kURLErrorFailingURLStringKey, url);
  return platform::Error(kURLErrorDomain, code, platform::Value(std::move(info)));
}

}  // namespace

std::string describeStatusCodes(const std::set<long>& codes) {
  std::string text;
  auto it = codes.begin();
  while (it != codes.end()) {
    long first = *it, last = *it;
    auto next = std::next(it);
    while (next != codes.end() && *next == last + 1) last = *next++;
    if (!text.empty()) text += ", ";
    text += first == last ? std::to_string(first) : std::to_string(first) + "-" + std::to_string(last);
    it = next;
  }
  return text;
}

std::shared_ptr<HTTPRequestOperation> HTTPRequestOperation::create(URLRequest request) {
  return std::make_shared<HTTPRequestOperation>(std::move(request));
}

HTTPRequestOperation::HTTPRequestOperation(URLRequest request) : URLConnectionOperation(std::move(request)) {}

const std::set<long>& HTTPRequestOperation::acceptableStatusCodes() const {
  static const std::set<long> codes = [] {
    std::set<long> all;
    for (long code = 200; code < 300; ++code) all.insert(code);
    return all;
  }();
  return codes;
}

const std::set<std::string>& HTTPRequestOperation::acceptableContentTypes() const {
  static const std::set<std::string> any;
  return any;
}

bool HTTPRequestOperation::canProcessRequest(const URLRequest&) { return true; }

std::optional<platform::Error> HTTPRequestOperation::HTTPError() const {
  auto response = this->response();
  if (!response) return std::nullopt;
  const auto& codes = acceptableStatusCodes();
  const auto& types = acceptableContentTypes();
  bool statusAccepted = codes.count(response->statusCode) > 0;
  if (statusAccepted && (types.empty() || types.count(response->mimeType))) return std::nullopt;
  auto url = request().url;
  if (!statusAccepted) {
    return judgementError(kURLErrorBadServerResponse,
                          "Expected status code in (" + describeStatusCodes(codes) + "), got " +
                              std::to_string(response->statusCode),
                          url);
  }
  std::string set = "{(";
  bool first = true;
  for (const auto& type : types) {
    set += (first ? "\"" : ", \"") + type + "\"";
    first = false;
  }
  set += ")}";
  return judgementError(kURLErrorCannotDecodeContentData,
                        "Expected content type " + set + ", got " + response->mimeType, url);
}

std::optional<platform::Error> HTTPRequestOperation::error() const {
  if (auto transfer = URLConnectionOperation::error()) return transfer;
  return HTTPError();
}

void HTTPRequestOperation::setSuccessCallbackQueue(platform::Executor* queue) {
  std::lock_guard lock(this->lock());
  successQueue_ = queue;
}

void HTTPRequestOperation::setFailureCallbackQueue(platform::Executor* queue) {
  std::lock_guard lock(this->lock());
  failureQueue_ = queue;
}

platform::Executor& HTTPRequestOperation::successQueue() const {
  std::lock_guard lock(this->lock());
  return successQueue_ ? *successQueue_ : platform::mainQueue();
}

platform::Executor& HTTPRequestOperation::failureQueue() const {
  std::lock_guard lock(this->lock());
  return failureQueue_ ? *failureQueue_ : platform::mainQueue();
}

void HTTPRequestOperation::setCompletionBlockWithSuccess(Success success, Failure failure) {
  if (!success && !failure) {
    setCompletionBlock(nullptr);
    return;
  }
  // Held strongly until the block has run (it is cleared then): nothing
  // else may keep a queued operation alive until its outcome is delivered.
  auto self = std::static_pointer_cast<HTTPRequestOperation>(shared_from_this());
  setCompletionBlock([self, success = std::move(success), failure = std::move(failure)] {
    if (self->isCancelled()) return;
    if (auto error = self->error()) {
      if (failure) self->failureQueue().post([self, failure, error = *error] { failure(self, error); });
    } else if (success) {
      self->successQueue().post([self, success] { success(self, self->responseData()); });
    }
  });
}

void HTTPRequestOperation::pause() {
  // One hold of the lock: no chunk may land between reading the offset and
  // stopping the transfer.
  std::lock_guard lock(this->lock());
  auto request = this->request();
  request.headers.set("Range", "bytes=" + std::to_string(bytesWritten()) + "-");
  if (auto response = this->response()) {
    if (auto etag = response->headers.get("ETag")) request.headers.set("If-Range", *etag);
  }
  if (!isPaused() && !isFinished()) setRequest(std::move(request));
  URLConnectionOperation::pause();
}

void HTTPRequestOperation::setResponseFilePath(std::string path) {
  std::lock_guard lock(this->lock());
  setOutputStream(std::make_unique<FileOutputStream>(path));
  responseFilePath_ = std::move(path);
}

std::optional<std::string> HTTPRequestOperation::responseFilePath() const {
  std::lock_guard lock(this->lock());
  return responseFilePath_;
}

long long HTTPRequestOperation::offsetContentLength() const {
  std::lock_guard lock(this->lock());
  return offsetContentLength_;
}

long long HTTPRequestOperation::totalContentLength() const {
  std::lock_guard lock(this->lock());
  return totalContentLength_;
}

void HTTPRequestOperation::didReceiveResponse(const URLResponse& response) {
  long long offset = 0;
  if (response.statusCode == 206) {
    auto range = response.headers.get("Content-Range").value_or("");
    if (range.rfind("bytes", 0) == 0) {
      auto parts = splitRange(range);
      if (parts.size() == 4) {
        offset = toNumber(parts[1]);
        long long total = toNumber(parts[3]);
        totalContentLength_ = total == 0 ? -1 : total;
      }
    }
  } else {
    rewindOutputStream();
  }
  offsetContentLength_ = offset < 0 ? 0 : offset;
}

}  // namespace backend::http
