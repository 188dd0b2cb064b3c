// Access lists: permissions by id, role and user, the unresolved user, the
// default list, and how data objects take them from the server.

#include <gtest/gtest.h>

#include "backend/acl.hpp"
#include "backend/internal/internal_utils.hpp"
#include "backend/internal/object_save_hooks.hpp"
#include "backend/role.hpp"
#include "backend/value_types.hpp"
#include "support/backend/object_fixture.hpp"

namespace backend {
namespace {

using platform::InvalidArgumentException;
using testing::raisedMessage;

Value json(std::string_view text) { return InternalUtils::parseJSON(text); }

class ACLTest : public testing::BackendTest {
 protected:
  void SetUp() override {
    BackendTest::SetUp();
    registerValueTypes();
    lazyUser_ = Object::objectWithClassName("Person");
    CurrentUserHooks hooks;
    hooks.currentUser = [this] { return currentUser_; };
    hooks.isLazy = [this](const ObjectPtr& user) { return user == lazyUser_; };
    installCurrentUserHooks(hooks);
  }
  void TearDown() override {
    ACL::setDefaultACL(nullptr, false);
    installCurrentUserHooks({});
    BackendTest::TearDown();
  }

  static ObjectPtr savedUser(const std::string& id) { return Object::objectWithoutData("Person", id); }

  ObjectPtr currentUser_;
  ObjectPtr lazyUser_;
};

TEST_F(ACLTest, OnlyGrantedPermissionsAreKept) {
  auto acl = ACL::create();
  acl->setReadAccessForUserId(true, "u1");
  acl->setWriteAccessForUserId(true, "u1");
  acl->setPublicReadAccess(true);
  acl->setReadAccessForRoleWithName(true, "Editors");
  EXPECT_EQ(acl->encodeIntoDictionary(), json(R"({"u1": {"read": true, "write": true}, "*": {"read": true},
                                                   "role:Editors": {"read": true}})"));
  EXPECT_TRUE(acl->getWriteAccessForUserId("u1"));
  EXPECT_FALSE(acl->getPublicWriteAccess());

  acl->setReadAccessForUserId(false, "u1");
  acl->setWriteAccessForUserId(false, "u1");
  acl->setPublicWriteAccess(false);  // never granted: nothing changes
  acl->setReadAccessForRoleWithName(false, "Nobody");
  EXPECT_EQ(acl->encodeIntoDictionary(), json(R"({"*": {"read": true}, "role:Editors": {"read": true}})"));
}

TEST_F(ACLTest, DictionaryFormGrantsEveryNamedPermission) {
  auto acl = ACL::createWithDictionary(json(R"({"u1": {"read": false}, "*": {"write": true}, "odd": 3})"));
  EXPECT_TRUE(acl->getReadAccessForUserId("u1"));
  EXPECT_TRUE(acl->getPublicWriteAccess());
  EXPECT_EQ(acl->encodeIntoDictionary(), json(R"({"u1": {"read": true}, "*": {"write": true}})"));
  EXPECT_FALSE(acl->isShared());
}

TEST_F(ACLTest, MissingIdsNamesAndUnsavedUsersAndRolesAreRefused) {
  auto acl = ACL::create();
  const std::vector<std::pair<std::function<void()>, std::string>> refusals = {
      {[&] { acl->setReadAccessForUserId(true, std::nullopt); }, "cannot setReadAccess for nil userId"},
      {[&] { acl->getReadAccessForUserId(std::nullopt); }, "cannot getReadAccessForUserId nil"},
      {[&] { acl->setWriteAccessForUserId(true, std::nullopt); }, "cannot setWriteAccess for nil userId"},
      {[&] { acl->getWriteAccessForUserId(std::nullopt); }, "cannot getWriteAccessForUserId nil"},
      {[&] { acl->setReadAccessForRoleWithName(true, std::nullopt); }, "cannot set read access for nil role name"},
      {[&] { acl->getWriteAccessForRoleWithName(std::nullopt); }, "cannot get write access for nil role name"},
      {[&] { acl->setReadAccessForUser(true, Object::objectWithClassName("Person")); },
       "cannot setReadAccess for unsaved user"},
      {[&] { acl->getWriteAccessForUser(Object::objectWithClassName("Person")); },
       "cannot getWriteAccessForUser who isn't saved"},
      {[&] { acl->setReadAccessForRole(true, Role::roleWithName("Unsaved")); },
       "Roles must be saved to the server before they can be used in an ACL."},
  };
  for (const auto& [call, message] : refusals) EXPECT_EQ(raisedMessage<InvalidArgumentException>(call), message);
  EXPECT_EQ(acl->encodeIntoDictionary(), json("{}"));
}

TEST_F(ACLTest, SavedRolesAndUsersAreNamedByTheirIds) {
  auto role = std::dynamic_pointer_cast<Role>(Object::objectWithClassName("_Role"));
  role->setName("Editors");
  role->setObjectId("r1");
  auto acl = ACL::createWithUser(savedUser("u7"));
  acl->setWriteAccessForRole(true, role);
  EXPECT_TRUE(acl->getWriteAccessForRole(role));
  EXPECT_FALSE(acl->getReadAccessForRole(role));
  EXPECT_TRUE(acl->getReadAccessForUser(savedUser("u7")));
  EXPECT_EQ(acl->encodeIntoDictionary(),
            json(R"({"u7": {"read": true, "write": true}, "role:Editors": {"write": true}})"));
}

TEST_F(ACLTest, AnUnsavedAutomaticUserWaitsUnderUnresolvedUntilSaved) {
  auto acl = ACL::create();
  acl->setReadAccessForUser(true, lazyUser_);
  EXPECT_TRUE(acl->hasUnresolvedUser());
  EXPECT_TRUE(acl->getReadAccessForUser(lazyUser_));
  EXPECT_EQ(acl->encodeIntoDictionary(), json(R"({"*unresolved": {"read": true}})"));

  // A copy registers its own listener and resolves independently.
  auto copy = std::static_pointer_cast<ACL>(acl->createUnsharedCopy());
  EXPECT_TRUE(copy->hasUnresolvedUser());

  lazyUser_->setObjectId("u9");
  lazyUser_->notifySaveListeners(std::nullopt);
  for (const auto& list : {acl, copy}) {
    EXPECT_FALSE(list->hasUnresolvedUser());
    EXPECT_EQ(list->encodeIntoDictionary(), json(R"({"u9": {"read": true}})"));
  }
  // The listeners removed themselves: a later save changes nothing.
  acl->setReadAccessForUserId(false, "u9");
  lazyUser_->notifySaveListeners(std::nullopt);
  EXPECT_EQ(acl->encodeIntoDictionary(), json("{}"));
}

TEST_F(ACLTest, DefaultListIsSharedAndCopiedPerCurrentUser) {
  EXPECT_EQ(ACL::defaultACL(), nullptr);
  auto configured = ACL::create();
  configured->setPublicReadAccess(true);
  ACL::setDefaultACL(configured, true);

  auto withoutUser = ACL::defaultACL();
  EXPECT_TRUE(withoutUser->isShared());
  EXPECT_NE(withoutUser, configured);
  EXPECT_EQ(withoutUser->encodeIntoDictionary(), json(R"({"*": {"read": true}})"));

  currentUser_ = savedUser("me");
  auto mine = ACL::defaultACL();
  EXPECT_TRUE(mine->isShared());
  EXPECT_EQ(mine->encodeIntoDictionary(), json(R"({"*": {"read": true}, "me": {"read": true, "write": true}})"));
  EXPECT_EQ(ACL::defaultACL(), mine);
  currentUser_ = savedUser("you");
  EXPECT_NE(ACL::defaultACL(), mine);
  EXPECT_TRUE(ACL::defaultACL()->getWriteAccessForUserId("you"));
}

TEST_F(ACLTest, ObjectsStartWithTheDefaultListAndChangeOnlyAPrivateCopy) {
  auto configured = ACL::create();
  configured->setPublicReadAccess(true);
  ACL::setDefaultACL(configured, false);
  auto note = Object::objectWithClassName("Note");
  auto acl = std::dynamic_pointer_cast<ACL>(note->ACL());
  ASSERT_TRUE(acl);
  EXPECT_FALSE(acl->isShared());
  acl->setPublicWriteAccess(true);
  EXPECT_FALSE(ACL::defaultACL()->getPublicWriteAccess());
}

TEST_F(ACLTest, ServerListsBecomeAccessListsAndEncodeBack) {
  auto note = Object::objectWithoutData("Note", "n1");
  note->mergeAfterFetch(json(R"({"data": {"ACL": {"u1": {"read": true}}}})"), Completeness::Complete);
  auto acl = std::dynamic_pointer_cast<ACL>(note->ACL());
  ASSERT_TRUE(acl);
  EXPECT_TRUE(acl->getReadAccessForUserId("u1"));
  EXPECT_EQ(InternalUtils::encodeObject(Value(acl), UnsavedChildren::Disallow, DataObjects::Allow),
            json(R"({"u1": {"read": true}})"));
}

}  // namespace
}  // namespace backend
