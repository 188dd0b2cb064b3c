#pragma once
// The two JSON readers behind json::parse(): a fast one that only says yes or
// no, and the reference one that also explains a refusal. They must agree on
// every text the fast one accepts (the JSON fuzz target checks this).

#include <optional>
#include <string_view>

#include "platform/result.hpp"
#include "platform/value.hpp"

namespace platform::json::detail {

// simdjson DOM parse converted to a Value. nullopt when simdjson refuses the
// text or it nests deeper than kMaxDepth; the reference parser then decides.
// Integers above the 64-bit ranges are refused here (the reference parser
// reads them as doubles).
std::optional<Value> parseFast(std::string_view text);

// RapidJSON SAX parse with UTF-8 validation, correctly rounded numbers, the
// nesting limit and an Error naming the offset of the first problem.
Result<Value> parseReference(std::string_view text);

}  // namespace platform::json::detail
