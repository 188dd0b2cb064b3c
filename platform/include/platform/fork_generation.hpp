#pragma once
// Tells per-thread state that a forked child must not share with its parent
// (its process and thread ids, a block of random bytes) that it needs renewing.

#include <optional>

namespace platform {

// A number that changes in a forked child and nowhere else; compare it with
// the one seen when the state was made. nullopt when the process could not
// watch for forks: renew every time.
std::optional<unsigned> forkGeneration() noexcept;

}  // namespace platform
