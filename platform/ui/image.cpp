#include <array>
#include <cstdint>
#include <fstream>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "platform/bundle.hpp"
#include "platform/log.hpp"
#include "platform/ui/graphics.hpp"

namespace platform::ui {

namespace {

std::uint32_t bigEndian(const unsigned char* p, int bytes) {
  std::uint32_t value = 0;
  for (int i = 0; i < bytes; ++i) value = (value << 8) | p[i];
  return value;
}

// PNG: the IHDR chunk directly after the signature holds width and height.
std::optional<Size> pngSize(std::istream& in) {
  std::array<unsigned char, 24> head{};
  if (!in.read(reinterpret_cast<char*>(head.data()), head.size())) return std::nullopt;
  static constexpr std::array<unsigned char, 8> signature{0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  if (!std::equal(signature.begin(), signature.end(), head.begin())) return std::nullopt;
  if (std::string(reinterpret_cast<char*>(&head[12]), 4) != "IHDR") return std::nullopt;
  return Size{double(bigEndian(&head[16], 4)), double(bigEndian(&head[20], 4))};
}

// JPEG: walk the segments to the first start-of-frame marker.
std::optional<Size> jpegSize(std::istream& in) {
  unsigned char soi[2];
  if (!in.read(reinterpret_cast<char*>(soi), 2) || soi[0] != 0xFF || soi[1] != 0xD8) return std::nullopt;
  for (int segments = 0; segments < 1000; ++segments) {
    unsigned char marker[2];
    if (!in.read(reinterpret_cast<char*>(marker), 2) || marker[0] != 0xFF) return std::nullopt;
    const unsigned char type = marker[1];
    if (type == 0xFF) {  // fill byte
      in.seekg(-1, std::ios::cur);
      continue;
    }
    if (type == 0xD8 || (type >= 0xD0 && type <= 0xD7) || type == 0x01) continue;
    unsigned char lengthBytes[2];
    if (!in.read(reinterpret_cast<char*>(lengthBytes), 2)) return std::nullopt;
    const std::uint32_t length = bigEndian(lengthBytes, 2);
    if (length < 2) return std::nullopt;
    const bool startOfFrame = type >= 0xC0 && type <= 0xCF && type != 0xC4 && type != 0xC8 && type != 0xCC;
    if (startOfFrame) {
      unsigned char frame[5];
      if (length < 7 || !in.read(reinterpret_cast<char*>(frame), 5)) return std::nullopt;
      return Size{double(bigEndian(&frame[3], 2)), double(bigEndian(&frame[1], 2))};
    }
    in.seekg(length - 2, std::ios::cur);
  }
  return std::nullopt;
}

std::optional<Size> readPixelSize(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  if (auto size = pngSize(in)) return size;
  in.clear();
  in.seekg(0);
  return jpegSize(in);
}

// Once per name: a program without its resources draws empty images, and
// the log says why.
void reportMissing(std::string_view name) {
  static std::mutex mutex;
  static std::set<std::string, std::less<>> reported;
  std::lock_guard lock(mutex);
  if (!reported.insert(std::string(name)).second) return;
  log("Image: no resource named \"" + std::string(name) + "\" in " + Bundle::main().resourcesDirectory().string());
}

}  // namespace

Image::Image(std::string name, Size pixelSize, double scale, ImageOrientation orientation)
    : name_(std::move(name)), pixelSize_(pixelSize), scale_(scale > 0 ? scale : 1), orientation_(orientation) {}

Image Image::named(std::string_view name) {
  if (name.empty()) return Image();
  Size pixels;
  if (const auto path = Bundle::main().pathForResource(name, "")) {
    pixels = readPixelSize(*path).value_or(Size{});
  } else {
    reportMissing(name);
  }
  return Image(std::string(name), pixels);
}

Image Image::withOrientation(ImageOrientation orientation) const {
  return Image(name_, pixelSize_, scale_, orientation);
}

Size Image::size() const {
  Size points{pixelSize_.width / scale_, pixelSize_.height / scale_};
  switch (orientation_) {
    case ImageOrientation::Left:
    case ImageOrientation::Right:
    case ImageOrientation::LeftMirrored:
    case ImageOrientation::RightMirrored:
      return {points.height, points.width};
    default:
      return points;
  }
}

}  // namespace platform::ui
