#include "inspect/admin_endpoints.hpp"

#include <algorithm>
#include <cmath>

#include "devserver/limited_json.hpp"
#include "http/answers.hpp"

namespace devserver {
namespace {

nlohmann::json endpointIndex() {
  return {{"endpoints",
           {{{"GET", "/_admin/requests?host=HOST&limit=N"}, {"what", "requests seen, oldest first"}},
            {{"DELETE", "/_admin/requests"}, {"what", "forget the requests seen"}},
            {{"GET", "/_admin/hits"}, {"what", "analytics hits collected"}},
            {{"DELETE", "/_admin/hits"}, {"what", "forget the hits"}},
            {{"GET", "/_admin/push"}, {"what", "gateway tokens, provider registrations, delivered payloads"}},
            {{"POST", "/_admin/push/send"},
             {"what", "body {\"token\": T | \"all\": true, \"payload\": {...} | \"alert\": A, \"url\": U}"}},
            {{"GET", "/_admin/objects/CLASS"}, {"what", "the backend's objects of a class"}},
            {{"GET", "/_admin/faults"}, {"what", "standing fault rules"}},
            {{"POST", "/_admin/faults"},
             {"what", "body {\"host\": H or \"*\", \"count\": N, \"status\": S, \"delayMs\": D, \"close\": true, \"path\": P}"}},
            {{"DELETE", "/_admin/faults"}, {"what", "drop every fault rule"}},
            {{"GET", "/_admin/sites"}, {"what", "the publisher's sites, sections and article URLs"}},
            {{"GET", "/_admin/providers"}, {"what", "authentication providers sign-up and log-in accept"}},
            {{"POST", "/_admin/providers"}, {"what", "body {\"name\": P}: accept another authentication provider"}},
            {{"POST", "/_admin/reset"}, {"what", "forget requests, hits, provider registrations and faults"}}}}};
}

nlohmann::json requestJson(const LoggedRequest& entry) {
  nlohmann::json headers = nlohmann::json::object();
  for (const auto& [name, value] : entry.headers) headers[name] = value;
  return {{"sequence", entry.sequence}, {"time", entry.time},     {"method", entry.method},
          {"host", entry.host},         {"path", entry.path},     {"target", entry.target},
          {"absoluteForm", entry.absoluteForm}, {"headers", headers}, {"body", entry.body},
          {"bodyTruncated", entry.bodyTruncated}, {"status", entry.status}};
}

nlohmann::json faultJson(const FaultRule& rule) {
  return {{"id", rule.id},
          {"host", rule.host},
          {"remaining", rule.remaining},
          {"status", rule.fault.status},
          {"delayMs", rule.fault.delay.count()},
          {"close", rule.fault.closeMidAnswer},
          {"path", rule.pathPrefix}};
}

constexpr std::int64_t kMaxFaultCount = 1000000;
constexpr std::chrono::milliseconds kMaxDelay = std::chrono::minutes(5);
constexpr std::chrono::milliseconds kMaxDelayTotal = std::chrono::minutes(10);

// The whole number `name` of `body` within [min, max] (`fallback` when it is
// absent), or nothing for anything else: text, fractions, out of range,
// huge floats (converting those to an integer would be undefined).
std::optional<std::int64_t> wholeNumber(const nlohmann::json& body, const char* name, std::int64_t fallback,
                                        std::int64_t min, std::int64_t max) {
  auto it = body.find(name);
  if (it == body.end()) return fallback;
  if (it->is_number_unsigned()) {
    auto value = it->get<std::uint64_t>();
    if (value > static_cast<std::uint64_t>(max) || static_cast<std::int64_t>(value) < min) return std::nullopt;
    return static_cast<std::int64_t>(value);
  }
  if (it->is_number_integer()) {
    auto value = it->get<std::int64_t>();
    return value >= min && value <= max ? std::optional(value) : std::nullopt;
  }
  if (it->is_number_float()) {
    double value = it->get<double>();
    if (!(value >= static_cast<double>(min) && value <= static_cast<double>(max)) || value != std::floor(value)) {
      return std::nullopt;
    }
    return static_cast<std::int64_t>(value);
  }
  return std::nullopt;
}

// Parses a JSON object body; answers 400 and returns nothing when it is not one.
std::optional<nlohmann::json> objectBody(const httplib::Request& request, httplib::Response& response) {
  auto body = parseJsonLimited(request.body);
  if (!body || !body->is_object()) {
    answerError(response, 400, "the body must be a JSON object");
    return std::nullopt;
  }
  return body;
}

}  // namespace

void AdminEndpoints::handle(const httplib::Request& request, const RequestTarget& target,
                            httplib::Response& response) {
  const std::string path = target.path.size() > 1 && target.path.back() == '/'
                               ? target.path.substr(0, target.path.size() - 1)
                               : target.path;
  const std::string& method = request.method;
  if (path == "/_admin" && method == "GET") {
    answerJson(response, endpointIndex());
  } else if (path == "/_admin/requests") {
    requests(request, response);
  } else if (path == "/_admin/hits" && method == "GET") {
    answerJson(response, {{"hits", services_.collector.hits()}});
  } else if (path == "/_admin/hits" && method == "DELETE") {
    services_.collector.clear();
    answerJson(response, {{"cleared", true}});
  } else if (path == "/_admin/push" && method == "GET") {
    nlohmann::json deliveries = nlohmann::json::array();
    for (const auto& delivery : services_.gateway.deliveries()) {
      deliveries.push_back({{"sequence", delivery.sequence},
                            {"token", delivery.token},
                            {"payload", delivery.payload},
                            {"state", delivery.state}});
    }
    answerJson(response, {{"gatewayTokens", services_.gateway.tokens()},
                          {"providerDevices", services_.provider.devices()},
                          {"deliveries", deliveries}});
  } else if (path == "/_admin/push/send" && method == "POST") {
    sendPush(request, response);
  } else if (path.rfind("/_admin/objects/", 0) == 0 && method == "GET") {
    objects(path.substr(std::string("/_admin/objects/").size()), response);
  } else if (path == "/_admin/faults") {
    faults(request, response);
  } else if (path == "/_admin/providers") {
    providers(request, response);
  } else if (path == "/_admin/sites" && method == "GET") {
    answerJson(response, services_.sites.describe());
  } else if (path == "/_admin/reset" && method == "POST") {
    services_.requests.clear();
    services_.collector.clear();
    services_.provider.clear();
    services_.faults.clear();
    answerJson(response, {{"reset", true}});
  } else {
    answerError(response, 404, "no admin endpoint " + method + " " + path + "; GET /_admin/ lists them");
  }
}

void AdminEndpoints::requests(const httplib::Request& request, httplib::Response& response) {
  if (request.method == "DELETE") {
    services_.requests.clear();
    answerJson(response, {{"cleared", true}});
    return;
  }
  if (request.method != "GET") {
    answerError(response, 405, "GET or DELETE /_admin/requests");
    return;
  }
  std::size_t limit = RequestLog::kMaxEntries;
  if (request.has_param("limit")) {
    try {
      limit = std::stoul(request.get_param_value("limit"));
    } catch (const std::exception&) {
      answerError(response, 400, "limit must be a number");
      return;
    }
  }
  nlohmann::json list = nlohmann::json::array();
  for (const auto& entry : services_.requests.entries(request.get_param_value("host"), limit)) {
    list.push_back(requestJson(entry));
  }
  answerJson(response, {{"requests", list}});
}

void AdminEndpoints::sendPush(const httplib::Request& request, httplib::Response& response) {
  auto body = objectBody(request, response);
  if (!body) return;
  std::string payload;
  if (body->contains("payload")) {
    if (!(*body)["payload"].is_object()) {
      answerError(response, 400, "\"payload\" must be a JSON object");
      return;
    }
    payload = jsonText((*body)["payload"]);
  } else if (body->contains("alert") && (*body)["alert"].is_string()) {
    nlohmann::json built = {{"aps", {{"alert", (*body)["alert"]}}}};
    if (body->contains("url")) built["url"] = (*body)["url"];
    payload = jsonText(built);
  } else {
    answerError(response, 400, "give \"payload\" (an object) or \"alert\" (a string) and optionally \"url\"");
    return;
  }
  std::vector<std::string> tokens;
  if (body->value("all", false)) {
    tokens = services_.provider.tokens();
  } else if (body->contains("token") && (*body)["token"].is_string()) {
    auto token = PushGateway::normalizeToken((*body)["token"].get<std::string>());
    if (!token) {
      answerError(response, 400, "\"token\" must be hexadecimal digits");
      return;
    }
    tokens.push_back(*token);
  } else {
    answerError(response, 400, "give \"token\" or \"all\": true");
    return;
  }
  for (const auto& token : tokens) services_.gateway.deliver(token, payload);
  answerJson(response, {{"sent", tokens.size()}, {"tokens", tokens}, {"payload", payload}});
}

void AdminEndpoints::faults(const httplib::Request& request, httplib::Response& response) {
  if (request.method == "GET") {
    nlohmann::json list = nlohmann::json::array();
    for (const auto& rule : services_.faults.rules()) list.push_back(faultJson(rule));
    answerJson(response, {{"faults", list}});
    return;
  }
  if (request.method == "DELETE") {
    services_.faults.clear();
    answerJson(response, {{"cleared", true}});
    return;
  }
  if (request.method != "POST") {
    answerError(response, 405, "GET, POST or DELETE /_admin/faults");
    return;
  }
  auto body = objectBody(request, response);
  if (!body) return;
  auto host = body->find("host");
  auto count = wholeNumber(*body, "count", 1, 1, kMaxFaultCount);
  auto status = wholeNumber(*body, "status", 0, 0, 599);
  auto delayMs = wholeNumber(*body, "delayMs", 0, 0, kMaxDelay.count());
  auto close = body->value("close", nlohmann::json(false));
  auto path = body->value("path", nlohmann::json(""));
  if (!path.is_string() || path.get_ref<const std::string&>().size() > 1000) {
    answerError(response, 400, "a fault's \"path\" is a string: the prefix of the paths it hits");
    return;
  }
  if (host == body->end() || !host->is_string() || host->get_ref<const std::string&>().empty() || !count ||
      !status || (*status != 0 && *status < 100) || !delayMs || !close.is_boolean() ||
      (*status == 0 && *delayMs == 0 && !close.get<bool>())) {
    answerError(response, 400, "a fault needs a \"host\" (string), a \"count\" (1-" + std::to_string(kMaxFaultCount) +
                                   "), and a \"status\" (100-599), a \"delayMs\" (0-" +
                                   std::to_string(kMaxDelay.count()) + ") or \"close\": true");
    return;
  }
  Fault fault;
  fault.status = static_cast<int>(*status);
  fault.delay = std::chrono::milliseconds(*delayMs);
  fault.closeMidAnswer = close.get<bool>();
  // Delays hold the server's workers, so their total is bounded.
  auto added = fault.delay * *count;
  if (added + services_.faults.delayTotal() > kMaxDelayTotal) {
    answerError(response, 400, "the fault rules may hold at most " + std::to_string(kMaxDelayTotal.count()) +
                                   " ms of delay in all (count x delayMs)");
    return;
  }
  std::string lowered = host->get<std::string>();
  std::transform(lowered.begin(), lowered.end(), lowered.begin(), [](unsigned char c) { return std::tolower(c); });
  auto rule = services_.faults.add(lowered, static_cast<int>(*count), fault, path.get<std::string>());
  if (!rule) {
    answerError(response, 400, "at most " + std::to_string(FaultInjector::kMaxRules) + " fault rules may stand");
    return;
  }
  answerJson(response, faultJson(*rule), 201);
}

void AdminEndpoints::providers(const httplib::Request& request, httplib::Response& response) {
  if (request.method == "GET") {
    answerJson(response, {{"providers", services_.backend.authProviders()}});
    return;
  }
  if (request.method != "POST") {
    answerError(response, 405, "GET or POST /_admin/providers");
    return;
  }
  auto body = objectBody(request, response);
  if (!body) return;
  auto name = body->find("name");
  if (name == body->end() || !name->is_string() || !services_.backend.addAuthProvider(name->get<std::string>())) {
    answerError(response, 400, "give {\"name\": P}, P a letter then letters, digits or _ "
                               "(unless the most providers are known already)");
    return;
  }
  answerJson(response, {{"providers", services_.backend.authProviders()}}, 201);
}

void AdminEndpoints::objects(const std::string& className, httplib::Response& response) {
  try {
    answerJson(response, {{"className", className}, {"results", services_.backend.objectsOfClass(className)}});
  } catch (const std::exception& error) {
    answerError(response, 500, std::string("cannot list the objects: ") + error.what());
  }
}

}  // namespace devserver
