#pragma once

#include <httplib.h>

#include <nlohmann/json.hpp>
#include <string>

namespace devserver {

// JSON text of `value`; bytes that are not UTF-8 become U+FFFD instead of
// throwing, since much of what we echo comes from the network.
std::string jsonText(const nlohmann::json& value);

// Sets `status` and a JSON body.
void answerJson(httplib::Response& response, const nlohmann::json& body, int status = 200);
// Sets `status` and {"error": message}.
void answerError(httplib::Response& response, int status, const std::string& message);

}  // namespace devserver
