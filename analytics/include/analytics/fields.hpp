#pragma once
// The names of hit parameters. Names starting with "&" go on the wire
// (without the "&"); the others stay inside the client.

#include <cstdint>
#include <string>

namespace analytics {

inline constexpr const char* kHitTypeField = "&t";
inline constexpr const char* kProtocolVersionField = "&v";
inline constexpr const char* kTrackingIdField = "&tid";
inline constexpr const char* kClientIdField = "&cid";
inline constexpr const char* kLibraryVersionField = "&_v";
inline constexpr const char* kSessionControlField = "&sc";
inline constexpr const char* kScreenResolutionField = "&sr";
inline constexpr const char* kLanguageField = "&ul";
inline constexpr const char* kScreenNameField = "&cd";
inline constexpr const char* kAppNameField = "&an";
inline constexpr const char* kAppVersionField = "&av";
inline constexpr const char* kEventCategoryField = "&ec";
inline constexpr const char* kEventActionField = "&ea";
inline constexpr const char* kEventLabelField = "&el";
inline constexpr const char* kEventValueField = "&ev";
inline constexpr const char* kSocialNetworkField = "&sn";
inline constexpr const char* kSocialActionField = "&sa";
inline constexpr const char* kSocialTargetField = "&st";
inline constexpr const char* kTransactionIdField = "&ti";
inline constexpr const char* kTransactionAffiliationField = "&ta";
inline constexpr const char* kTransactionRevenueField = "&tr";
inline constexpr const char* kTransactionShippingField = "&ts";
inline constexpr const char* kTransactionTaxField = "&tt";
inline constexpr const char* kCurrencyCodeField = "&cu";
inline constexpr const char* kItemPriceField = "&ip";
inline constexpr const char* kItemQuantityField = "&iq";
inline constexpr const char* kItemSkuField = "&ic";
inline constexpr const char* kItemNameField = "&in";
inline constexpr const char* kItemCategoryField = "&iv";
inline constexpr const char* kCampaignSourceField = "&cs";
inline constexpr const char* kCampaignMediumField = "&cm";
inline constexpr const char* kCampaignNameField = "&cn";
inline constexpr const char* kCampaignKeywordField = "&ck";
inline constexpr const char* kCampaignContentField = "&cc";
inline constexpr const char* kCampaignIdField = "&ci";
inline constexpr const char* kAdClickIdField = "&aclid";
inline constexpr const char* kDisplayClickIdField = "&dclid";
inline constexpr const char* kAdMobTypeField = "&amob_t";
inline constexpr const char* kTimingCategoryField = "&utc";
inline constexpr const char* kTimingVarField = "&utv";
inline constexpr const char* kTimingValueField = "&utt";
inline constexpr const char* kTimingLabelField = "&utl";
inline constexpr const char* kExceptionDescriptionField = "&exd";
inline constexpr const char* kExceptionFatalField = "&exf";
inline constexpr const char* kSampleRateField = "&sf";
inline constexpr const char* kQueueTimeField = "&qt";
inline constexpr const char* kCacheBusterField = "&z";
inline constexpr const char* kUsageField = "&_u";
inline constexpr const char* kHitTimeField = "&ht";

// Internal keys: "useSecure" = "0" selects the plain-text endpoint;
// "anVersion" is the client version kept with each stored hit.
inline constexpr const char* kUseSecureKey = "useSecure";
inline constexpr const char* kAnVersionKey = "anVersion";

class Fields {
 public:
  Fields() = delete;
  static std::string contentGroupForIndex(std::uint64_t index) { return "&cg" + std::to_string(index); }
  static std::string customDimensionForIndex(std::uint64_t index) { return "&cd" + std::to_string(index); }
  static std::string customMetricForIndex(std::uint64_t index) { return "&cm" + std::to_string(index); }
};

}  // namespace analytics
