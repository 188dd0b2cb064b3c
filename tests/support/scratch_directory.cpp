#include "support/scratch_directory.hpp"

#include <stdlib.h>

#include <cerrno>
#include <fstream>
#include <sstream>
#include <system_error>

namespace test_support {

ScratchDirectory::ScratchDirectory() {
  std::string pattern = (std::filesystem::temp_directory_path() / "vv-test-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) {
    throw std::filesystem::filesystem_error("mkdtemp", std::error_code(errno, std::generic_category()));
  }
  path_ = pattern;
}

ScratchDirectory::~ScratchDirectory() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::filesystem::path ScratchDirectory::file(const std::string& name, const std::string& contents) const {
  const std::filesystem::path path = path_ / name;
  std::ofstream(path, std::ios::binary) << contents;
  return path;
}

std::string fileContents(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream out;
  out << in.rdbuf();
  return out.str();
}

}  // namespace test_support
