#pragma once
// Helpers shared by the store side and the runner of the offline queue.

#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "backend/net/command_cache.hpp"
#include "platform/error.hpp"

namespace backend::net {

// Wakes the runner out of its wait for a command's network outcome.
struct CommandCache::Wakeup {
  std::mutex mutex;
  std::condition_variable condition;
};

// A "Backend" error with kErrorCommandNotKept and the message (not logged:
// the queue has logged its own line).
platform::Error commandNotKeptError(const std::string& message);
// False for the hidden temporary files of atomic writes.
bool isQueueFileName(const std::filesystem::path& path);
// The directory's entries, names in ascending order (oldest command first).
std::vector<std::filesystem::path> sortedEntries(const std::filesystem::path& directory);

}  // namespace backend::net
