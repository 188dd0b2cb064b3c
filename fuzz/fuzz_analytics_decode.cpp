// Untrusted bytes the analytics client decodes: stored parameter archives
// (from disk), percent-encoded queries and campaign URLs, compressed bodies,
// call-stack lines. Checks that nothing crashes and that the codecs round-trip.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "analytics/dictionary_builder.hpp"
#include "compression_util.hpp"
#include "exception_parser.hpp"
#include "hit_util.hpp"
#include "parameter_archive.hpp"
#include "string_util.hpp"

using analytics::StringUtil;

namespace {

void checkArchive(std::string_view bytes) {
  auto decoded = analytics::decodeParameterArchive(bytes);
  if (!decoded) return;
  auto again = analytics::decodeParameterArchive(analytics::encodeParameterArchive(*decoded));
  if (!again || !(*again == *decoded)) std::abort();
}

void checkPercent(std::string_view text) {
  if (auto decoded = StringUtil::percentDecode(text)) {
    auto round = StringUtil::percentDecode(StringUtil::percentEncode(*decoded));
    if (!round || *round != *decoded) std::abort();
  }
  StringUtil::decodeParametersFromQuery(text);
  StringUtil::decodeParametersFromUrl(text);
  analytics::DictionaryBuilder().setCampaignParametersFromUrl(text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  switch (data[0] % 4) {
    case 0: checkArchive(rest); break;
    case 1: checkPercent(rest); break;
    case 2: analytics::CompressionUtil::inflate(rest, data[0] & 4, 1 << 20); break;
    default:
      analytics::ExceptionParser::symbolFromStackFrame(rest);
      analytics::HitUtil::gaHash(rest);
      break;
  }
  return 0;
}
