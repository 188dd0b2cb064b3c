#pragma once
// An HTTP request operation whose body is JSON: it accepts "application/json",
// "text/json" and "text/javascript" and parses the body lazily.

#include <memory>
#include <optional>

#include "backend/http/http_request_operation.hpp"
#include "platform/value.hpp"

namespace backend::http {

class JSONRequestOperation : public HTTPRequestOperation {
 public:
  using JSONSuccess = std::function<void(const std::shared_ptr<JSONRequestOperation>&, const platform::Value& json)>;

  static std::shared_ptr<JSONRequestOperation> create(URLRequest request);
  // The operation with the blocks installed (see setCompletionBlockWithSuccess).
  static std::shared_ptr<JSONRequestOperation> JSONRequestOperationWithRequest(URLRequest request, JSONSuccess success,
                                                                               Failure failure);
  explicit JSONRequestOperation(URLRequest request) : HTTPRequestOperation(std::move(request)) {}

  // The parsed body: nil before the operation finished, for an empty body,
  // or when parsing failed (then JSONError() is set). Parsed once.
  platform::Value responseJSON() const;
  std::optional<platform::Error> JSONError() const;
  // The JSON error first, then the HTTP judgement.
  std::optional<platform::Error> error() const override;
  const std::set<std::string>& acceptableContentTypes() const override;
  // Accepts a request whose "Accept" lists a JSON type or whose path ends in ".json".
  static bool canProcessRequest(const URLRequest& request);

  // Like the HTTP form, but the body is parsed first on a private serial
  // queue and the success block gets the JSON; a parse error goes to failure.
  void setCompletionBlockWithSuccess(JSONSuccess success, Failure failure);
  void setCompletionBlockWithSuccess(Success success, Failure failure) override;

 private:
  mutable bool parsed_ = false;
  mutable platform::Value json_;
  mutable std::optional<platform::Error> jsonError_;
};

}  // namespace backend::http
