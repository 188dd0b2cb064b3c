#include "tracker_model.hpp"

#include <sys/random.h>

#include <atomic>
#include <cerrno>
#include <random>

#include "analytics/fields.hpp"
#include "analytics/logger.hpp"
#include "diagnostics.hpp"
#include "hit_util.hpp"
#include "platform/bundle.hpp"

namespace analytics {

namespace {

const std::vector<std::string>& derivedKeys() {
  static const std::vector<std::string> keys = {kLanguageField, kClientIdField, kScreenResolutionField};
  return keys;
}

ParameterMap makeDefaultParameters() {
  ParameterMap defaults;
  auto bundle = platform::Bundle::main();
  auto name = bundle.name();
  if (!name || name->empty()) name = bundle.identifier();
  if (name && !name->empty()) {
    defaults.set(kAppNameField, platform::Value(*name));
  } else {
    AN_WARNING("could not load application name or identifier.");
  }
  if (auto version = bundle.shortVersion()) defaults.set(kAppVersionField, platform::Value(*version));
  defaults.set(kAnVersionKey, platform::Value(kClientVersion));
  return defaults;
}

std::uint32_t random32() {
  std::uint32_t value = 0;
  if (getrandom(&value, sizeof value, 0) == static_cast<ssize_t>(sizeof value)) return value;
  std::random_device device;
  return device();
}

std::atomic<std::uint64_t>& cacheBusterCounter() {
  // The first number drawn becomes the high half.
  static std::atomic<std::uint64_t> counter = [] {
    std::uint64_t high = random32();
    std::uint64_t low = random32();
    return (high << 32) | low;
  }();
  return counter;
}

}  // namespace

const ParameterMap& TrackerModel::defaultParameters() {
  static const ParameterMap defaults = makeDefaultParameters();
  return defaults;
}

const ParameterMap& TrackerModel::forcedParameters() {
  static const ParameterMap forced = {{kProtocolVersionField, platform::Value("1")},
                                      {kLibraryVersionField, platform::Value("mi2.0.1b")}};
  return forced;
}

const std::vector<std::string>& TrackerModel::requiredKeys() {
  static const std::vector<std::string> keys = [] {
    std::vector<std::string> all = derivedKeys();
    for (const auto& [key, value] : defaultParameters()) all.push_back(key);
    return all;
  }();
  return keys;
}

TrackerModel::TrackerModel(ClientIdSource clientIdSource)
    : parameters_(defaultParameters()), clientIdSource_(std::move(clientIdSource)) {}

platform::Value TrackerModel::get(std::string_view name) const {
  if (const auto* value = parameters_.find(name)) return *value;
  if (name == kLanguageField) return platform::Value(language());
  if (name == kClientIdField) {
    auto id = clientId();
    return id.empty() ? platform::Value() : platform::Value(id);
  }
  if (name == kScreenResolutionField) return platform::Value(screenResolution());
  return platform::Value();
}

void TrackerModel::set(const std::optional<std::string>& name, const platform::Value& value) {
  if (!name) return;
  parameters_.set(*name, value.isNil() ? platform::Value::null() : value);
}

TrackerModel TrackerModel::copyWithOverride(const ParameterMap& overrides) const {
  TrackerModel copy = *this;
  for (const auto& [key, value] : overrides) copy.set(key, value);
  return copy;
}

ParameterMap TrackerModel::buildDictionary() const {
  ParameterMap built;
  built.reserve(parameters_.size() + 8);
  for (const auto& key : requiredKeys()) {
    platform::Value value = get(key);
    built.set(key, value.isNil() ? platform::Value::null() : std::move(value));
  }
  for (const auto& [key, value] : parameters_) built.set(key, value);
  for (const auto& [key, value] : forcedParameters()) built.set(key, value);
  built.set(kCacheBusterField, platform::Value(cacheBuster()));
  return built;
}

std::string TrackerModel::clientId() const { return clientIdSource_ ? clientIdSource_() : std::string(); }

std::string TrackerModel::screenResolution() { return HitUtil::systemScreenResolution(); }

std::string TrackerModel::language() { return HitUtil::systemLanguage(); }

std::string TrackerModel::cacheBuster() { return std::to_string(cacheBusterCounter().fetch_add(1)); }

}  // namespace analytics
