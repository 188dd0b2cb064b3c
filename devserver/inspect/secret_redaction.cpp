#include "inspect/secret_redaction.hpp"

#include <cctype>

namespace devserver {
namespace {

constexpr std::string_view kSecretNames[] = {"session_token", "sessionToken", "user_password", "password"};

bool equalsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}

std::size_t skipSpaces(std::string_view text, std::size_t at) {
  while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at]))) ++at;
  return at;
}

// The end (one past the closing quote) of the JSON string starting at the
// quote at `open`, or the text's end when it is not closed.
std::size_t jsonStringEnd(std::string_view text, std::size_t open) {
  for (std::size_t i = open + 1; i < text.size(); ++i) {
    if (text[i] == '\\') ++i;
    else if (text[i] == '"') return i + 1;
  }
  return text.size();
}

// Blanks the string value of every `"name": "value"` member.
std::string redactJsonMember(std::string_view text, std::string_view name) {
  std::string key = "\"" + std::string(name) + "\"";
  std::string out;
  std::size_t copied = 0;
  for (std::size_t at = text.find(key); at != std::string_view::npos; at = text.find(key, at)) {
    std::size_t colon = skipSpaces(text, at + key.size());
    at += key.size();
    if (colon >= text.size() || text[colon] != ':') continue;
    std::size_t open = skipSpaces(text, colon + 1);
    if (open >= text.size() || text[open] != '"') continue;
    std::size_t end = jsonStringEnd(text, open);
    out.append(text.substr(copied, open - copied)).append("\"").append(kRedacted).append("\"");
    copied = at = end;
  }
  return out.append(text.substr(copied));
}

// Blanks the value of every `name=value` form field.
std::string redactFormField(std::string_view text, std::string_view name) {
  std::string out;
  std::size_t copied = 0;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('&', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view field = text.substr(start, end - start);
    if (field.size() > name.size() && field.substr(0, name.size()) == name && field[name.size()] == '=') {
      std::size_t valueStart = start + name.size() + 1;
      out.append(text.substr(copied, valueStart - copied)).append(kRedacted);
      copied = end;
    }
    start = end + 1;
  }
  return out.append(text.substr(std::min(copied, text.size())));
}

}  // namespace

bool isSecretHeader(std::string_view name) {
  for (std::string_view secret : {"Authorization", "Proxy-Authorization", "Cookie", "Set-Cookie"}) {
    if (equalsNoCase(name, secret)) return true;
  }
  return false;
}

std::string redactSecrets(std::string_view body) {
  std::string text(body);
  for (std::string_view name : kSecretNames) {
    if (text.find(name) == std::string::npos) continue;
    text = redactFormField(redactJsonMember(text, name), name);
  }
  return text;
}

}  // namespace devserver
