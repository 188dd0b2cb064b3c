#pragma once
// Internals of the typed encoder shared with the snapshot code.

#include <vector>

#include "backend/internal/internal_utils.hpp"
#include "backend/internal/typed_kind.hpp"

namespace backend::detail {

// How a data object is written.
enum class UnsavedForm {
  LocalId,   // its local id, created on first use (wire and disk forms)
  Identity,  // every data object by its identity, id or not (snapshots)
};

Value encodeValue(const Value& value, UnsavedChildren unsaved, DataObjects objects, UnsavedForm form);
// The JSON text of encodeValue's answer, written in one pass without
// building the encoded tree.
std::string encodeValueToJSON(const Value& value, UnsavedChildren unsaved, DataObjects objects, UnsavedForm form);

// {"__type": "Pointer", "className": ..., "objectId": ...}
Value pointerForm(const std::string& className, const std::string& objectId);

// The kinds the registry starts with: "Date", "Bytes", "Pointer", "Object".
std::vector<TypedKind> builtinTypedKinds();

}  // namespace backend::detail
