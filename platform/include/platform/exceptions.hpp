#pragma once
// Misuse of an API raises one of these, carrying the platform's standard name
// and the system's fixed message as reason.

#include <stdexcept>
#include <string>

namespace platform {

// Base for exceptions that have a platform name (used by exception reports).
class NamedException : public std::logic_error {
 public:
  NamedException(std::string name, const std::string& reason)
      : std::logic_error(reason), name_(std::move(name)) {}
  const std::string& name() const noexcept { return name_; }
  std::string reason() const { return what(); }

 private:
  std::string name_;
};

// A caller passed a value the operation does not accept.
class InvalidArgumentException : public NamedException {
 public:
  explicit InvalidArgumentException(const std::string& reason)
      : NamedException("NSInvalidArgumentException", reason) {}
};

// An operation was called in a state where it cannot run.
class InternalInconsistencyException : public NamedException {
 public:
  explicit InternalInconsistencyException(const std::string& reason)
      : NamedException("NSInternalInconsistencyException", reason) {}
};

}  // namespace platform
