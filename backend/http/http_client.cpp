#include "backend/http/http_client.hpp"

#include <algorithm>
#include <cstdio>

#include "backend/http/oauth.hpp"
#include "backend/http/query_string.hpp"
#include "backend/http/url.hpp"
#include "backend/internal/internal_utils.hpp"
#include "platform/bundle.hpp"
#include "platform/device.hpp"
#include "platform/exceptions.hpp"

namespace backend::http {
namespace {

std::string acceptLanguage() {
  std::string languages;
  for (const auto& language : platform::Device::current().preferredLanguages) {
    if (!languages.empty()) languages += ", ";
    languages += language;
  }
  return languages + ", en-us;q=0.8";
}

std::string userAgent() {
  auto bundle = platform::Bundle::main();
  auto device = platform::Device::current();
  double scale = device.screenScale > 0 ? device.screenScale : 1.0;
  char scaleText[32];
  std::snprintf(scaleText, sizeof scaleText, "%f", scale);
  return bundle.identifier().value_or("") + "/" + bundle.version().value_or("") + " (unknown, " + device.systemName +
         " " + device.systemVersion + ", " + device.model + ", Scale/" + scaleText + ")";
}

std::string xmlEscape(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      default: out.push_back(c);
    }
  }
  return out;
}

bool writePlist(const platform::Value& value, std::string& out) {
  using Kind = platform::Value::Kind;
  switch (value.kind()) {
    case Kind::String:
      out += "<string>" + xmlEscape(*value.string()) + "</string>";
      return true;
    case Kind::Number: {
      auto& number = *value.number();
      if (number.isBoolean()) out += value.boolValue() ? "<true/>" : "<false/>";
      else if (number.isFloating()) out += "<real>" + number.description() + "</real>";
      else out += "<integer>" + number.description() + "</integer>";
      return true;
    }
    case Kind::Date:
      out += "<date>" + InternalUtils::stringFromImpreciseDate(*value.date()) + "</date>";
      return true;
    case Kind::Bytes: {
      auto& bytes = *value.bytes();
      out += "<data>" + base64Encode(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size())) +
             "</data>";
      return true;
    }
    case Kind::Array:
      out += "<array>";
      for (const auto& element : *value.array()) {
        if (!writePlist(element, out)) return false;
      }
      out += "</array>";
      return true;
    case Kind::Dictionary:
      out += "<dict>";
      for (const auto& [key, element] : *value.dictionary()) {
        out += "<key>" + xmlEscape(key) + "</key>";
        if (!writePlist(element, out)) return false;
      }
      out += "</dict>";
      return true;
    default:
      return false;
  }
}

}  // namespace

std::optional<std::string> propertyListXML(const platform::Value& value) {
  std::string out =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
      "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n<plist version=\"1.0\">";
  if (!writePlist(value, out)) return std::nullopt;
  return out + "</plist>\n";
}

HTTPClient::HTTPClient(std::string baseURL) : baseURL_(std::move(baseURL)) {
  defaultHeaders_.set("Accept-Encoding", "gzip");
  defaultHeaders_.set("Accept-Language", acceptLanguage());
  defaultHeaders_.set("User-Agent", userAgent());
}

std::shared_ptr<HTTPClient> HTTPClient::clientWithBaseURL(std::string baseURL) {
  return std::make_shared<HTTPClient>(std::move(baseURL));
}

std::optional<std::string> HTTPClient::defaultHeader(std::string_view name) const { return defaultHeaders_.get(name); }

void HTTPClient::setDefaultHeader(std::string_view name, std::optional<std::string> value) {
  if (value) defaultHeaders_.set(name, std::move(*value));
  else defaultHeaders_.remove(name);
}

void HTTPClient::setAuthorizationHeaderWithUsername(std::string_view username, std::string_view password) {
  setDefaultHeader("Authorization", "Basic " + base64Encode(std::string(username) + ":" + std::string(password)));
}

void HTTPClient::setAuthorizationHeaderWithToken(std::string_view token) {
  setDefaultHeader("Authorization", "Token token=\"" + std::string(token) + "\"");
}

void HTTPClient::clearAuthorizationHeader() { defaultHeaders_.remove("Authorization"); }

URLRequest HTTPClient::requestWithMethod(std::string_view method, std::string_view path,
                                         const platform::Value& parameters) const {
  URLRequest request;
  request.url = resolveURL(baseURL_, path);
  request.method = std::string(method);
  request.headers = defaultHeaders_;
  request.shouldUsePipelining = method == "GET" || method == "HEAD";
  if (parameters.isNil()) return request;
  if (method == "GET" || method == "HEAD" || method == "DELETE") {
    auto query = queryStringFromParameters(parameters);
    request.url += (path.find('?') == std::string_view::npos ? "?" : "&") + query;
    return request;
  }
  switch (encoding_) {
    case ParameterEncoding::Form:
      request.headers.set("Content-Type", "application/x-www-form-urlencoded; charset=utf-8");
      request.body = queryStringFromParameters(parameters);
      break;
    case ParameterEncoding::JSON:
      request.headers.set("Content-Type", "application/json; charset=utf-8");
      request.body = InternalUtils::serializeToJSON(parameters);
      break;
    case ParameterEncoding::PropertyList:
      request.headers.set("Content-Type", "application/x-plist; charset=utf-8");
      request.body = propertyListXML(parameters).value_or(std::string());
      break;
  }
  return request;
}

URLRequest HTTPClient::requestWithJSONBody(std::string_view method, std::string_view path, std::string json) const {
  URLRequest request = requestWithMethod(method, path, platform::Value());
  request.headers.set("Content-Type", "application/json; charset=utf-8");
  request.body = std::move(json);
  return request;
}

URLRequest HTTPClient::multipartFormRequestWithMethod(std::string_view method, std::string_view path,
                                                      const platform::Value& parameters,
                                                      const std::function<void(MultipartFormData&)>& block) const {
  if (method == "GET" || method == "HEAD") {
    throw platform::InvalidArgumentException("A multipart form cannot be sent with " + std::string(method));
  }
  auto request = requestWithMethod(method, path, platform::Value());
  MultipartFormData form;
  if (!parameters.isNil()) {
    for (const auto& component : queryStringComponents(parameters)) {
      form.appendPartWithFormData(component.valueText(), component.key);
    }
  }
  if (block) block(form);
  auto body = form.bodyStream();
  request.headers.set("Content-Type", form.contentType());
  request.headers.set("Content-Length", std::to_string(body->length()));
  request.bodyStream = std::move(body);
  return request;
}

bool HTTPClient::registerHTTPOperationClass(HTTPOperationClass operationClass) {
  std::lock_guard lock(mutex_);
  auto sameName = [&](const HTTPOperationClass& c) { return c.name == operationClass.name; };
  if (std::any_of(operationClasses_.begin(), operationClasses_.end(), sameName)) return false;
  operationClasses_.push_back(std::move(operationClass));
  return true;
}

void HTTPClient::unregisterHTTPOperationClass(std::string_view name) {
  std::lock_guard lock(mutex_);
  std::erase_if(operationClasses_, [&](const HTTPOperationClass& c) { return c.name == name; });
}

std::vector<std::string> HTTPClient::registeredHTTPOperationClassNames() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> names;
  for (const auto& operationClass : operationClasses_) names.push_back(operationClass.name);
  return names;
}

std::shared_ptr<HTTPRequestOperation> HTTPClient::HTTPRequestOperationWithRequest(
    URLRequest request, HTTPRequestOperation::Success success, HTTPRequestOperation::Failure failure) const {
  std::shared_ptr<HTTPRequestOperation> (*create)(URLRequest) = &HTTPRequestOperation::create;
  {
    std::lock_guard lock(mutex_);
    for (const auto& operationClass : operationClasses_) {
      if (operationClass.canProcessRequest(request)) {
        create = operationClass.create;
        break;
      }
    }
  }
  auto operation = create(std::move(request));
  operation->setCompletionBlockWithSuccess(std::move(success), std::move(failure));
  return operation;
}

void HTTPClient::enqueueHTTPRequestOperation(std::shared_ptr<HTTPRequestOperation> operation) {
  {
    std::lock_guard lock(mutex_);
    std::erase_if(enqueued_, [](const auto& weak) {
      auto live = weak.lock();
      return !live || live->isFinished();
    });
    enqueued_.push_back(operation);
  }
  queue_.addOperation(std::move(operation));
}

void HTTPClient::cancelAllHTTPOperationsWithMethod(std::string_view method, std::string_view path) {
  auto target = parseURL(resolveURL(baseURL_, path));
  std::string targetPath = target ? target->path : std::string();
  std::vector<std::shared_ptr<HTTPRequestOperation>> matching;
  {
    std::lock_guard lock(mutex_);
    for (const auto& weak : enqueued_) {
      auto operation = weak.lock();
      if (!operation) continue;
      auto request = operation->request();
      auto parts = parseURL(request.url);
      if ((method.empty() || request.method == method) && parts && parts->path == targetPath) {
        matching.push_back(std::move(operation));
      }
    }
  }
  // Waiting ones first: a running one that finishes frees its slot at once,
  // and a waiting one not yet marked would be sent.
  std::stable_partition(matching.begin(), matching.end(), [](const auto& operation) { return !operation->isExecuting(); });
  // Outside our lock: cancelling finishes operations, which calls back.
  for (auto& operation : matching) operation->cancel();
}

void HTTPClient::enqueueBatchOfHTTPRequestOperations(std::vector<std::shared_ptr<HTTPRequestOperation>> operations,
                                                     BatchProgress progress, BatchCompletion completion) {
  // Touched only on the main queue, so the counts arrive in order.
  struct Batch {
    std::vector<std::shared_ptr<HTTPRequestOperation>> operations;
    BatchProgress progress;
    BatchCompletion completion;
    std::size_t finished = 0;

    void operationFinished() {
      ++finished;
      if (progress) progress(finished, operations.size());
      if (finished == operations.size()) complete();
    }
    void complete() {
      if (completion) completion(operations);
      operations.clear();
    }
  };
  auto batch = std::make_shared<Batch>(Batch{operations, std::move(progress), std::move(completion)});
  if (operations.empty()) {
    platform::mainQueue().post([batch] { batch->complete(); });
    return;
  }
  for (const auto& operation : operations) {
    operation->whenFinished([batch] { platform::mainQueue().post([batch] { batch->operationFinished(); }); });
  }
  for (auto& operation : operations) enqueueHTTPRequestOperation(std::move(operation));
}

void HTTPClient::enqueueBatchOfHTTPRequestOperationsWithRequests(std::vector<URLRequest> requests,
                                                                 BatchProgress progress, BatchCompletion completion) {
  std::vector<std::shared_ptr<HTTPRequestOperation>> operations;
  operations.reserve(requests.size());
  for (auto& request : requests) operations.push_back(HTTPRequestOperationWithRequest(std::move(request), {}, {}));
  enqueueBatchOfHTTPRequestOperations(std::move(operations), std::move(progress), std::move(completion));
}

void HTTPClient::enqueue(std::string_view method, std::string_view path, const platform::Value& parameters,
                         HTTPRequestOperation::Success success, HTTPRequestOperation::Failure failure) {
  enqueueHTTPRequestOperation(
      HTTPRequestOperationWithRequest(requestWithMethod(method, path, parameters), std::move(success), std::move(failure)));
}

void HTTPClient::getPath(std::string_view path, const platform::Value& parameters,
                         HTTPRequestOperation::Success success, HTTPRequestOperation::Failure failure) {
  enqueue("GET", path, parameters, std::move(success), std::move(failure));
}
void HTTPClient::postPath(std::string_view path, const platform::Value& parameters,
                          HTTPRequestOperation::Success success, HTTPRequestOperation::Failure failure) {
  enqueue("POST", path, parameters, std::move(success), std::move(failure));
}
void HTTPClient::putPath(std::string_view path, const platform::Value& parameters,
                         HTTPRequestOperation::Success success, HTTPRequestOperation::Failure failure) {
  enqueue("PUT", path, parameters, std::move(success), std::move(failure));
}
void HTTPClient::deletePath(std::string_view path, const platform::Value& parameters,
                            HTTPRequestOperation::Success success, HTTPRequestOperation::Failure failure) {
  enqueue("DELETE", path, parameters, std::move(success), std::move(failure));
}
void HTTPClient::patchPath(std::string_view path, const platform::Value& parameters,
                           HTTPRequestOperation::Success success, HTTPRequestOperation::Failure failure) {
  enqueue("PATCH", path, parameters, std::move(success), std::move(failure));
}

}  // namespace backend::http
