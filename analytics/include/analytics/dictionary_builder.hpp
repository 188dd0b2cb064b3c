#pragma once
// Builds the parameter map of one hit, per hit type.

#include <optional>
#include <string>
#include <string_view>

#include "platform/value.hpp"

namespace analytics {

// Hit parameters: names to strings or the null marker (which overrides a
// standing value and is left out on the wire). Keeps insertion order.
using ParameterMap = platform::Dictionary;

class DictionaryBuilder {
 public:
  DictionaryBuilder() = default;

  // Each returns a new builder with "&t" set and the listed fields filled
  // (strings through valueForString, numbers through valueForNumber).
  static DictionaryBuilder createAppView();
  static DictionaryBuilder createEvent(const platform::Value& category, const platform::Value& action,
                                       const platform::Value& label, const platform::Value& value);
  static DictionaryBuilder createException(const platform::Value& description, const platform::Value& fatal);
  // createException without recording usage (the crash reporter's form).
  static DictionaryBuilder anException(const platform::Value& description, const platform::Value& fatal);
  static DictionaryBuilder createItem(const platform::Value& transactionId, const platform::Value& name,
                                      const platform::Value& sku, const platform::Value& category,
                                      const platform::Value& price, const platform::Value& quantity,
                                      const platform::Value& currencyCode);
  static DictionaryBuilder createSocial(const platform::Value& network, const platform::Value& action,
                                        const platform::Value& target);
  static DictionaryBuilder createTiming(const platform::Value& category, const platform::Value& interval,
                                        const platform::Value& name, const platform::Value& label);
  static DictionaryBuilder createTransaction(const platform::Value& transactionId, const platform::Value& affiliation,
                                             const platform::Value& revenue, const platform::Value& tax,
                                             const platform::Value& shipping, const platform::Value& currencyCode);

  // The value itself, or the null marker when it is nil.
  static platform::Value valueForString(const platform::Value& value);
  // The decimal text of a number (true "1", false "0"), else the null marker.
  static platform::Value valueForNumber(const platform::Value& value);

  // Stores valueForString(value) under key; a missing key stores nothing and
  // logs a warning. Returns *this for chaining.
  DictionaryBuilder& set(const platform::Value& value, const std::optional<std::string>& key);
  // Copies entries whose value is a string or the null marker; others are
  // skipped with a warning.
  DictionaryBuilder& setAll(const platform::Value& parameters);
  // The string under key; nullopt for the null marker, and (with a warning)
  // for anything else, a missing key included.
  std::optional<std::string> get(std::string_view key) const;
  // Sets the nine campaign fields from the query of `url` (or `url` itself
  // when it has no "?"); absent ones become the null marker.
  DictionaryBuilder& setCampaignParametersFromUrl(std::string_view url);

  // The map itself (not a copy).
  ParameterMap& build() { return parameters_; }

 private:
  DictionaryBuilder& put(const char* key, platform::Value value);

  ParameterMap parameters_;
};

// A short name of a value's kind for warnings ("String", "Number", ...; "" for nil).
std::string valueClassName(const platform::Value& value);

}  // namespace analytics
