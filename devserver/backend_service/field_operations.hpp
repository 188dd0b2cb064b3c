#pragma once

#include "object_store.hpp"

#include <optional>
#include <string>

namespace devserver::backend {

// Two values are the same element: pointers (and embedded objects) by class
// and id, everything else by JSON equality.
bool sameElement(const Json& a, const Json& b);

// Applies one entry of a save's "data" to `object`: a plain or typed value
// is set, an {"__op": ...} object ("Delete", "Increment", "Add",
// "AddUnique", "Remove", "AddRelation", "RemoveRelation", "Batch") changes
// the field. Relation members are written to `store`, so `object` must
// already carry its object id. Returns the field's value after the change,
// or nothing when the field is gone. Throws BackendError (105 bad key, 111
// wrong types, 106 bad pointers).
std::optional<Json> applyFieldChange(ObjectStore& store, StoredObject& object, const std::string& key,
                                     const Json& change);

}  // namespace devserver::backend
