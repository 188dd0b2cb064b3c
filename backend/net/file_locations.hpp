#pragma once
// Where files keep their bytes: the staging directory for files not yet on
// the server and the cache directory for downloaded and uploaded ones. Every
// name that reaches a path is made safe first, so no file name or URL can
// lead outside these directories.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace backend::file_locations {

// <caches>/Backend/BEFileCache, created when missing.
std::filesystem::path cacheDirectory();
// <private data>/BEFileStaging, created when missing and emptied the first
// time this process asks for it (staged bytes do not outlive a run).
std::filesystem::path stagingDirectory();
// The cache file of a URL: its last path component, made safe; nullopt
// without a URL.
std::optional<std::filesystem::path> cachePathForURL(const std::optional<std::string>& url);
// "<identity>_<name>" in the staging directory.
std::filesystem::path stagingPath(const void* identity, const std::optional<std::string>& name);
// A single path component for `text`: separators, NUL and control bytes
// become "_", "." and ".." are prefixed, an empty text becomes "_", and the
// result is cut to a length every file system takes.
std::string safeFileName(std::string_view text);
// The last path component of a URL's path (without query or fragment).
std::string lastPathComponentOfURL(std::string_view url);

}  // namespace backend::file_locations
