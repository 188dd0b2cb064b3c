// Roles and relations: name rules, binding, operations and their queries.

#include <gtest/gtest.h>

#include "backend/internal/internal_utils.hpp"
#include "backend/relation.hpp"
#include "backend/role.hpp"
#include "backend/value_types.hpp"
#include "support/backend/object_fixture.hpp"

namespace backend {
namespace {

using platform::InternalInconsistencyException;
using platform::InvalidArgumentException;
using testing::raisedMessage;

Value json(std::string_view text) { return InternalUtils::parseJSON(text); }

class RoleRelationTest : public testing::BackendTest {
 protected:
  void SetUp() override {
    BackendTest::SetUp();
    registerValueTypes();
  }
};

TEST_F(RoleRelationTest, RoleNamesAreLettersDigitsUnderscoresHyphensAndSpaces) {
  auto role = Role::roleWithName("Chief editors_2-b");
  EXPECT_EQ(role->name(), "Chief editors_2-b");
  EXPECT_EQ(role->backendClassName(), "_Role");
  const std::string invalid = "A role's name can only contain alphanumeric characters, _, -, and spaces.";
  EXPECT_EQ(raisedMessage<InvalidArgumentException>([] { Role::roleWithName("Editors!"); }), invalid);
  EXPECT_EQ(raisedMessage<InvalidArgumentException>([] { Role::roleWithName(""); }), invalid);
  EXPECT_EQ(raisedMessage<InvalidArgumentException>([] { Role::roleWithName("Ærfugl"); }), invalid);
  EXPECT_EQ(raisedMessage<InvalidArgumentException>([&] { role->setObject(Value(3), "name"); }),
            "A role's name must be an NSString.");
  EXPECT_EQ(role->name(), "Chief editors_2-b");
}

TEST_F(RoleRelationTest, RoleNameIsFixedOnceSavedAndRequiredBeforeSaving) {
  auto role = std::dynamic_pointer_cast<Role>(Object::objectWithClassName("_Role"));
  ASSERT_TRUE(role);
  EXPECT_EQ(raisedMessage<InternalInconsistencyException>([&] { role->checkSaveParams(); }),
            "New roles must specify a name.");
  role->setName("Editors");
  role->setObjectId("r1");
  EXPECT_EQ(raisedMessage<InternalInconsistencyException>([&] { role->setName("Other"); }),
            "A role's name can only be set before it has been saved.");
  role->setObject(Value("free"), "note");
  EXPECT_EQ(raisedMessage<InvalidArgumentException>([] { Role::validateClassName("Role"); }),
            "Cannot initialize a BERole with a custom class name.");
  EXPECT_EQ(Role::query()->backendClassName(), "_Role");
}

TEST_F(RoleRelationTest, RelationIsBoundToOneParentAndKey) {
  auto team = Object::objectWithoutData("Team", "t1");
  auto relation = Relation::relationWithTargetClass("Player");
  relation->ensureParentIs(team, "members");
  relation->ensureParentIs(team, "members");
  EXPECT_EQ(raisedMessage<InternalInconsistencyException>(
                [&] { relation->ensureParentIs(Object::objectWithoutData("Team", "t2"), "members"); }),
            "Internal error. One BERelation retrieved from two different BEObjects.");
  EXPECT_EQ(raisedMessage<InternalInconsistencyException>([&] { relation->ensureParentIs(team, "fans"); }),
            "Internal error. One BERelation retrieved from two different keys.");
}

TEST_F(RoleRelationTest, AddingAndRemovingGoThroughTheParentsField) {
  auto team = Object::objectWithClassName("Team");
  auto relation = std::dynamic_pointer_cast<Relation>(team->relationForKey("members"));
  ASSERT_TRUE(relation);
  relation->addObject(Object::objectWithoutData("Player", "p1"));
  relation->addObject(Object::objectWithoutData("Player", "p2"));
  relation->removeObject(Object::objectWithoutData("Player", "p1"));
  EXPECT_EQ(relation->targetClass(), "Player");
  const Value pending = team->unsavedChanges().at("members")->encode(UnsavedChildren::Disallow, DataObjects::Allow);
  EXPECT_EQ(pending, json(R"({"__op": "Batch", "ops": [
      {"__op": "AddRelation", "objects": [{"__type": "Pointer", "className": "Player", "objectId": "p2"}]},
      {"__op": "RemoveRelation", "objects": [{"__type": "Pointer", "className": "Player", "objectId": "p1"}]}]})"));
  // The field now holds a relation of that class, bound to the team.
  auto held = team->objectForKey("members").object<Relation>();
  ASSERT_TRUE(held);
  EXPECT_EQ(held->targetClass(), "Player");
  EXPECT_EQ(held->parent(), team);
  EXPECT_THROW(relation->addObject(Object::objectWithoutData("Coach", "c1")), InvalidArgumentException);
}

TEST_F(RoleRelationTest, RelationQueriesAskForObjectsRelatedToTheParent) {
  auto team = Object::objectWithoutData("Team", "t1");
  auto typed = Relation::relationForObject(team, "members");
  typed->setTargetClass("Player");
  EXPECT_EQ(typed->query()->constructFindParams(), json(R"({"classname": "Player", "data": {"$relatedTo": {
      "object": {"__type": "Pointer", "className": "Team", "objectId": "t1"}, "key": "members"}}})"));

  auto untyped = Relation::relationForObject(team, "members");
  EXPECT_EQ(untyped->query()->constructFindParams(), json(R"({"classname": "Team",
      "redirectClassNameForKey": "members", "data": {"$relatedTo": {
      "object": {"__type": "Pointer", "className": "Team", "objectId": "t1"}, "key": "members"}}})"));
}

TEST_F(RoleRelationTest, RelationTypedFormCarriesItsTargetClass) {
  auto decoded = InternalUtils::decodeObject(json(R"({"__type": "Relation", "className": "Player"})")).object<Relation>();
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->targetClass(), "Player");
  EXPECT_EQ(decoded->encodeIntoDictionary(), json(R"({"__type": "Relation", "className": "Player"})"));
  EXPECT_EQ(raisedMessage<InternalInconsistencyException>(
                [] { Relation::relationWithTargetClass(std::nullopt)->encodeIntoDictionary(); }),
            "A relation without a target class cannot be encoded.");
  // Relations change through operations only.
  EXPECT_THROW(Object::objectWithClassName("Team")->setObject(Value(decoded), "members"), InvalidArgumentException);
}

}  // namespace
}  // namespace backend
