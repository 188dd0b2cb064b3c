#pragma once

namespace platform {

// Opens libcurl and runs its one-time set-up (and the TLS library's under it)
// for the whole process; true when libcurl is usable. The first call does the
// work and concurrent callers wait for it; every user of libcurl calls it
// first, and a program may call it early on a thread of its own (one that
// lives as long as the process, so the TLS library keeps its per-thread state)
// to have the library ready when it is first needed.
bool ensureCurlSetUp();

}  // namespace platform
