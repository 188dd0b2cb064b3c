#include "backend/http/http_client.hpp"

#include <cstdio>

#include "backend/http/oauth.hpp"
#include "backend/http/query_string.hpp"
#include "backend/http/url.hpp"
#include "backend/internal_utils.hpp"
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

std::shared_ptr<HTTPRequestOperation> HTTPClient::HTTPRequestOperationWithRequest(
    URLRequest request, HTTPRequestOperation::Success success, HTTPRequestOperation::Failure failure) const {
  auto operation = HTTPRequestOperation::create(std::move(request));
  operation->setCompletionBlockWithSuccess(std::move(success), std::move(failure));
  return operation;
}

void HTTPClient::enqueueHTTPRequestOperation(std::shared_ptr<HTTPRequestOperation> operation) {
  queue_.addOperation(std::move(operation));
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
