#include "mime_types.hpp"

#include <algorithm>
#include <array>
#include <utility>

namespace backend {
namespace {

// The types an app's files commonly have; sorted by extension.
constexpr std::array<std::pair<std::string_view, std::string_view>, 36> kTypes = {{
    {"aac", "audio/aac"},
    {"avi", "video/x-msvideo"},
    {"bmp", "image/bmp"},
    {"css", "text/css"},
    {"csv", "text/csv"},
    {"doc", "application/msword"},
    {"docx", "application/vnd.openxmlformats-officedocument.wordprocessingml.document"},
    {"gif", "image/gif"},
    {"gz", "application/gzip"},
    {"heic", "image/heic"},
    {"htm", "text/html"},
    {"html", "text/html"},
    {"ico", "image/vnd.microsoft.icon"},
    {"jpeg", "image/jpeg"},
    {"jpg", "image/jpeg"},
    {"js", "text/javascript"},
    {"json", "application/json"},
    {"m4a", "audio/mp4"},
    {"mov", "video/quicktime"},
    {"mp3", "audio/mpeg"},
    {"mp4", "video/mp4"},
    {"ogg", "audio/ogg"},
    {"pdf", "application/pdf"},
    {"png", "image/png"},
    {"rtf", "application/rtf"},
    {"svg", "image/svg+xml"},
    {"tif", "image/tiff"},
    {"tiff", "image/tiff"},
    {"txt", "text/plain"},
    {"wav", "audio/wav"},
    {"webm", "video/webm"},
    {"webp", "image/webp"},
    {"xls", "application/vnd.ms-excel"},
    {"xlsx", "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet"},
    {"xml", "application/xml"},
    {"zip", "application/zip"},
}};

}  // namespace

std::string mimeTypeForFileName(const std::optional<std::string>& name) {
  constexpr std::string_view kDefault = "application/octet-stream";
  if (!name) return std::string(kDefault);
  const auto dot = name->rfind('.');
  if (dot == std::string::npos || dot + 1 == name->size()) return std::string(kDefault);
  std::string extension = name->substr(dot + 1);
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  auto found = std::lower_bound(kTypes.begin(), kTypes.end(), extension,
                                [](const auto& entry, const std::string& key) { return entry.first < key; });
  if (found == kTypes.end() || found->first != extension) return std::string(kDefault);
  return std::string(found->second);
}

}  // namespace backend
