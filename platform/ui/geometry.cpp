#include "platform/ui/geometry.hpp"

#include <algorithm>
#include <ostream>

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

std::ostream& operator<<(std::ostream& out, const Point& p) { return out << "(" << p.x << ", " << p.y << ")"; }

std::ostream& operator<<(std::ostream& out, const Size& s) { return out << "(" << s.width << " x " << s.height << ")"; }

std::ostream& operator<<(std::ostream& out, const Rect& r) {
  if (r.isNull()) return out << "(null)";
  return out << "(" << r.x() << ", " << r.y() << ", " << r.width() << ", " << r.height() << ")";
}

}  // namespace platform::ui
