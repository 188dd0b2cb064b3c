#pragma once

// The test side's own OAuth 1.0 HMAC-SHA1 signer, written apart from the
// server's verifier so a bug in one cannot hide behind the same bug in the
// other (checked against an independently computed vector).

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <atomic>
#include <cctype>
#include <chrono>
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

// A nonce no other request of this process used.
inline std::string freshNonce() {
  static std::atomic<int> counter{0};
  return "NONCE-" + std::to_string(++counter);
}

// The current time as an "oauth_timestamp".
inline std::string nowSeconds() {
  using namespace std::chrono;
  return std::to_string(duration_cast<seconds>(system_clock::now().time_since_epoch()).count());
}

// The "Authorization" value of a two-legged OAuth 1.0 HMAC-SHA1 POST to
// `url` (its query, if any, given decoded in `query`), the way the backend
// clients sign their commands.
inline std::string oauthHeader(const std::string& url, const std::string& consumerKey,
                               const std::string& consumerSecret, const std::string& nonce = freshNonce(),
                               const std::string& timestamp = nowSeconds(),
                               const std::map<std::string, std::string>& query = {}) {
  std::map<std::string, std::string> oauth = {{"oauth_consumer_key", consumerKey},
                                              {"oauth_nonce", nonce},
                                              {"oauth_signature_method", "HMAC-SHA1"},
                                              {"oauth_timestamp", timestamp},
                                              {"oauth_version", "1.0"}};
  std::map<std::string, std::string> encoded;
  for (const auto& [name, value] : oauth) encoded[oauthEncode(name)] = oauthEncode(value);
  for (const auto& [name, value] : query) encoded[oauthEncode(name)] = oauthEncode(value);
  std::string joined;
  for (const auto& [name, value] : encoded) joined += (joined.empty() ? "" : "&") + name + "=" + value;
  std::string base = "POST&" + oauthEncode(url.substr(0, url.find('?'))) + "&" + oauthEncode(joined);
  std::string key = oauthEncode(consumerSecret) + "&";
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  HMAC(EVP_sha1(), key.data(), static_cast<int>(key.size()), reinterpret_cast<const unsigned char*>(base.data()),
       base.size(), digest, &length);
  unsigned char base64[64];
  int base64Length = EVP_EncodeBlock(base64, digest, static_cast<int>(length));
  oauth["oauth_signature"] = std::string(reinterpret_cast<char*>(base64), static_cast<std::size_t>(base64Length));
  std::string header = "OAuth ";
  bool first = true;
  for (const auto& [name, value] : oauth) {
    header += (first ? "" : ", ") + oauthEncode(name) + "=\"" + oauthEncode(value) + "\"";
    first = false;
  }
  return header;
}

}  // namespace devserver::test
