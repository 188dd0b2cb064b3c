#include "backend/net/command.hpp"

#include <gtest/gtest.h>

#include "backend/internal/internal_utils.hpp"
#include "support/backend/object_fixture.hpp"

namespace backend::net {
namespace {

using platform::Value;

class CommandTest : public backend::testing::BackendTest {};

TEST_F(CommandTest, CacheKeyIgnoresUuidAndNamesOperationAndDigest) {
  auto params = Value::dictionary({{"classname", "Story"}, {"limit", 10}});
  auto a = Command::commandWithServerOperation("find", params, std::nullopt);
  auto b = Command::commandWithServerOperation("find", params, std::nullopt);
  EXPECT_NE(a->params().get("uuid"), b->params().get("uuid"));
  EXPECT_EQ(a->cacheKey(), b->cacheKey());
  EXPECT_EQ(a->cacheKey().rfind("BECommand.2.find.2.", 0), 0u);
  EXPECT_EQ(a->cacheKey().size(), std::string("BECommand.2.find.2.").size() + 32);
  auto other = Command::commandWithServerOperation("find", Value::dictionary({{"limit", 11}}), std::nullopt);
  EXPECT_NE(a->cacheKey(), other->cacheKey());
  // Fixed once computed.
  auto key = a->cacheKey();
  a->params().set("limit", 99);
  EXPECT_EQ(a->cacheKey(), key);
}

TEST_F(CommandTest, SessionTokenOnlyWhenParamsLackOne) {
  auto added = Command::commandWithServerOperation("client_me", Value(), std::string("tok"));
  EXPECT_EQ(added->params().get("session_token"), Value("tok"));
  auto kept = Command::commandWithServerOperation("client_me", Value::dictionary({{"session_token", "mine"}}),
                                                  std::string("tok"));
  EXPECT_EQ(kept->params().get("session_token"), Value("mine"));
  auto original = Value::dictionary({{"uuid", "old"}});
  auto fresh = Command::commandWithServerOperation("get", original, std::nullopt);
  EXPECT_NE(fresh->params().get("uuid"), Value("old"));
  EXPECT_EQ(original["uuid"], Value("old"));  // the caller's dictionary is not touched
}

TEST_F(CommandTest, JSONRoundTripKeepsEverythingButTheUuid) {
  auto command = Command::commandWithServerOperation("update", Value::dictionary({{"data", Value::dictionary({{"n", 1}})}}),
                                                     std::string("tok"));
  command->setLocalId("local_0000000000000001");
  auto reread = Command::commandFromJSON(command->json());
  ASSERT_TRUE(reread);
  EXPECT_EQ(reread->serverOperation(), "update");
  EXPECT_EQ(reread->localId(), command->localId());
  EXPECT_EQ(reread->params().get("session_token"), Value("tok"));
  EXPECT_EQ(reread->params().get("data")["n"].longLongValue(), 1);
  EXPECT_NE(reread->params().get("uuid"), command->params().get("uuid"));
  EXPECT_FALSE(Command::commandFromJSON("[1]"));
  EXPECT_FALSE(Command::commandFromJSON("{\"operation\":1}"));
  EXPECT_FALSE(Command::commandFromJSON("not json"));
}

TEST_F(CommandTest, MultiCommandListsMembersInOrder) {
  auto first = Command::commandWithServerOperation("delete", Value::dictionary({{"classname", "A"}}), std::nullopt);
  auto second = Command::commandWithServerOperation("create", Value::dictionary({{"classname", "B"}}), std::nullopt);
  auto multi = MultiCommand::multiCommandWithCommands({first, second}, std::string("tok"));
  EXPECT_EQ(multi->serverOperation(), "multi");
  auto list = multi->params().get("commands");
  ASSERT_EQ(list.asArray().size(), 2u);
  EXPECT_EQ(list[0]["op"], Value("delete"));
  EXPECT_EQ(list[1]["params"]["classname"], Value("B"));
  EXPECT_EQ(multi->params().get("session_token"), Value("tok"));
}

TEST_F(CommandTest, CreateWhoseLocalIdGotAnIdBecomesUpdate) {
  auto command = Command::commandWithServerOperation(
      "create", Value::dictionary({{"classname", "Story"}, {"data", "{\"title\":\"x\"}"}}), std::nullopt);
  command->setLocalId("local_00000000000000aa");
  localIds_->setObjectIdForLocalId("abc123", "local_00000000000000aa");
  command->resolveLocalIds();
  EXPECT_EQ(command->serverOperation(), "update");
  EXPECT_FALSE(command->localId());
  EXPECT_EQ(command->params().get("data")["objectId"], Value("abc123"));
  EXPECT_EQ(command->params().get("data")["title"], Value("x"));
}

TEST_F(CommandTest, WalkFindsUnsavedObjectsAndStoresDataBackOnlyWhenAsked) {
  auto unsaved = Object::objectWithClassName("Story");
  auto saved = Object::objectWithoutData("Story", "id1");
  auto data = Value::dictionary({{"a", Value::array({Value(unsaved), Value(saved)})},
                                 {"b", Value(AddOperation::create({Value(unsaved)}))}});
  int calls = 0;
  EXPECT_FALSE(Command::forEachLocalIdIn(data, [&](const ObjectPtr&) { return ++calls, false; }));
  EXPECT_EQ(calls, 2);
  EXPECT_TRUE(Command::forEachLocalIdIn(data, [&](const ObjectPtr&) { return true; }));

  auto text = InternalUtils::serializeToJSON(InternalUtils::encodeObject(
      Value::dictionary({{"child", Value(unsaved)}}), UnsavedChildren::Allow, DataObjects::Allow));
  auto command = Command::commandWithServerOperation("update", Value::dictionary({{"data", text}}), std::nullopt);
  std::vector<std::string> retained;
  installLocalIdDiskReferenceHooks({[&](const std::string& id) { retained.push_back(id); }, nullptr});
  command->retainLocalIds();
  installLocalIdDiskReferenceHooks({});
  ASSERT_EQ(retained.size(), 1u);
  EXPECT_EQ(retained[0], unsaved->getOrCreateLocalId());
  EXPECT_TRUE(command->params().get("data").isString());  // retain leaves the text alone
}

}  // namespace
}  // namespace backend::net
