// Feeds arbitrary request bodies to the collector's decoding and hit parsing.
// The first byte picks the Content-Encoding the body claims.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "collector/hit_parser.hpp"
#include "http/body_decoding.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  static constexpr std::string_view kEncodings[] = {"", "gzip", "deflate", "identity", "br"};
  std::string_view encoding = kEncodings[data[0] % std::size(kEncodings)];
  std::string_view body(reinterpret_cast<const char*>(data + 1), size - 1);
  devserver::DecodedBody decoded = devserver::decodeBody(encoding, body, 1 << 20);
  if (decoded.status == 200) {
    for (const auto& hit : devserver::parseCollectPayload(decoded.body)) {
      if (hit.line.empty() || hit.line.find('\n') != std::string::npos) __builtin_trap();
    }
  }
  devserver::parseHitLine(body);
  return 0;
}
