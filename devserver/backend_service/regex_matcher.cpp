#include "regex_matcher.hpp"

#include "backend_error.hpp"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

namespace devserver::backend {
namespace {

constexpr uint32_t kMatchLimit = 200000;
constexpr uint32_t kDepthLimit = 5000;
constexpr uint32_t kHeapLimitKiB = 16 * 1024;

}  // namespace

struct RegexMatcher::Compiled {
  pcre2_code* code = nullptr;
  pcre2_match_context* context = nullptr;
  ~Compiled() {
    pcre2_match_context_free(context);
    pcre2_code_free(code);
  }
};

RegexMatcher::RegexMatcher(std::string_view pattern, std::string_view options) : compiled_(new Compiled) {
  uint32_t flags = PCRE2_UTF | PCRE2_MATCH_INVALID_UTF;
  for (char option : options) {
    switch (option) {
      case 'i': flags |= PCRE2_CASELESS; break;
      case 'm': flags |= PCRE2_MULTILINE; break;
      case 'x': flags |= PCRE2_EXTENDED; break;
      case 's': flags |= PCRE2_DOTALL; break;
      default: throw BackendError(code::kInvalidQuery, std::string("unknown $options letter '") + option + "'");
    }
  }
  int error = 0;
  PCRE2_SIZE offset = 0;
  compiled_->code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(), flags, &error,
                                  &offset, nullptr);
  if (!compiled_->code) {
    PCRE2_UCHAR message[256];
    pcre2_get_error_message(error, message, sizeof message);
    throw BackendError(code::kInvalidQuery, "invalid $regex at offset " + std::to_string(offset) + ": " +
                                                reinterpret_cast<const char*>(message));
  }
  compiled_->context = pcre2_match_context_create(nullptr);
  pcre2_set_match_limit(compiled_->context, kMatchLimit);
  pcre2_set_depth_limit(compiled_->context, kDepthLimit);
  // Backtracking frames live on the heap; without a limit one search could
  // take as much memory as the pattern asks for.
  pcre2_set_heap_limit(compiled_->context, kHeapLimitKiB);
}

RegexMatcher::~RegexMatcher() = default;
RegexMatcher::RegexMatcher(RegexMatcher&&) noexcept = default;

bool RegexMatcher::search(std::string_view subject) const {
  pcre2_match_data* data = pcre2_match_data_create_from_pattern(compiled_->code, nullptr);
  int rc = pcre2_match(compiled_->code, reinterpret_cast<PCRE2_SPTR>(subject.data()), subject.size(), 0, 0, data,
                       compiled_->context);
  pcre2_match_data_free(data);
  if (rc >= 0) return true;
  if (rc == PCRE2_ERROR_NOMATCH) return false;
  throw BackendError(code::kInvalidQuery, "$regex is too expensive to evaluate");
}

}  // namespace devserver::backend
