#pragma once
// Connects data objects to the command layer (see backend/object_transport.hpp).

namespace backend::net {

// Installs the command-based ObjectTransport; run at every configuration.
void installObjectTransport();

}  // namespace backend::net
