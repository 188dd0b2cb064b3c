#pragma once
// Connects queries to the command layer (see backend/query_transport.hpp).

namespace backend::net {

// Installs the command-based QueryTransport; run at every configuration.
void installQueryTransport();

}  // namespace backend::net
