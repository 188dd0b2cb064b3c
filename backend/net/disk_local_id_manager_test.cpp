#include "backend/net/disk_local_id_manager.hpp"

#include <gtest/gtest.h>

#include "backend/internal/internal_utils.hpp"
#include "backend/net/command.hpp"
#include "platform/json.hpp"
#include "platform/sandbox.hpp"
#include "support/backend/object_fixture.hpp"

namespace backend::net {
namespace {

using backend::testing::raisedMessage;
using platform::InternalInconsistencyException;

class DiskLocalIdManagerTest : public backend::testing::BackendTest {
 protected:
  void SetUp() override {
    BackendTest::SetUp();
    manager_ = std::make_shared<DiskLocalIdManager>(root_ / "LocalId");
  }

  platform::Value entry(const std::string& localId) {
    auto text = platform::readFile(root_ / "LocalId" / localId);
    if (!text) return platform::Value();
    return platform::json::parse(*text).value();
  }

  std::shared_ptr<DiskLocalIdManager> manager_;
};

TEST_F(DiskLocalIdManagerTest, CreatedIdsAreValidAndEveryOperationRefusesAnInvalidOne) {
  auto a = manager_->createLocalId();
  auto b = manager_->createLocalId();
  EXPECT_EQ(a.size(), 22u);
  EXPECT_EQ(a.rfind("local_", 0), 0u);
  EXPECT_NE(a, b);
  EXPECT_EQ(a.find_first_not_of("0123456789abcdef", 6), std::string::npos);

  EXPECT_TRUE(DiskLocalIdManager::isLocalId("local_0123456789ABCDEF"));
  EXPECT_FALSE(DiskLocalIdManager::isLocalId("local_0123456789abcde"));    // 21 characters
  EXPECT_FALSE(DiskLocalIdManager::isLocalId("local_0123456789abcdef0"));  // 23
  EXPECT_FALSE(DiskLocalIdManager::isLocalId("local_0123456789abcdeg"));
  EXPECT_FALSE(DiskLocalIdManager::isLocalId("Local_0123456789abcdef"));
  EXPECT_FALSE(DiskLocalIdManager::isLocalId("local_../../etc/passwd"));

  const std::string expected = "Tried to get invalid local id: \"local_12\".";
  EXPECT_EQ(raisedMessage<InternalInconsistencyException>([&] { manager_->retainLocalIdOnDisk("local_12"); }), expected);
  EXPECT_EQ(raisedMessage<InternalInconsistencyException>([&] { manager_->releaseLocalIdOnDisk("local_12"); }), expected);
  EXPECT_EQ(raisedMessage<InternalInconsistencyException>([&] { manager_->objectIdForLocalId("local_12"); }), expected);
  EXPECT_EQ(raisedMessage<InternalInconsistencyException>([&] { manager_->setObjectIdForLocalId("x", "local_12"); }),
            expected);
}

TEST_F(DiskLocalIdManagerTest, EntryLivesWhileReferencedAndKeepsTheAssignedObjectId) {
  auto id = manager_->createLocalId();
  manager_->retainLocalIdOnDisk(id);
  manager_->retainLocalIdOnDisk(id);
  EXPECT_EQ(entry(id)["referenceCount"].longLongValue(), 2);
  EXPECT_TRUE(entry(id)["objectId"].isNil());

  manager_->setObjectIdForLocalId("srv1", id);
  EXPECT_EQ(entry(id)["objectId"], platform::Value("srv1"));
  // A later process knows the id only from disk.
  manager_->clearInMemoryCache();
  EXPECT_EQ(manager_->objectIdForLocalId(id), "srv1");

  manager_->releaseLocalIdOnDisk(id);
  EXPECT_EQ(entry(id)["referenceCount"].longLongValue(), 1);
  manager_->releaseLocalIdOnDisk(id);
  EXPECT_FALSE(std::filesystem::exists(root_ / "LocalId" / id));

  // Unreferenced: mapped in memory only, and the mapping reaches a later entry.
  auto other = manager_->createLocalId();
  manager_->setObjectIdForLocalId("srv2", other);
  EXPECT_FALSE(std::filesystem::exists(root_ / "LocalId" / other));
  manager_->retainLocalIdOnDisk(other);
  EXPECT_EQ(entry(other)["objectId"], platform::Value("srv2"));
  EXPECT_EQ(manager_->objectIdForLocalId(manager_->createLocalId()), std::nullopt);
}

TEST_F(DiskLocalIdManagerTest, UnreadableEntryCountsAsFreshAndClearReportsWhetherAnythingExisted) {
  EXPECT_FALSE(manager_->clear());
  auto id = manager_->createLocalId();
  ASSERT_FALSE(platform::writeFileAtomically(root_ / "LocalId" / id, "{\"referenceCount\": 3, \"obj"));
  manager_->retainLocalIdOnDisk(id);
  EXPECT_EQ(entry(id)["referenceCount"].longLongValue(), 1);

  manager_->setObjectIdForLocalId("srv3", id);
  EXPECT_TRUE(manager_->clear());
  EXPECT_EQ(manager_->objectIdForLocalId(id), std::nullopt);
  EXPECT_TRUE(std::filesystem::is_directory(root_ / "LocalId"));
  EXPECT_FALSE(manager_->clear());
}

TEST_F(DiskLocalIdManagerTest, ConfigurationInstallsTheManagerOfThePrivateDirectory) {
  DiskLocalIdManager::installDefaultInstance();
  auto installed = std::dynamic_pointer_cast<DiskLocalIdManager>(localIdManager());
  ASSERT_TRUE(installed);
  EXPECT_EQ(installed->diskPath(), InternalUtils::privateDataDir() / "LocalId");
  EXPECT_EQ(DiskLocalIdManager::defaultInstance(), installed);
  installLocalIdDiskReferenceHooks({});
}

}  // namespace
}  // namespace backend::net
