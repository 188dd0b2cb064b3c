#include "backend/http/json_request_operation.hpp"

#include <sstream>

#include "platform/json.hpp"
#include "platform/serial_queue.hpp"

namespace backend::http {
namespace {

// The private serial queue on which bodies are parsed before callbacks.
platform::Executor& processingQueue() {
  static platform::SerialQueue queue(platform::backgroundQueue());
  return queue;
}

bool hasJSONExtension(const std::string& url) {
  auto end = url.find_first_of("?#");
  auto path = url.substr(0, end);
  return path.size() >= 5 && path.compare(path.size() - 5, 5, ".json") == 0;
}

}  // namespace

std::shared_ptr<JSONRequestOperation> JSONRequestOperation::create(URLRequest request) {
  return std::make_shared<JSONRequestOperation>(std::move(request));
}

std::shared_ptr<JSONRequestOperation> JSONRequestOperation::JSONRequestOperationWithRequest(URLRequest request,
                                                                                           JSONSuccess success,
                                                                                           Failure failure) {
  auto operation = create(std::move(request));
  operation->setCompletionBlockWithSuccess(std::move(success), std::move(failure));
  return operation;
}

const std::set<std::string>& JSONRequestOperation::acceptableContentTypes() const {
  static const std::set<std::string> types{"application/json", "text/json", "text/javascript"};
  return types;
}

bool JSONRequestOperation::canProcessRequest(const URLRequest& request) {
  if (hasJSONExtension(request.url)) return true;
  auto accept = request.headers.get("Accept");
  if (!accept) return false;
  static const std::set<std::string> types{"application/json", "text/json", "text/javascript"};
  std::string token;
  auto flush = [&] {
    bool found = types.count(token) > 0;
    token.clear();
    return found;
  };
  for (char c : *accept) {
    if (c == ';' || c == ',') {
      if (flush()) return true;
    } else if (c != ' ') {
      token.push_back(c);
    }
  }
  return flush();
}

platform::Value JSONRequestOperation::responseJSON() const {
  std::lock_guard lock(this->lock());
  if (!parsed_ && isFinished() && !jsonError_) {
    auto data = responseData();
    if (!data.empty()) {
      parsed_ = true;
      auto result = platform::json::parse(data);
      if (result) {
        json_ = result.value();
      } else {
        jsonError_ = result.error();
      }
    }
  }
  return json_;
}

std::optional<platform::Error> JSONRequestOperation::JSONError() const {
  std::lock_guard lock(this->lock());
  return jsonError_;
}

std::optional<platform::Error> JSONRequestOperation::error() const {
  if (auto json = JSONError()) return json;
  return HTTPRequestOperation::error();
}

void JSONRequestOperation::setCompletionBlockWithSuccess(JSONSuccess success, Failure failure) {
  if (!success && !failure) {
    setCompletionBlock(nullptr);
    return;
  }
  // Held strongly until the block has run (it is cleared then): nothing
  // else may keep a queued operation alive until its outcome is delivered.
  auto self = std::static_pointer_cast<JSONRequestOperation>(shared_from_this());
  setCompletionBlock([self, success = std::move(success), failure = std::move(failure)] {
    if (self->isCancelled()) return;
    if (auto error = self->error()) {
      if (failure) self->failureQueue().post([self, failure, error = *error] { failure(self, error); });
      return;
    }
    processingQueue().post([self, success, failure] {
      auto json = self->responseJSON();
      if (auto jsonError = self->JSONError()) {
        if (failure) self->failureQueue().post([self, failure, error = *jsonError] { failure(self, error); });
      } else if (success) {
        self->successQueue().post([self, success, json] { success(self, json); });
      }
    });
  });
}

void JSONRequestOperation::setCompletionBlockWithSuccess(Success success, Failure failure) {
  HTTPRequestOperation::setCompletionBlockWithSuccess(std::move(success), std::move(failure));
}

}  // namespace backend::http
