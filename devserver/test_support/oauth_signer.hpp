#pragma once

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <map>
#include <string>

namespace devserver::test {

inline std::string oauthEncode(const std::string& text) {
  std::string encoded;
  for (unsigned char c : text) {
    if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
      encoded += static_cast<char>(c);
    } else {
      char escape[4];
      std::snprintf(escape, sizeof escape, "%%%02X", c);
      encoded += escape;
    }
  }
  return encoded;
}

// The "Authorization" value of a two-legged OAuth 1.0 HMAC-SHA1 POST to
// `url` (no query), the way the backend clients sign their commands.
inline std::string oauthHeader(const std::string& url, const std::string& consumerKey,
                               const std::string& consumerSecret, const std::string& nonce = "N0NCE",
                               const std::string& timestamp = "1700000000") {
  std::map<std::string, std::string> parameters = {{"oauth_consumer_key", consumerKey},
                                                   {"oauth_nonce", nonce},
                                                   {"oauth_signature_method", "HMAC-SHA1"},
                                                   {"oauth_timestamp", timestamp},
                                                   {"oauth_version", "1.0"}};
  std::string joined;
  for (const auto& [name, value] : parameters) {
    joined += (joined.empty() ? "" : "&") + oauthEncode(name) + "=" + oauthEncode(value);
  }
  std::string base = "POST&" + oauthEncode(url) + "&" + oauthEncode(joined);
  std::string key = oauthEncode(consumerSecret) + "&";
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  HMAC(EVP_sha1(), key.data(), static_cast<int>(key.size()), reinterpret_cast<const unsigned char*>(base.data()),
       base.size(), digest, &length);
  unsigned char encoded[64];
  int encodedLength = EVP_EncodeBlock(encoded, digest, static_cast<int>(length));
  parameters["oauth_signature"] = std::string(reinterpret_cast<char*>(encoded), static_cast<std::size_t>(encodedLength));
  std::string header = "OAuth ";
  bool first = true;
  for (const auto& [name, value] : parameters) {
    header += (first ? "" : ", ") + oauthEncode(name) + "=\"" + oauthEncode(value) + "\"";
    first = false;
  }
  return header;
}

}  // namespace devserver::test
