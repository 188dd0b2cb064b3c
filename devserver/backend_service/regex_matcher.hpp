#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace devserver::backend {

// A compiled pattern with the query options "i", "m", "x" and "s"; "\Q…\E"
// quoting is understood. Matching is bounded so a hostile pattern cannot
// stall the service.
class RegexMatcher {
 public:
  // Throws BackendError(102) for a pattern that does not compile or an
  // unknown option letter.
  RegexMatcher(std::string_view pattern, std::string_view options);
  ~RegexMatcher();
  RegexMatcher(RegexMatcher&&) noexcept;
  RegexMatcher& operator=(RegexMatcher&&) = delete;

  // True when the pattern matches somewhere in `subject`. Throws
  // BackendError(102) when matching exceeds its limits.
  bool search(std::string_view subject) const;

 private:
  struct Compiled;
  std::unique_ptr<Compiled> compiled_;
};

}  // namespace devserver::backend
