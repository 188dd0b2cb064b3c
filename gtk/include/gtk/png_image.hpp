#pragma once
// Reading back a PNG the window saved, as plain RGBA pixels (for the GUI
// tests' checks of what each screenshot shows).

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace gtk {

struct Rgba {
  std::uint8_t red = 0;
  std::uint8_t green = 0;
  std::uint8_t blue = 0;
  std::uint8_t alpha = 0;
};

struct RgbaImage {
  int width = 0;
  int height = 0;
  std::vector<Rgba> pixels;  // row by row from the top

  // The pixel at (x, y); a transparent black one outside the image.
  Rgba at(int x, int y) const;
};

// The image in `path`, or nullopt when it cannot be read as an image.
std::optional<RgbaImage> readPng(const std::string& path);

}  // namespace gtk
