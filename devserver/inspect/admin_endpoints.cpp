#include "inspect/admin_endpoints.hpp"

#include <algorithm>

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
             {"what", "body {\"host\": H or \"*\", \"count\": N, \"status\": S, \"delayMs\": D, \"close\": true}"}},
            {{"DELETE", "/_admin/faults"}, {"what", "drop every fault rule"}},
            {{"GET", "/_admin/sites"}, {"what", "the publisher's sites, sections and article URLs"}},
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
          {"close", rule.fault.closeMidAnswer}};
}

// Parses a JSON object body; answers 400 and returns nothing when it is not one.
std::optional<nlohmann::json> objectBody(const httplib::Request& request, httplib::Response& response) {
  auto body = nlohmann::json::parse(request.body, nullptr, false);
  if (body.is_discarded() || !body.is_object()) {
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
  try {
    std::string host = body->at("host").get<std::string>();
    std::transform(host.begin(), host.end(), host.begin(), [](unsigned char c) { return std::tolower(c); });
    int count = body->value("count", 1);
    Fault fault;
    fault.status = body->value("status", 0);
    fault.delay = std::chrono::milliseconds(body->value("delayMs", 0));
    fault.closeMidAnswer = body->value("close", false);
    if (host.empty() || count < 1 || (fault.status != 0 && (fault.status < 100 || fault.status > 599)) ||
        fault.delay.count() < 0 || fault.delay > std::chrono::minutes(5) ||
        (fault.status == 0 && fault.delay.count() == 0 && !fault.closeMidAnswer)) {
      answerError(response, 400, "a fault needs a host, a count of at least 1, and a status (100-599), "
                                 "a delayMs (0-300000) or \"close\": true");
      return;
    }
    answerJson(response, faultJson(services_.faults.add(host, count, fault)), 201);
  } catch (const nlohmann::json::exception&) {
    answerError(response, 400, "fault fields: \"host\" (string), \"count\", \"status\", \"delayMs\" (numbers), "
                               "\"close\" (boolean)");
  }
}

void AdminEndpoints::objects(const std::string& className, httplib::Response& response) {
  try {
    answerJson(response, {{"className", className}, {"results", services_.backend.objectsOfClass(className)}});
  } catch (const std::exception& error) {
    answerError(response, 500, std::string("cannot list the objects: ") + error.what());
  }
}

}  // namespace devserver
