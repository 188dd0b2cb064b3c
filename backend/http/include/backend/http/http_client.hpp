#pragma once
// Builds requests relative to a base URL with default headers and a
// parameter encoding, and runs general-purpose request operations on its own
// queue (at most 4 at once).

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "backend/http/http_request_operation.hpp"
#include "backend/http/operation.hpp"
#include "backend/http/url_request.hpp"
#include "platform/value.hpp"

namespace backend::http {

enum class ParameterEncoding { Form = 0, JSON = 1, PropertyList = 2 };

class HTTPClient {
 public:
  // Defaults: UTF-8, form encoding, "Accept-Encoding" = "gzip",
  // "Accept-Language" = "<preferred languages>, en-us;q=0.8", "User-Agent"
  // from the bundle and device facts.
  explicit HTTPClient(std::string baseURL);
  static std::shared_ptr<HTTPClient> clientWithBaseURL(std::string baseURL);

  const std::string& baseURL() const noexcept { return baseURL_; }
  ParameterEncoding parameterEncoding() const noexcept { return encoding_; }
  void setParameterEncoding(ParameterEncoding encoding) noexcept { encoding_ = encoding; }

  std::optional<std::string> defaultHeader(std::string_view name) const;
  // Sets a header sent with every request; nullopt removes it.
  void setDefaultHeader(std::string_view name, std::optional<std::string> value);
  // "Authorization: Basic <base64(user:password)>".
  void setAuthorizationHeaderWithUsername(std::string_view username, std::string_view password);
  // "Authorization: Token token=\"<token>\"".
  void setAuthorizationHeaderWithToken(std::string_view token);
  void clearAuthorizationHeader();

  // The request for `method` at `path` (relative to the base URL) with the
  // default headers. Parameters (nil for none) go into the query for GET,
  // HEAD and DELETE, else into the body in the client's encoding with its
  // "Content-Type". Not thread-safe against concurrent header changes.
  URLRequest requestWithMethod(std::string_view method, std::string_view path, const platform::Value& parameters) const;

  // An HTTP operation for the request with the blocks installed.
  std::shared_ptr<HTTPRequestOperation> HTTPRequestOperationWithRequest(URLRequest request,
                                                                       HTTPRequestOperation::Success success,
                                                                       HTTPRequestOperation::Failure failure) const;
  void enqueueHTTPRequestOperation(std::shared_ptr<HTTPRequestOperation> operation);
  OperationQueue& operationQueue() noexcept { return queue_; }

  // Build, wrap and enqueue in one call ("GET", "POST", "PUT", "DELETE", "PATCH").
  void getPath(std::string_view path, const platform::Value& parameters, HTTPRequestOperation::Success success,
               HTTPRequestOperation::Failure failure);
  void postPath(std::string_view path, const platform::Value& parameters, HTTPRequestOperation::Success success,
                HTTPRequestOperation::Failure failure);
  void putPath(std::string_view path, const platform::Value& parameters, HTTPRequestOperation::Success success,
               HTTPRequestOperation::Failure failure);
  void deletePath(std::string_view path, const platform::Value& parameters, HTTPRequestOperation::Success success,
                  HTTPRequestOperation::Failure failure);
  void patchPath(std::string_view path, const platform::Value& parameters, HTTPRequestOperation::Success success,
                 HTTPRequestOperation::Failure failure);

 private:
  void enqueue(std::string_view method, std::string_view path, const platform::Value& parameters,
               HTTPRequestOperation::Success success, HTTPRequestOperation::Failure failure);

  std::string baseURL_;
  ParameterEncoding encoding_ = ParameterEncoding::Form;
  HeaderFields defaultHeaders_;
  OperationQueue queue_{4};
};

// The XML property-list text of a value (nullopt when it holds something a
// property list cannot carry).
std::optional<std::string> propertyListXML(const platform::Value& value);

}  // namespace backend::http
