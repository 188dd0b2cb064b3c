#pragma once
// Byte patterns for the file-backed request tests.

#include <string>

namespace backend::testing {

// `size` bytes covering every byte value, NUL and CR LF included.
inline std::string binaryBytes(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + 7) % 256);
  return bytes;
}

}  // namespace backend::testing
