#pragma once
// A tracker's standing parameters and the building of one hit's complete map.

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "analytics/dictionary_builder.hpp"

namespace analytics {

class TrackerModel {
 public:
  // Answers the client id for the derived "&cid" parameter.
  using ClientIdSource = std::function<std::string()>;

  // Starts with a copy of the default parameters.
  explicit TrackerModel(ClientIdSource clientIdSource = {});

  // The standing value; else, for a derived parameter, its computed value;
  // else nil.
  platform::Value get(std::string_view name) const;
  // Stores the value, the null marker for nil. A missing name is ignored.
  void set(const std::optional<std::string>& name, const platform::Value& value);

  // A new model with a copy of these standing parameters and each entry of
  // `overrides` set on it (nil values become the null marker).
  TrackerModel copyWithOverride(const ParameterMap& overrides) const;

  // The complete map of one hit: the required keys (derived ones computed
  // unless given), the standing parameters over them, the forced ones over
  // those, and a new cache buster under "&z".
  ParameterMap buildDictionary() const;

  const ParameterMap& parameters() const { return parameters_; }

  std::string clientId() const;
  static std::string screenResolution();
  static std::string language();
  // The next value of the process-wide cache-buster counter, as decimal text.
  static std::string cacheBuster();

  // The class tables, built once from the main bundle on first use.
  static const ParameterMap& defaultParameters();
  static const ParameterMap& forcedParameters();
  static const std::vector<std::string>& requiredKeys();

 private:
  ParameterMap parameters_;
  ClientIdSource clientIdSource_;
};

}  // namespace analytics
