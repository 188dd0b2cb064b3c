#include "backend/internal/json_cache_item.hpp"

#include "backend/internal/internal_utils.hpp"
#include "typed_codec.hpp"

namespace backend {

JSONCacheItem JSONCacheItem::cacheFromObject(const platform::Value& value) {
  std::string json = InternalUtils::serializeToJSON(
      detail::encodeValue(value, UnsavedChildren::Allow, DataObjects::Allow, detail::UnsavedForm::Identity));
  std::string hash = InternalUtils::calculateMD5(json);
  return JSONCacheItem(std::move(json), std::move(hash));
}

}  // namespace backend
