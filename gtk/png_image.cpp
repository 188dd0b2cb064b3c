#include "gtk/png_image.hpp"

#include <gtk/gtk.h>

namespace gtk {

Rgba RgbaImage::at(int x, int y) const {
  if (x < 0 || y < 0 || x >= width || y >= height) return {};
  return pixels[std::size_t(y) * std::size_t(width) + std::size_t(x)];
}

std::optional<RgbaImage> readPng(const std::string& path) {
  GdkTexture* texture = gdk_texture_new_from_filename(path.c_str(), nullptr);
  if (!texture) return std::nullopt;
  RgbaImage image;
  image.width = gdk_texture_get_width(texture);
  image.height = gdk_texture_get_height(texture);
  const std::size_t stride = std::size_t(image.width) * 4;
  std::vector<guchar> data(stride * std::size_t(image.height));
  // Cairo's layout: premultiplied ARGB in native byte order.
  gdk_texture_download(texture, data.data(), stride);
  g_object_unref(texture);
  image.pixels.resize(std::size_t(image.width) * std::size_t(image.height));
  for (std::size_t i = 0; i < image.pixels.size(); ++i) {
    const guint32 argb = *reinterpret_cast<const guint32*>(&data[i * 4]);
    const std::uint8_t alpha = std::uint8_t(argb >> 24);
    auto unpremultiply = [alpha](guint32 channel) {
      return alpha == 0 ? std::uint8_t(0) : std::uint8_t(std::min<guint32>(255, channel * 255 / alpha));
    };
    image.pixels[i] = Rgba{unpremultiply((argb >> 16) & 0xff), unpremultiply((argb >> 8) & 0xff),
                           unpremultiply(argb & 0xff), alpha};
  }
  return image;
}

}  // namespace gtk
