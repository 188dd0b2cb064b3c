#include "analytics/dictionary_builder.hpp"

#include "analytics/fields.hpp"
#include "diagnostics.hpp"
#include "string_util.hpp"
#include "usage_tracker.hpp"

namespace analytics {

namespace {

// Builder warnings are plain lines, without the operation prefix.
void builderWarning(const std::string& message) {
  if (detail::logEnabled(LogLevel::Warning)) detail::sharedLogger()->warning(message);
}

DictionaryBuilder typed(const char* hitType) {
  DictionaryBuilder builder;
  builder.build().set(kHitTypeField, platform::Value(hitType));
  return builder;
}

}  // namespace

std::string valueClassName(const platform::Value& value) {
  using Kind = platform::Value::Kind;
  switch (value.kind()) {
    case Kind::Nil: return "";
    case Kind::Null: return "Null";
    case Kind::Number: return "Number";
    case Kind::String: return "String";
    case Kind::Date: return "Date";
    case Kind::Bytes: return "Bytes";
    case Kind::Array: return "Array";
    case Kind::Dictionary: return "Dictionary";
    case Kind::Object: return "Object";
  }
  return "";
}

platform::Value DictionaryBuilder::valueForString(const platform::Value& value) {
  return value.isNil() ? platform::Value::null() : value;
}

platform::Value DictionaryBuilder::valueForNumber(const platform::Value& value) {
  if (const auto* number = value.number()) return platform::Value(number->description());
  return platform::Value::null();
}

DictionaryBuilder& DictionaryBuilder::put(const char* key, platform::Value value) {
  parameters_.set(key, std::move(value));
  return *this;
}

DictionaryBuilder DictionaryBuilder::createAppView() {
  UsageTracker::trackAction("createAppView");
  return typed("appview");
}

DictionaryBuilder DictionaryBuilder::createEvent(const platform::Value& category, const platform::Value& action,
                                                 const platform::Value& label, const platform::Value& value) {
  UsageTracker::trackAction("createEventWithCategory:action:label:value:");
  auto b = typed("event");
  b.put(kEventCategoryField, valueForString(category))
      .put(kEventActionField, valueForString(action))
      .put(kEventLabelField, valueForString(label))
      .put(kEventValueField, valueForNumber(value));
  return b;
}

DictionaryBuilder DictionaryBuilder::anException(const platform::Value& description, const platform::Value& fatal) {
  auto b = typed("exception");
  b.put(kExceptionFatalField, valueForNumber(fatal)).put(kExceptionDescriptionField, valueForString(description));
  return b;
}

DictionaryBuilder DictionaryBuilder::createException(const platform::Value& description, const platform::Value& fatal) {
  UsageTracker::trackAction("createExceptionWithDescription:withFatal:");
  return anException(description, fatal);
}

DictionaryBuilder DictionaryBuilder::createItem(const platform::Value& transactionId, const platform::Value& name,
                                                const platform::Value& sku, const platform::Value& category,
                                                const platform::Value& price, const platform::Value& quantity,
                                                const platform::Value& currencyCode) {
  UsageTracker::trackAction("createItemWithTransactionId:name:sku:category:price:quantity:currencyCode:");
  auto b = typed("item");
  b.put(kTransactionIdField, valueForString(transactionId))
      .put(kItemNameField, valueForString(name))
      .put(kItemSkuField, valueForString(sku))
      .put(kItemCategoryField, valueForString(category))
      .put(kItemPriceField, valueForNumber(price))
      .put(kItemQuantityField, valueForNumber(quantity))
      .put(kCurrencyCodeField, valueForString(currencyCode));
  return b;
}

DictionaryBuilder DictionaryBuilder::createSocial(const platform::Value& network, const platform::Value& action,
                                                  const platform::Value& target) {
  UsageTracker::trackAction("createSocialWithNetwork:action:target:");
  auto b = typed("social");
  b.put(kSocialNetworkField, valueForString(network))
      .put(kSocialActionField, valueForString(action))
      .put(kSocialTargetField, valueForString(target));
  return b;
}

DictionaryBuilder DictionaryBuilder::createTiming(const platform::Value& category, const platform::Value& interval,
                                                  const platform::Value& name, const platform::Value& label) {
  UsageTracker::trackAction("createTimingWithCategory:interval:name:label:");
  auto b = typed("timing");
  b.put(kTimingCategoryField, valueForString(category))
      .put(kTimingValueField, valueForNumber(interval))
      .put(kTimingVarField, valueForString(name))
      .put(kTimingLabelField, valueForString(label));
  return b;
}

DictionaryBuilder DictionaryBuilder::createTransaction(const platform::Value& transactionId,
                                                       const platform::Value& affiliation,
                                                       const platform::Value& revenue, const platform::Value& tax,
                                                       const platform::Value& shipping,
                                                       const platform::Value& currencyCode) {
  UsageTracker::trackAction("createTransactionWithId:affiliation:revenue:tax:shipping:currencyCode:");
  auto b = typed("transaction");
  b.put(kTransactionIdField, valueForString(transactionId))
      .put(kTransactionAffiliationField, valueForString(affiliation))
      .put(kTransactionRevenueField, valueForNumber(revenue))
      .put(kTransactionTaxField, valueForNumber(tax))
      .put(kTransactionShippingField, valueForNumber(shipping))
      .put(kCurrencyCodeField, valueForString(currencyCode));
  return b;
}

DictionaryBuilder& DictionaryBuilder::set(const platform::Value& value, const std::optional<std::string>& key) {
  UsageTracker::trackAction("set:forKey:");
  if (!key) {
    builderWarning("nil key not allowed in setString");
    return *this;
  }
  parameters_.set(*key, valueForString(value));
  return *this;
}

DictionaryBuilder& DictionaryBuilder::setAll(const platform::Value& parameters) {
  UsageTracker::trackAction("setAll:");
  const auto* map = parameters.dictionary();
  if (!map) return *this;
  for (const auto& [key, value] : *map) {
    if (!value.isString() && !value.isNull()) {
      builderWarning("Unexpected value type: " + valueClassName(value));
      continue;
    }
    parameters_.set(key, value);
  }
  return *this;
}

std::optional<std::string> DictionaryBuilder::get(std::string_view key) const {
  UsageTracker::trackAction("dictionaryGet:");
  platform::Value value = parameters_.get(key);
  if (const auto* text = value.string()) return *text;
  if (!value.isNull()) builderWarning("Unexpected type in Builder: " + valueClassName(value));
  return std::nullopt;
}

DictionaryBuilder& DictionaryBuilder::setCampaignParametersFromUrl(std::string_view url) {
  UsageTracker::trackAction("setCampaignParametersFromUrl:");
  std::string query = StringUtil::urlParams(url);
  if (query.empty()) query = std::string(url);
  auto decoded = StringUtil::decodeParametersFromQuery(query);
  static constexpr std::pair<const char*, const char*> kCampaign[] = {
      {kAdClickIdField, "aclid"},       {kDisplayClickIdField, "dclid"},  {kAdMobTypeField, "amob_t"},
      {kCampaignSourceField, "utm_source"}, {kCampaignMediumField, "utm_medium"}, {kCampaignNameField, "utm_campaign"},
      {kCampaignKeywordField, "utm_term"},  {kCampaignContentField, "utm_content"}, {kCampaignIdField, "utm_id"},
  };
  for (const auto& [field, name] : kCampaign) put(field, valueForString(decoded.get(name)));
  return *this;
}

}  // namespace analytics
