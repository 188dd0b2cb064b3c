#pragma once
// Plane geometry of the UI model, in points: points, sizes, rectangles and
// edge insets. Rectangles follow the usual screen convention (origin at the
// top left, y grows downwards).

#include <cmath>
#include <iosfwd>
#include <limits>

namespace platform::ui {

struct Point {
  double x = 0;
  double y = 0;
  bool operator==(const Point&) const = default;
};

struct Size {
  double width = 0;
  double height = 0;
  bool operator==(const Size&) const = default;
};

struct EdgeInsets {
  double top = 0;
  double left = 0;
  double bottom = 0;
  double right = 0;
  bool operator==(const EdgeInsets&) const = default;
};

struct Rect {
  Point origin;
  Size size;

  constexpr Rect() = default;
  constexpr Rect(Point origin, Size size) : origin(origin), size(size) {}
  constexpr Rect(double x, double y, double width, double height) : origin{x, y}, size{width, height} {}

  // The null rectangle: what an empty intersection gives; its origin is infinite.
  static constexpr Rect null() {
    const double inf = std::numeric_limits<double>::infinity();
    return Rect(inf, inf, 0, 0);
  }
  bool isNull() const { return std::isinf(origin.x) || std::isinf(origin.y); }
  // Zero width or height, or null.
  bool isEmpty() const { return isNull() || size.width <= 0 || size.height <= 0; }

  double x() const { return origin.x; }
  double y() const { return origin.y; }
  double width() const { return size.width; }
  double height() const { return size.height; }
  double minX() const { return size.width < 0 ? origin.x + size.width : origin.x; }
  double maxX() const { return size.width < 0 ? origin.x : origin.x + size.width; }
  double minY() const { return size.height < 0 ? origin.y + size.height : origin.y; }
  double maxY() const { return size.height < 0 ? origin.y : origin.y + size.height; }

  // The rectangle moved by (dx, dy).
  Rect offsetBy(double dx, double dy) const { return Rect(origin.x + dx, origin.y + dy, size.width, size.height); }
  // The overlap of both rectangles; null when they do not meet.
  Rect intersection(const Rect& other) const;
  bool intersects(const Rect& other) const { return !intersection(other).isNull(); }
  bool contains(Point p) const { return p.x >= minX() && p.x < maxX() && p.y >= minY() && p.y < maxY(); }
  // The rectangle shrunk by the insets.
  Rect inset(const EdgeInsets& insets) const;

  bool operator==(const Rect&) const = default;
};

// Readable forms for logs and test failures: "(x, y)", "(w x h)", "(x, y, w, h)".
std::ostream& operator<<(std::ostream& out, const Point& p);
std::ostream& operator<<(std::ostream& out, const Size& s);
std::ostream& operator<<(std::ostream& out, const Rect& r);

}  // namespace platform::ui
