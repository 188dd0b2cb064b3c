#pragma once
// Tells the process when it uses too much memory: samples the resident size
// now and then and posts the memory-warning notification each time it rises
// above a limit, so caches give their memory back.

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>

namespace platform {

// The process's resident size in bytes (0 when it cannot be read).
std::size_t residentBytes();

class MemoryWatch {
 public:
  using Sampler = std::function<std::size_t()>;
  static constexpr std::size_t kDefaultLimitBytes = std::size_t{512} << 20;
  static constexpr std::chrono::seconds kDefaultInterval{5};

  // Starts sampling every `interval` on the process clock.
  explicit MemoryWatch(std::size_t limitBytes = kDefaultLimitBytes,
                       std::chrono::steady_clock::duration interval = kDefaultInterval, Sampler sample = residentBytes);
  ~MemoryWatch();
  MemoryWatch(const MemoryWatch&) = delete;
  MemoryWatch& operator=(const MemoryWatch&) = delete;

  // Takes one sample now; true when it posted the warning (a rise above the
  // limit; staying above posts nothing more until it has fallen below).
  bool check();

 private:
  struct State;
  std::shared_ptr<State> state_;
};

}  // namespace platform
