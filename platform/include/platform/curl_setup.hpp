#pragma once

namespace platform {

// libcurl's one-time set-up (and the TLS library's under it) for the whole
// process. Programs call it first thing in main, before any thread starts:
// set up on a worker thread that later exits, the TLS library's per-thread
// state is lost with the thread. Every user of libcurl calls it too, so the
// set-up runs exactly once whichever comes first. True when libcurl is usable.
bool ensureCurlSetUp();

}  // namespace platform
