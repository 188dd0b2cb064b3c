#include "analytics/dictionary_builder.hpp"

#include <gtest/gtest.h>

#include "analytics/fields.hpp"
#include "analytics/logger.hpp"
#include "platform/log.hpp"

namespace analytics {
namespace {

using platform::Value;

TEST(DictionaryBuilder, HitTypesFillTheirFields) {
  auto event = DictionaryBuilder::createEvent("video", "play", Value(), Value(42)).build();
  EXPECT_EQ(event.get("&t"), Value("event"));
  EXPECT_EQ(event.get("&ec"), Value("video"));
  EXPECT_TRUE(event.get("&el").isNull());
  EXPECT_EQ(event.get("&ev"), Value("42"));
  auto exception = DictionaryBuilder::createException("boom", Value(true)).build();
  EXPECT_EQ(exception.get("&exf"), Value("1"));
  EXPECT_EQ(exception.get("&exd"), Value("boom"));
  auto item = DictionaryBuilder::createItem("T1", "Sko", "SKU", "Klær", Value(9.5), Value(2), "NOK").build();
  EXPECT_EQ(item.get("&ip"), Value("9.5"));
  EXPECT_EQ(item.get("&iq"), Value("2"));
  EXPECT_EQ(item.get("&cu"), Value("NOK"));
  auto timing = DictionaryBuilder::createTiming("load", Value(1200), "page", "front").build();
  EXPECT_EQ(timing.get("&utt"), Value("1200"));
  EXPECT_EQ(timing.get("&utv"), Value("page"));
  auto transaction = DictionaryBuilder::createTransaction("T1", "shop", Value(10), Value(false), Value("x"), "NOK").build();
  EXPECT_EQ(transaction.get("&tt"), Value("0"));
  EXPECT_TRUE(transaction.get("&ts").isNull());  // not a number
  EXPECT_EQ(DictionaryBuilder::createSocial("net", "like", "url").build().get("&sa"), Value("like"));
}

TEST(DictionaryBuilder, MisuseWarnsAndKeepsTheBuilderUsable) {
  platform::LogCapture log;
  DictionaryBuilder builder = DictionaryBuilder::createAppView();
  builder.set("x", std::nullopt);
  EXPECT_TRUE(log.contains("WARNING: nil key not allowed in setString"));
  EXPECT_EQ(builder.get("&missing"), std::nullopt);
  EXPECT_TRUE(log.contains("WARNING: Unexpected type in Builder: "));
  builder.setAll(Value::dictionary({{"&cd", Value("Article")}, {"&n", Value(3)}, {"&z", Value::null()}}));
  EXPECT_TRUE(log.contains("Unexpected value type: Number"));
  EXPECT_EQ(builder.get("&cd"), "Article");
  EXPECT_EQ(builder.get("&z"), std::nullopt);
  EXPECT_FALSE(builder.build().contains("&n"));
}

TEST(DictionaryBuilder, CampaignParametersFromABareQuery) {
  DictionaryBuilder builder;
  builder.set("old", kCampaignNameField);
  auto map = builder.setCampaignParametersFromUrl("utm_source=a&utm_medium=b").build();
  EXPECT_EQ(map.get("&cs"), Value("a"));
  EXPECT_EQ(map.get("&cm"), Value("b"));
  for (const char* absent : {"&cn", "&ck", "&cc", "&ci", "&aclid", "&dclid", "&amob_t"}) {
    EXPECT_TRUE(map.get(absent).isNull()) << absent;
  }
  auto fromUrl = DictionaryBuilder().setCampaignParametersFromUrl("http://x/?utm_campaign=vinter+salg").build();
  EXPECT_EQ(fromUrl.get("&cn"), Value("vinter salg"));
}

TEST(Fields, IndexedNames) {
  EXPECT_EQ(Fields::customDimensionForIndex(3), "&cd3");
  EXPECT_EQ(Fields::customMetricForIndex(12), "&cm12");
  EXPECT_EQ(Fields::contentGroupForIndex(1), "&cg1");
}

}  // namespace
}  // namespace analytics
