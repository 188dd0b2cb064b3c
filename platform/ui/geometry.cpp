#include "platform/ui/geometry.hpp"

#include <algorithm>

namespace platform::ui {

Rect Rect::intersection(const Rect& other) const {
  if (isNull() || other.isNull()) return null();
  const double left = std::max(minX(), other.minX());
  const double right = std::min(maxX(), other.maxX());
  const double top = std::max(minY(), other.minY());
  const double bottom = std::min(maxY(), other.maxY());
  // Touching edges still meet (a zero-size overlap), as the platform counts it.
  if (right < left || bottom < top) return null();
  return Rect(left, top, right - left, bottom - top);
}

Rect Rect::inset(const EdgeInsets& insets) const {
  return Rect(origin.x + insets.left, origin.y + insets.top, size.width - insets.left - insets.right,
              size.height - insets.top - insets.bottom);
}

}  // namespace platform::ui
