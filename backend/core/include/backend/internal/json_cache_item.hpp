#pragma once
// A snapshot of a value: its compact typed JSON text and that text's MD5.
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
  const std::string& hashValue() const noexcept { return hash_; }
  // True when the two digests are equal.
  bool isEqualTo(const JSONCacheItem& other) const noexcept { return hash_ == other.hash_; }

 private:
  JSONCacheItem(std::string json, std::string hash) : json_(std::move(json)), hash_(std::move(hash)) {}

  std::string json_;
  std::string hash_;
};

}  // namespace backend
