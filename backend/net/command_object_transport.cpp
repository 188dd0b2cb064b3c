#include "command_object_transport.hpp"

#include <memory>

#include "backend/internal/object_transport.hpp"
#include "backend/net/command_cache.hpp"
#include "backend/net/command_runners.hpp"
#include "backend/net/object_commands.hpp"
#include "backend/user.hpp"

namespace backend::net {
namespace {

Task<Value> resultOf(const Task<CommandResult>& run) {
  return run.onSuccess([](const Task<CommandResult>& done) { return done.result().result; });
}

class CommandObjectTransport final : public ObjectTransport {
 public:
  Task<Value> save(const ObjectPtr& object, const OperationSet& changes, const SessionToken& token,
                   Delivery delivery) override {
    auto command = constructSaveCommand(*object, changes, token);
    // A user's new password goes with an immediate save only: the offline
    // queue keeps its commands on disk, where a password must never be.
    if (auto* user = dynamic_cast<const User*>(object.get()); user && delivery == Delivery::Now) {
      if (auto password = user->password()) command->params().set("user_password", *password);
    }
    return send(command, object, delivery);
  }

  Task<Value> refresh(const ObjectPtr& object, const SessionToken& token) override {
    return resultOf(RetryingCommandRunner::runCommandAsync(constructRefreshCommand(*object, token)));
  }

  Task<Value> remove(const ObjectPtr& object, const SessionToken& token, Delivery delivery) override {
    auto command = constructDeleteCommand(*object, delivery == Delivery::Now, token);
    if (!command) return Task<Value>::taskWithResult(Value());
    return send(command, object, delivery);
  }

  Task<Value> saveBatch(const std::vector<std::pair<ObjectPtr, OperationSet>>& saves,
                        const SessionToken& token) override {
    std::vector<CommandPtr> commands;
    commands.reserve(saves.size());
    for (const auto& [object, changes] : saves) commands.push_back(constructSaveCommand(*object, changes, token));
    return resultOf(NetworkCommandRunner::runCommandAsync(MultiCommand::multiCommandWithCommands(commands, token)));
  }

  Task<Value> deleteBatch(const std::vector<ObjectPtr>& objects, const SessionToken& token) override {
    std::vector<CommandPtr> commands;
    for (const auto& object : objects) {
      if (auto command = constructDeleteCommand(*object, true, token)) commands.push_back(std::move(command));
    }
    if (commands.empty()) return Task<Value>::taskWithResult(Value());
    return resultOf(NetworkCommandRunner::runCommandAsync(MultiCommand::multiCommandWithCommands(commands, token)));
  }

 private:
  static Task<Value> send(const CommandPtr& command, const ObjectPtr& object, Delivery delivery) {
    if (delivery == Delivery::Eventually)
      return resultOf(CommandCache::defaultInstance().runEventuallyAsync(command, object));
    return resultOf(RetryingCommandRunner::runCommandAsync(command));
  }
};

}  // namespace

void installObjectTransport() { setObjectTransport(std::make_shared<CommandObjectTransport>()); }

}  // namespace backend::net
