#pragma once
// Resolving a link against the URL of the page it is on.

#include <string>
#include <string_view>

namespace platform::ui::detail {

// The absolute URL for `reference` seen from `base` (both as text): absolute
// references are kept (fragment included), relative ones are joined and
// their "." and ".." segments removed. With an unusable base the reference
// is returned unchanged.
std::string resolveURL(std::string_view base, std::string_view reference);

}  // namespace platform::ui::detail
