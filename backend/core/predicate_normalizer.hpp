#pragma once
// Brings a predicate to the shape queries can express: no modifiers, no
// BETWEEN, keys on the left, no NOT, at most one OR of AND-groups, and the
// conditions common to every branch of that OR hoisted out of it. Raises
// InternalInconsistencyException for what cannot be brought there.

#include "backend/predicate.hpp"

namespace backend::detail {

Predicate normalizePredicate(const Predicate& predicate);

}  // namespace backend::detail
