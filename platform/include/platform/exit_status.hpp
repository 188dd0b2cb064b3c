#pragma once
// The exit statuses every client-side program answers with.

namespace platform::exit_status {

inline constexpr int kSuccess = 0;
// The work was tried and failed (an error, an unreachable service).
inline constexpr int kFailure = 1;
// The command line was wrong: an unknown option, a missing or bad argument.
inline constexpr int kMisuse = 2;
// Accepted into the offline queue but not yet sent; a later run sends it.
inline constexpr int kStillQueued = 3;

}  // namespace platform::exit_status
