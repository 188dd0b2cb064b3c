#pragma once
// Colours, fonts and images of the UI model.

#include <string>
#include <string_view>

#include "platform/ui/geometry.hpp"

namespace platform::ui {

// An RGBA colour, each component 0..1.
struct Color {
  double red = 0;
  double green = 0;
  double blue = 0;
  double alpha = 1;

  static constexpr Color clearColor() { return {0, 0, 0, 0}; }
  static constexpr Color blackColor() { return {0, 0, 0, 1}; }
  static constexpr Color whiteColor() { return {1, 1, 1, 1}; }
  static constexpr Color blueColor() { return {0, 0, 1, 1}; }
  bool operator==(const Color&) const = default;
};

struct Font {
  double pointSize = 17;
  bool bold = false;

  static constexpr Font systemFont(double size) { return {size, false}; }
  static constexpr Font boldSystemFont(double size) { return {size, true}; }
  bool operator==(const Font&) const = default;
};

// How an image's bitmap is drawn: as stored, or turned/mirrored.
enum class ImageOrientation { Up, Down, Left, Right, UpMirrored, DownMirrored, LeftMirrored, RightMirrored };

// An image resource of the application package, by name. A value type: the
// bitmap itself stays with the toolkit, which loads it by name.
class Image {
 public:
  // The null image (no name, zero size).
  Image() = default;
  Image(std::string name, Size pixelSize, double scale = 1.0, ImageOrientation orientation = ImageOrientation::Up);

  // The resource `name` (with its extension, e.g. "menu_white.png") of the
  // main bundle. Its size is read from the PNG or JPEG header of the file; a
  // missing or unreadable file still gives an image with that name and size
  // zero (drawn as nothing), so callers need no special case.
  static Image named(std::string_view name);

  // The same bitmap and scale drawn with another orientation.
  Image withOrientation(ImageOrientation orientation) const;

  bool isNull() const { return name_.empty(); }
  const std::string& name() const { return name_; }
  // Size in points: pixels / scale, width and height swapped for the
  // quarter-turn orientations.
  Size size() const;
  double scale() const { return scale_; }
  ImageOrientation orientation() const { return orientation_; }

  bool operator==(const Image&) const = default;

 private:
  std::string name_;
  Size pixelSize_;
  double scale_ = 1.0;
  ImageOrientation orientation_ = ImageOrientation::Up;
};

}  // namespace platform::ui
