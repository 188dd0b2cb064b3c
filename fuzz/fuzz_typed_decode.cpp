// JSON text -> Value -> typed decode -> typed encode -> JSON. Whatever the
// bytes, decoding either succeeds or raises one of the documented misuse
// exceptions (a mistyped value of a registered kind, a reserved class name);
// a decoded value encodes and writes again. "__op" dictionaries also go
// through the field-operation decoders.

#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "backend/field_operation.hpp"
#include "backend/internal/internal_utils.hpp"
#include "platform/exceptions.hpp"
#include "platform/json.hpp"

namespace {

using backend::InternalUtils;
using platform::Value;

void exercise(const Value& parsed) {
  Value decoded = InternalUtils::decodeObject(parsed);
  Value typed;
  try {
    typed = InternalUtils::encodeObject(decoded, backend::UnsavedChildren::Allow, backend::DataObjects::Allow);
  } catch (const platform::InternalInconsistencyException&) {
    return;  // an unsaved object without a local-id manager to name it
  }
  std::string written;
  try {
    written = InternalUtils::serializeToJSON(typed);
  } catch (const platform::InvalidArgumentException&) {
    std::abort();  // every decoded value has a typed JSON form
  }
  if (!platform::json::parse(written).ok()) std::abort();
  if (const auto* dictionary = parsed.dictionary(); dictionary && dictionary->contains("__op")) {
    auto operation = backend::FieldOperation::decode(*dictionary);
    if (operation) (void)operation->description();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool registered = (backend::FieldOperation::registerDefaultDecoders(), true);
  (void)registered;
  auto parsed = platform::json::parse(std::string_view(reinterpret_cast<const char*>(data), size));
  if (!parsed.ok()) return 0;
  try {
    exercise(parsed.value());
  } catch (const platform::NamedException&) {
    // Documented refusals of malformed input.
  }
  return 0;
}
