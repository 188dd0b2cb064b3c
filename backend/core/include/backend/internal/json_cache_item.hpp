#pragma once
// A snapshot of a value: its compact typed JSON text.
// Data objects keep one per container they hold, to notice edits made to the
// container in place.

#include <string>

#include "platform/value.hpp"

namespace backend {

class JSONCacheItem {
 public:
  // The snapshot of a value in typed form (objects and unsaved objects
  // allowed). An unsaved object that has no local id yet is written by its
  // identity, so taking a snapshot never creates a local id. Raises like the
  // typed encoder and the JSON writer for values that have no JSON form.
  static JSONCacheItem cacheFromObject(const platform::Value& value);

  const std::string& json() const noexcept { return json_; }
  // True when the two texts are equal. The snapshot keeps its text anyway,
  // and comparing two texts costs less than a digest of one.
  bool isEqualTo(const JSONCacheItem& other) const noexcept { return json_ == other.json_; }

 private:
  explicit JSONCacheItem(std::string json) : json_(std::move(json)) {}

  std::string json_;
};

}  // namespace backend
