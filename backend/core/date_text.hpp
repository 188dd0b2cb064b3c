#pragma once
// The precise date text written straight into a buffer, for encoders that
// write text as they go.

#include <cstddef>

#include "platform/date.hpp"

namespace backend::detail {

// Length of the text: "yyyy-MM-ddTHH:mm:ss.SSSZ".
inline constexpr std::size_t kPreciseDateTextLength = 24;

// Writes what InternalUtils::stringFromPreciseDate answers; returns the end.
char* writePreciseDate(platform::Date date, char* out);

}  // namespace backend::detail
