#include "compression_util.hpp"

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

void feed(z_stream& stream, std::string_view bytes) {
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
  stream.avail_in = static_cast<uInt>(bytes.size());
}

// Calls `step` (one deflate or inflate call) with fresh output space each
// time until it reports the end of the stream; gives up when `failed`
// (status, output so far) says so.
template <class Step, class Failed>
std::optional<std::string> pump(z_stream& stream, Step step, Failed failed) {
  std::string out;
  int status;
  do {
    std::size_t used = out.size();
    out.resize(used + kStep);
    stream.next_out = reinterpret_cast<Bytef*>(out.data() + used);
    stream.avail_out = kStep;
    status = step();
    out.resize(used + kStep - stream.avail_out);
    if (failed(status, out.size())) return std::nullopt;
  } while (status != Z_STREAM_END);
  return out;
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
  feed(stream, bytes);
  auto out = pump(
      stream, [&] { return ::deflate(&stream, Z_FINISH); },
      [](int code, std::size_t) {
        if (code != Z_STREAM_ERROR) return false;
        platform::log("Error trying to deflate some of the payload, error " + std::to_string(code));
        return true;
      });
  if (!out) {
    deflateEnd(&stream);
    return std::nullopt;
  }
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
  feed(stream, bytes);
  auto out = pump(
      stream, [&] { return ::inflate(&stream, Z_NO_FLUSH); },
      [&](int code, std::size_t produced) {
        bool stalled = code == Z_BUF_ERROR && stream.avail_in == 0;
        bool broken = code != Z_OK && code != Z_STREAM_END && code != Z_BUF_ERROR;
        if (!broken && !stalled && (maxOutput == 0 || produced <= maxOutput)) return false;
        platform::log("Error trying to inflate some of the payload, error " + std::to_string(code) + ": " +
                      (stream.msg ? stream.msg : "truncated input"));
        return true;
      });
  if (!out) {
    inflateEnd(&stream);
    return std::nullopt;
  }
  uInt left = stream.avail_in;
  inflateEnd(&stream);
  if (left != 0) {
    platform::log("tfinished inflate w/o using all input, " + std::to_string(left) + " bytes left");
    return std::nullopt;
  }
  return out;
}

}  // namespace analytics
