#pragma once
// zlib compression of request bodies. Class operations only.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace analytics {

class CompressionUtil {
 public:
  enum class Format { Zlib = 0, Gzip = 1, Raw = 2 };
  // Level -1 is zlib's default; other levels are clamped to 1..9.
  static constexpr int kDefaultLevel = -1;

  // The compressed bytes, or nullopt when zlib fails (the failure is written
  // to the platform log).
  static std::optional<std::string> compress(std::string_view bytes, int level, Format format);
  static std::optional<std::string> gzip(std::string_view bytes, int level = kDefaultLevel) {
    return compress(bytes, level, Format::Gzip);
  }
  static std::optional<std::string> deflate(std::string_view bytes, int level = kDefaultLevel) {
    return compress(bytes, level, Format::Zlib);
  }
  static std::optional<std::string> rawDeflate(std::string_view bytes, int level = kDefaultLevel) {
    return compress(bytes, level, Format::Raw);
  }

  // Inflates zlib or gzip input (raw deflate when `raw`). nullopt on corrupt
  // input, on input left over after the end of the stream, or when the
  // output would exceed maxOutput bytes (0: no limit).
  static std::optional<std::string> inflate(std::string_view bytes, bool raw, std::size_t maxOutput = 0);
};

}  // namespace analytics
