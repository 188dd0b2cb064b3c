#pragma once
// Bytes as hexadecimal text, two digits a byte, first byte first.

#include <cstddef>
#include <string>

namespace platform {

enum class HexCase { lower, upper };

void appendHex(std::string& out, const void* bytes, std::size_t size, HexCase letters = HexCase::lower);
std::string hexText(const void* bytes, std::size_t size, HexCase letters = HexCase::lower);
// Sixteen bytes in the UUID form: groups of 4, 2, 2, 2 and 6 bytes joined by "-".
std::string uuidText(const unsigned char (&bytes)[16], HexCase letters);

}  // namespace platform
