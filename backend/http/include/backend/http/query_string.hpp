#pragma once
// Form-style flattening of parameter values: {"a": {"b": [1, 2]}} ->
// "a[b][]=1&a[b][]=2".

#include <string>
#include <vector>

#include "platform/value.hpp"

namespace backend::http {

// One key/value component, rendered "key=value" with the value escaped.
struct QueryStringComponent {
  std::string key;
  platform::Value value;
  // The value as text, unescaped (strings as they are, numbers by value).
  std::string valueText() const;
  std::string URLEncodedStringValue() const;
};

// The components of a parameter value, dictionaries in key order as stored.
std::vector<QueryStringComponent> queryStringComponents(const platform::Value& parameters);
// The components joined with "&".
std::string queryStringFromParameters(const platform::Value& parameters);
// Escapes every byte except ASCII letters, digits, "-", "." and "_".
std::string escapeQueryValue(const std::string& text);

}  // namespace backend::http
