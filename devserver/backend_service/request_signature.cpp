#include "request_signature.hpp"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <array>
#include <cctype>
#include <charconv>

namespace devserver::backend {
namespace {

bool isUnreserved(unsigned char c) {
  return std::isalnum(c) != 0 || c == '-' || c == '.' || c == '_' || c == '~';
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

constexpr std::string_view kBase64Alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string_view trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

}  // namespace

std::string percentEncode(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (unsigned char c : text) {
    if (isUnreserved(c)) {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 0x0F]);
    }
  }
  return out;
}

std::optional<std::string> percentDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out.push_back(text[i]);
      continue;
    }
    if (i + 2 >= text.size()) return std::nullopt;
    int high = hexValue(text[i + 1]);
    int low = hexValue(text[i + 2]);
    if (high < 0 || low < 0) return std::nullopt;
    out.push_back(static_cast<char>(high * 16 + low));
    i += 2;
  }
  return out;
}

std::string base64Encode(std::string_view bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    unsigned v = (static_cast<unsigned char>(bytes[i]) << 16) | (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                 static_cast<unsigned char>(bytes[i + 2]);
    out += kBase64Alphabet[(v >> 18) & 63];
    out += kBase64Alphabet[(v >> 12) & 63];
    out += kBase64Alphabet[(v >> 6) & 63];
    out += kBase64Alphabet[v & 63];
  }
  std::size_t rest = bytes.size() - i;
  if (rest > 0) {
    unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
    if (rest == 2) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    out += kBase64Alphabet[(v >> 18) & 63];
    out += kBase64Alphabet[(v >> 12) & 63];
    out += rest == 2 ? kBase64Alphabet[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

std::optional<std::string> base64Decode(std::string_view text) {
  if (text.size() % 4 != 0) return std::nullopt;
  std::string out;
  out.reserve(text.size() / 4 * 3);
  for (std::size_t i = 0; i < text.size(); i += 4) {
    std::array<int, 4> v{};
    int padding = 0;
    for (int k = 0; k < 4; ++k) {
      char c = text[i + k];
      if (c == '=') {
        // Padding only at the very end, and at most two characters.
        if (i + 4 != text.size() || k < 2) return std::nullopt;
        ++padding;
        v[k] = 0;
        continue;
      }
      if (padding > 0) return std::nullopt;
      auto pos = kBase64Alphabet.find(c);
      if (pos == std::string_view::npos) return std::nullopt;
      v[k] = static_cast<int>(pos);
    }
    unsigned triple = (v[0] << 18) | (v[1] << 12) | (v[2] << 6) | v[3];
    out.push_back(static_cast<char>((triple >> 16) & 0xFF));
    if (padding < 2) out.push_back(static_cast<char>((triple >> 8) & 0xFF));
    if (padding < 1) out.push_back(static_cast<char>(triple & 0xFF));
  }
  return out;
}

std::string hmacSha1Base64(std::string_view key, std::string_view message) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  HMAC(EVP_sha1(), key.data(), static_cast<int>(key.size()), reinterpret_cast<const unsigned char*>(message.data()),
       message.size(), digest, &length);
  return base64Encode(std::string_view(reinterpret_cast<const char*>(digest), length));
}

std::map<std::string, std::string> parseQueryString(std::string_view query) {
  std::map<std::string, std::string> result;
  while (!query.empty()) {
    auto amp = query.find('&');
    std::string_view piece = query.substr(0, amp);
    query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
    auto eq = piece.find('=');
    if (eq == std::string_view::npos || piece.find('=', eq + 1) != std::string_view::npos) continue;
    auto value = percentDecode(piece.substr(eq + 1));
    if (!value) continue;
    result[std::string(piece.substr(0, eq))] = *value;
  }
  return result;
}

std::optional<std::map<std::string, std::string>> parseAuthorizationHeader(std::string_view header) {
  header = trim(header);
  constexpr std::string_view kScheme = "OAuth ";
  if (header.size() < kScheme.size() || header.substr(0, kScheme.size()) != kScheme) return std::nullopt;
  header.remove_prefix(kScheme.size());
  std::map<std::string, std::string> result;
  while (true) {
    header = trim(header);
    if (header.empty()) break;
    auto eq = header.find('=');
    if (eq == std::string_view::npos) return std::nullopt;
    std::string_view name = trim(header.substr(0, eq));
    header.remove_prefix(eq + 1);
    header = trim(header);
    if (header.empty() || header.front() != '"') return std::nullopt;
    auto close = header.find('"', 1);
    if (close == std::string_view::npos) return std::nullopt;
    auto decodedName = percentDecode(name);
    auto decodedValue = percentDecode(header.substr(1, close - 1));
    if (!decodedName || !decodedValue || decodedName->empty()) return std::nullopt;
    result[*decodedName] = *decodedValue;
    header.remove_prefix(close + 1);
    header = trim(header);
    if (header.empty()) break;
    if (header.front() != ',') return std::nullopt;
    header.remove_prefix(1);
  }
  return result;
}

std::string oauthSignature(std::string_view method, std::string_view baseUrl,
                           const std::map<std::string, std::string>& parameters, std::string_view consumerSecret) {
  // Sorted by the encoded name, which is what the signer sorts by.
  std::map<std::string, std::string> encoded;
  for (const auto& [name, value] : parameters) encoded[percentEncode(name)] = percentEncode(value);
  std::string parameterString;
  for (const auto& [name, value] : encoded) {
    if (!parameterString.empty()) parameterString += '&';
    parameterString += name;
    parameterString += '=';
    parameterString += value;
  }
  std::string baseString =
      percentEncode(method) + "&" + percentEncode(baseUrl) + "&" + percentEncode(parameterString);
  return hmacSha1Base64(percentEncode(consumerSecret) + "&", baseString);
}

bool NonceMemory::remember(const std::string& applicationId, const std::string& nonce, std::int64_t now,
                           std::int64_t oldest) {
  while (!order_.empty()) {
    auto front = seen_.find(order_.front());
    if (front != seen_.end() && front->second >= oldest && seen_.size() <= kMaxNonces) break;
    if (front != seen_.end()) seen_.erase(front);
    order_.pop_front();
  }
  auto key = std::make_pair(applicationId, nonce);
  auto [entry, added] = seen_.emplace(key, now);
  if (!added) {
    if (entry->second >= oldest) return false;
    entry->second = now;
  }
  order_.push_back(std::move(key));
  if (seen_.size() > kMaxNonces) {
    seen_.erase(order_.front());
    order_.pop_front();
  }
  return true;
}

RequestVerifier::RequestVerifier(std::chrono::seconds window, Clock clock) : window_(window), clock_(std::move(clock)) {
  if (!clock_) {
    clock_ = [] {
      using namespace std::chrono;
      return static_cast<std::int64_t>(duration_cast<seconds>(system_clock::now().time_since_epoch()).count());
    };
  }
}

void RequestVerifier::addApplication(const std::string& applicationId, const std::string& clientKey) {
  secrets_[applicationId] = clientKey;
}

SignatureCheck RequestVerifier::verify(std::string_view method, std::string_view baseUrl, std::string_view rawQuery,
                                       std::string_view formBody, std::string_view authorizationHeader) {
  auto oauth = parseAuthorizationHeader(authorizationHeader);
  if (!oauth) return {std::nullopt, "missing or malformed OAuth Authorization header"};
  if (auto problem = signatureProblem(method, baseUrl, rawQuery, formBody, *oauth)) return {std::nullopt, *problem};
  const std::string& applicationId = oauth->at("oauth_consumer_key");
  if (auto problem = freshnessProblem(applicationId, *oauth)) return {std::nullopt, *problem};
  return {applicationId, ""};
}

std::optional<std::string> RequestVerifier::signatureProblem(std::string_view method, std::string_view baseUrl,
                                                             std::string_view rawQuery, std::string_view formBody,
                                                             const std::map<std::string, std::string>& oauth) const {
  auto signature = oauth.find("oauth_signature");
  auto consumer = oauth.find("oauth_consumer_key");
  auto signatureMethod = oauth.find("oauth_signature_method");
  if (signature == oauth.end() || consumer == oauth.end() || signatureMethod == oauth.end()) {
    return "the OAuth header needs oauth_signature, oauth_consumer_key and oauth_signature_method";
  }
  if (signatureMethod->second != "HMAC-SHA1") return "only the HMAC-SHA1 signature method is accepted";
  auto secret = secrets_.find(consumer->second);
  if (secret == secrets_.end()) return "unknown application (oauth_consumer_key)";

  std::map<std::string, std::string> parameters;
  for (const auto& [name, value] : oauth) {
    if (name != "oauth_signature" && name != "realm") parameters[name] = value;
  }
  for (auto& [name, value] : parseQueryString(rawQuery)) parameters[name] = value;
  for (auto& [name, value] : parseQueryString(formBody)) parameters[name] = value;

  std::string expected = oauthSignature(method, baseUrl, parameters, secret->second);
  const std::string& given = signature->second;
  if (given.size() != expected.size() || CRYPTO_memcmp(given.data(), expected.data(), given.size()) != 0) {
    return "invalid request signature";
  }
  return std::nullopt;
}

std::optional<std::string> RequestVerifier::freshnessProblem(const std::string& applicationId,
                                                             const std::map<std::string, std::string>& oauth) {
  auto timestamp = oauth.find("oauth_timestamp");
  auto nonce = oauth.find("oauth_nonce");
  if (timestamp == oauth.end() || nonce == oauth.end() || nonce->second.empty()) {
    return "the OAuth header needs oauth_timestamp and oauth_nonce";
  }
  std::int64_t sent = 0;
  const std::string& text = timestamp->second;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), sent);
  if (error != std::errc() || end != text.data() + text.size() || text.size() > 12) {
    return "oauth_timestamp must be whole seconds since 1970";
  }
  std::int64_t now = clock_();
  std::int64_t window = window_.count();
  if (sent < now - window || sent > now + window) {
    return "oauth_timestamp is more than " + std::to_string(window) +
           " seconds away from the server's clock (is the clock right?)";
  }
  if (!nonces_.remember(applicationId, nonce->second, now, now - 2 * window)) {
    return "this oauth_nonce was already used (a replayed request)";
  }
  return std::nullopt;
}

}  // namespace devserver::backend
