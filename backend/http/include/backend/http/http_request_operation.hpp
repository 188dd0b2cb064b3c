#pragma once
// A URL connection operation that judges the response by status code and
// content type, resumes partial downloads, and calls success or failure
// blocks on callback queues.

#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "backend/http/url_connection_operation.hpp"
#include "platform/executor.hpp"

namespace backend::http {

class HTTPRequestOperation : public URLConnectionOperation {
 public:
  using Success = std::function<void(const std::shared_ptr<HTTPRequestOperation>&, const std::string& data)>;
  using Failure = std::function<void(const std::shared_ptr<HTTPRequestOperation>&, const platform::Error&)>;

  static std::shared_ptr<HTTPRequestOperation> create(URLRequest request);
  explicit HTTPRequestOperation(URLRequest request);

  // The transfer error; else, with a response, a status outside the
  // acceptable codes (-1011, "Expected status code in (<ranges>), got <n>")
  // or a MIME type outside the acceptable types (-1016, "Expected content
  // type <set>, got <type>"), both with the failing URL.
  std::optional<platform::Error> error() const override;
  std::optional<platform::Error> HTTPError() const;

  // Codes and types this operation accepts (the class's own, built once;
  // judging every answer must not rebuild them).
  virtual const std::set<long>& acceptableStatusCodes() const;
  virtual const std::set<std::string>& acceptableContentTypes() const;
  // Accepts every request.
  static bool canProcessRequest(const URLRequest& request);

  // When the operation completes without being cancelled: `failure` with the
  // error on the failure queue, else `success` with the body on the success
  // queue (each the main queue when unset). Missing blocks are skipped.
  virtual void setCompletionBlockWithSuccess(Success success, Failure failure);
  void setSuccessCallbackQueue(platform::Executor* queue);
  void setFailureCallbackQueue(platform::Executor* queue);

  // Adds "Range: bytes=<written>-" (and "If-Range" with the ETag) first.
  void pause() override;

  // Sends the body to the file at `path` instead of memory (see
  // FileOutputStream for what it refuses): a "206" answer continues the file
  // where it stands, any other answer starts it again from empty. Only
  // before the operation starts (else InternalInconsistencyException).
  void setResponseFilePath(std::string path);
  std::optional<std::string> responseFilePath() const;

  // Offset and total of a resumed ("206") answer; total -1 when unknown.
  long long offsetContentLength() const;
  long long totalContentLength() const;

 protected:
  void didReceiveResponse(const URLResponse& response) override;
  platform::Executor& successQueue() const;
  platform::Executor& failureQueue() const;

 private:
  platform::Executor* successQueue_ = nullptr;
  platform::Executor* failureQueue_ = nullptr;
  long long offsetContentLength_ = 0;
  long long totalContentLength_ = 0;
  std::optional<std::string> responseFilePath_;
};

// Renders codes as ranges: {200..299} -> "200-299", {200, 204} -> "200, 204".
std::string describeStatusCodes(const std::set<long>& codes);

}  // namespace backend::http
