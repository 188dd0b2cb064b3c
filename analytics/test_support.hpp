#pragma once
// Shared helpers of the analytics tests: a fresh directory per test and a
// thread of its own for the store and the dispatcher.

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>

#include "platform/event_loop_thread.hpp"

namespace analytics::testing {

class TemporaryDirectory {
 public:
  TemporaryDirectory() {
    std::random_device random;
    path_ = std::filesystem::temp_directory_path() / ("analytics-test-" + std::to_string(random()) + std::to_string(random()));
    std::filesystem::create_directories(path_);
  }
  ~TemporaryDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace analytics::testing
