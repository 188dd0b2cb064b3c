// Stored command text -> Command, and answer text -> command outcome.
// Whatever the bytes, reading either succeeds, fails as a value, or raises
// one of the documented misuse exceptions of the typed decoders; a command
// that was read writes itself out and reads back with the same cache key.

#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "backend/net/command.hpp"
#include "backend/net/command_runners.hpp"
#include "platform/exceptions.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  try {
    if (auto command = backend::net::Command::commandFromJSON(text)) {
      std::string key;
      try {
        key = command->cacheKey();
      } catch (const platform::InvalidArgumentException&) {
        // Parameters without a canonical text (for example typed kinds).
      }
      auto again = backend::net::Command::commandFromJSON(command->json());
      if (!again) std::abort();
      if (!key.empty() && again->cacheKey() != key) std::abort();
    }
  } catch (const std::logic_error&) {
  }
  try {
    auto outcome = backend::net::commandOutcome(std::nullopt, 200, text);
    if (!outcome.isCompleted()) std::abort();
    if (!outcome.error() && !outcome.exception() && outcome.result().resultString != text) std::abort();
  } catch (const std::logic_error&) {
  }
  return 0;
}
