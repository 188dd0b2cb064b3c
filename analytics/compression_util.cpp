#include "analytics/compression_util.hpp"

#include <zlib.h>

#include <algorithm>

#include "platform/log.hpp"

namespace analytics {

namespace {

constexpr std::size_t kStep = 1024;

int windowBits(CompressionUtil::Format format) {
  switch (format) {
    case CompressionUtil::Format::Gzip: return 31;
    case CompressionUtil::Format::Raw: return -15;
    case CompressionUtil::Format::Zlib: break;
  }
  return 15;
}

}  // namespace

std::optional<std::string> CompressionUtil::compress(std::string_view bytes, int level, Format format) {
  if (level != Z_DEFAULT_COMPRESSION) level = std::clamp(level, 1, 9);
  z_stream stream{};
  int status = deflateInit2(&stream, level, Z_DEFLATED, windowBits(format), 8, Z_DEFAULT_STRATEGY);
  if (status != Z_OK) {
    platform::log("Failed to init for deflate w/ level " + std::to_string(level) + ", error " + std::to_string(status));
    return std::nullopt;
  }
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
  stream.avail_in = static_cast<uInt>(bytes.size());
  std::string out;
  do {
    std::size_t used = out.size();
    out.resize(used + kStep);
    stream.next_out = reinterpret_cast<Bytef*>(out.data() + used);
    stream.avail_out = kStep;
    status = ::deflate(&stream, Z_FINISH);
    out.resize(used + kStep - stream.avail_out);
    if (status == Z_STREAM_ERROR) {
      platform::log("Error trying to deflate some of the payload, error " + std::to_string(status));
      deflateEnd(&stream);
      return std::nullopt;
    }
  } while (status != Z_STREAM_END);
  if (stream.avail_in != 0) {
    platform::log("finished deflate w/o using all input, " + std::to_string(stream.avail_in) + " bytes left");
  }
  deflateEnd(&stream);
  return out;
}

std::optional<std::string> CompressionUtil::inflate(std::string_view bytes, bool raw, std::size_t maxOutput) {
  z_stream stream{};
  int status = inflateInit2(&stream, raw ? -15 : 47);
  if (status != Z_OK) {
    platform::log("Failed to init for inflate, error " + std::to_string(status));
    return std::nullopt;
  }
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
  stream.avail_in = static_cast<uInt>(bytes.size());
  std::string out;
  do {
    std::size_t used = out.size();
    out.resize(used + kStep);
    stream.next_out = reinterpret_cast<Bytef*>(out.data() + used);
    stream.avail_out = kStep;
    status = ::inflate(&stream, Z_NO_FLUSH);
    out.resize(used + kStep - stream.avail_out);
    bool stalled = status == Z_BUF_ERROR && stream.avail_in == 0;
    if ((status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR) || stalled ||
        (maxOutput != 0 && out.size() > maxOutput)) {
      platform::log("Error trying to inflate some of the payload, error " + std::to_string(status) + ": " +
                    (stream.msg ? stream.msg : "truncated input"));
      inflateEnd(&stream);
      return std::nullopt;
    }
  } while (status != Z_STREAM_END);
  uInt left = stream.avail_in;
  inflateEnd(&stream);
  if (left != 0) {
    platform::log("tfinished inflate w/o using all input, " + std::to_string(left) + " bytes left");
    return std::nullopt;
  }
  return out;
}

}  // namespace analytics
