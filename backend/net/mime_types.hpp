#pragma once
// The MIME type of a file name, from its extension.

#include <optional>
#include <string>
#include <string_view>

namespace backend {

// The preferred type for the name's extension (case ignored);
// "application/octet-stream" for no name, no extension or an unknown one.
std::string mimeTypeForFileName(const std::optional<std::string>& name);

}  // namespace backend
