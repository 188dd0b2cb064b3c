#pragma once

namespace devserver {

// Ends reading on every connection this process accepted on `port`: the
// server's workers then see the end of a kept-alive connection at once
// instead of waiting out its idle time, so a stop is prompt. Answers being
// written still go out.
void endReadingOnAcceptedConnections(int port);

}  // namespace devserver
