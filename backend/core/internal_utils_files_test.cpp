#include <gtest/gtest.h>

#include "backend/internal/client_configuration.hpp"
#include "backend/internal/internal_utils.hpp"
#include "platform/exceptions.hpp"
#include "platform/log.hpp"
#include "platform/sandbox.hpp"
#include "support/backend/object_fixture.hpp"

namespace backend {
namespace {

namespace fs = std::filesystem;
using testing::raisedMessage;

class DataFilesTest : public testing::BackendTest {
 protected:
  void SetUp() override {
    BackendTest::SetUp();
    InternalUtils::clearCachedInstallationId();
  }
  void TearDown() override {
    InternalUtils::clearCachedInstallationId();
    InternalUtils::setMainCacheClearer(nullptr);
    BackendTest::TearDown();
  }
  fs::path privateDir() const { return root_ / "Library" / "Private Documents" / "Backend"; }
  fs::path deprecatedDir() const { return root_ / "Documents" / "Backend"; }
};

TEST_F(DataFilesTest, PrivateDirectoryIsCreatedInsideTheSandboxAndExcludedFromBackup) {
  EXPECT_EQ(InternalUtils::privateDataDir(), privateDir());
  EXPECT_TRUE(fs::is_directory(privateDir()));
  // Some file systems carry no user attributes; the mark is then impossible.
  if (!platform::setExcludedFromBackup(root_)) GTEST_SKIP() << "no user extended attributes here";
  EXPECT_TRUE(platform::isExcludedFromBackup(privateDir()));
}

TEST_F(DataFilesTest, DataFilesNeedAConfiguredClientAndStayInTheirDirectory) {
  ClientConfiguration::reset();
  EXPECT_EQ(raisedMessage<platform::InternalInconsistencyException>([] { InternalUtils::dataFilePath("x"); }),
            "You have to call setApplicationId:clientKey: on Backend to configure Backend.");
  ClientConfiguration::store("app", "key");
  EXPECT_EQ(InternalUtils::dataFilePath("currentUser"), privateDir() / "currentUser");
  for (const char* bad : {"../escape", "/etc/passwd", "a/b", ""}) {
    EXPECT_THROW(InternalUtils::dataFilePath(bad), platform::InvalidArgumentException) << bad;
  }
}

TEST_F(DataFilesTest, DataFilesMoveOutOfTheDeprecatedDirectoryWhichIsRemovedWhenEmpty) {
  fs::create_directories(deprecatedDir());
  ASSERT_FALSE(platform::writeFileAtomically(deprecatedDir() / "currentUser", "old user"));
  const fs::path path = InternalUtils::dataFilePath("currentUser");
  EXPECT_EQ(platform::readFile(path), "old user");
  EXPECT_FALSE(fs::exists(deprecatedDir()));

  fs::create_directories(deprecatedDir());
  ASSERT_FALSE(platform::writeFileAtomically(deprecatedDir() / "other", "keep"));
  InternalUtils::dataFilePath("currentInstallation");
  EXPECT_TRUE(fs::exists(deprecatedDir() / "other"));
  fs::remove(deprecatedDir() / "other");
  EXPECT_EQ(InternalUtils::deprecatedDataDir(), deprecatedDir());
  EXPECT_FALSE(fs::exists(deprecatedDir()));
}

TEST_F(DataFilesTest, CacheDirectoriesAreNormalisedAndCannotLeaveTheCaches) {
  const fs::path caches = root_ / "Library" / "Caches";
  EXPECT_EQ(InternalUtils::cacheDir("BEFileCache"), caches / "Backend" / "BEFileCache");
  EXPECT_EQ(InternalUtils::cacheDir("../BackendKeyValueCache/"), caches / "BackendKeyValueCache");
  EXPECT_TRUE(fs::is_directory(caches / "BackendKeyValueCache"));
  EXPECT_THROW(InternalUtils::cacheDir("../../Documents"), platform::InvalidArgumentException);
  EXPECT_THROW(InternalUtils::cacheDir(".."), platform::InvalidArgumentException);
}

TEST_F(DataFilesTest, InstallationIdIsCreatedOnceAndKeptOnDisk) {
  const std::string id = InternalUtils::installationId();
  EXPECT_EQ(id.size(), 36u);
  EXPECT_EQ(platform::readFile(privateDir() / "installationId"), id);
  InternalUtils::clearCachedInstallationId();
  EXPECT_EQ(InternalUtils::installationId(), id);
  InternalUtils::clearInstallationId();
  EXPECT_FALSE(fs::exists(privateDir() / "installationId"));
  EXPECT_NE(InternalUtils::installationId(), id);
}

TEST_F(DataFilesTest, AChangedApplicationIdWipesTheBackendsDataAndCaches) {
  int cleared = 0;
  InternalUtils::setMainCacheClearer([&] { ++cleared; });
  InternalUtils::checkCacheApplicationId();
  EXPECT_EQ(platform::readFile(privateDir() / "applicationId"), "app-id");
  const std::string firstId = InternalUtils::installationId();
  ASSERT_FALSE(platform::writeFileAtomically(privateDir() / "Command Cache", "queued"));

  InternalUtils::checkCacheApplicationId();  // same id: nothing happens
  EXPECT_EQ(cleared, 0);
  EXPECT_TRUE(fs::exists(privateDir() / "Command Cache"));

  ClientConfiguration::store("other-app", "key");
  InternalUtils::checkCacheApplicationId();
  EXPECT_EQ(cleared, 1);
  EXPECT_FALSE(fs::exists(privateDir() / "Command Cache"));
  EXPECT_EQ(platform::readFile(privateDir() / "applicationId"), "other-app");
  EXPECT_NE(InternalUtils::installationId(), firstId);
}

TEST_F(DataFilesTest, DeletingDirectoryContentsKeepsTheDirectoryAndLogsListingFailures) {
  const fs::path dir = root_ / "scratch";
  fs::create_directories(dir / "sub" / "deeper");
  ASSERT_FALSE(platform::writeFileAtomically(dir / "a", "1"));
  InternalUtils::deleteDirectoryContents(dir);
  EXPECT_TRUE(fs::is_directory(dir));
  EXPECT_TRUE(fs::is_empty(dir));
  platform::LogCapture log;
  InternalUtils::deleteDirectoryContents(root_ / "missing");
  EXPECT_TRUE(log.contains("Failed to list directory "));
}

TEST_F(DataFilesTest, KeychainItemsRoundTripTypedValues) {
  Value token = Value::dictionary({{"token", Value(platform::Bytes{0, 1, 2})}, {"n", 3}});
  EXPECT_TRUE(InternalUtils::loadFromKeychain("BackendPush").isNil());
  ASSERT_TRUE(InternalUtils::saveToKeychain("BackendPush", token));
  EXPECT_EQ(InternalUtils::loadFromKeychain("BackendPush"), token);
  EXPECT_EQ(InternalUtils::getKeychainQuery("BackendPush")["account"], Value("BackendPush"));
  EXPECT_TRUE(InternalUtils::deleteFromKeychain("BackendPush"));
  EXPECT_TRUE(InternalUtils::loadFromKeychain("BackendPush").isNil());
}

TEST_F(DataFilesTest, BackendReachabilityUsesTheBaseURLsHost) {
  platform::ManualReachabilitySource source;
  platform::setReachabilitySource(&source);
  source.setFlags(platform::ReachabilityTarget::host("api.backend.test"),
                  platform::ReachabilityFlags(platform::ReachabilityFlag::ConnectionRequired));
  EXPECT_FALSE(InternalUtils::isBackendReachable());
  source.setFlags(platform::ReachabilityTarget::host("api.backend.test"), platform::ReachabilityFlag::Reachable);
  EXPECT_TRUE(InternalUtils::isBackendReachable());
  source.setReadable(false);
  EXPECT_FALSE(InternalUtils::isBackendReachable());
  platform::setReachabilitySource(nullptr);
}

TEST_F(DataFilesTest, BackendReachabilityWatchesAnIPv6LiteralByItsAddress) {
  platform::ManualReachabilitySource source;
  platform::setReachabilitySource(&source);
  const std::string server = InternalUtils::serverAddress();
  InternalUtils::setServer("http://[::1]:8080/");
  source.setDefaultFlags(platform::ReachabilityFlags(platform::ReachabilityFlag::ConnectionRequired));
  source.setFlags(platform::ReachabilityTarget::host("::1"), platform::ReachabilityFlag::Reachable);
  EXPECT_TRUE(InternalUtils::isBackendReachable());
  InternalUtils::setServer(server);
  platform::setReachabilitySource(nullptr);
}

}  // namespace
}  // namespace backend
