#pragma once
// A query built from the wire form of its constraints (the "where" of a find
// command, typed values included), through the query's own builders, so
// the command line checks values as programs do.

#include <stdexcept>
#include <string>

#include "backend/query.hpp"
#include "platform/value.hpp"

namespace tools {

// A constraint the builders do not offer, or an operand of the wrong shape.
struct WireQueryError : std::invalid_argument {
  using std::invalid_argument::invalid_argument;
};

// `where` is the decoded constraint dictionary (InternalUtils::decodeObject).
// Raises WireQueryError, and the builders' own InvalidArgumentException.
backend::QueryPtr queryFromWire(const std::string& className, const platform::Value& where);

// Adds the keys of an ordering text ("a,-b": ascending a, then descending b).
void addOrder(backend::Query& query, const std::string& keys);

}  // namespace tools
