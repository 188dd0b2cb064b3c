#pragma once
// Builds requests relative to a base URL with default headers and a
// parameter encoding, and runs general-purpose request operations on its own
// queue (at most 4 at once).

#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "backend/http/http_request_operation.hpp"
#include "backend/http/multipart_form_data.hpp"
#include "backend/http/operation.hpp"
#include "backend/http/url_request.hpp"
#include "platform/value.hpp"

namespace backend::http {

enum class ParameterEncoding { Form = 0, JSON = 1, PropertyList = 2 };

// An operation class the client's factory may choose: its name, whether it
// wants a request, and how to make one.
struct HTTPOperationClass {
  std::string name;
  bool (*canProcessRequest)(const URLRequest&);
  std::shared_ptr<HTTPRequestOperation> (*create)(URLRequest);

  // The class T (an HTTPRequestOperation with static canProcessRequest and
  // create) under `name`.
  template <class T>
  static HTTPOperationClass of(std::string name) {
    return {std::move(name), &T::canProcessRequest,
            [](URLRequest request) -> std::shared_ptr<HTTPRequestOperation> { return T::create(std::move(request)); }};
  }
};

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
  // The same with `json`, already written, as the body and the JSON
  // "Content-Type", whatever the client's encoding.
  URLRequest requestWithJSONBody(std::string_view method, std::string_view path, std::string json) const;

  // A request whose body is a multipart form: the parameters (nil for none)
  // first, one plain field per component flattened as for the query string
  // (keys and values unescaped), then whatever `block` appends. Sets
  // "Content-Type" to "multipart/form-data; boundary=<boundary>" and
  // "Content-Length"; the body is `bodyStream`. Raises
  // InvalidArgumentException for "GET" and "HEAD", which carry no body.
  URLRequest multipartFormRequestWithMethod(std::string_view method, std::string_view path,
                                            const platform::Value& parameters,
                                            const std::function<void(MultipartFormData&)>& block) const;

  // Adds a class at the end of the list the operation factory consults;
  // false (and no change) when one of that name is registered already.
  bool registerHTTPOperationClass(HTTPOperationClass operationClass);
  void unregisterHTTPOperationClass(std::string_view name);
  std::vector<std::string> registeredHTTPOperationClassNames() const;

  // An operation of the first registered class that accepts the request
  // (a plain HTTP operation when none does), with the blocks installed.
  std::shared_ptr<HTTPRequestOperation> HTTPRequestOperationWithRequest(URLRequest request,
                                                                       HTTPRequestOperation::Success success,
                                                                       HTTPRequestOperation::Failure failure) const;
  void enqueueHTTPRequestOperation(std::shared_ptr<HTTPRequestOperation> operation);
  OperationQueue& operationQueue() noexcept { return queue_; }

  // Cancels every operation enqueued here and not finished whose method is
  // `method` (empty: any) and whose URL path is that of `path` resolved
  // against the base URL (the query is not compared). Thread-safe.
  void cancelAllHTTPOperationsWithMethod(std::string_view method, std::string_view path);

  // (operations finished so far, operations in the batch).
  using BatchProgress = std::function<void(std::size_t, std::size_t)>;
  using BatchCompletion = std::function<void(const std::vector<std::shared_ptr<HTTPRequestOperation>>&)>;
  // Enqueues the operations; `progress` runs on the main queue after each
  // one finishes (cancelled ones included), then `completion` runs there
  // once with all of them. An empty batch only calls `completion`. Either
  // block may be empty.
  void enqueueBatchOfHTTPRequestOperations(std::vector<std::shared_ptr<HTTPRequestOperation>> operations,
                                           BatchProgress progress, BatchCompletion completion);
  // The same for operations made by the factory, without success or
  // failure blocks.
  void enqueueBatchOfHTTPRequestOperationsWithRequests(std::vector<URLRequest> requests, BatchProgress progress,
                                                       BatchCompletion completion);

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
  mutable std::mutex mutex_;  // guards the two lists below
  std::vector<HTTPOperationClass> operationClasses_;
  std::vector<std::weak_ptr<HTTPRequestOperation>> enqueued_;
  OperationQueue queue_{4};
};

// The XML property-list text of a value (nullopt when it holds something a
// property list cannot carry).
std::optional<std::string> propertyListXML(const platform::Value& value);

}  // namespace backend::http
