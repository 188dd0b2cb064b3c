// A multipart form built from the input (byte parts, and stream parts whose
// streams may keep or break their promised length), read back through
// bufferPart in pieces of varying size. A form whose streams keep their
// promise serves exactly its compiled bytes; one that breaks it stops at the
// broken part and never serves bytes past the announced length.

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "multipart_request.hpp"

using backend::net::MemoryInputStream;
using backend::net::MultipartRequest;

namespace {

struct Input {
  std::string_view rest;
  std::uint8_t byte() {
    if (rest.empty()) return 0;
    const auto value = static_cast<std::uint8_t>(rest.front());
    rest.remove_prefix(1);
    return value;
  }
  std::string_view bytes(std::size_t count) {
    const auto taken = rest.substr(0, count);
    rest.remove_prefix(taken.size());
    return taken;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Input input{std::string_view(reinterpret_cast<const char*>(data), size)};
  MultipartRequest form;
  std::string expected;
  bool keepsPromise = true;
  const std::string boundary = "\r\n--" + std::string(MultipartRequest::kBoundary);
  for (int parts = input.byte() % 6; parts > 0; --parts) {
    const std::string name(input.bytes(input.byte() % 8));
    const std::uint8_t kind = input.byte();
    const std::size_t length = input.byte() * 37u;
    expected += boundary + "\r\ncontent-disposition: form-data; name=\"" + name + "\"\r\n\r\n";
    if (kind % 2 == 0) {
      const std::string content(input.bytes(length));
      form.appendPartWithName(name, content);
      expected += content;
      continue;
    }
    // A stream of `length` bytes, promised as `length` plus a small skew.
    const std::string content(length, static_cast<char>(kind));
    const std::size_t promised = length + (kind % 5 == 1 ? 3 : 0);
    if (promised != length) keepsPromise = false;
    form.appendPartWithName(name, std::make_shared<MemoryInputStream>(content), promised);
    expected += content + std::string(promised - length, '\0');
  }
  expected += boundary + "--";
  if (form.length() != expected.size()) std::abort();

  std::string served;
  while (served.size() < form.length()) {
    auto part = form.bufferPart(served.size());
    if (!part || part->empty()) break;
    // Once the input is spent, whole pieces: one byte at a time would spend
    // each run on tens of thousands of calls that test nothing new.
    const std::size_t step = input.rest.empty() ? part->size() : 1 + input.byte() * 41u;
    served.append(part->data(), std::min(part->size(), step));
  }
  if (served.size() > form.length()) std::abort();
  if (keepsPromise && served != expected) std::abort();
  if (!keepsPromise && (served.size() >= expected.size() || expected.compare(0, served.size(), served) != 0)) std::abort();
  return 0;
}
