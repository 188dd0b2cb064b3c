#include "backend/http/oauth.hpp"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/params.h>

#include <algorithm>
#include <chrono>
#include <utility>

#include "backend/http/url.hpp"
#include "backend/internal/internal_utils.hpp"
#include "platform/clock.hpp"

namespace backend::http {
namespace {

bool isUnreserved(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
         c == '_' || c == '~';
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool isValidUTF8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    auto c = static_cast<unsigned char>(text[i]);
    std::size_t extra;
    if (c < 0x80) extra = 0;
    else if (c >= 0xC2 && c <= 0xDF) extra = 1;
    else if ((c & 0xF0) == 0xE0) extra = 2;
    else if (c >= 0xF0 && c <= 0xF4) extra = 3;
    else return false;
    if (extra > text.size() - i - 1) return false;
    for (std::size_t k = 1; k <= extra; ++k) {
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
    }
    i += extra + 1;
  }
  return true;
}

std::optional<std::string> percentUnescape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out.push_back(text[i]);
      continue;
    }
    if (i + 2 >= text.size()) return std::nullopt;
    int hi = hexValue(text[i + 1]), lo = hexValue(text[i + 2]);
    if (hi < 0 || lo < 0) return std::nullopt;
    out.push_back(static_cast<char>(hi * 16 + lo));
    i += 2;
  }
  if (!isValidUTF8(out)) return std::nullopt;
  return out;
}

// OpenSSL registers its clean-up at exit when it is first used. Started
// during static initialisation, that clean-up runs after the worker threads
// that sign have been joined, so their per-thread OpenSSL state is freed
// rather than orphaned.
[[maybe_unused]] const bool openSSLStartedEarly = OPENSSL_init_crypto(OPENSSL_INIT_LOAD_CONFIG, nullptr) == 1;

// An HMAC-SHA1 context per thread, set up once: the one-shot HMAC() looks
// the algorithms up again on every call, which costs more than the hashing.
class ThreadHMACSHA1 {
 public:
  ThreadHMACSHA1() {
    // The context keeps its own reference to the algorithm, so nothing of
    // OpenSSL's stays owned by a static that outlives its cleanup at exit.
    EVP_MAC* mac = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
    if (!mac) return;
    context_ = EVP_MAC_CTX_new(mac);
    EVP_MAC_free(mac);
    char digest[] = "SHA1";
    OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0), OSSL_PARAM_construct_end()};
    if (context_ && !EVP_MAC_CTX_set_params(context_, params)) {
      EVP_MAC_CTX_free(context_);
      context_ = nullptr;
    }
  }
  ~ThreadHMACSHA1() { EVP_MAC_CTX_free(context_); }
  ThreadHMACSHA1(const ThreadHMACSHA1&) = delete;
  ThreadHMACSHA1& operator=(const ThreadHMACSHA1&) = delete;

  // False when the context is unusable; the caller then takes the slow road.
  bool sign(std::string_view key, std::string_view text, unsigned char* digest, std::size_t& length) {
    return context_ &&
           EVP_MAC_init(context_, reinterpret_cast<const unsigned char*>(key.data()), key.size(), nullptr) &&
           EVP_MAC_update(context_, reinterpret_cast<const unsigned char*>(text.data()), text.size()) &&
           EVP_MAC_final(context_, digest, &length, EVP_MAX_MD_SIZE);
  }

 private:
  EVP_MAC_CTX* context_ = nullptr;
};

std::string hmacSHA1Base64(std::string_view key, std::string_view text) {
  thread_local ThreadHMACSHA1 hmac;
  unsigned char digest[EVP_MAX_MD_SIZE];
  std::size_t length = 0;
  if (!hmac.sign(key, text, digest, length)) {
    unsigned int oneShotLength = 0;
    HMAC(EVP_sha1(), key.data(), static_cast<int>(key.size()), reinterpret_cast<const unsigned char*>(text.data()),
         text.size(), digest, &oneShotLength);
    length = oneShotLength;
  }
  return base64Encode(std::string_view(reinterpret_cast<const char*>(digest), length));
}

using Pairs = std::vector<std::pair<std::string, std::string>>;

// Later entries replace earlier ones with the same name, as in a map.
void put(Pairs& pairs, std::string name, std::string value) {
  for (auto& pair : pairs) {
    if (pair.first == name) {
      pair.second = std::move(value);
      return;
    }
  }
  pairs.emplace_back(std::move(name), std::move(value));
}

Pairs oauthParameters(std::string_view consumerKey, std::string_view nonce, std::string_view timestamp) {
  return {{"oauth_nonce", std::string(nonce)},
          {"oauth_timestamp", std::string(timestamp)},
          {"oauth_signature_method", "HMAC-SHA1"},
          {"oauth_version", "1.0"},
          {"oauth_consumer_key", std::string(consumerKey)}};
}

void addRequestParameters(Pairs& pairs, std::optional<URLParts> const& parts, const std::optional<std::string>& body) {
  if (parts && parts->query) {
    for (auto& [name, value] : parseURLQueryString(*parts->query)) put(pairs, name, value);
  }
  if (body && isValidUTF8(*body)) {
    for (auto& [name, value] : parseURLQueryString(*body)) put(pairs, name, value);
  }
}

std::string baseURLOf(const std::optional<URLParts>& parts) {
  if (!parts) return std::string();
  if (parts->port) return parts->scheme + "://" + parts->host + ":" + *parts->port + parts->path;
  return parts->scheme + "://" + parts->host + parts->path;
}

std::string signatureBase(std::string_view method, const std::optional<URLParts>& parts, Pairs encoded,
                          bool sortByValueToo) {
  std::sort(encoded.begin(), encoded.end(), [&](const auto& a, const auto& b) {
    if (a.first != b.first || !sortByValueToo) return a.first < b.first;
    return a.second < b.second;
  });
  std::string parameters;
  for (const auto& [name, value] : encoded) {
    if (!parameters.empty()) parameters += '&';
    parameters += name + "=" + value;
  }
  return rfc3986Encode(method) + "&" + rfc3986Encode(baseURLOf(parts)) + "&" + rfc3986Encode(parameters);
}

Pairs encodeAll(const Pairs& pairs) {
  Pairs encoded;
  encoded.reserve(pairs.size());
  for (const auto& [name, value] : pairs) encoded.emplace_back(rfc3986Encode(name), rfc3986Encode(value));
  return encoded;
}

std::string headerValue(Pairs oauth, std::string signature) {
  oauth.emplace_back("oauth_signature", std::move(signature));
  std::string header = "OAuth ";
  bool first = true;
  for (const auto& [name, value] : oauth) {
    if (!first) header += ", ";
    first = false;
    header += rfc3986Encode(name) + "=\"" + rfc3986Encode(value) + "\"";
  }
  return header;
}

std::string currentTimestamp() {
  auto seconds = std::chrono::duration_cast<std::chrono::seconds>(platform::clock().now().time_since_epoch());
  return std::to_string(static_cast<long long>(seconds.count()));
}

}  // namespace

std::string rfc3986Encode(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size() * 3);
  for (char ch : text) {
    auto c = static_cast<unsigned char>(ch);
    if (isUnreserved(c)) {
      out.push_back(ch);
    } else {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 0xF]);
    }
  }
  return out;
}

std::map<std::string, std::string> parseURLQueryString(std::string_view query) {
  std::map<std::string, std::string> result;
  std::size_t start = 0;
  while (start <= query.size()) {
    auto end = query.find('&', start);
    if (end == std::string_view::npos) end = query.size();
    auto piece = query.substr(start, end - start);
    auto equals = piece.find('=');
    if (equals != std::string_view::npos && piece.find('=', equals + 1) == std::string_view::npos) {
      if (auto value = percentUnescape(piece.substr(equals + 1))) {
        result[std::string(piece.substr(0, equals))] = std::move(*value);
      }
    }
    start = end + 1;
  }
  return result;
}

std::string createGUID() { return InternalUtils::createUUID(); }

std::string base64Encode(std::string_view bytes) {
  std::string out(4 * ((bytes.size() + 2) / 3), '\0');
  int written = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
  out.resize(static_cast<std::size_t>(written));
  return out;
}

std::optional<std::string> base64Decode(std::string_view text) {
  if (text.size() % 4 != 0) return std::nullopt;
  std::string out(3 * text.size() / 4, '\0');
  int written = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
  if (written < 0) return std::nullopt;
  // The block decoder counts padding as zero bytes.
  std::size_t padding = 0;
  if (!text.empty() && text.back() == '=') ++padding;
  if (text.size() > 1 && text[text.size() - 2] == '=') ++padding;
  out.resize(static_cast<std::size_t>(written) - padding);
  return out;
}

std::string OAuth::createAuthorizationHeaderWith(std::string_view url, std::string_view method,
                                                 const std::optional<std::string>& body, std::string_view consumerKey,
                                                 std::string_view consumerSecret, std::string_view nonce,
                                                 std::string_view timestamp) {
  auto parts = parseURL(url);
  Pairs oauth = oauthParameters(consumerKey, nonce, timestamp);
  Pairs signed_ = oauth;
  addRequestParameters(signed_, parts, body);
  auto base = signatureBase(method, parts, encodeAll(signed_), false);
  auto signature = hmacSHA1Base64(rfc3986Encode(consumerSecret) + "&", base);
  return headerValue(std::move(oauth), std::move(signature));
}

std::string OAuth::createAuthorizationHeader(std::string_view url, std::string_view method,
                                             const std::optional<std::string>& body, std::string_view consumerKey,
                                             std::string_view consumerSecret) {
  return createAuthorizationHeaderWith(url, method, body, consumerKey, consumerSecret, createGUID(),
                                       currentTimestamp());
}

std::string OAuth::createAuthorizationHeader(std::string_view url, std::string_view method,
                                             const std::optional<std::string>& body,
                                             const std::map<std::string, std::string>& additionalParameters,
                                             std::string_view consumerKey, std::string_view consumerSecret,
                                             const std::optional<std::string>& token,
                                             const std::optional<std::string>& tokenSecret) {
  auto parts = parseURL(url);
  Pairs oauth;
  for (const auto& [name, value] : additionalParameters) put(oauth, name, value);
  for (auto& [name, value] : oauthParameters(consumerKey, createGUID(), currentTimestamp())) put(oauth, name, value);
  if (token) put(oauth, "oauth_token", *token);
  Pairs signed_ = oauth;
  addRequestParameters(signed_, parts, body);
  auto base = signatureBase(method, parts, encodeAll(signed_), true);
  auto key = rfc3986Encode(consumerSecret) + "&" + rfc3986Encode(tokenSecret.value_or(""));
  return headerValue(std::move(oauth), hmacSHA1Base64(key, base));
}

}  // namespace backend::http
