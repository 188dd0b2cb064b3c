// Feeds arbitrary Authorization headers and query strings to the backend's
// signature check: the header parser, the query-string reader and
// percent-decoding. The input splits at its first newline into the header
// and the raw query.
#include "request_signature.hpp"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace devserver::backend;
  std::string_view input(reinterpret_cast<const char*>(data), size);
  auto newline = input.find('\n');
  std::string_view header = input.substr(0, newline);
  std::string_view query = newline == std::string_view::npos ? std::string_view() : input.substr(newline + 1);

  static RequestVerifier verifier = [] {
    RequestVerifier made;
    made.addApplication("app", "secret");
    return made;
  }();
  SignatureCheck check = verifier.verify("POST", "https://api.backend.test/2/find", query, query, header);
  // Nobody holding the secret signed this input, so it must be refused.
  if (check.applicationId || check.refusal.empty()) __builtin_trap();

  if (auto parsed = parseAuthorizationHeader(header)) {
    for (const auto& [name, value] : *parsed) {
      if (name.empty()) __builtin_trap();
    }
  }
  for (const auto& [name, value] : parseQueryString(query)) {
    if (percentDecode(percentEncode(value)) != value) __builtin_trap();
  }
  percentDecode(input);
  base64Decode(input);
  return 0;
}
