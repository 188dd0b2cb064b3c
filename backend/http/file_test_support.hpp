#pragma once
// Temporary directories and byte patterns for the file-backed request tests.

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace backend::testing {

// A fresh directory, removed with everything in it at the end of the scope.
class TempDir {
 public:
  TempDir()
      : path_(std::filesystem::temp_directory_path() /
              ("vv-http-" + std::to_string(::getpid()) + "-" + std::to_string(counter++))) {
    std::filesystem::create_directories(path_);
  }
  ~TempDir() { std::filesystem::remove_all(path_); }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }
  // Writes `contents` to the file `name` here and returns its path.
  std::string file(const std::string& name, const std::string& contents) const {
    std::ofstream(path_ / name, std::ios::binary) << contents;
    return *this / name;
  }

 private:
  static inline int counter = 0;
  std::filesystem::path path_;
};

inline std::string fileContents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream out;
  out << in.rdbuf();
  return out.str();
}

// `size` bytes covering every byte value, NUL and CR LF included.
inline std::string binaryBytes(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + 7) % 256);
  return bytes;
}

}  // namespace backend::testing
