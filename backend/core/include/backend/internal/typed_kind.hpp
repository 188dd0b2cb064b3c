#pragma once
// The one registration point for the kinds of value that the typed encoding
// carries as dictionaries: a kind may decode a "__type", encode shared
// objects of its class, and take roles in the value-class rules. Files,
// access lists, geo points and relations register theirs here; the built-in
// "Date", "Bytes", "Pointer" and "Object" decoders are registered the same way.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/value.hpp"

namespace backend {

// What a kind's values may be used for (bit set).
enum ValueRole : unsigned {
  kRoleNone = 0,
  kRoleFieldValue = 1u << 0,  // may be set on a data object
  kRoleContainer = 1u << 1,   // may change in place; watched by data objects
  kRoleComparable = 1u << 2,  // operand of comparison queries
  kRoleOrderable = 1u << 3,   // operand of ordering queries
};

struct TypedKind {
  // Registry key and the class name used in messages ("backend::GeoPoint").
  std::string name;
  // The "__type" this kind decodes, or empty when it decodes none (access
  // lists are read by the data-object layer, not by the decoder).
  std::string typeTag;
  // True for shared objects of this kind. Empty for kinds that are not shared
  // objects (dates and byte buffers are plain values).
  std::function<bool(const platform::SharedObject&)> matches;
  // The typed form of a matching object (called only when matches said yes).
  std::function<platform::Value(const platform::SharedObject&)> encode;
  // The client value of a dictionary carrying typeTag; nil for a malformed one.
  std::function<platform::Value(const platform::Dictionary&)> decode;
  unsigned roles = kRoleNone;
};

// Adds a kind, replacing an earlier one of the same name. Thread-safe; meant
// for start-up (a kind registered while values are being decoded applies from
// the next value on).
void registerTypedKind(TypedKind kind);

// A kind for shared objects of class T (and its subclasses): `matches` is a
// dynamic type test and `encode` receives the object as T.
template <class T>
TypedKind typedKindFor(std::string name, std::string typeTag,
                       std::function<platform::Value(const T&)> encode,
                       std::function<platform::Value(const platform::Dictionary&)> decode, unsigned roles) {
  TypedKind kind;
  kind.name = std::move(name);
  kind.typeTag = std::move(typeTag);
  kind.matches = [](const platform::SharedObject& object) { return dynamic_cast<const T*>(&object) != nullptr; };
  if (encode) {
    kind.encode = [encode = std::move(encode)](const platform::SharedObject& object) {
      return encode(static_cast<const T&>(object));
    };
  }
  kind.decode = std::move(decode);
  kind.roles = roles;
  return kind;
}

namespace detail {

// A consistent view of the registry for one lookup.
struct TypedKindTable {
  std::vector<std::shared_ptr<const TypedKind>> kinds;
  // The kind that decodes `tag`, or nullptr.
  const TypedKind* decoderFor(std::string_view tag) const;
  // The first kind whose `matches` accepts the object, or nullptr.
  const TypedKind* kindOf(const platform::SharedObject& object) const;
};

// The current table (never null).
std::shared_ptr<const TypedKindTable> typedKinds();

}  // namespace detail

}  // namespace backend
