#pragma once
// The stored form of a parameter map: "ANP1", then per entry a tag byte
// ('S' string, 'N' null marker), the key length as a LEB128 varint, the key,
// and for strings the value length and the value. Other value kinds are not
// stored (they never go on the wire).

#include <optional>
#include <string>
#include <string_view>

#include "platform/value.hpp"

namespace analytics {

std::string encodeParameterArchive(const platform::Dictionary& parameters);
// nullopt for anything that is not a well-formed archive (no partial maps).
std::optional<platform::Dictionary> decodeParameterArchive(std::string_view bytes);

}  // namespace analytics
