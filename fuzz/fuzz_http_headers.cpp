// Response header bytes, fed in two pieces cut where the first byte says.
// Whatever the bytes, the parser answers within its contract: a parse error
// is final, a complete block accounts for exactly the bytes it used, and
// nothing grows past the header limit.

#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "http_headers.hpp"

using backend::net::HTTPHeaders;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t cut = data[0] % size;
  const std::string_view input(reinterpret_cast<const char*>(data + 1), size - 1);
  HTTPHeaders headers = HTTPHeaders::response();
  std::size_t fed = 0;
  for (std::string_view piece : {input.substr(0, cut), input.substr(cut)}) {
    const std::int64_t taken = headers.appendBytes(piece.data(), piece.size());
    fed += piece.size();
    if (taken < 0) {
      if (!headers.parseError() || !headers.complete()) std::abort();
      return 0;
    }
    if (static_cast<std::size_t>(taken) > piece.size()) std::abort();
    if (headers.complete()) {
      (void)headers.getStatusLine();
      (void)headers.allHeaders().all().size();
      if (headers.statusCode() < 0 || headers.statusCode() > 999) std::abort();
      return 0;
    }
    if (static_cast<std::int64_t>(taken) != static_cast<std::int64_t>(piece.size())) std::abort();
  }
  if (fed > HTTPHeaders::kMaxResponseHeaderBytes + 1 && !headers.complete()) std::abort();
  return 0;
}
