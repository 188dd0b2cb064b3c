#pragma once
// Connects files to the rest of the client: the "File" kind of the typed
// encoding, and the hooks through which saving data objects uploads the
// files they hold first.

namespace backend {

// Registers both; repeated calls change nothing. Called at configuration.
void installFileSupport();

}  // namespace backend
