#pragma once
// Standard base64 (RFC 4648 alphabet, "=" padding, no line breaks).

#include <optional>
#include <string>
#include <string_view>

#include "platform/value.hpp"

namespace backend::detail {

std::string base64Encode(const platform::Bytes& bytes);
// nullopt unless the text is canonical padded base64 (length a multiple of
// four, alphabet characters only, "=" only at the end).
std::optional<platform::Bytes> base64Decode(std::string_view text);

}  // namespace backend::detail
