#include "request_builder.hpp"

#include <strings.h>

#include "compression_util.hpp"
#include "diagnostics.hpp"
#include "hit_util.hpp"
#include "string_util.hpp"

namespace analytics {

namespace {

void appendEncoded(std::string& line, std::string_view name, std::string_view value) {
  if (!line.empty()) line.push_back('&');
  line += StringUtil::percentEncode(name);
  if (!value.empty()) {
    line.push_back('=');
    line += StringUtil::percentEncode(value);
  }
}

}  // namespace

std::optional<std::string> Request::header(std::string_view name) const {
  for (const auto& [key, value] : headers) {
    if (key.size() == name.size() && strncasecmp(key.data(), name.data(), name.size()) == 0) return value;
  }
  return std::nullopt;
}

RequestBuilder::RequestBuilder() : userAgent_(HitUtil::userAgentString()) {}

std::string RequestBuilder::encodeParameter(std::string_view name, std::string_view value) {
  std::string pair;
  appendEncoded(pair, name, value);
  return pair;
}

std::vector<std::string> RequestBuilder::encodeParameters(const ParameterMap& parameters) {
  std::vector<std::string> pairs;
  for (const auto& [key, value] : parameters) {
    const std::string* text = value.string();
    if (key.empty() || key.front() != '&' || !text) continue;
    pairs.push_back(encodeParameter(std::string_view(key).substr(1), *text));
  }
  return pairs;
}

std::string RequestBuilder::parametersForHit(const HitRecord& hit) const {
  return parametersForHit(hit, platform::Date::now());
}

std::string RequestBuilder::parametersForHit(const HitRecord& hit, platform::Date now) const {
  std::string line;
  line.reserve(512);
  const std::string* cacheBuster = nullptr;
  for (const auto& [key, value] : hit.parameters) {
    if (key.empty() || key.front() != '&') continue;
    const std::string* text = value.string();
    if (key == "&z") {
      cacheBuster = text;
      continue;
    }
    if (text) appendEncoded(line, std::string_view(key).substr(1), *text);
  }
  platform::Date timestamp = hit.timestamp.value_or(now);
  std::int64_t hitTime = HitUtil::millisecondsElapsed(platform::Date(0), timestamp);
  appendEncoded(line, "ht", StringUtil::uintString(static_cast<std::uint64_t>(hitTime)));
  std::int64_t queueTime = HitUtil::millisecondsElapsed(timestamp, now);
  if (queueTime > 0) appendEncoded(line, "qt", StringUtil::uintString(static_cast<std::uint64_t>(queueTime)));
  if (cacheBuster) appendEncoded(line, "z", *cacheBuster);
  return line;
}

Request RequestBuilder::baseRequest() const {
  Request request;
  request.headers.emplace_back("Content-Type", "application/x-www-form-urlencoded; charset=UTF-8");
  request.headers.emplace_back("User-Agent", userAgent_);
  return request;
}

Request RequestBuilder::requestGet(const std::string& url, const std::string& payload) const {
  AN_VERBOSE("building URLRequest for " + url);
  Request request = baseRequest();
  request.method = "GET";
  request.url = url + "?" + payload;
  return request;
}

std::optional<Request> RequestBuilder::requestPost(const std::string& url, const std::string& payload,
                                                   Compression compression) const {
  AN_VERBOSE("building URLRequest for " + url);
  Request request = baseRequest();
  request.method = "POST";
  request.url = url;
  if (compression == Compression::Gzip || compression == Compression::Deflate) {
    auto body = compression == Compression::Gzip ? CompressionUtil::gzip(payload) : CompressionUtil::deflate(payload);
    if (!body) return std::nullopt;
    request.body = std::move(*body);
    request.headers.emplace_back("Content-Encoding", compression == Compression::Gzip ? "gzip" : "deflate");
  } else {
    request.body = payload;
  }
  request.headers.emplace_back("Content-Length", std::to_string(request.body.size()));
  return request;
}

}  // namespace analytics
