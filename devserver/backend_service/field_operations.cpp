#include "field_operations.hpp"

#include "access_control.hpp"
#include "backend_error.hpp"

#include <cstdint>

namespace devserver::backend {
namespace {

const Json* currentValue(const StoredObject& object, const std::string& key) {
  auto it = object.fields.find(key);
  return it == object.fields.end() ? nullptr : &*it;
}

Json normalizedObjects(const Json& op, const std::string& name) {
  auto objects = op.find("objects");
  if (objects == op.end() || !objects->is_array()) {
    throw BackendError(code::kIncorrectType, name + " needs an \"objects\" array");
  }
  return normalizeFieldValue(*objects);
}

const Json& arrayOrEmpty(const Json* current, const std::string& name, const Json& empty) {
  if (!current || current->is_null()) return empty;
  if (!current->is_array()) throw BackendError(code::kIncorrectType, name + " needs an array field");
  return *current;
}

Json increment(const Json* current, const Json& op) {
  auto amount = op.find("amount");
  if (amount == op.end() || !amount->is_number()) {
    throw BackendError(code::kIncorrectType, "Increment needs a number \"amount\"");
  }
  if (!current || current->is_null()) return *amount;
  if (!current->is_number()) throw BackendError(code::kIncorrectType, "cannot increment a field that is not a number");
  auto fitsInteger = [](const Json& n) {
    return n.is_number_integer() && (!n.is_number_unsigned() || n.get<std::uint64_t>() <= INT64_MAX);
  };
  std::int64_t sum = 0;
  if (fitsInteger(*current) && fitsInteger(*amount) &&
      !__builtin_add_overflow(current->get<std::int64_t>(), amount->get<std::int64_t>(), &sum)) {
    return sum;
  }
  return current->get<double>() + amount->get<double>();
}

Json addUnique(Json array, const Json& objects) {
  for (const auto& candidate : objects) {
    bool present = false;
    for (auto& element : array) {
      if (sameElement(element, candidate)) {
        element = candidate;
        present = true;
        break;
      }
    }
    if (!present) array.push_back(candidate);
  }
  return array;
}

Json removeAll(const Json& array, const Json& objects) {
  Json out = Json::array();
  for (const auto& element : array) {
    bool listed = false;
    for (const auto& candidate : objects) listed = listed || sameElement(element, candidate);
    if (!listed) out.push_back(element);
  }
  return out;
}

Json changeRelation(ObjectStore& store, StoredObject& object, const std::string& key, const Json& op, bool add) {
  Json objects = normalizedObjects(op, add ? "AddRelation" : "RemoveRelation");
  const Json* current = currentValue(object, key);
  std::string targetClass;
  if (current && hasType(*current, "Relation")) {
    targetClass = current->value("className", "");
  } else if (current && !current->is_null()) {
    throw BackendError(code::kIncorrectType, "field \"" + key + "\" holds a value, not a relation");
  }
  for (const auto& element : objects) {
    auto pointer = asPointer(element);
    if (!pointer) throw BackendError(code::kInvalidPointer, "relation members must be pointers to saved objects");
    if (targetClass.empty()) targetClass = pointer->className;
    if (pointer->className != targetClass) {
      throw BackendError(code::kIncorrectType, "relation \"" + key + "\" holds objects of class " + targetClass +
                                                   ", not " + pointer->className);
    }
    if (add) {
      store.addRelation(object.className, object.objectId, key, pointer->objectId);
    } else {
      store.removeRelation(object.className, object.objectId, key, pointer->objectId);
    }
  }
  if (targetClass.empty()) return current ? *current : Json(nullptr);
  Json relation{{"__type", "Relation"}, {"className", targetClass}};
  object.fields[key] = relation;
  return relation;
}

std::optional<Json> applyOperation(ObjectStore& store, StoredObject& object, const std::string& key, const Json& op) {
  if (!op["__op"].is_string()) throw BackendError(code::kIncorrectType, "\"__op\" must be a string");
  const std::string name = op["__op"].get<std::string>();
  if (key == "ACL" && name != "Delete") throw BackendError(code::kIncorrectType, "ACL can only be set or deleted");
  const Json* current = currentValue(object, key);
  static const Json kEmpty = Json::array();

  if (name == "Delete") {
    if (current && hasType(*current, "Relation")) {
      for (const auto& id : store.relationTargets(object.className, object.objectId, key)) {
        store.removeRelation(object.className, object.objectId, key, id);
      }
    }
    object.fields.erase(key);
    return std::nullopt;
  }
  if (name == "AddRelation" || name == "RemoveRelation") {
    Json result = changeRelation(store, object, key, op, name == "AddRelation");
    if (result.is_null()) return std::nullopt;
    return result;
  }
  if (name == "Batch") {
    auto ops = op.find("ops");
    if (ops == op.end() || !ops->is_array()) throw BackendError(code::kIncorrectType, "Batch needs an \"ops\" array");
    std::optional<Json> result = current ? std::optional<Json>(*current) : std::nullopt;
    for (const auto& inner : *ops) {
      if (!inner.is_object() || !inner.contains("__op")) {
        throw BackendError(code::kIncorrectType, "Batch entries must be field operations");
      }
      result = applyOperation(store, object, key, inner);
    }
    return result;
  }

  Json updated;
  if (name == "Increment") {
    updated = increment(current, op);
  } else if (name == "Add") {
    updated = arrayOrEmpty(current, name, kEmpty);
    for (auto& element : normalizedObjects(op, name)) updated.push_back(std::move(element));
  } else if (name == "AddUnique") {
    updated = addUnique(arrayOrEmpty(current, name, kEmpty), normalizedObjects(op, name));
  } else if (name == "Remove") {
    updated = removeAll(arrayOrEmpty(current, name, kEmpty), normalizedObjects(op, name));
  } else {
    throw BackendError(code::kIncorrectType, "unknown field operation \"" + name + "\"");
  }
  object.fields[key] = updated;
  return updated;
}

}  // namespace

bool sameElement(const Json& a, const Json& b) {
  auto pa = asPointer(a);
  auto pb = asPointer(b);
  if (pa || pb) return pa && pb && pa->className == pb->className && pa->objectId == pb->objectId;
  return a == b;
}

std::optional<Json> applyFieldChange(ObjectStore& store, StoredObject& object, const std::string& key,
                                     const Json& change) {
  if (key != "ACL" && !isValidKeyName(key)) throw BackendError(code::kInvalidKeyName, "invalid field name: " + key);
  if (change.is_object() && change.contains("__op")) return applyOperation(store, object, key, change);
  const Json* current = currentValue(object, key);
  if (current && hasType(*current, "Relation")) {
    throw BackendError(code::kIncorrectType, "field \"" + key + "\" is a relation and cannot be set to a value");
  }
  Json value = key == "ACL" ? normalizeAcl(change) : normalizeFieldValue(change);
  object.fields[key] = value;
  return value;
}

}  // namespace devserver::backend
