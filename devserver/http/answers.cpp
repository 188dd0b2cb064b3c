#include "http/answers.hpp"

namespace devserver {

std::string jsonText(const nlohmann::json& value) {
  return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

void answerJson(httplib::Response& response, const nlohmann::json& body, int status) {
  response.status = status;
  response.set_content(jsonText(body) + "\n", "application/json; charset=utf-8");
}

void answerError(httplib::Response& response, int status, const std::string& message) {
  answerJson(response, {{"error", message}}, status);
}

}  // namespace devserver
