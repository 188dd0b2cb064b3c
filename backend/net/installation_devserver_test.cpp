// The current installation against the devserver: one record per
// installation, kept across launches, renewed for a new installation id, and
// re-created when the server lost it.

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "backend/installation.hpp"
#include "backend/net/command.hpp"
#include "backend/push.hpp"
#include "platform/application_services.hpp"
#include "support/backend/installation_fixture.hpp"

namespace backend {
namespace {

using platform::Error;

class InstallationDevserverTest : public testing::FreshInstallationTest {
 protected:
  // A launch of the reader: the installation as the process finds it, with
  // the news channel added and saved.
  static InstallationPtr launch() {
    Installation::clearCurrentInstallationInMemory();
    auto installation = Installation::currentInstallation();
    installation->addUniqueObject(Value("newsUpdates"), "channels");
    std::optional<Error> error;
    EXPECT_TRUE(installation->save(&error)) << (error ? error->message() : "");
    return installation;
  }

  std::vector<Value> storedInstallations() {
    std::vector<Value> found;
    auto answer = admin().Get("/_admin/objects/_Installation");
    if (!answer) return found;
    const Value results = InternalUtils::parseJSON(answer->body)["results"];
    if (const auto* list = results.array()) found = *list;
    return found;
  }

  // Deletes the record behind the client's back.
  static void deleteOnServer(const std::string& objectId) {
    auto command = net::Command::commandWithServerOperation(
        "delete", Value::dictionary({{"classname", "_Installation"}, {"data", Value::dictionary({{"objectId", objectId}})}}),
        std::nullopt);
    std::optional<Error> error;
    net::NetworkCommandRunner::runCommandAsync(command).waitForResult(&error);
    ASSERT_FALSE(error) << error->message();
  }
};

TEST_F(InstallationDevserverTest, LaunchesShareOneRecordAndOneChannel) {
  auto first = launch();
  ASSERT_TRUE(first->objectId());
  auto second = launch();
  EXPECT_NE(first, second) << "the second launch reads the data file";
  EXPECT_EQ(second->objectId(), first->objectId());

  const auto stored = storedInstallations();
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_EQ(stored[0]["channels"], Value::array({"newsUpdates"}));
  EXPECT_EQ(stored[0]["deviceType"], Value("ios"));
  EXPECT_EQ(stored[0]["clientVersion"], Value("1.4.2"));
  EXPECT_TRUE(stored[0]["timeZone"].isString());
  EXPECT_EQ(stored[0]["ACL"], Value()) << "installations get no default access list";
}

TEST_F(InstallationDevserverTest, ANewInstallationIdMakesANewRecordThatKeepsTheToken) {
  auto first = launch();
  first->setDeviceToken("00aa11bb");
  ASSERT_TRUE(first->save());

  InternalUtils::clearInstallationId();
  auto renewed = launch();
  EXPECT_NE(renewed->objectId(), first->objectId());
  EXPECT_EQ(renewed->deviceToken(), "00aa11bb");
  const auto stored = storedInstallations();
  ASSERT_EQ(stored.size(), 2u);
  EXPECT_EQ(stored[0]["deviceToken"], stored[1]["deviceToken"]);
}

TEST_F(InstallationDevserverTest, ARecordDeletedOnTheServerIsCreatedAgain) {
  auto installation = launch();
  installation->setDeviceToken("cafe");
  ASSERT_TRUE(installation->save());
  const std::string lost = *installation->objectId();
  deleteOnServer(lost);

  installation->setObject(Value("nb"), "language");
  std::optional<Error> error;
  ASSERT_TRUE(installation->save(&error)) << (error ? error->message() : "");
  ASSERT_TRUE(installation->objectId());
  EXPECT_NE(*installation->objectId(), lost);
  Value stored = storedObject("_Installation", *installation->objectId());
  EXPECT_EQ(stored["deviceToken"], Value("cafe")) << "every field is sent again, not only the change";
  EXPECT_EQ(stored["channels"], Value::array({"newsUpdates"}));
  EXPECT_EQ(stored["language"], Value("nb"));

  // A fetch of a lost record re-creates it the same way, and the file follows.
  deleteOnServer(*installation->objectId());
  ASSERT_TRUE(installation->fetch(&error)) << (error ? error->message() : "");
  EXPECT_EQ(storedInstallations().size(), 1u);
  Installation::clearCurrentInstallationInMemory();
  EXPECT_EQ(Installation::currentInstallation()->objectId(), installation->objectId());
}

TEST_F(InstallationDevserverTest, AnEditMadeWhileALostRecordIsRecreatedIsKept) {
  auto installation = launch();
  // Many fields before "zz", so that setting each again takes a while.
  for (int i = 0; i < 3000; ++i) installation->setObject(Value(i), "f" + std::to_string(10000 + i));
  std::optional<Error> error;
  for (int round = 0; round < 4; ++round) {
    installation->setObject(Value("before"), "zz");
    ASSERT_TRUE(installation->save(&error)) << (error ? error->message() : "");
    deleteOnServer(*installation->objectId());
    installation->setObject(Value(round), "language");
    // The editor writes as soon as the re-creation has begun (the id is gone).
    const Value edit("after " + std::to_string(round));
    std::thread editor([installation, edit] {
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
      while (installation->objectId() && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
      installation->setObject(edit, "zz");
    });
    const bool saved = installation->save(&error);
    editor.join();
    ASSERT_TRUE(saved) << (error ? error->message() : "");
    ASSERT_EQ(installation->objectForKey("zz"), edit) << "round " << round;
  }
  ASSERT_TRUE(installation->save(&error)) << (error ? error->message() : "");
  EXPECT_EQ(storedObject("_Installation", *installation->objectId())["zz"], Value("after 3"));
}

TEST_F(InstallationDevserverTest, ATokenWhoseSaveFailedIsSentByTheNextLaunch) {
  launch();
  Push::storeDeviceToken(Value("beef01"));
  addFault(5, 503);  // every attempt of the save
  std::optional<Error> error;
  EXPECT_FALSE(Installation::currentInstallation()->save(&error));

  auto next = launch();
  EXPECT_EQ(next->deviceToken(), "beef01");
  EXPECT_EQ(storedObject("_Installation", *next->objectId())["deviceToken"], Value("beef01"));
}

}  // namespace
}  // namespace backend
