#pragma once

namespace devserver {

// The HTTP library listens with a short accept queue. A burst of new
// connections overflows it, the kernel drops their SYNs, and each client
// waits a second or more before it tries again. Listening again on the
// bound socket widens the queue to the system's limit; false when the
// socket refuses.
bool widenAcceptQueue(int listeningSocket);

}  // namespace devserver
