#pragma once
// A fresh directory under the system temp dir, removed with everything in
// it when the helper goes.

#include <filesystem>
#include <string>

namespace test_support {

class ScratchDirectory {
 public:
  // Throws std::filesystem::filesystem_error when no directory can be made.
  ScratchDirectory();
  ~ScratchDirectory();
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;

  const std::filesystem::path& path() const noexcept { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }
  // Writes `contents` to the file `name` here and answers its path.
  std::filesystem::path file(const std::string& name, const std::string& contents) const;

 private:
  std::filesystem::path path_;
};

// The whole content of the file at `path` ("" when it cannot be read).
std::string fileContents(const std::filesystem::path& path);

}  // namespace test_support
