#pragma once
// Switches the whole process to a locale (LC_ALL) while it lives, then back
// to "C". Header-only.

#include <clocale>

namespace test_support {

class ScopedLocale {
 public:
  explicit ScopedLocale(const char* name) : active_(std::setlocale(LC_ALL, name) != nullptr) {}
  ~ScopedLocale() { std::setlocale(LC_ALL, "C"); }
  ScopedLocale(const ScopedLocale&) = delete;
  ScopedLocale& operator=(const ScopedLocale&) = delete;

  // False when the locale is not installed (nothing changed then).
  bool active() const { return active_; }

 private:
  bool active_;
};

}  // namespace test_support
