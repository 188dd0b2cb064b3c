#pragma once
// Turns stored hits into URL-encoded lines and HTTP requests.

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "data_store.hpp"

namespace analytics {

// One HTTP request, as the connection sends it.
struct Request {
  std::string method;
  std::string url;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;

  // The value of a header (names compared without case), or nullopt.
  std::optional<std::string> header(std::string_view name) const;
};

enum class Compression : unsigned { None = 0, Deflate = 1, Gzip = 2 };

class RequestBuilder {
 public:
  // Computes the user agent once, from the device facts.
  RequestBuilder();
  explicit RequestBuilder(std::string userAgent) : userAgent_(std::move(userAgent)) {}

  // The hit's wire line: its "&" parameters with string values as
  // "name=value" (the bare name for an empty value) in the map's order, then
  // "ht" (the hit time in ms), "qt" (the queue time in ms, when above 0) and
  // "z" (the cache buster), joined with "&".
  std::string parametersForHit(const HitRecord& hit) const;
  std::string parametersForHit(const HitRecord& hit, platform::Date now) const;
  // "name=value" pairs of the "&" parameters with string values.
  static std::vector<std::string> encodeParameters(const ParameterMap& parameters);
  static std::string encodeParameter(std::string_view name, std::string_view value);

  // Content-Type and User-Agent set.
  Request baseRequest() const;
  // GET "<url>?<payload>".
  Request requestGet(const std::string& url, const std::string& payload) const;
  // POST with the payload as body, gzip- or zlib-compressed with the matching
  // Content-Encoding; nullopt when compression fails.
  std::optional<Request> requestPost(const std::string& url, const std::string& payload,
                                     Compression compression) const;

  const std::string& userAgent() const { return userAgent_; }

 private:
  std::string userAgent_;
};

}  // namespace analytics
