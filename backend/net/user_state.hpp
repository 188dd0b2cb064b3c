#pragma once
// The process-wide state behind User's class operations.

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "backend/user.hpp"

namespace backend::users {

inline constexpr const char* kDataFileName = "currentUser";

struct State {
  // The class-wide current-user lock; recursive because saving a current
  // user logs out the previous one under it.
  std::recursive_mutex mutex;
  UserPtr current;
  bool fileRead = false;
  bool automaticUser = false;
  bool creatingLazyUser = false;
  // A copy of `current` for readers that must not take the class-wide lock
  // (they may hold an object's lock).
  std::mutex heldMutex;
  UserPtr held;
  std::mutex providersMutex;
  std::map<std::string, std::shared_ptr<AuthenticationProvider>> providers;
};

State& state();
// Makes the user (or none) the held current user, flags included. Under
// state().mutex.
void hold(const UserPtr& user);
// The held current user, without the class-wide lock and without reading the file.
UserPtr held();
// The registered provider of the type, or nullptr.
std::shared_ptr<AuthenticationProvider> provider(const std::string& authType);
// Fresh credentials from the provider registered for authType. Raises
// InvalidArgumentException when none is registered.
Task<Value> authenticate(const std::string& authType);

}  // namespace backend::users
