#include "operations.hpp"

#include "backend_error.hpp"
#include "query_engine.hpp"

#include <devserver/limited_json.hpp>
#include <devserver/push_gateway.hpp>

#include <set>

namespace devserver::backend {
namespace {

// Keys of a push's data that belong in the platform's "aps" dictionary.
bool isPlatformKey(const std::string& key) {
  return key == "alert" || key == "badge" || key == "sound" || key == "content-available" || key == "category";
}

Json parsedParam(const Json& params, const char* name) {
  auto it = params.find(name);
  if (it == params.end() || it->is_null()) return nullptr;
  if (it->is_string()) {
    // The client sends the payload and the channel list as JSON text.
    auto parsed = parseJsonLimited(it->get_ref<const std::string&>());
    if (!parsed) {
      throw BackendError(code::kInvalidJson, std::string("\"") + name + "\" is not valid JSON (or nested too deeply)");
    }
    return *parsed;
  }
  return *it;
}

// The device payload: "alert", "badge", "sound" move under "aps", the rest
// (a "url", say) stays at the top. A payload that already has "aps" is kept.
Json devicePayload(const Json& data) {
  if (!data.is_object()) throw BackendError(code::kIncorrectType, "a push needs a \"data\" object");
  if (data.contains("aps")) return data;
  Json payload = Json::object();
  Json aps = Json::object();
  for (const auto& [key, value] : data.items()) {
    if (isPlatformKey(key)) aps[key] = value;
    else payload[key] = value;
  }
  payload["aps"] = std::move(aps);
  return payload;
}

bool hasExpired(const Json& params) {
  auto time = params.find("expiration_time");
  if (time != params.end() && !time->is_null()) {
    if (!time->is_number()) throw BackendError(code::kIncorrectType, "\"expiration_time\" must be seconds since 1970");
    return time->get<double>() * 1000.0 <= static_cast<double>(nowMillis());
  }
  auto interval = params.find("expiration_time_interval");
  if (interval != params.end() && !interval->is_null()) {
    if (!interval->is_number()) throw BackendError(code::kIncorrectType, "\"expiration_time_interval\" must be seconds");
    return interval->get<double>() <= 0;
  }
  return false;
}

// The channels a push names; nothing means every installation ("channel"
// "" is the broadcast channel).
std::optional<std::set<std::string>> targetChannels(const Json& params) {
  Json channels = parsedParam(params, "channels");
  if (!channels.is_null()) {
    if (!channels.is_array()) throw BackendError(code::kIncorrectType, "\"channels\" must be a list of names");
    std::set<std::string> names;
    for (const auto& name : channels) {
      if (!name.is_string()) throw BackendError(code::kInvalidChannelName, "channel names must be strings");
      names.insert(name.get<std::string>());
    }
    return names;
  }
  auto channel = params.find("channel");
  if (channel == params.end() || channel->is_null()) return std::nullopt;
  if (!channel->is_string()) throw BackendError(code::kInvalidChannelName, "\"channel\" must be a string");
  if (channel->get_ref<const std::string&>().empty()) return std::nullopt;
  return std::set<std::string>{channel->get<std::string>()};
}

bool subscribesTo(const StoredObject& installation, const std::set<std::string>& channels) {
  auto subscribed = installation.fields.find("channels");
  if (subscribed == installation.fields.end() || !subscribed->is_array()) return false;
  for (const auto& name : *subscribed) {
    if (name.is_string() && channels.count(name.get<std::string>())) return true;
  }
  return false;
}

}  // namespace

Json clientPush(OperationContext& context, const Json& params) {
  Json payload = devicePayload(parsedParam(params, "data"));
  Json where = parsedParam(params, "where");
  if (where.is_null()) where = Json::object();
  if (!where.is_object()) throw BackendError(code::kInvalidQuery, "\"where\" must be an object");
  auto channels = targetChannels(params);
  auto type = params.find("type");
  if (type != params.end() && !type->is_null() && !type->is_string()) {
    throw BackendError(code::kIncorrectType, "\"type\" must be a string");
  }
  if (hasExpired(params)) return true;

  QueryEngine engine(context.store, context.caller, context.budget);
  std::string payloadText = payload.dump(-1, ' ', false, Json::error_handler_t::replace);
  std::set<std::string> delivered;
  for (const auto& installation : engine.select("_Installation", where)) {
    if (channels && !subscribesTo(installation, *channels)) continue;
    if (type != params.end() && type->is_string() && installation.fields.value("deviceType", Json()) != *type) continue;
    auto token = installation.fields.find("deviceToken");
    if (token == installation.fields.end() || !token->is_string() || token->get_ref<const std::string&>().empty()) {
      continue;
    }
    // Two installations may carry one device's token; it gets one copy.
    if (delivered.insert(token->get<std::string>()).second) context.push.deliver(token->get<std::string>(), payloadText);
  }
  return true;
}

}  // namespace devserver::backend
