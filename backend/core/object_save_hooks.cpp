#include "backend/internal/object_save_hooks.hpp"

#include <mutex>

namespace backend {
namespace {

struct Installed {
  std::mutex mutex;
  CurrentUserHooks users;
  FileHooks files;
};

Installed& installed() {
  static Installed instance;
  return instance;
}

}  // namespace

void installCurrentUserHooks(CurrentUserHooks hooks) {
  std::lock_guard lock(installed().mutex);
  installed().users = std::move(hooks);
}

void installFileHooks(FileHooks hooks) {
  std::lock_guard lock(installed().mutex);
  installed().files = std::move(hooks);
}

CurrentUserHooks currentUserHooks() {
  std::lock_guard lock(installed().mutex);
  return installed().users;
}

FileHooks fileHooks() {
  std::lock_guard lock(installed().mutex);
  return installed().files;
}

std::optional<std::string> currentSessionToken() {
  auto read = currentUserHooks().sessionToken;
  return read ? read() : std::nullopt;
}

std::optional<std::string> SessionTokenSlot::get() const {
  std::lock_guard lock(mutex_);
  return token_;
}

void SessionTokenSlot::renew() {
  auto token = currentSessionToken();
  std::lock_guard lock(mutex_);
  token_ = std::move(token);
}

}  // namespace backend
