// Push gateway stream bytes -> events -> payloads. The stream is read twice,
// whole and split at a point the input chooses; both reads must yield the
// same events, no event may exceed the cap, and every payload that parses
// must be a dictionary.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "event_stream.hpp"

namespace {

constexpr std::size_t kCap = 4096;

std::vector<platform::detail::StreamEvent> read(std::string_view first, std::string_view second) {
  platform::detail::EventStreamParser parser(kCap);
  std::vector<platform::detail::StreamEvent> events;
  const auto keep = [&](platform::detail::StreamEvent&& event) { events.push_back(std::move(event)); };
  parser.feed(first, keep);
  parser.feed(second, keep);
  return events;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view stream(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::size_t cut = data[0] % (stream.size() + 1);
  const auto whole = read(stream, {});
  const auto split = read(stream.substr(0, cut), stream.substr(cut));
  if (whole.size() != split.size()) std::abort();
  for (std::size_t i = 0; i < whole.size(); ++i) {
    if (whole[i].type != split[i].type || whole[i].data != split[i].data || whole[i].id != split[i].id) std::abort();
    if (whole[i].data.size() > kCap) std::abort();
    const auto payload = platform::detail::parsePushPayload(whole[i].data);
    if (payload && !payload.value().isDictionary()) std::abort();
  }
  return 0;
}
