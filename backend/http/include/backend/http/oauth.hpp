#pragma once
// The "Authorization" header of backend requests: an OAuth 1.0 HMAC-SHA1
// signature (two-legged for the backend road: the application id is the
// consumer key, the client key the consumer secret), and the small string
// helpers it is made of. Stateless and thread-safe.

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace backend::http {

class OAuth {
 public:
  OAuth() = delete;

  // "OAuth name=\"value\", ..." for a request to `url` with `method`; `body`
  // is signed as form parameters when given (pass it only for form-encoded
  // bodies). A fresh nonce and the current time in whole seconds go in.
  // Never fails: unparsable parts contribute no parameters.
  static std::string createAuthorizationHeader(std::string_view url, std::string_view method,
                                               const std::optional<std::string>& body,
                                               std::string_view consumerKey, std::string_view consumerSecret);

  // The three-legged form: `additionalParameters` first, then the OAuth set
  // (with "oauth_token" when a token is given); pairs sorted by name then
  // value; key "<secret>&<token secret>".
  static std::string createAuthorizationHeader(std::string_view url, std::string_view method,
                                               const std::optional<std::string>& body,
                                               const std::map<std::string, std::string>& additionalParameters,
                                               std::string_view consumerKey, std::string_view consumerSecret,
                                               const std::optional<std::string>& token,
                                               const std::optional<std::string>& tokenSecret);

  // The same header with the nonce and timestamp given (reproducible
  // signatures for checks against independent vectors).
  static std::string createAuthorizationHeaderWith(std::string_view url, std::string_view method,
                                                   const std::optional<std::string>& body,
                                                   std::string_view consumerKey, std::string_view consumerSecret,
                                                   std::string_view nonce, std::string_view timestamp);
};

// RFC 3986 percent-encoding of the UTF-8 bytes: unreserved bytes stay,
// every other byte becomes "%XX" (upper-case hexadecimal).
std::string rfc3986Encode(std::string_view text);
// "a=1&b=2" -> {a: 1, b: 2}. Pieces without exactly one "=" or whose value
// does not unescape to UTF-8 are skipped; a repeated name keeps the last value.
std::map<std::string, std::string> parseURLQueryString(std::string_view query);
// A new UUID as upper-case 8-4-4-4-12 text.
std::string createGUID();
// Standard Base64 (RFC 4648 alphabet, padded).
std::string base64Encode(std::string_view bytes);
// The bytes of Base64 text, or nullopt when the text is not Base64.
std::optional<std::string> base64Decode(std::string_view text);

}  // namespace backend::http
