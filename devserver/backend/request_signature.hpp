#pragma once

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

// Checks the "Authorization" header of a request against the known
// applications (consumer key -> consumer secret).
class RequestVerifier {
 public:
  void addApplication(const std::string& applicationId, const std::string& clientKey);

  // Returns the application id the request was signed for, or nothing when
  // the header is missing or malformed, names an unknown application or
  // another method than HMAC-SHA1, or the signature does not match.
  // `rawQuery` is the query part of the request target as sent (may be
  // empty); `formBody` the body when it is form-urlencoded, else empty.
  std::optional<std::string> verify(std::string_view method, std::string_view baseUrl, std::string_view rawQuery,
                                    std::string_view formBody, std::string_view authorizationHeader) const;

 private:
  std::map<std::string, std::string> secrets_;
};

}  // namespace devserver::backend
