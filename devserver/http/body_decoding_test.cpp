#include "http/body_decoding.hpp"

#include <gtest/gtest.h>
#include <zlib.h>

namespace devserver {
namespace {

std::string compress(const std::string& text, int windowBits) {
  z_stream stream{};
  deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&stream, text.size()) + 32, '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  stream.avail_in = static_cast<uInt>(text.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

const std::string kText = "v=1&t=appview\nv=1&t=event";

TEST(BodyDecoding, UndoesGzipZlibAndRawDeflate) {
  EXPECT_EQ(decodeBody("gzip", compress(kText, 31), 1024).body, kText);
  EXPECT_EQ(decodeBody(" X-GZIP ", compress(kText, 31), 1024).body, kText);
  EXPECT_EQ(decodeBody("deflate", compress(kText, 15), 1024).body, kText);
  EXPECT_EQ(decodeBody("Deflate", compress(kText, -15), 1024).body, kText);
  EXPECT_EQ(decodeBody("identity", kText, 1024).body, kText);
  EXPECT_EQ(decodeBody("", "", 1024).status, 200);
}

TEST(BodyDecoding, RefusesCorruptTruncatedTrailingAndUnknown) {
  std::string gzip = compress(kText, 31);
  EXPECT_EQ(decodeBody("gzip", "plain text", 1024).status, 400);
  DecodedBody truncated = decodeBody("gzip", gzip.substr(0, gzip.size() - 4), 1024);
  EXPECT_EQ(truncated.status, 400);
  EXPECT_NE(truncated.error.find("ends early"), std::string::npos);
  EXPECT_EQ(decodeBody("gzip", gzip + "junk", 1024).status, 400);
  EXPECT_EQ(decodeBody("gzip", "", 1024).status, 400);
  EXPECT_EQ(decodeBody("deflate", "\x78\x9c garbage", 1024).status, 400);
  DecodedBody unknown = decodeBody("compress", kText, 1024);
  EXPECT_EQ(unknown.status, 415);
  EXPECT_NE(unknown.error.find("compress"), std::string::npos);
}

TEST(BodyDecoding, StopsAtTheSizeLimitInsteadOfInflatingABomb) {
  std::string bomb = compress(std::string(10 * 1024 * 1024, 'a'), 31);
  ASSERT_LT(bomb.size(), 100 * 1024u);
  DecodedBody result = decodeBody("gzip", bomb, 1024 * 1024);
  EXPECT_EQ(result.status, 413);
  EXPECT_TRUE(result.body.empty());
  EXPECT_EQ(decodeBody("", std::string(2048, 'a'), 1024).status, 413);
}

}  // namespace
}  // namespace devserver
