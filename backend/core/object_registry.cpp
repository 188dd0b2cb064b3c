// The registry of native subclasses by backend class name.

#include <cxxabi.h>

#include <cstdlib>

#include "backend/object_subclass.hpp"

namespace backend {

std::string demangledTypeName(const std::type_info& type) {
  int status = 0;
  char* demangled = abi::__cxa_demangle(type.name(), nullptr, nullptr, &status);
  std::string name = status == 0 && demangled ? demangled : type.name();
  std::free(demangled);
  return name;
}

SubclassRegistry& SubclassRegistry::shared() {
  static SubclassRegistry registry;
  return registry;
}

void SubclassRegistry::registerEntry(Entry entry) {
  const std::string name = entry.declaredClassName();
  std::lock_guard lock(mutex_);
  // Every class ever registered counts here, also one that a subclass has
  // since replaced under its name.
  for (const auto& other : known_) {
    const std::string otherName = other.declaredClassName();
    if (otherName == name) continue;
    if (other.isInstance(*entry.probe)) {
      throw platform::InternalInconsistencyException("Subclasses of subclasses may not have separate +backendClassName "
                                                     "definitions. " + entry.typeName +
                                                     " should inherit +backendClassName from " + other.typeName + ".");
    }
    if (entry.isInstance(*other.probe)) {
      throw platform::InternalInconsistencyException("Subclasses of subclasses may not have separate +backendClassName "
                                                     "definitions. " + other.typeName +
                                                     " should inherit +backendClassName from " + entry.typeName + ".");
    }
  }
  auto existing = entries_.find(name);
  if (existing != entries_.end() && existing->second.typeName != entry.typeName &&
      !entry.isInstance(*existing->second.probe) && !existing->second.isInstance(*entry.probe)) {
    throw platform::InternalInconsistencyException("Tried to register both " + existing->second.typeName + " and " +
                                                   entry.typeName + " as the native BEObject subclass of " + name +
                                                   ". Cannot determine the right class to use because neither "
                                                   "inherits from the other.");
  }
  std::erase_if(known_, [&](const Entry& other) { return other.typeName == entry.typeName; });
  known_.push_back(entry);
  // The more derived class wins the name.
  if (existing == entries_.end() || existing->second.typeName == entry.typeName ||
      existing->second.isInstance(*entry.probe)) {
    entries_.insert_or_assign(name, std::move(entry));
  }
}

void SubclassRegistry::unregisterEntry(const std::string& className, const std::string& typeName) {
  std::lock_guard lock(mutex_);
  std::erase_if(known_, [&](const Entry& other) { return other.typeName == typeName; });
  if (auto it = entries_.find(className); it != entries_.end() && it->second.typeName == typeName) entries_.erase(it);
}

std::optional<SubclassRegistry::Entry> SubclassRegistry::entryFor(std::string_view className) const {
  std::lock_guard lock(mutex_);
  auto it = entries_.find(className);
  if (it == entries_.end()) return std::nullopt;
  return it->second;
}

}  // namespace backend
