#pragma once
// A command: one server operation and its parameters. The unit of the wire
// protocol, of the runners, of the offline queue and of cached answers.
// Not locked: one runner uses a command at a time.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "backend/object.hpp"
#include "platform/value.hpp"

namespace backend::net {

class Command;
using CommandPtr = std::shared_ptr<Command>;

// Called with a local id when a stored command starts or stops referring to
// it; the offline queue installs these (until then nothing is counted).
struct LocalIdDiskReferenceHooks {
  std::function<void(const std::string& localId)> retain;
  std::function<void(const std::string& localId)> release;
};
void installLocalIdDiskReferenceHooks(LocalIdDiskReferenceHooks hooks);

class Command : public platform::SharedObject {
 public:
  // `params` must be a dictionary or nil; the command keeps a copy, adds a
  // fresh "uuid" and, when a token is given and the parameters lack one,
  // "session_token".
  static CommandPtr commandWithServerOperation(std::string operation, const platform::Value& params,
                                               std::optional<std::string> sessionToken);
  Command(std::string operation, const platform::Value& params, std::optional<std::string> sessionToken);

  // The command stored by json(), with a fresh "uuid"; nullptr when the text
  // is not such a command (not JSON, no "operation" string, params not a
  // dictionary). May raise the typed decoder's exceptions for malformed
  // typed values.
  static CommandPtr commandFromJSON(std::string_view json);
  // {"operation", "params"[, "localId"]} in typed JSON, unsaved objects by
  // local id.
  std::string json() const;

  // "BECommand.2.<operation>.2.<md5 of the canonical parameters without
  // uuid>", computed on first call and kept. Raises InvalidArgumentException
  // "Generated cache key for BECommand must not be nil." when the parameters
  // have no canonical text.
  const std::string& cacheKey();

  platform::Dictionary& params() const { return *params_.dictionary(); }
  const platform::Value& paramsValue() const noexcept { return params_; }
  const std::string& serverOperation() const noexcept { return operation_; }
  void setServerOperation(std::string operation) { operation_ = std::move(operation); }
  const std::optional<std::string>& localId() const noexcept { return localId_; }
  void setLocalId(std::optional<std::string> localId) { localId_ = std::move(localId); }

  std::string description() const override;

  // Calls `block` for every data object without an object id in the value
  // graph (not inside such objects; through dictionaries, arrays and add /
  // add-unique / remove operations). True when any call answered true.
  static bool forEachLocalIdIn(const platform::Value& value, const std::function<bool(const ObjectPtr&)>& block);
  // The walk over params["data"] (JSON text is decoded first; stored back
  // decoded only when the walk answered true).
  void forEachLocalId(const std::function<bool(const ObjectPtr&)>& block);
  void retainLocalIds();
  void releaseLocalIds();
  // Replaces local ids by the server's object ids, then maybeChangeServerOperation.
  void resolveLocalIds();
  // When the command's own local id now has an object id: forget the local
  // id, put "objectId" into "data" and turn "create" into "update". Raises
  // InternalInconsistencyException "Attempt to delete non-existent object."
  // for a "delete" whose local id has no object id.
  void maybeChangeServerOperation();

 protected:
  platform::Value params_;

 private:
  std::string operation_;
  std::optional<std::string> localId_;
  std::optional<std::string> cacheKey_;
};

// A batch: operation "multi", params {"commands": [{"op", "params"}, ...]}.
class MultiCommand final : public Command {
 public:
  static std::shared_ptr<MultiCommand> multiCommandWithCommands(const std::vector<CommandPtr>& commands,
                                                                std::optional<std::string> sessionToken);
  MultiCommand(const std::vector<CommandPtr>& commands, std::optional<std::string> sessionToken);
};

// The decoded answer: "result", and the whole answer text as received.
struct CommandResult {
  platform::Value result;
  std::string resultString;
};

}  // namespace backend::net
