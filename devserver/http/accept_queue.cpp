#include "accept_queue.hpp"

#include <sys/socket.h>

namespace devserver {

bool widenAcceptQueue(int listeningSocket) { return ::listen(listeningSocket, SOMAXCONN) == 0; }

}  // namespace devserver
