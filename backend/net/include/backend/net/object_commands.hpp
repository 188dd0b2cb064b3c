#pragma once
// The commands that carry a data object to and from the backend service.

#include <optional>
#include <string>

#include "backend/net/command.hpp"
#include "backend/object.hpp"

namespace backend::net {

// "create" (no object id yet) or "update" with {"classname", "data": {each
// field of `changes`: its operation, "objectId" when there is one}} in typed
// form: unsaved objects inside operations are written by local id (which
// needs the local-id manager). Raises InternalInconsistencyException "Tried
// to save an object with a new, unsaved child." for an unsaved object outside
// an operation.
CommandPtr constructSaveCommand(const Object& object, const OperationSet& changes,
                                const std::optional<std::string>& sessionToken);
// "get" with {"classname", "data": {"objectId"}}; the object must have an id.
CommandPtr constructRefreshCommand(const Object& object, const std::optional<std::string>& sessionToken);
// "delete" with {"classname", "data": {"objectId" when there is one}};
// nullptr when `skipWhenUnsaved` and the object has no object id.
CommandPtr constructDeleteCommand(const Object& object, bool skipWhenUnsaved,
                                  const std::optional<std::string>& sessionToken);

}  // namespace backend::net
