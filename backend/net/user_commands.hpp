#pragma once
// Helpers shared by the user operations.

#include <optional>
#include <string>

#include "backend/net/command.hpp"
#include "backend/user.hpp"

namespace backend::users {

// A user made from a log-in or sign-up answer, or nullptr when the answer
// is not a user (null, or not a dictionary).
UserPtr userFromAnswer(const Value& result);

// The user's save form as a command of `operation`, with "user_password"
// when there is one.
net::CommandPtr userSaveCommand(const std::string& operation, const User& user, const OperationSet& changes,
                                const std::optional<std::string>& password,
                                const std::optional<std::string>& sessionToken);

}  // namespace backend::users
