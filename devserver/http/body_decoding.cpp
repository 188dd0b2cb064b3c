#include "http/body_decoding.hpp"

#include <zlib.h>

#include <algorithm>
#include <cctype>

namespace devserver {
namespace {

constexpr int kGzipWindow = 16 + MAX_WBITS;
constexpr int kZlibWindow = MAX_WBITS;
constexpr int kRawWindow = -MAX_WBITS;

std::string lowerTrimmed(std::string_view text) {
  std::string value;
  for (char c : text) {
    if (!std::isspace(static_cast<unsigned char>(c))) value += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return value;
}

DecodedBody inflateAll(std::string_view bytes, int windowBits, std::size_t maxSize, const char* name) {
  DecodedBody result;
  z_stream stream{};
  if (inflateInit2(&stream, windowBits) != Z_OK) {
    return {500, "", "cannot start the decompressor"};
  }
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
  stream.avail_in = static_cast<uInt>(bytes.size());
  char chunk[16384];
  int code = Z_OK;
  while (code == Z_OK) {
    stream.next_out = reinterpret_cast<Bytef*>(chunk);
    stream.avail_out = sizeof chunk;
    code = inflate(&stream, Z_NO_FLUSH);
    std::size_t produced = sizeof chunk - stream.avail_out;
    if (result.body.size() + produced > maxSize) {
      inflateEnd(&stream);
      return {413, "", "the decoded body is larger than " + std::to_string(maxSize) + " bytes"};
    }
    result.body.append(chunk, produced);
    if (code == Z_BUF_ERROR && stream.avail_in == 0) break;  // input ended early
  }
  bool trailing = stream.avail_in != 0;
  inflateEnd(&stream);
  if (code != Z_STREAM_END) {
    return {400, "", std::string("the body is not valid ") + name + " data" +
                         (code == Z_BUF_ERROR ? " (it ends early)" : "")};
  }
  if (trailing) return {400, "", std::string("the body has bytes after the end of its ") + name + " data"};
  return result;
}

}  // namespace

DecodedBody decodeBody(std::string_view encoding, std::string_view bytes, std::size_t maxSize) {
  std::string name = lowerTrimmed(encoding);
  if (name.empty() || name == "identity") {
    if (bytes.size() > maxSize) return {413, "", "the body is larger than " + std::to_string(maxSize) + " bytes"};
    return {200, std::string(bytes), ""};
  }
  if (name == "gzip" || name == "x-gzip") return inflateAll(bytes, kGzipWindow, maxSize, "gzip");
  if (name == "deflate") {
    DecodedBody wrapped = inflateAll(bytes, kZlibWindow, maxSize, "deflate");
    if (wrapped.status != 400) return wrapped;
    DecodedBody raw = inflateAll(bytes, kRawWindow, maxSize, "deflate");
    return raw.status == 200 || raw.status == 413 ? raw : wrapped;
  }
  return {415, "", "unsupported Content-Encoding \"" + std::string(encoding) + "\"; use gzip or deflate"};
}

}  // namespace devserver
