#include "backend_service.hpp"

#include "backend_error.hpp"
#include "file_storage.hpp"
#include "object_store.hpp"
#include "operations.hpp"
#include "query_engine.hpp"
#include "reader_application.hpp"
#include "request_signature.hpp"

#include <devserver/limited_json.hpp>

#include <map>
#include <mutex>
#include <set>

namespace devserver::backend {
namespace {

constexpr std::size_t kMaxCommandBytes = 8 * 1024 * 1024;
constexpr std::string_view kCommandPrefix = "/2/";
constexpr std::string_view kFilesPrefix = "/files/";
constexpr std::string_view kRoutedApiHost = "api.backend.test";
constexpr std::string_view kRoutedFilesBase = "http://files.backend.test";

using Operation = Json (*)(OperationContext&, const Json&);

const std::map<std::string, Operation>& operationTable() {
  static const std::map<std::string, Operation> table{
      {"create", createObject},
      {"update", updateObject},
      {"delete", deleteObject},
      {"get", getObject},
      {"find", findObjects},
      {"client_push", clientPush},
      {"upload_file", uploadFile},
      {"user_signup", signUp},
      {"user_signup_or_login", signUpOrLogIn},
      {"user_login", logIn},
      {"user_request_password_reset", requestPasswordReset},
      {"client_me", currentUser},
      {"user_logout", logOut},
  };
  return table;
}

bool isBatchable(const std::string& operation) {
  return operation == "create" || operation == "update" || operation == "delete" || operation == "get";
}

void answer(httplib::Response& response, int status, const Json& body) {
  response.status = status;
  response.set_content(body.dump(-1, ' ', false, Json::error_handler_t::replace), "application/json");
}

Json errorBody(int errorCode, const std::string& message) { return Json{{"code", errorCode}, {"error", message}}; }

std::optional<std::string> sessionTokenOf(const Json& params) {
  auto it = params.find("session_token");
  if (it == params.end() || !it->is_string() || it->get_ref<const std::string&>().empty()) return std::nullopt;
  return it->get<std::string>();
}

// The path and query as the client sent them (the signature covers those,
// not a decoded form).
std::pair<std::string, std::string> pathAndQuery(const httplib::Request& request) {
  if (request.target.empty()) return {request.path, ""};
  auto question = request.target.find('?');
  if (question == std::string::npos) return {request.target, ""};
  return {request.target.substr(0, question), request.target.substr(question + 1)};
}

// Files of a routed API host live on the routed storage host; a client that
// talks to the server directly gets them from the same address.
std::string filesBaseFor(const std::string& signedUrlBase) {
  auto hostStart = signedUrlBase.find("://");
  std::string host = hostStart == std::string::npos ? signedUrlBase : signedUrlBase.substr(hostStart + 3);
  if (host == kRoutedApiHost) return std::string(kRoutedFilesBase);
  return signedUrlBase;
}

}  // namespace

struct BackendService::Impl {
  Impl(const std::filesystem::path& dataDir, PushGateway& pushGateway, const ServiceLimits& serviceLimits)
      : limits(serviceLimits),
        store(dataDir),
        files(dataDir / "files", store, serviceLimits.fileQuotaBytes),
        push(pushGateway),
        verifier(serviceLimits.signatureWindow) {
    verifier.addApplication(kReaderApplicationId, kReaderClientKey);
  }

  void handleCommand(const httplib::Request& request, httplib::Response& response, const std::string& signedUrlBase);
  Json runCommand(const std::string& operation, const Json& params, const std::string& filesBase,
                  CommandBudget& budget);
  Json runMulti(const Json& params, const std::string& filesBase, CommandBudget& budget);

  SignatureCheck verify(std::string_view method, const std::string& url, std::string_view query,
                        std::string_view formBody, const std::string& authorization) {
    std::lock_guard lock(verifierMutex);
    return verifier.verify(method, url, query, formBody, authorization);
  }

  ServiceLimits limits;
  // Guards the stores. Checking signatures, parsing commands and writing
  // answers need none of them and happen outside it.
  std::mutex mutex;
  std::mutex verifierMutex;
  ObjectStore store;
  FileStorage files;
  PushGateway& push;
  RequestVerifier verifier;
  std::set<std::string> authProviders{"anonymous"};
};

void BackendService::Impl::handleCommand(const httplib::Request& request, httplib::Response& response,
                                         const std::string& signedUrlBase) {
  auto [path, query] = pathAndQuery(request);
  std::string_view formBody;
  if (request.get_header_value("Content-Type").rfind("application/x-www-form-urlencoded", 0) == 0) {
    formBody = request.body;
  }
  SignatureCheck check = verify(request.method, signedUrlBase + path, query, formBody,
                                request.get_header_value("Authorization"));
  if (!check.applicationId) return answer(response, 401, errorBody(401, "unauthorized: " + check.refusal));
  if (request.method != "POST") return answer(response, 405, errorBody(405, "commands are POSTed"));
  if (request.body.size() > kMaxCommandBytes) {
    return answer(response, 200,
                  errorBody(code::kObjectTooLarge,
                            "request body is larger than " + std::to_string(kMaxCommandBytes) + " bytes"));
  }
  auto params = parseJsonLimited(request.body, kMaxJsonDepth, kMaxCommandBytes);
  if (!params || !params->is_object()) {
    return answer(response, 200, errorBody(code::kInvalidJson, "invalid JSON: the body must be a JSON object"));
  }
  std::string operation = request.path.substr(kCommandPrefix.size());
  try {
    Json result;
    {
      std::lock_guard lock(mutex);
      CommandBudget budget(limits.command);  // counts from here, not from the wait for the lock
      result = runCommand(operation, *params, filesBaseFor(signedUrlBase), budget);
    }
    answer(response, 200, Json{{"result", std::move(result)}});
  } catch (const BackendError& error) {
    answer(response, 200, errorBody(error.code(), error.what()));
  } catch (const Json::exception& error) {
    answer(response, 200, errorBody(code::kIncorrectType, std::string("wrong type in request: ") + error.what()));
  }
}

Json BackendService::Impl::runCommand(const std::string& operation, const Json& params, const std::string& filesBase,
                                      CommandBudget& budget) {
  if (operation == "multi") return runMulti(params, filesBase, budget);
  auto entry = operationTable().find(operation);
  if (entry == operationTable().end()) {
    throw BackendError(code::kOperationForbidden, "unknown operation \"" + operation + "\"");
  }
  OperationContext context{store, {}, sessionTokenOf(params), push, files, filesBase, budget, authProviders};
  // "client_me" answers null for an unknown token instead of refusing it.
  if (operation != "client_me") context.caller = callerForSession(store, context.sessionToken);
  return entry->second(context, params);
}

Json BackendService::Impl::runMulti(const Json& params, const std::string& filesBase, CommandBudget& budget) {
  auto commands = params.find("commands");
  if (commands == params.end() || !commands->is_array()) {
    throw BackendError(code::kIncorrectType, "multi needs a \"commands\" list");
  }
  auto sessionToken = sessionTokenOf(params);
  ObjectStore::Transaction transaction(store);
  Json results = Json::array();
  for (std::size_t i = 0; i < commands->size(); ++i) {
    const Json& command = (*commands)[i];
    auto op = command.is_object() ? command.find("op") : command.end();
    auto memberParams = command.is_object() ? command.find("params") : command.end();
    if (op == command.end() || !op->is_string() || memberParams == command.end() || !memberParams->is_object()) {
      throw BackendError(code::kIncorrectType, "command " + std::to_string(i) + " needs \"op\" and \"params\"");
    }
    if (!isBatchable(*op)) {
      throw BackendError(code::kOperationForbidden, "command " + std::to_string(i) + ": \"" + op->get<std::string>() +
                                                        "\" cannot run inside multi");
    }
    Json member = *memberParams;
    if (sessionToken && !sessionTokenOf(member)) member["session_token"] = *sessionToken;
    try {
      results.push_back(runCommand(*op, member, filesBase, budget));
    } catch (const BackendError& error) {
      // The transaction rolls back: a batch is all or nothing.
      throw BackendError(error.code(), "command " + std::to_string(i) + ": " + error.what());
    }
  }
  transaction.commit();
  return results;
}

BackendService::BackendService(const std::filesystem::path& dataDir, devserver::PushGateway& push,
                               ServiceLimits limits)
    : impl_(std::make_unique<Impl>(dataDir, push, limits)) {}

BackendService::~BackendService() = default;

void BackendService::handle(const httplib::Request& request, httplib::Response& response,
                            const std::string& signedUrlBase) {
  try {
    if (request.path.rfind(kCommandPrefix, 0) == 0) {
      impl_->handleCommand(request, response, signedUrlBase);
    } else if (request.path.rfind(kFilesPrefix, 0) == 0) {
      std::lock_guard lock(impl_->mutex);
      impl_->files.handle(request, response, filesBaseFor(signedUrlBase));
    } else {
      answer(response, 404, errorBody(404, "not found"));
    }
  } catch (const std::exception& error) {
    answer(response, 500, errorBody(code::kInternal, std::string("internal server error: ") + error.what()));
  }
}

nlohmann::json BackendService::objectsOfClass(const std::string& className) {
  std::lock_guard lock(impl_->mutex);
  Json objects = Json::array();
  for (const auto& object : impl_->store.all(className)) objects.push_back(objectData(object));
  return objects;
}

void BackendService::addApplication(const std::string& appId, const std::string& clientKey) {
  std::lock_guard lock(impl_->verifierMutex);
  impl_->verifier.addApplication(appId, clientKey);
}

bool BackendService::addAuthProvider(const std::string& name) {
  std::lock_guard lock(impl_->mutex);
  if (!isValidKeyName(name)) return false;
  if (impl_->authProviders.size() >= kMaxAuthProviders && !impl_->authProviders.count(name)) return false;
  impl_->authProviders.insert(name);
  return true;
}

std::vector<std::string> BackendService::authProviders() {
  std::lock_guard lock(impl_->mutex);
  return {impl_->authProviders.begin(), impl_->authProviders.end()};
}

}  // namespace devserver::backend
