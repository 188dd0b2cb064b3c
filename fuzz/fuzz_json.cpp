// JSON text -> Value -> JSON -> Value. Whatever parses must write, and the
// written text must parse back to an equal value and write the same again.
// The fast and the reference reader must agree, storage types included.
// Text that does not parse must give an error offset inside the input.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "json_parsers.hpp"
#include "platform/json.hpp"

namespace {

using platform::Value;

// Equality that also demands the same storage types and key order.
bool sameTree(const Value& a, const Value& b) {
  if (a.kind() != b.kind()) return false;
  if (const auto* n = a.number()) {
    return n->typeCode() == b.number()->typeCode() && n->isBoolean() == b.number()->isBoolean() && *n == *b.number();
  }
  if (const auto* items = a.array()) {
    if (items->size() != b.array()->size()) return false;
    for (std::size_t i = 0; i < items->size(); ++i) {
      if (!sameTree((*items)[i], (*b.array())[i])) return false;
    }
    return true;
  }
  if (const auto* dict = a.dictionary()) {
    if (dict->size() != b.dictionary()->size()) return false;
    auto it = b.dictionary()->begin();
    for (const auto& [key, value] : *dict) {
      if (key != it->first || !sameTree(value, it->second)) return false;
      ++it;
    }
    return true;
  }
  return a == b;
}

// RapidJSON refuses a zero with a huge exponent ("0e721") as too big, which
// the fast reader rightly reads as 0: the one refusal the readers may differ on.
bool isZeroWithHugeExponent(std::string_view text, const platform::Error& error) {
  const long long offset = error.userInfo["offset"].longLongValue();
  if (error.message().find("Number too big") == std::string::npos || offset < 0 ||
      static_cast<std::size_t>(offset) >= text.size()) {
    return false;
  }
  std::size_t i = static_cast<std::size_t>(offset);
  if (text[i] == '-') ++i;
  for (; i < text.size() && text[i] != 'e' && text[i] != 'E'; ++i) {
    if (text[i] != '0' && text[i] != '.') return false;
  }
  return i < text.size();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace platform::json;
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  auto reference = detail::parseReference(text);
  auto fast = detail::parseFast(text);
  if (fast && reference.ok() && !sameTree(*fast, reference.value())) std::abort();
  if (fast && !reference.ok() && !isZeroWithHugeExponent(text, reference.error())) std::abort();

  auto first = parse(text);
  if (first.ok() != (fast || reference.ok())) std::abort();
  if (!first.ok()) {
    const long long offset = first.error().userInfo["offset"].longLongValue();
    if (offset < 0 || static_cast<std::size_t>(offset) > size) std::abort();
    return 0;
  }
  const std::string written = write(first.value());
  auto second = parse(written);
  if (!second.ok() || second.value() != first.value()) std::abort();
  if (write(second.value()) != written) std::abort();
  auto sorted = parse(write(first.value(), {.pretty = true, .sortKeys = true}));
  if (!sorted.ok() || sorted.value() != first.value()) std::abort();
  (void)first.value().description();
  return 0;
}
