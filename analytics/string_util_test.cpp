#include "string_util.hpp"

#include <gtest/gtest.h>

#include "compression_util.hpp"
#include "parameter_archive.hpp"
#include "support/scoped_locale.hpp"

namespace analytics {
namespace {

TEST(StringUtil, PercentEncodingKeepsTheUnreservedSetAndTurnsSpacesIntoPlus) {
  EXPECT_EQ(StringUtil::percentEncode("a b&c"), "a+b%26c");
  EXPECT_EQ(StringUtil::percentEncode("~'-._"), "~'-._");
  EXPECT_EQ(StringUtil::percentEncode("+=/?#:@\"%"), "%2B%3D%2F%3F%23%3A%40%22%25");
  EXPECT_EQ(StringUtil::percentEncode("bl\xC3\xA5"), "bl%C3%A5");
  EXPECT_EQ(StringUtil::percentEncode(std::string("\n\0", 2)), "%0A%00");
}

TEST(StringUtil, PercentDecodingReversesEncodingAndRefusesBrokenUtf8) {
  std::string original = "Frontpage & more ~ 'x' bl\xC3\xA5+";
  EXPECT_EQ(StringUtil::percentDecode(StringUtil::percentEncode(original)), original);
  EXPECT_EQ(StringUtil::percentDecode("a+b%2"), "a b%2");
  EXPECT_EQ(StringUtil::percentDecode("%C3"), std::nullopt);
  EXPECT_EQ(StringUtil::percentDecode("%C0%80"), std::nullopt);  // overlong NUL
}

TEST(StringUtil, QueryDecodingSplitsPairsAndLaterPartsWin) {
  auto map = StringUtil::decodeParametersFromQuery("a=1&b&a=2&c=x%3Dy&bad=%FF&=v");
  EXPECT_EQ(map.get("a"), platform::Value("2"));
  EXPECT_EQ(map.get("b"), platform::Value(""));
  EXPECT_EQ(map.get("c"), platform::Value("x=y"));
  EXPECT_FALSE(map.contains("bad"));
  EXPECT_EQ(map.get(""), platform::Value("v"));
  EXPECT_EQ(StringUtil::decodeParametersFromUrl("not a url"), std::nullopt);
  EXPECT_TRUE(StringUtil::decodeParametersFromUrl("http://h/p")->empty());
  EXPECT_EQ(StringUtil::decodeParametersFromUrl("http://h/p?utm_source=a#frag")->get("utm_source"), platform::Value("a"));
  EXPECT_EQ(StringUtil::urlParams("x?y?z"), "y?z");
  EXPECT_EQ(StringUtil::urlParams("xyz"), "");
}

TEST(StringUtil, DecimalTextsKeepTheirPointUnderACommaDecimalLocale) {
  test_support::ScopedLocale norwegian("nb_NO.UTF-8");
  ASSERT_TRUE(norwegian.active()) << "the nb_NO.UTF-8 locale is missing (scripts/install-deps.sh makes it)";
  EXPECT_EQ(StringUtil::decimalString(2.5, 3), "2.5");
  EXPECT_EQ(StringUtil::decimalString(1234.0, 2), "1234");
}

TEST(StringUtil, NumberTexts) {
  EXPECT_EQ(StringUtil::decimalString(2.5, 3), "2.5");
  EXPECT_EQ(StringUtil::decimalString(2.0, 3), "2");
  EXPECT_EQ(StringUtil::decimalString(100, 0), "100");
  EXPECT_EQ(StringUtil::decimalString(-0.125, 2), "-0.12");
  EXPECT_EQ(StringUtil::currencyMicrosString(500000), ".5");
  EXPECT_EQ(StringUtil::currencyMicrosString(-1500000), "-1.5");
  EXPECT_EQ(StringUtil::currencyMicrosString(3000000), "3");
  EXPECT_EQ(StringUtil::currencyMicrosString(-1), "-.000001");
  EXPECT_EQ(StringUtil::currencyMicrosString(INT64_MIN), "-9223372036854.775808");
  EXPECT_EQ(StringUtil::intString(-42), "-42");
  EXPECT_EQ(StringUtil::uintString(UINT64_MAX), "18446744073709551615");
}

TEST(StringUtil, TrimAndStripLeadingAmpersand) {
  EXPECT_EQ(StringUtil::trim(" \t\n name \r\n"), "name");
  EXPECT_EQ(StringUtil::trim("   "), "");
  EXPECT_EQ(StringUtil::stripLeadingAmpersand("&t"), "t");
  EXPECT_EQ(StringUtil::stripLeadingAmpersand("&&t"), "&t");
  EXPECT_EQ(StringUtil::stripLeadingAmpersand("t"), "t");
}

TEST(CompressionUtil, GzipAndDeflateRoundTripAndCorruptInputFails) {
  std::string payload(5000, 'x');
  payload += "tail";
  for (auto format : {CompressionUtil::Format::Gzip, CompressionUtil::Format::Zlib}) {
    auto packed = CompressionUtil::compress(payload, 20, format);
    ASSERT_TRUE(packed);
    EXPECT_LT(packed->size(), payload.size());
    EXPECT_EQ(CompressionUtil::inflate(*packed, false), payload);
    EXPECT_EQ(CompressionUtil::inflate(packed->substr(0, packed->size() / 2), false), std::nullopt);
    EXPECT_EQ(CompressionUtil::inflate(*packed + "junk", false), std::nullopt);
  }
  auto raw = CompressionUtil::rawDeflate(payload);
  ASSERT_TRUE(raw);
  EXPECT_EQ(CompressionUtil::inflate(*raw, true), payload);
  EXPECT_EQ(CompressionUtil::inflate(*CompressionUtil::gzip(payload), false, 100), std::nullopt);
}

TEST(ParameterArchive, RoundTripsStringsAndNullsAndRejectsDamage) {
  platform::Dictionary map{{"&t", platform::Value("appview")},
                           {"&cd", platform::Value::null()},
                           {"&x", platform::Value(std::string(300, 'y'))},
                           {"&n", platform::Value(5)}};
  auto bytes = encodeParameterArchive(map);
  auto decoded = decodeParameterArchive(bytes);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->get("&t"), platform::Value("appview"));
  EXPECT_TRUE(decoded->get("&cd").isNull());
  EXPECT_EQ(decoded->get("&x"), platform::Value(std::string(300, 'y')));
  EXPECT_FALSE(decoded->contains("&n"));
  for (std::size_t cut = 0; cut + 1 < bytes.size(); ++cut) {
    auto partial = decodeParameterArchive(bytes.substr(0, cut));
    // Only cuts on an entry boundary decode, and then to a prefix of the map.
    if (partial) {
      EXPECT_LE(partial->size(), 3u);
    }
  }
  EXPECT_EQ(decodeParameterArchive("ANP1X"), std::nullopt);
  EXPECT_EQ(decodeParameterArchive("ANP1S\xFF\xFF\xFF\xFF\x7F"), std::nullopt);
}

}  // namespace
}  // namespace analytics
