// Feeds arbitrary form posts to the storage host's multipart reader (the
// files host is unsigned, so anyone may send one). The first byte sets the
// boundary's length, the boundary follows, the rest is the body; the header
// parameter reader gets the same bytes as a Content-Type value.
#include "file_storage.hpp"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  std::string_view input(reinterpret_cast<const char*>(data + 1), size - 1);
  std::size_t boundaryLength = std::min<std::size_t>(data[0], input.size());
  std::string_view boundary = input.substr(0, boundaryLength);
  std::string_view body = input.substr(boundaryLength);
  if (auto parts = devserver::backend::parseMultipart(body, boundary)) {
    for (const auto& [name, part] : *parts) {
      if (part.content.size() > body.size()) __builtin_trap();
    }
  }
  devserver::backend::headerParameter(input, "boundary");
  devserver::backend::headerParameter(input, "name");
  devserver::backend::isActiveContentType(input);
  return 0;
}
