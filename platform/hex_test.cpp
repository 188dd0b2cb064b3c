#include "platform/hex.hpp"

#include <gtest/gtest.h>

namespace platform {
namespace {

TEST(Hex, TwoDigitsPerByteInEitherCaseAppendedToWhatIsThere) {
  const unsigned char bytes[] = {0x00, 0x0F, 0xA5, 0xFF};
  EXPECT_EQ(hexText(bytes, sizeof bytes), "000fa5ff");
  EXPECT_EQ(hexText(bytes, sizeof bytes, HexCase::upper), "000FA5FF");
  EXPECT_EQ(hexText(bytes, 0), "");
  std::string text = "id-";
  appendHex(text, bytes + 2, 2);
  EXPECT_EQ(text, "id-a5ff");
}

TEST(Hex, UUIDTextGroupsSixteenBytesEightFourFourFourTwelve) {
  const unsigned char bytes[16] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF,
                                   0x10, 0x32, 0x54, 0x76, 0x98, 0xBA, 0xDC, 0xFE};
  EXPECT_EQ(uuidText(bytes, HexCase::lower), "01234567-89ab-cdef-1032-547698badcfe");
  EXPECT_EQ(uuidText(bytes, HexCase::upper), "01234567-89AB-CDEF-1032-547698BADCFE");
}

}  // namespace
}  // namespace platform
