#include "backend/http/query_string.hpp"

#include "backend/http/oauth.hpp"

namespace backend::http {
namespace {

void flatten(const std::string& key, const platform::Value& value, std::vector<QueryStringComponent>& out) {
  if (auto* dictionary = value.dictionary()) {
    for (const auto& [entryKey, entryValue] : *dictionary) {
      flatten(key.empty() ? entryKey : key + "[" + entryKey + "]", entryValue, out);
    }
  } else if (auto* array = value.array()) {
    for (const auto& element : *array) flatten(key + "[]", element, out);
  } else {
    out.push_back({key, value});
  }
}

}  // namespace

std::string escapeQueryValue(const std::string& text) {
  // Our unreserved set minus "~", which the platform escaping reserves too.
  std::string escaped = rfc3986Encode(text);
  std::string out;
  out.reserve(escaped.size());
  for (char c : escaped) {
    if (c == '~') out += "%7E";
    else out.push_back(c);
  }
  return out;
}

std::string QueryStringComponent::valueText() const {
  if (auto* text = value.string()) return *text;
  if (auto* number = value.number()) return number->description();
  if (value.isNull()) return "<null>";
  return value.description();
}

std::string QueryStringComponent::URLEncodedStringValue() const { return key + "=" + escapeQueryValue(valueText()); }

std::vector<QueryStringComponent> queryStringComponents(const platform::Value& parameters) {
  std::vector<QueryStringComponent> components;
  flatten(std::string(), parameters, components);
  return components;
}

std::string queryStringFromParameters(const platform::Value& parameters) {
  std::string out;
  for (const auto& component : queryStringComponents(parameters)) {
    if (!out.empty()) out += '&';
    out += component.URLEncodedStringValue();
  }
  return out;
}

}  // namespace backend::http
