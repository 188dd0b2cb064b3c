#include "backend/value_types.hpp"

#include "backend/acl.hpp"
#include "backend/geo_point.hpp"
#include "backend/object_subclass.hpp"
#include "backend/relation.hpp"
#include "backend/installation.hpp"
#include "backend/role.hpp"
#include "backend/internal/typed_kind.hpp"

namespace backend {
namespace {

TypedKind geoPointKind() {
  return typedKindFor<GeoPoint>(
      "GeoPoint", "GeoPoint", [](const GeoPoint& point) { return point.encodeIntoDictionary(); },
      [](const platform::Dictionary& typed) { return Value(GeoPoint::geoPointWithDictionary(typed)); },
      kRoleFieldValue | kRoleContainer | kRoleComparable);
}

// Access lists have no "__type": the object layer reads them from "ACL".
TypedKind accessListKind() {
  return typedKindFor<ACL>(
      "ACL", "", [](const ACL& acl) { return acl.encodeIntoDictionary(); }, nullptr,
      kRoleFieldValue | kRoleContainer);
}

// Relations are no field values: they change through relation operations.
TypedKind relationKind() {
  return typedKindFor<Relation>(
      "Relation", "Relation", [](const Relation& relation) { return relation.encodeIntoDictionary(); },
      [](const platform::Dictionary& typed) {
        const Value className = typed.get("className");
        return Value(Relation::relationWithTargetClass(
            className.isString() ? std::optional<std::string>(*className.string()) : std::nullopt));
      },
      kRoleNone);
}

}  // namespace

void registerValueTypes() {
  registerTypedKind(geoPointKind());
  registerTypedKind(accessListKind());
  registerTypedKind(relationKind());
  installAccessListHooks({[](const Value& dictionary) { return ACL::createWithDictionary(dictionary); },
                          [] { return std::shared_ptr<AccessListBase>(ACL::defaultACL()); }});
  installRelationFactory([](const ObjectPtr& parent, std::string key) {
    return std::shared_ptr<RelationBase>(Relation::relationForObject(parent, std::move(key)));
  });
  registerSubclass<Role>();
  registerSubclass<Installation>();
}

}  // namespace backend
