// Which values a data object may hold, and which a query may compare or order.

#include "backend/field_operation.hpp"
#include "backend/internal/internal_utils.hpp"
#include "backend/internal/typed_kind.hpp"
#include "backend/object.hpp"
#include "backend/object_subclass.hpp"
#include "platform/exceptions.hpp"

namespace backend {
namespace {

// The roles of plain values and data objects; registered kinds bring their own.
unsigned rolesOf(const Value& value) {
  switch (value.kind()) {
    case Value::Kind::Dictionary:
    case Value::Kind::Array:
      return kRoleFieldValue | kRoleContainer;
    case Value::Kind::String:
    case Value::Kind::Number:
    case Value::Kind::Date:
      return kRoleFieldValue | kRoleComparable | kRoleOrderable;
    case Value::Kind::Null:
      return kRoleFieldValue | kRoleComparable;
    case Value::Kind::Bytes:
      return kRoleFieldValue;
    case Value::Kind::Object: {
      const auto& handle = *value.objectHandle();
      if (dynamic_cast<const Object*>(handle.get())) return kRoleFieldValue | kRoleComparable;
      const TypedKind* kind = detail::typedKinds()->kindOf(*handle);
      return kind ? kind->roles : kRoleNone;
    }
    case Value::Kind::Nil:
      return kRoleNone;
  }
  return kRoleNone;
}

void requireRole(const Value& value, ValueRole role, const char* message) {
  if (!(rolesOf(value) & role)) throw platform::InvalidArgumentException(message + InternalUtils::className(value));
}

}  // namespace

void InternalUtils::assertValidClassForValue(const Value& value) {
  requireRole(value, kRoleFieldValue, "BEObject values may not have class: ");
}

void InternalUtils::assertValidClassForQuery(const Value& value) {
  requireRole(value, kRoleComparable, "Cannot do a comparison query for type: ");
}

void InternalUtils::assertValidClassForOrdering(const Value& value) {
  requireRole(value, kRoleOrderable, "Cannot do a query that requires ordering for type: ");
}

bool InternalUtils::isContainerClass(const Value& value) { return (rolesOf(value) & kRoleContainer) != 0; }

std::string InternalUtils::className(const Value& value) {
  switch (value.kind()) {
    case Value::Kind::Nil: return "nil";
    case Value::Kind::Null: return "Null";
    case Value::Kind::Number: return "Number";
    case Value::Kind::String: return "String";
    case Value::Kind::Date: return "Date";
    case Value::Kind::Bytes: return "Bytes";
    case Value::Kind::Array: return "Array";
    case Value::Kind::Dictionary: return "Dictionary";
    case Value::Kind::Object: {
      const auto& handle = *value.objectHandle();
      const auto& object = *handle;
      return demangledTypeName(typeid(object));
    }
  }
  return "unknown";
}

}  // namespace backend
