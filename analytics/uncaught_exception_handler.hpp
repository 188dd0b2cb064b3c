#pragma once
// Turns an uncaught C++ exception into a fatal exception hit before the
// process ends.

namespace analytics {
class Analytics;
}

namespace analytics::detail {

// Installs the terminate handler reporting through `owner` (remembering the
// handler it replaces), unless it is installed already.
void installUncaughtExceptionHandler(Analytics* owner);
// Puts the previous handler back if ours is the current one, and forgets `owner`.
void removeUncaughtExceptionHandler(Analytics* owner);

}  // namespace analytics::detail
