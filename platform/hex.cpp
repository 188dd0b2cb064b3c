#include "platform/hex.hpp"

namespace platform {

void appendHex(std::string& out, const void* bytes, std::size_t size, HexCase letters) {
  const char* digits = letters == HexCase::lower ? "0123456789abcdef" : "0123456789ABCDEF";
  const auto* byte = static_cast<const unsigned char*>(bytes);
  out.reserve(out.size() + 2 * size);
  for (const auto* end = byte + size; byte != end; ++byte) {
    out.push_back(digits[*byte >> 4]);
    out.push_back(digits[*byte & 0x0F]);
  }
}

std::string hexText(const void* bytes, std::size_t size, HexCase letters) {
  std::string text;
  appendHex(text, bytes, size, letters);
  return text;
}

std::string uuidText(const unsigned char (&bytes)[16], HexCase letters) {
  std::string text;
  text.reserve(36);
  std::size_t at = 0;
  for (std::size_t group : {4, 2, 2, 2, 6}) {
    if (at != 0) text.push_back('-');
    appendHex(text, bytes + at, group, letters);
    at += group;
  }
  return text;
}

}  // namespace platform
