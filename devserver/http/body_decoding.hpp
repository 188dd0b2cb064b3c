#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace devserver {

// The outcome of undoing a request body's Content-Encoding.
struct DecodedBody {
  int status = 200;   // 200 when decoded; 400 corrupt, 413 too large, 415 unknown encoding
  std::string body;   // the decoded bytes when status is 200
  std::string error;  // why not, otherwise
};

// Undoes `encoding` ("gzip", "x-gzip", "deflate" — zlib format, or raw
// deflate as some clients send it — or "identity"; case-insensitive). The
// whole input must be one complete stream: truncated or trailing bytes are
// errors. The decoded body may not exceed `maxSize` bytes.
DecodedBody decodeBody(std::string_view encoding, std::string_view bytes, std::size_t maxSize);

}  // namespace devserver
