#include <mutex>

#include "backend/http/network_activity_indicator_manager.hpp"
#include "backend/http/oauth.hpp"
#include "backend/internal/client_configuration.hpp"
#include "backend/internal/internal_utils.hpp"
#include "backend/net/command_runners.hpp"
#include "command_completion_operation.hpp"

namespace backend::net {
namespace {

// Transport and HTTP failures read as the backend's connection failure.
platform::Value transportFailureAnswer(const platform::Error& error, long status) {
  platform::Dictionary answer;
  answer.set("code", static_cast<long long>(kErrorConnectionFailed));
  answer.set("error", error.message());
  answer.set("temporary", status != 401 && status != 500);
  // The offline queue drops a command the server refused (a status below
  // 500) instead of retrying it for ever.
  if (status != 0) answer.set("httpStatus", static_cast<long long>(status));
  return platform::Value(std::move(answer));
}

}  // namespace

Task<CommandResult> commandOutcome(const http::HTTPRequestOperation& operation) {
  auto response = operation.response();
  return commandOutcome(operation.error(), response ? response->statusCode : 0, operation.responseString());
}

Task<CommandResult> commandOutcome(const std::optional<platform::Error>& transferError, long statusCode,
                                   const std::string& responseText) {
  platform::Value answer;
  if (transferError) {
    answer = transportFailureAnswer(*transferError, statusCode);
  } else {
    answer = InternalUtils::decodeObject(InternalUtils::parseJSON(responseText));
  }
  if (answer.isDictionary() && !answer.dictionary()->contains("error") && answer.dictionary()->contains("result")) {
    return Task<CommandResult>::taskWithResult(CommandResult{answer["result"], responseText});
  }
  if (!answer.isDictionary()) answer = platform::Value::emptyDictionary();
  return Task<CommandResult>::taskWithError(InternalUtils::errorFromResult(answer));
}

std::shared_ptr<http::HTTPClient> NetworkCommandRunner::sharedClient() {
  static std::mutex mutex;
  static std::shared_ptr<http::HTTPClient> client;
  std::lock_guard lock(mutex);
  auto base = InternalUtils::baseURL();
  if (!client) http::NetworkActivityIndicatorManager::sharedManager().setEnabled(true);
  if (!client || client->baseURL() != base) {
    client = http::HTTPClient::clientWithBaseURL(base);
    client->setParameterEncoding(http::ParameterEncoding::JSON);
  }
  return client;
}

http::OperationQueue& NetworkCommandRunner::queue() {
  static http::OperationQueue instance(3);
  return instance;
}

void NetworkCommandRunner::enqueue(std::shared_ptr<http::Operation> operation) {
  queue().addOperation(std::move(operation));
}

void NetworkCommandRunner::signURLRequest(http::URLRequest& request) {
  std::optional<std::string> body;
  auto type = request.headers.get("Content-Type");
  if (type && type->rfind("application/x-www-form-urlencoded", 0) == 0) body = request.body;
  request.headers.set("Authorization",
                      http::OAuth::createAuthorizationHeader(request.url, "POST", body, ClientConfiguration::applicationId(),
                                                             ClientConfiguration::clientKey()));
}

std::shared_ptr<http::JSONRequestOperation> NetworkCommandRunner::createRequest(const CommandPtr& command) {
  command->resolveLocalIds();
  platform::Dictionary body = command->params();
  body.set("v", std::string("i") + kClientVersion);
  body.set("iid", InternalUtils::installationId());
  // Written in one pass: a batch's commands hold their encoded parameters
  // already, and encoding the whole tree first copied every one of them.
  auto request = sharedClient()->requestWithJSONBody(
      "POST", command->serverOperation(),
      InternalUtils::encodeToJSON(platform::Value(std::move(body)), UnsavedChildren::Disallow, DataObjects::Allow));
  request.timeoutInterval = 60.0;
  signURLRequest(request);
  return http::JSONRequestOperation::create(std::move(request));
}

Task<CommandResult> NetworkCommandRunner::runCommandAsync(const CommandPtr& command,
                                                          const CancellationOperation& cancellation) {
  if (cancellation && cancellation->isCancelled()) return Task<CommandResult>::cancelledTask();
  auto request = createRequest(command);
  TaskCompletionSource<CommandResult> source;
  auto completion = std::make_shared<CommandCompletionOperation>(request, cancellation, source);
  enqueue(request);
  enqueue(completion);
  return source.task();
}

}  // namespace backend::net
