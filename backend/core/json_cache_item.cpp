#include "backend/internal/json_cache_item.hpp"

#include "backend/internal/internal_utils.hpp"
#include "typed_codec.hpp"

namespace backend {

JSONCacheItem JSONCacheItem::cacheFromObject(const platform::Value& value) {
  return JSONCacheItem(
      detail::encodeValueToJSON(value, UnsavedChildren::Allow, DataObjects::Allow, detail::UnsavedForm::Identity));
}

}  // namespace backend
