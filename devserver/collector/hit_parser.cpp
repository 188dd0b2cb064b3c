#include "collector/hit_parser.hpp"

#include <algorithm>

namespace devserver {
namespace {

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::vector<std::string> problemsOf(const CollectedHit& hit) {
  auto has = [&](const char* name) {
    return std::any_of(hit.parameters.begin(), hit.parameters.end(),
                       [&](const auto& parameter) { return parameter.first == name && !parameter.second.empty(); });
  };
  std::vector<std::string> problems;
  if (!has("v")) problems.push_back("missing v (protocol version)");
  if (!has("tid")) problems.push_back("missing tid (tracking id)");
  if (!has("cid") && !has("uid")) problems.push_back("missing cid (client id)");
  if (!has("t")) problems.push_back("missing t (hit type)");
  return problems;
}

}  // namespace

std::string percentDecode(std::string_view text) {
  std::string decoded;
  decoded.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '+') {
      decoded += ' ';
    } else if (c == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 && hexValue(text[i + 2]) >= 0) {
      decoded += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
      i += 2;
    } else {
      decoded += c;
    }
  }
  return decoded;
}

CollectedHit parseHitLine(std::string_view line) {
  CollectedHit hit;
  hit.line = std::string(line);
  std::size_t start = 0;
  while (start <= line.size()) {
    std::size_t end = line.find('&', start);
    if (end == std::string_view::npos) end = line.size();
    std::string_view pair = line.substr(start, end - start);
    if (!pair.empty()) {
      std::size_t equals = pair.find('=');
      if (equals == std::string_view::npos) {
        hit.parameters.emplace_back(percentDecode(pair), "");
      } else {
        hit.parameters.emplace_back(percentDecode(pair.substr(0, equals)), percentDecode(pair.substr(equals + 1)));
      }
    }
    start = end + 1;
  }
  hit.problems = problemsOf(hit);
  return hit;
}

std::vector<CollectedHit> parseCollectPayload(std::string_view payload) {
  std::vector<CollectedHit> hits;
  std::size_t start = 0;
  while (start < payload.size()) {
    std::size_t end = payload.find('\n', start);
    if (end == std::string_view::npos) end = payload.size();
    std::string_view line = payload.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!line.empty()) hits.push_back(parseHitLine(line));
    start = end + 1;
  }
  return hits;
}

}  // namespace devserver
