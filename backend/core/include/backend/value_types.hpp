#pragma once
// Makes access lists, geo points, relations and roles known to the rest of
// the client: their typed-value kinds, the object layer's hooks for access
// lists and relations, and the native class of "_Role".

namespace backend {

// Idempotent and thread-safe; the client's configuration calls it.
void registerValueTypes();

}  // namespace backend
