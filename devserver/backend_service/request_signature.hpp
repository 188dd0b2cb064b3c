#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace devserver::backend {

// Percent-encoding of every byte outside the unreserved set (ALPHA, DIGIT,
// "-", ".", "_", "~"), upper-case hex digits.
std::string percentEncode(std::string_view text);

// Reverses percentEncode (and any "%XX" escape). Nothing for a malformed
// escape.
std::optional<std::string> percentDecode(std::string_view text);

// Standard padded Base64 without line breaks.
std::string base64Encode(std::string_view bytes);

// Nothing unless `text` is canonical padded Base64.
std::optional<std::string> base64Decode(std::string_view text);

// HMAC-SHA1 of `message` under `key`, Base64-encoded.
std::string hmacSha1Base64(std::string_view key, std::string_view message);

// Name/value pairs of a query string split at "&" and "=", the way the
// clients read it: pieces that are not exactly one "name=value" are skipped,
// values are percent-decoded (undecodable pieces skipped), names kept as
// written, a repeated name keeps its last value.
std::map<std::string, std::string> parseQueryString(std::string_view query);

// The parameters of an "OAuth k="v", ..." header value, decoded. Nothing when
// the value does not have that form.
std::optional<std::map<std::string, std::string>> parseAuthorizationHeader(std::string_view header);

// The HMAC-SHA1 signature (Base64) of a two-legged request: `baseUrl` is
// scheme://host[:port]/path without query; `parameters` are the OAuth
// parameters (without "oauth_signature") merged with the query and form
// parameters.
std::string oauthSignature(std::string_view method, std::string_view baseUrl,
                           const std::map<std::string, std::string>& parameters, std::string_view consumerSecret);

// The outcome of checking a request's signature.
struct SignatureCheck {
  std::optional<std::string> applicationId;  // set when the request is accepted
  std::string refusal;                       // why not, otherwise
};

// Nonces seen recently, so a signed request cannot be sent twice. Holds at
// most kMaxNonces; beyond that the oldest are forgotten first.
class NonceMemory {
 public:
  static constexpr std::size_t kMaxNonces = 100000;

  // False when `nonce` of `applicationId` was seen at or after `oldest`;
  // otherwise remembers it with `now` and returns true. Forgets entries older
  // than `oldest`.
  bool remember(const std::string& applicationId, const std::string& nonce, std::int64_t now, std::int64_t oldest);

 private:
  std::map<std::pair<std::string, std::string>, std::int64_t> seen_;
  std::deque<std::pair<std::string, std::string>> order_;
};

// Checks the "Authorization" header of a request against the known
// applications (consumer key -> consumer secret), the clock and the nonces
// already used. Not thread-safe: the owner serialises calls.
class RequestVerifier {
 public:
  using Clock = std::function<std::int64_t()>;  // seconds since 1970

  // `window`: how far "oauth_timestamp" may be from `clock`, either way; a
  // nonce is remembered that long.
  explicit RequestVerifier(std::chrono::seconds window = std::chrono::minutes(15), Clock clock = nullptr);

  void addApplication(const std::string& applicationId, const std::string& clientKey);

  // Accepts the request with its application id, or refuses it when the
  // header is missing or malformed, names an unknown application or another
  // method than HMAC-SHA1, the signature does not match, the timestamp is
  // outside the window, or the nonce was used within it. `rawQuery` is the
  // query part of the request target as sent (may be empty); `formBody` the
  // body when it is form-urlencoded, else empty.
  SignatureCheck verify(std::string_view method, std::string_view baseUrl, std::string_view rawQuery,
                        std::string_view formBody, std::string_view authorizationHeader);

 private:
  std::optional<std::string> signatureProblem(std::string_view method, std::string_view baseUrl,
                                              std::string_view rawQuery, std::string_view formBody,
                                              const std::map<std::string, std::string>& oauth) const;
  std::optional<std::string> freshnessProblem(const std::string& applicationId,
                                              const std::map<std::string, std::string>& oauth);

  std::chrono::seconds window_;
  Clock clock_;
  std::map<std::string, std::string> secrets_;
  NonceMemory nonces_;
};

}  // namespace devserver::backend
