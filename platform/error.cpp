#include "platform/error.hpp"

namespace platform {

std::string Error::message() const {
  // Lookup in place: operator[] answers a copy, whose string would not outlive this statement.
  if (const Dictionary* info = userInfo.dictionary()) {
    for (const char* key : {"error", "NSLocalizedDescription"}) {
      const Value* text = info->find(key);
      if (text && text->isString()) return *text->string();
    }
  }
  return domain + " error " + std::to_string(code);
}

std::string Error::description() const {
  return "Error Domain=" + domain + " Code=" + std::to_string(code) + " UserInfo=" + userInfo.description();
}

bool Error::operator==(const Error& other) const {
  return code == other.code && domain == other.domain && userInfo == other.userInfo;
}

Error makeError(std::string domain, std::int64_t code, const std::string& message) {
  return Error(std::move(domain), code, Value::dictionary({{"error", message}}));
}

}  // namespace platform
