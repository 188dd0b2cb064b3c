// backendctl: the backend client from the command line. `call` sends one
// command and prints the answer's "result"; `save`, `get` and `delete` work on
// one data object and print it; `eventually` hands a save or delete to the
// offline queue; `find` runs a query and prints the objects it found;
// `upload` and `download` move a file's bytes; `signup`, `login`, `become`,
// `anonymous`, `me`, `logout` and `reset-password` manage the current user,
// kept under --data-dir so later runs send its session token. Output is
// compact JSON on
// stdout (exit 0) or the error as JSON on stderr (exit 1); usage mistakes exit 2; a command that is still
// queued when the wait ends exits 3.
//   backendctl --server http://127.0.0.1:8080 call find '{"classname":"Story"}' --runner cached --policy 3
//   backendctl --server http://127.0.0.1:8080 save Note title=Hei count=3 tags='["a","b"]'
//   backendctl --server http://127.0.0.1:8080 find Note --where '{"count":{"$gt":2}}' --order -count --limit 5
//   backendctl --server http://127.0.0.1:8080 --data-dir ~/.ctl signup kari hemmelig email=kari@vv.test

#include <CLI/CLI.hpp>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <future>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "app/reader_credentials.hpp"
#include "backend/file.hpp"
#include "backend/installation.hpp"
#include "backend/internal/internal_utils.hpp"
#include "backend/internal/object_save_hooks.hpp"
#include "backend/net/backend.hpp"
#include "backend/net/command_cache.hpp"
#include "backend/net/command_runners.hpp"
#include "backend/object.hpp"
#include "backend/push.hpp"
#include "backend/query.hpp"
#include "backend/user.hpp"
#include "platform/command_line.hpp"
#include "platform/curl_setup.hpp"
#include "platform/exceptions.hpp"
#include "platform/json.hpp"
#include "platform/run_loop.hpp"
#include "platform/sandbox.hpp"
#include "wire_query.hpp"

namespace {

struct Options {
  std::string server = backend::kDefaultServer;
  std::string applicationId = app::kReaderApplicationId;
  std::string clientKey = app::kReaderClientKey;
  std::string dataDir;
  std::string sessionToken;
  std::optional<double> initialDelay;
  std::string operation;
  std::string params = "{}";
  std::string runner = "retrying";
  int policy = backend::kCachePolicyIgnoreCache;
  double maxAge = 3600;
  // save / get / delete / eventually
  std::string className;
  std::vector<std::string> arguments;  // [ID] key=value... (save), ID (get, delete)
  double waitSeconds = 30;
  // find
  std::string where;
  std::string order;
  std::optional<long long> limit;
  std::optional<long long> skip;
  std::string include;
  std::string keys;
  bool count = false;
  // upload / download
  std::string path;
  std::string name;
  std::string mimeType;
  std::string url;
  std::string output;
  // users
  std::string username;
  std::string password;
  std::string email;
  // push
  std::vector<std::string> channels;
  std::string pushType;
  std::string message;
  std::string data;
  std::string expiresAt;
  std::optional<double> expiresIn;
};

// Exit statuses.
using namespace platform::exit_status;

// A usage mistake found after parsing; main prints it and exits 2.
struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

std::string toJSON(const platform::Value& value) {
  return backend::InternalUtils::encodeToJSON(value, backend::UnsavedChildren::Allow, backend::DataObjects::Allow);
}

int printError(const platform::Error& error) {
  platform::Dictionary out;
  out.set("domain", error.domain);
  out.set("code", static_cast<long long>(error.code));
  out.set("error", error.message());
  if (auto* info = error.userInfo.dictionary()) {
    for (const auto& [key, value] : *info) {
      if (!out.contains(key)) out.set(key, value);
    }
  }
  std::fprintf(stderr, "%s\n", toJSON(platform::Value(std::move(out))).c_str());
  return kFailure;
}

// A task's exception is a failure of the run like any other: error JSON.
int printException(const std::exception_ptr& exception) {
  std::string message = "unknown exception";
  try {
    std::rethrow_exception(exception);
  } catch (const std::exception& e) {
    message = e.what();
  } catch (...) {
  }
  platform::Dictionary out;
  out.set("error", message);
  std::fprintf(stderr, "%s\n", toJSON(platform::Value(std::move(out))).c_str());
  return kFailure;
}

backend::Task<backend::net::CommandResult> run(const Options& options, const backend::net::CommandPtr& command) {
  using namespace backend::net;
  if (options.runner == "network") return NetworkCommandRunner::runCommandAsync(command);
  if (options.runner == "cached") return CachedCommandRunner::runCommandAsync(command, options.policy, options.maxAge);
  return RetryingCommandRunner::runCommandAsync(command);
}

void configure(const Options& options) {
  if (!options.dataDir.empty()) platform::Sandbox::setRoot(options.dataDir);
  backend::InternalUtils::setServer(options.server);
  backend::net::Backend::setApplicationId(options.applicationId, options.clientKey);
  if (options.initialDelay) backend::net::RetryingCommandRunner::setInitialDelay(*options.initialDelay);
  if (!options.sessionToken.empty()) {
    // For this run only: the stored current user stays as it is.
    auto hooks = backend::currentUserHooks();
    hooks.sessionToken = [token = options.sessionToken] { return std::optional<std::string>(token); };
    backend::installCurrentUserHooks(std::move(hooks));
  }
}

// Bad JSON or typed values given on the command line are misuse.
platform::Value decodedArgument(const std::string& text, const std::string& what) {
  try {
    return backend::InternalUtils::decodeObject(backend::InternalUtils::parseJSON(text));
  } catch (const std::exception& e) {
    throw UsageError(what + " is not JSON the backend takes: " + e.what());
  }
}

int call(const Options& options) {
  auto params = decodedArgument(options.params, "PARAMS_JSON");
  if (!params.isDictionary()) {
    std::fprintf(stderr, "backendctl: PARAMS_JSON must be a JSON object\n");
    return kMisuse;
  }
  configure(options);
  // The stored current user's session, or the one given for this run.
  const std::optional<std::string> token = backend::currentSessionToken();
  auto command = backend::net::Command::commandWithServerOperation(options.operation, params, token);

  // Waiting on a future keeps the main-thread warning of blocking waits out.
  std::promise<backend::Task<backend::net::CommandResult>> finished;
  backend::Task<backend::net::CommandResult> running;
  try {
    running = run(options, command);
  } catch (...) {
    return printException(std::current_exception());
  }
  running.continueWith([&](const backend::Task<backend::net::CommandResult>& task) { finished.set_value(task); });
  auto task = finished.get_future().get();
  if (auto exception = task.exception()) return printException(exception);
  if (task.isCancelled()) {
    std::fprintf(stderr, "{\"error\":\"cancelled\"}\n");
    return kFailure;
  }
  if (auto error = task.error()) return printError(*error);
  std::printf("%s\n", toJSON(task.result().result).c_str());
  return kSuccess;
}


// ---- Data objects ------------------------------------------------------------

// A value given on the command line: JSON (typed values decoded) when it
// parses as JSON, else the text itself.
platform::Value valueOfArgument(const std::string& text) {
  auto parsed = platform::json::parse(text);
  if (!parsed) return platform::Value(text);
  try {
    return backend::InternalUtils::decodeObject(parsed.value());
  } catch (const std::exception& e) {
    throw UsageError("\"" + text + "\" is not a value the backend takes: " + e.what());
  }
}

struct SaveArguments {
  std::optional<std::string> objectId;
  std::vector<std::pair<std::string, platform::Value>> fields;
};

// [ID] key=value...: the first argument is the id when it has no "=".
SaveArguments parseSaveArguments(const std::vector<std::string>& arguments) {
  SaveArguments parsed;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    const auto equals = argument.find('=');
    if (equals == std::string::npos) {
      if (i != 0) throw UsageError("expected key=value, got \"" + argument + "\"");
      parsed.objectId = argument;
      continue;
    }
    if (equals == 0) throw UsageError("a field needs a name: \"" + argument + "\"");
    parsed.fields.emplace_back(argument.substr(0, equals), valueOfArgument(argument.substr(equals + 1)));
  }
  return parsed;
}

std::string requireObjectId(const std::vector<std::string>& arguments) {
  if (arguments.size() != 1) throw UsageError("expected exactly one object id");
  return arguments.front();
}

// {"objectId", "createdAt", "updatedAt", fields...}.
platform::Dictionary objectFields(backend::Object& object) {
  platform::Dictionary out;
  if (auto id = object.objectId()) out.set("objectId", *id);
  if (auto created = object.createdAt()) out.set("createdAt", backend::InternalUtils::stringFromPreciseDate(*created));
  if (auto updated = object.updatedAt()) out.set("updatedAt", backend::InternalUtils::stringFromPreciseDate(*updated));
  for (const auto& [key, value] : object.estimatedDataSnapshot()) out.set(key, value);
  return out;
}

// The object in typed JSON.
std::string objectJSON(backend::Object& object) { return toJSON(platform::Value(objectFields(object))); }

// Waits for a task without the main thread's blocking-wait warning. Answers
// false when the time ran out first.
template <class T>
bool waitFor(const backend::Task<T>& task, std::optional<double> seconds) {
  auto done = std::make_shared<std::promise<void>>();
  auto finished = done->get_future();
  task.continueWith([done](const backend::Task<T>&) { done->set_value(); });
  if (!seconds) {
    finished.wait();
    return true;
  }
  return finished.wait_for(std::chrono::duration<double>(*seconds)) == std::future_status::ready;
}

// For a failed or cancelled task: prints why, sets the exit status and
// answers true.
template <class T>
bool reportFailure(const backend::Task<T>& task, int& status) {
  if (auto exception = task.exception()) {
    status = printException(exception);
    return true;
  }
  if (task.isCancelled()) {
    std::fprintf(stderr, "{\"error\":\"cancelled\"}\n");
    status = kFailure;
    return true;
  }
  if (auto error = task.error()) {
    status = printError(*error);
    return true;
  }
  return false;
}

// Prints the outcome of a finished task: the object on success, or for a
// delete its id and "deleted".
template <class T>
int report(const backend::Task<T>& task, backend::Object& object, bool deleted = false) {
  int status = 0;
  if (reportFailure(task, status)) return status;
  if (deleted) {
    std::printf("%s\n", toJSON(platform::Value::dictionary({{"objectId", object.objectId().value_or("")},
                                                             {"deleted", true}}))
                           .c_str());
  } else {
    std::printf("%s\n", objectJSON(object).c_str());
  }
  return kSuccess;
}

backend::ObjectPtr objectToSave(const Options& options, const SaveArguments& arguments) {
  auto object = arguments.objectId ? backend::Object::objectWithoutData(options.className, *arguments.objectId)
                                   : backend::Object::objectWithClassName(options.className);
  for (const auto& [key, value] : arguments.fields) object->setObject(value, key);
  return object;
}

int saveObject(const Options& options) {
  const auto arguments = parseSaveArguments(options.arguments);
  if (!arguments.objectId && arguments.fields.empty()) throw UsageError("nothing to save: give key=value fields");
  configure(options);
  auto object = objectToSave(options, arguments);
  auto task = object->saveAsync();
  waitFor(task, std::nullopt);
  return report(task, *object);
}

int getObject(const Options& options) {
  const std::string objectId = requireObjectId(options.arguments);
  configure(options);
  auto object = backend::Object::objectWithoutData(options.className, objectId);
  auto task = object->fetchAsync();
  waitFor(task, std::nullopt);
  return report(task, *object);
}

int deleteObject(const Options& options) {
  const std::string objectId = requireObjectId(options.arguments);
  configure(options);
  auto object = backend::Object::objectWithoutData(options.className, objectId);
  auto task = object->deleteAsync();
  waitFor(task, std::nullopt);
  return report(task, *object, true);
}

// The queue keeps what it could not send yet; a later run with the same
// --data-dir sends it once the service is reachable.
int stillQueued() {
  std::fprintf(stderr,
               "backendctl: the command is still queued (%zu waiting); a later backendctl run with the same "
               "--data-dir sends it when the service is reachable\n",
               backend::net::CommandCache::defaultInstance().pendingCount());
  return kStillQueued;
}

int eventually(const Options& options, bool save) {
  std::optional<SaveArguments> arguments;
  std::string objectId;
  if (save) {
    arguments = parseSaveArguments(options.arguments);
    if (!arguments->objectId && arguments->fields.empty()) throw UsageError("nothing to save: give key=value fields");
  } else {
    objectId = requireObjectId(options.arguments);
  }
  configure(options);
  auto object = save ? objectToSave(options, *arguments) : backend::Object::objectWithoutData(options.className, objectId);
  auto task = save ? object->saveEventually() : object->deleteEventually();
  if (!waitFor(task, options.waitSeconds)) return stillQueued();
  return report(task, *object, !save);
}

// ---- Queries -------------------------------------------------------------------

std::vector<std::string> commaSeparated(const std::string& text) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t comma = std::min(text.find(',', start), text.size());
    if (comma > start) parts.push_back(text.substr(start, comma - start));
    start = comma + 1;
  }
  return parts;
}

backend::QueryPtr findQuery(const Options& options) {
  platform::Value where;
  if (!options.where.empty()) {
    where = decodedArgument(options.where, "--where");
    if (!where.isDictionary()) throw UsageError("--where must be a JSON object");
  }
  backend::QueryPtr query;
  try {
    query = tools::queryFromWire(options.className, where);
    if (!options.order.empty()) tools::addOrder(*query, options.order);
  } catch (const tools::WireQueryError& e) {
    throw UsageError(e.what());
  }
  if (options.limit) query->setLimit(*options.limit);
  if (options.skip) query->setSkip(*options.skip);
  for (const auto& key : commaSeparated(options.include)) query->includeKey(key);
  if (!options.keys.empty()) query->selectKeys(commaSeparated(options.keys));
  query->setCachePolicy(options.policy);
  query->setMaxCacheAge(options.maxAge);
  return query;
}

// Prints a JSON array of the objects found (each as `get` prints one), or
// with --count the number alone.
int findObjects(const Options& options) {
  configure(options);
  auto query = findQuery(options);
  int status = 0;
  if (options.count) {
    auto counted = query->countAsync(options.policy);
    waitFor(counted, std::nullopt);
    if (reportFailure(counted, status)) return status;
    std::printf("%lld\n", counted.result());
    return 0;
  }
  auto found = query->findAsync(options.policy);
  waitFor(found, std::nullopt);
  if (reportFailure(found, status)) return status;
  std::string out = "[";
  for (const auto& object : found.result()) out += (out.size() > 1 ? "," : "") + objectJSON(*object);
  std::printf("%s]\n", out.c_str());
  return 0;
}

// ---- Users ---------------------------------------------------------------------

// A user as `get` prints an object, plus "sessionToken".
std::string userJSON(backend::User& user) {
  platform::Dictionary out = objectFields(user);
  if (auto token = user.sessionToken()) out.set("sessionToken", *token);
  return toJSON(platform::Value(std::move(out)));
}

int reportUser(const backend::Task<backend::UserPtr>& task) {
  int status = 0;
  if (reportFailure(task, status)) return status;
  std::printf("%s\n", userJSON(*task.result()).c_str());
  return kSuccess;
}

// "-" reads the password from the first line of stdin, which keeps it out
// of the process list.
std::string passwordArgument(const std::string& given) {
  if (given != "-") return given;
  std::string line;
  std::getline(std::cin, line);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if (line.empty()) throw UsageError("no password on stdin");
  return line;
}

int signUp(const Options& options) {
  const auto arguments = parseSaveArguments(options.arguments);
  if (arguments.objectId) throw UsageError("expected key=value, got \"" + *arguments.objectId + "\"");
  const std::string password = passwordArgument(options.password);
  configure(options);
  auto user = backend::User::user();
  user->setUsername(options.username);
  user->setPassword(password);
  for (const auto& [key, value] : arguments.fields) user->setObject(value, key);
  auto task = user->signUpAsync();
  waitFor(task, std::nullopt);
  int status = 0;
  if (reportFailure(task, status)) return status;
  std::printf("%s\n", userJSON(*user).c_str());
  return kSuccess;
}

int logIn(const Options& options) {
  const std::string password = passwordArgument(options.password);
  configure(options);
  auto task = backend::User::logInAsync(options.username, password);
  waitFor(task, std::nullopt);
  return reportUser(task);
}

int become(const Options& options, const std::string& token) {
  configure(options);
  auto task = backend::User::becomeAsync(token);
  waitFor(task, std::nullopt);
  return reportUser(task);
}

int anonymous(const Options& options) {
  configure(options);
  // A new anonymous user, not a link of the stored one.
  backend::User::logOut();
  auto task = backend::AnonymousUtils::logInAsync();
  waitFor(task, std::nullopt);
  return reportUser(task);
}

int printNoUser() {
  std::fprintf(stderr, "%s\n",
               toJSON(platform::Value::dictionary({{"domain", backend::kErrorDomain},
                                                   {"code", static_cast<long long>(backend::kErrorObjectNotFound)},
                                                   {"error", "no user is logged in"}}))
                   .c_str());
  return kFailure;
}

// The user of the session, as the service knows it now; the stored user is
// refreshed unless --session-token stood in for it.
int me(const Options& options) {
  configure(options);
  if (!options.sessionToken.empty()) {
    auto task = backend::User::userForSessionTokenAsync(options.sessionToken);
    waitFor(task, std::nullopt);
    return reportUser(task);
  }
  const auto token = backend::User::currentSessionToken();
  if (!token) return printNoUser();
  auto task = backend::User::becomeAsync(token);
  waitFor(task, std::nullopt);
  return reportUser(task);
}

// Ends the session on the service, then forgets the stored user. The stored
// user is gone even when the service could not be told.
int logOut(const Options& options) {
  configure(options);
  const auto token = options.sessionToken.empty() ? backend::User::currentSessionToken()
                                                  : std::optional<std::string>(options.sessionToken);
  if (options.sessionToken.empty()) backend::User::logOut();
  if (!token) return kSuccess;
  auto command = backend::net::Command::commandWithServerOperation("user_logout", platform::Value::emptyDictionary(), token);
  auto task = backend::net::NetworkCommandRunner::runCommandAsync(command);
  waitFor(task, std::nullopt);
  int status = 0;
  if (reportFailure(task, status)) return status;
  return kSuccess;
}

int resetPassword(const Options& options) {
  configure(options);
  auto task = backend::User::requestPasswordResetAsync(options.email);
  waitFor(task, std::nullopt);
  int status = 0;
  if (reportFailure(task, status)) return status;
  std::printf("%s\n", toJSON(platform::Value::dictionary({{"email", options.email}, {"requested", true}})).c_str());
  return kSuccess;
}

// ---- Files -------------------------------------------------------------------

// A bar on stderr while a transfer runs, only when stderr is a terminal.
class ProgressBar {
 public:
  explicit ProgressBar(std::string label) : label_(std::move(label)), shown_(::isatty(STDERR_FILENO) == 1) {}
  ~ProgressBar() {
    if (drawn_) std::fputc('\n', stderr);
  }
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  // The callback for a file's progress block (main thread).
  backend::File::ProgressBlock block() {
    return [this](int percent) { draw(percent); };
  }

 private:
  void draw(int percent) {
    if (!shown_) return;
    constexpr int kWidth = 40;
    const int filled = std::clamp(percent, 0, 100) * kWidth / 100;
    std::fprintf(stderr, "\r%s [%s%s] %3d%%", label_.c_str(), std::string(filled, '#').c_str(),
                 std::string(kWidth - filled, '.').c_str(), percent);
    std::fflush(stderr);
    drawn_ = true;
  }

  std::string label_;
  bool shown_;
  bool drawn_ = false;
};

// Runs the main loop, where progress is reported, until the task ends.
template <class T>
void runUntilFinished(const backend::Task<T>& task) {
  platform::RunLoop::main().runUntil([&] { return task.isCompleted(); }, std::chrono::hours(24 * 365));
}

// True for "type/subtype" with an optional parameter list, in printable ASCII.
bool isMimeType(const std::string& text) {
  const auto slash = text.find('/');
  return slash != std::string::npos && slash > 0 && slash + 1 < text.size() &&
         std::all_of(text.begin(), text.end(), [](unsigned char c) { return c >= 0x20 && c < 0x7f; });
}

int uploadFile(const Options& options) {
  if (!options.mimeType.empty() && !isMimeType(options.mimeType))
    throw UsageError("--type must be a MIME type such as image/png");
  configure(options);
  const std::string name = options.name.empty() ? std::filesystem::path(options.path).filename().string() : options.name;
  auto file = backend::File::fileWithNameContentsAtPath(name, options.path);
  if (!options.mimeType.empty()) file->setMimeType(options.mimeType);
  ProgressBar bar("upload");
  auto task = file->saveAsync(bar.block());
  runUntilFinished(task);
  if (auto exception = task.exception()) std::rethrow_exception(exception);
  if (task.isCancelled()) return printError(platform::makeError(backend::kErrorDomain, backend::kErrorConnectionFailed, "cancelled"));
  if (auto error = task.error()) return printError(*error);
  std::printf("%s\n", toJSON(platform::Value::dictionary({{"name", file->name().value_or("")},
                                                           {"url", file->url().value_or("")}}))
                          .c_str());
  return kSuccess;
}

int downloadFile(const Options& options) {
  const std::filesystem::path output =
      std::filesystem::absolute(options.output.empty() ? backend::File::fileNameForURL(options.url) : options.output);
  configure(options);
  auto file = backend::File::fileWithNameURL(std::nullopt, options.url);
  ProgressBar bar("download");
  auto task = file->getDataAsync(bar.block());
  runUntilFinished(task);
  if (auto exception = task.exception()) std::rethrow_exception(exception);
  if (task.isCancelled()) return printError(platform::makeError(backend::kErrorDomain, backend::kErrorConnectionFailed, "cancelled"));
  if (auto error = task.error()) return printError(*error);
  const auto data = task.result();
  if (auto error = platform::writeFileAtomically(output, data->data())) {
    std::fprintf(stderr, "backendctl: cannot write %s: %s\n", output.string().c_str(), error.message().c_str());
    return kFailure;
  }
  std::printf("%s\n", toJSON(platform::Value::dictionary({{"path", output.string()}, {"size", static_cast<long long>(data->size())}})).c_str());
  return kSuccess;
}
int showInstallation(const Options& options) {
  configure(options);
  auto installation = backend::Installation::currentInstallation();
  // The first use creates the record; later runs refresh what changed.
  auto task = installation->saveAsync();
  waitFor(task, std::nullopt);
  return report(task, *installation);
}

backend::PushPtr pushFromOptions(const Options& options) {
  auto push = backend::Push::push();
  if (!options.where.empty()) {
    const auto where = decodedArgument(options.where, "--where");
    if (!where.isDictionary()) throw UsageError("--where must be a JSON object");
    try {
      push->setQuery(tools::queryFromWire(backend::Installation::backendClassName(), where));
    } catch (const tools::WireQueryError& e) {
      throw UsageError(e.what());
    }
  }
  if (!options.channels.empty()) push->setChannels(options.channels);
  if (options.pushType == "ios") push->setPushToAndroid(false);
  if (options.pushType == "android") push->setPushToIOS(false);
  platform::Dictionary payload;
  if (!options.data.empty()) {
    const auto data = decodedArgument(options.data, "--data");
    if (!data.isDictionary()) throw UsageError("--data must be a JSON object");
    payload = *data.dictionary();
  }
  if (!options.message.empty()) payload.set("alert", options.message);
  push->setData(platform::Value(std::move(payload)));
  if (!options.expiresAt.empty()) {
    auto date = backend::InternalUtils::preciseDateFromString(options.expiresAt);
    if (!date) date = backend::InternalUtils::impreciseDateFromString(options.expiresAt);
    if (!date) throw UsageError("--expires-at must look like 2026-12-07T14:00:00Z or 2026-12-07T14:00:00.000Z");
    push->expireAtDate(*date);
  } else if (options.expiresIn) {
    push->expireAfterTimeInterval(*options.expiresIn);
  }
  return push;
}

int sendPush(const Options& options) {
  if (!options.where.empty() && (!options.channels.empty() || !options.pushType.empty()))
    throw UsageError("--where picks the installations itself: no --channel or --type with it");
  if (options.message.empty() && options.data.empty()) throw UsageError("nothing to send: give --message or --data");
  configure(options);
  auto task = pushFromOptions(options)->sendAsync();
  waitFor(task, std::nullopt);
  int status = kSuccess;
  if (reportFailure(task, status)) return status;
  std::printf("true\n");
  return kSuccess;
}

}  // namespace

int main(int argc, char** argv) {
  platform::ensureCurlSetUp();
  Options options;
  CLI::App app{"backendctl: the backend client from the command line: send one command, save, get and\n"
               "delete data objects (at once or through the offline queue), find them with a query, upload and\n"
               "download files, sign up, log in and out (the current user is kept under --data-dir).\n"
               "Exit status: 0 success (JSON on stdout), 1 failure (error JSON on stderr: domain, code,\n"
               "error and the error's user info), 2 usage errors, 3 still queued (eventually)."};
  app.add_option("--server", options.server, "backend service address (the API version path is added)")
      ->capture_default_str();
  app.add_option("--app-id", options.applicationId, "application id (also the signature's consumer key)");
  app.add_option("--client-key", options.clientKey, "client key (also the signature's consumer secret)");
  app.add_option("--data-dir", options.dataDir, "sandbox root for the installation id and the caches");
  app.add_option("--session-token", options.sessionToken,
                 "use this session for this run instead of the stored current user's (sent as \"session_token\" "
                 "when the params lack one)");
  app.add_option("--initial-delay", options.initialDelay, "first retry pause in seconds (retrying runner)");
  auto* callCommand = app.add_subcommand("call", "run one server operation");
  callCommand->add_option("OPERATION", options.operation, "server operation, e.g. find, get, create")->required();
  callCommand->add_option("PARAMS_JSON", options.params, "parameters as a JSON object")->capture_default_str();
  callCommand->add_option("--runner", options.runner, "network (once), retrying (up to 5 attempts) or cached")
      ->check(CLI::IsMember({"network", "retrying", "cached"}))
      ->capture_default_str();
  callCommand->add_option("--policy", options.policy,
                          "cache policy for the cached runner: 0 ignore cache, 1 cache only, 2 network only, "
                          "3 cache else network, 4 network else cache")
      ->check(CLI::Range(0, 4))
      ->capture_default_str();
  callCommand->add_option("--max-age", options.maxAge, "largest age in seconds of a cached answer")
      ->capture_default_str();

  const auto addObjectArguments = [&](CLI::App* command, const char* what) {
    command->add_option("CLASS", options.className, "the object's class name")->required();
    command->add_option("ARGS", options.arguments, what);
  };
  auto* saveCommand = app.add_subcommand(
      "save", "create an object, or update the one with ID; prints it with objectId, createdAt and updatedAt");
  addObjectArguments(saveCommand,
                     "[ID] key=value...: a value that parses as JSON is taken as typed JSON "
                     "(numbers, true, null, [..], {\"__type\":\"Date\",..}), anything else as a string");
  auto* getCommand = app.add_subcommand("get", "fetch the object with ID and print it");
  addObjectArguments(getCommand, "ID");
  auto* deleteCommand = app.add_subcommand("delete", "delete the object with ID");
  addObjectArguments(deleteCommand, "ID");
  auto* findCommand = app.add_subcommand("find", "run a query on CLASS and print the objects found as a JSON array");
  findCommand->add_option("CLASS", options.className, "the class searched")->required();
  findCommand->add_option("--where", options.where,
                          "constraints as they go on the wire, typed values included, e.g. "
                          "'{\"count\":{\"$gt\":2},\"author\":{\"__type\":\"Pointer\",\"className\":\"_User\","
                          "\"objectId\":\"x\"}}'");
  findCommand->add_option("--order", options.order, "comma-separated keys, \"-\" before a key for descending");
  findCommand->add_option("--limit", options.limit, "at most this many objects")->check(CLI::NonNegativeNumber);
  findCommand->add_option("--skip", options.skip, "skip this many objects first")->check(CLI::NonNegativeNumber);
  findCommand->add_option("--include", options.include, "comma-separated keys whose objects come in full");
  findCommand->add_option("--keys", options.keys, "comma-separated keys to return (all when not given)");
  findCommand->add_flag("--count", options.count, "print the number of matching objects instead");
  findCommand->add_option("--policy", options.policy,
                          "cache policy: 0 ignore cache, 1 cache only, 2 network only, 3 cache else network, "
                          "4 network else cache")
      ->check(CLI::Range(0, 4))
      ->capture_default_str();
  findCommand->add_option("--max-age", options.maxAge, "largest age in seconds of a cached answer")
      ->capture_default_str();
  auto* eventuallyCommand = app.add_subcommand(
      "eventually",
      "hand a save or delete to the offline queue (kept under --data-dir) and wait for its outcome; when it is "
      "still queued after --wait seconds, say so and exit 3: a later run with the same --data-dir sends it");
  eventuallyCommand->add_option("--wait", options.waitSeconds, "seconds to wait for the queue's outcome")
      ->check(CLI::NonNegativeNumber)
      ->capture_default_str();
  auto* eventuallySave = eventuallyCommand->add_subcommand("save", "as save, through the offline queue");
  addObjectArguments(eventuallySave, "[ID] key=value...");
  auto* eventuallyDelete = eventuallyCommand->add_subcommand("delete", "as delete, through the offline queue");
  addObjectArguments(eventuallyDelete, "ID");
  eventuallyCommand->require_subcommand(1);
  auto* uploadCommand = app.add_subcommand(
      "upload", "save a file's bytes to the file storage; prints {\"name\", \"url\"} (the server may rename it)");
  uploadCommand->add_option("FILE", options.path, "the file to upload (at most 10485760 bytes)")->required();
  uploadCommand->add_option("--name", options.name, "the name to store it under (default: the file's own name)");
  uploadCommand->add_option("--type", options.mimeType, "its MIME type (default: from the name's extension)");
  auto* downloadCommand = app.add_subcommand("download", "fetch a stored file's bytes; prints {\"path\", \"size\"}");
  downloadCommand->add_option("URL", options.url, "the file's http or https URL")->required();
  downloadCommand->add_option("--output", options.output,
                              "where to write it (default: the URL's last path component, in this directory)");
  auto* signupCommand = app.add_subcommand(
      "signup", "create an account and make it the current user (kept under --data-dir, never its password); "
                "prints it as get does, plus \"sessionToken\"");
  signupCommand->add_option("USERNAME", options.username, "the account's name")->required();
  signupCommand->add_option("PASSWORD", options.password, "its password (\"-\": read a line from stdin)")->required();
  signupCommand->add_option("FIELDS", options.arguments, "key=value...: more fields, as for save");
  auto* loginCommand = app.add_subcommand("login", "log in and make the account the current user; prints it as signup does");
  loginCommand->add_option("USERNAME", options.username, "the account's name")->required();
  loginCommand->add_option("PASSWORD", options.password, "its password (\"-\": read a line from stdin)")->required();
  std::string becomeToken;
  auto* becomeCommand = app.add_subcommand("become", "make the user of a session token the current user; prints it");
  becomeCommand->add_option("TOKEN", becomeToken, "the session token")->required();
  auto* anonymousCommand = app.add_subcommand(
      "anonymous", "log in as a new anonymous user (a later signup gives it a name and keeps its data); prints it");
  auto* meCommand = app.add_subcommand("me", "print the current user as the service knows it now");
  auto* logoutCommand = app.add_subcommand(
      "logout", "end the current user's session on the service and forget it; prints nothing");
  auto* resetCommand = app.add_subcommand("reset-password", "ask the service to send a password-reset mail");
  resetCommand->add_option("EMAIL", options.email, "the account's e-mail address")->required();
  auto* installationCommand = app.add_subcommand(
      "installation", "print the current installation of --data-dir, creating and saving it on first use");
  auto* pushCommand = app.add_subcommand("push", "send a push through the backend; prints true once it is accepted");
  pushCommand->add_option("--channel", options.channels, "a channel to reach (repeatable; none: every device)");
  pushCommand->add_option("--where", options.where, "installation constraints as on the wire, e.g. '{\"lang\":\"nb\"}'");
  pushCommand->add_option("--type", options.pushType, "only devices of this platform")
      ->check(CLI::IsMember({"ios", "android"}));
  pushCommand->add_option("--message", options.message, "the alert text");
  pushCommand->add_option("--data", options.data,
                          "the payload as a JSON object, e.g. '{\"alert\":\"Ny sak\",\"url\":\"http://...\"}'");
  auto* expiresAt = pushCommand->add_option("--expires-at", options.expiresAt,
                                            "drop it if not delivered by then (UTC, 2026-12-07T14:00:00Z)");
  pushCommand->add_option("--expires-in", options.expiresIn, "drop it if not delivered within SECONDS")
      ->check(CLI::NonNegativeNumber)
      ->excludes(expiresAt);
  app.require_subcommand(1);
  platform::addVersionFlag(app, "backendctl");
  if (auto status = platform::parseCommandLine(app, argc, argv)) return *status;
  try {
    if (*saveCommand) return saveObject(options);
    if (*getCommand) return getObject(options);
    if (*deleteCommand) return deleteObject(options);
    if (*findCommand) return findObjects(options);
    if (*eventuallySave) return eventually(options, true);
    if (*eventuallyDelete) return eventually(options, false);
    if (*uploadCommand) return uploadFile(options);
    if (*downloadCommand) return downloadFile(options);
    if (*signupCommand) return signUp(options);
    if (*loginCommand) return logIn(options);
    if (*becomeCommand) return become(options, becomeToken);
    if (*anonymousCommand) return anonymous(options);
    if (*meCommand) return me(options);
    if (*logoutCommand) return logOut(options);
    if (*resetCommand) return resetPassword(options);
    if (*installationCommand) return showInstallation(options);
    if (*pushCommand) return sendPush(options);
    return call(options);
  } catch (const UsageError& e) {
    std::fprintf(stderr, "backendctl: %s (see --help)\n", e.what());
    return kMisuse;
  } catch (const platform::InvalidArgumentException& e) {
    // The client library refused a value taken from the arguments.
    std::fprintf(stderr, "backendctl: %s\n", e.what());
    return kMisuse;
  } catch (...) {
    // Anything else went wrong while running: a failure, not misuse.
    return printException(std::current_exception());
  }
}
