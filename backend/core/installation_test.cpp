// The installation's field rules, its automatic facts, and how the current
// installation is found again, or made anew, from the data file.

#include "backend/installation.hpp"

#include <gtest/gtest.h>

#include <cctype>

#include "backend/internal/internal_utils.hpp"
#include "backend/object_subclass.hpp"
#include "platform/application_services.hpp"
#include "platform/bundle.hpp"
#include "support/backend/object_fixture.hpp"

namespace backend {
namespace {

using platform::InternalInconsistencyException;
using platform::InvalidArgumentException;
using testing::raisedMessage;

class InstallationTest : public testing::BackendTest {
 protected:
  void SetUp() override {
    BackendTest::SetUp();
    registerSubclass<Installation>();
    platform::setIconBadgeNumber(0);
    Installation::clearCurrentInstallationInMemory();
    InternalUtils::clearCachedInstallationId();
  }
  void TearDown() override {
    Installation::clearCurrentInstallationInMemory();
    InternalUtils::clearCachedInstallationId();
    platform::setIconBadgeNumber(0);
    BackendTest::TearDown();
  }
};

TEST_F(InstallationTest, CallersCannotChangeTheFieldsTheInstallationKeeps) {
  auto installation = Installation::currentInstallation();
  EXPECT_EQ(raisedMessage<InvalidArgumentException>([&] { installation->setObject(Value("android"), "deviceType"); }),
            "Can't change the deviceType field for a BEInstallation");
  EXPECT_EQ(raisedMessage<InvalidArgumentException>([&] { installation->setObject(Value("X"), "appName"); }),
            "Can't change the appName field for a BEInstallation");
  EXPECT_EQ(raisedMessage<InvalidArgumentException>([&] { installation->removeObjectForKey("installationId"); }),
            "Can't remove the installationId field for a BEInstallation");
  EXPECT_EQ(raisedMessage<InvalidArgumentException>([&] { installation->removeObjectForKey("badge"); }),
            "Can't remove the badge field for a BEInstallation.");
  EXPECT_EQ(raisedMessage<InvalidArgumentException>([&] { installation->incrementKey("badge"); }),
            "Can't atomically increment the badge field for a BEInstallation.");
  EXPECT_EQ(raisedMessage<InvalidArgumentException>([&] { installation->setObject(Value(-1), "badge"); }),
            "Can't set the badge to less than zero.");
  EXPECT_EQ(raisedMessage<InternalInconsistencyException>([&] { installation->deleteAsync(); }),
            "Installations cannot be deleted");
  EXPECT_EQ(raisedMessage<InvalidArgumentException>([] { Installation::validateClassName("Installation"); }),
            "Cannot initialize a BEInstallation with a custom class name.");

  // The installation's own writers still reach those fields.
  installation->setDeviceType("android");
  installation->updateVersionInfoFromDevice();
  EXPECT_EQ(installation->deviceType(), "android");
  EXPECT_EQ(installation->objectForKey("appName"), Value(*platform::Bundle::main().name()));
  EXPECT_EQ(installation->objectForKey("clientVersion"), Value("1.4.2"));
  installation->setObject(Value("free"), "note");
  EXPECT_EQ(installation->objectForKey("note"), Value("free"));
}

TEST_F(InstallationTest, TheBadgeFollowsTheApplicationIcon) {
  auto installation = Installation::currentInstallation();
  installation->setObject(Value(3), "badge");
  EXPECT_EQ(platform::iconBadgeNumber(), 3);
  platform::setIconBadgeNumber(7);
  EXPECT_EQ(installation->badge(), 7) << "a read refreshes the badge from the device";
}

TEST_F(InstallationTest, TokensAreTakenAsTextOrAsBytes) {
  auto installation = Installation::currentInstallation();
  installation->setDeviceTokenFromData(Value(platform::Bytes{0x0A, 0xFF}));
  EXPECT_EQ(installation->deviceToken(), "0aff");
  installation->setDeviceTokenFromData(Value("ABC def"));
  EXPECT_EQ(installation->deviceToken(), "ABC def");
  installation->clearDeviceToken();
  EXPECT_EQ(installation->deviceToken(), std::nullopt);
}

TEST_F(InstallationTest, AutomaticFactsAreWrittenOnlyWhenTheyChange) {
  auto installation = Installation::currentInstallation();
  installation->updateAutomaticInfo();
  installation->startSave();
  installation->mergeAfterSave(Value::emptyDictionary());
  installation->updateAutomaticInfo();
  EXPECT_TRUE(installation->unsavedChanges().empty());
  platform::setIconBadgeNumber(2);
  installation->updateAutomaticInfo();
  EXPECT_EQ(installation->unsavedChanges().size(), 1u);
  EXPECT_TRUE(installation->unsavedChanges().count("badge"));
}

TEST_F(InstallationTest, TheCurrentInstallationComesBackFromItsDataFile) {
  auto first = Installation::currentInstallation();
  EXPECT_EQ(first, Installation::currentInstallation());
  const std::string id = InternalUtils::installationId();
  EXPECT_EQ(first->installationId(), Installation::currentInstallation()->installationId());
  EXPECT_EQ(*first->installationId(), [&] {
    std::string lower = id;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
  }());
  EXPECT_EQ(first->deviceType(), "ios");
  first->setDeviceToken("00ff");
  // As after a save: the file keeps what the server confirmed.
  first->startSave();
  first->mergeAfterSave(Value::emptyDictionary());
  first->setObjectId("inst1");
  Installation::saveCurrentInstallation(first);

  Installation::clearCurrentInstallationInMemory();
  auto again = Installation::currentInstallation();
  EXPECT_NE(again, first);
  EXPECT_EQ(again->objectId(), "inst1");
  EXPECT_EQ(again->deviceToken(), "00ff");

  // Another installation id makes the stored record obsolete; the token stays.
  Installation::clearCurrentInstallationInMemory();
  InternalUtils::clearInstallationId();
  auto renewed = Installation::currentInstallation();
  EXPECT_EQ(renewed->objectId(), std::nullopt);
  EXPECT_NE(renewed->installationId(), first->installationId());
  EXPECT_EQ(renewed->deviceToken(), "00ff");

  Installation::clearCurrentInstallation();
  EXPECT_FALSE(std::filesystem::exists(InternalUtils::dataFilePath(kCurrentInstallationDataFile)));
}

TEST_F(InstallationTest, ANewInstallationTakesTheTokenFromTheKeychain) {
  ASSERT_TRUE(InternalUtils::saveToKeychain(kDeviceTokenKeychainItem, Value("beef")));
  EXPECT_EQ(Installation::currentInstallation()->deviceToken(), "beef");
  InternalUtils::deleteFromKeychain(kDeviceTokenKeychainItem);
}

}  // namespace
}  // namespace backend
