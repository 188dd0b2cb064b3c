#pragma once
// What saving data objects needs of user accounts and of files. Both arrive
// later and install their parts here; until then there is no session token,
// no current user (so no lazy user and no access list waiting for one), and
// no value counts as a file still to upload.

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "backend/internal/object_hooks.hpp"
#include "backend/object.hpp"
#include "backend/task.hpp"

namespace backend {

struct CurrentUserHooks {
  // The current user's session token, read when an operation starts.
  std::function<std::optional<std::string>()> sessionToken;
  // The current user, or nullptr.
  std::function<ObjectPtr()> currentUser;
  // True for a user that exists only locally and is created by its first save.
  std::function<bool(const ObjectPtr& user)> isLazy;
  // That user's own save (it signs the user up); answers true on success.
  std::function<Task<bool>(const ObjectPtr& user)> saveLazyUser;
  // True when an access list names a user that is not signed up yet.
  std::function<bool(const AccessListBase& acl)> hasUnresolvedUser;
};

struct FileHooks {
  // True for a file value that has not been uploaded yet.
  std::function<bool(const Value& value)> isUnsavedFile;
  // Uploads such a file.
  std::function<Task<void>(const Value& file)> saveFile;
};

// Install (or, with empty hooks, remove) the implementations. Thread-safe.
void installCurrentUserHooks(CurrentUserHooks hooks);
void installFileHooks(FileHooks hooks);
// Copies of the installed hooks (members empty when not installed).
CurrentUserHooks currentUserHooks();
FileHooks fileHooks();

// The current session token, or nullopt (always, until users are installed).
std::optional<std::string> currentSessionToken();

// The session token one operation sends: read when the operation starts, and
// read again once the lazy current user it signs up has a session, so that
// what is saved after that user goes with its session.
class SessionTokenSlot {
 public:
  explicit SessionTokenSlot(std::optional<std::string> token) : token_(std::move(token)) {}
  std::optional<std::string> get() const;
  void renew();

 private:
  mutable std::mutex mutex_;
  std::optional<std::string> token_;
};
using SharedSessionToken = std::shared_ptr<SessionTokenSlot>;

}  // namespace backend
