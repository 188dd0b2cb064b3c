// Pushes against the devserver: who they reach (channels, platform, query,
// expiry), subscriptions of the current installation, the sender's refusals,
// and how a received push is shown.

#include "backend/push.hpp"

#include <gtest/gtest.h>

#include <fstream>

#include "backend/installation.hpp"
#include "platform/application_services.hpp"
#include "platform/bundle.hpp"
#include "support/backend/installation_fixture.hpp"

namespace backend {
namespace {

using platform::Error;
using platform::InvalidArgumentException;
using testing::raisedMessage;
using Tokens = std::multiset<std::string>;

class PushTest : public testing::FreshInstallationTest {
 protected:
  // Another device's installation, saved.
  static void device(const std::string& token, const std::string& type, const std::vector<std::string>& channels,
                     const platform::Dictionary& extra = {}) {
    auto installation = std::dynamic_pointer_cast<Installation>(Object::objectWithClassName("_Installation"));
    installation->setInstallationId("device-" + token);
    installation->setDeviceType(type);
    installation->setDeviceToken(token);
    for (const auto& channel : channels) installation->addUniqueObject(Value(channel), "channels");
    for (const auto& [key, value] : extra) installation->setObject(value, key);
    std::optional<Error> error;
    ASSERT_TRUE(installation->save(&error)) << (error ? error->message() : "");
  }

  // The tokens the gateway was handed since the last call.
  Tokens delivered() {
    Tokens tokens;
    auto answer = admin().Get("/_admin/push");
    if (!answer) return tokens;
    const Value deliveries = InternalUtils::parseJSON(answer->body)["deliveries"];
    const auto* list = deliveries.array();
    for (std::size_t i = seen_; list && i < list->size(); ++i) tokens.insert(*(*list)[i]["token"].string());
    seen_ = list ? list->size() : 0;
    return tokens;
  }

  static void send(const PushPtr& push) {
    std::optional<Error> error;
    ASSERT_TRUE(push->sendPush(&error)) << (error ? error->message() : "");
  }

  std::size_t seen_ = 0;
};

TEST_F(PushTest, PushesReachOnlyTheDevicesTheyName) {
  device("aa01", "ios", {"news"});
  device("bb02", "android", {"sport"});
  device("cc03", "ios", {"news", "sport"}, {{"lang", "nb"}});

  auto push = Push::push();
  push->setChannel("news");
  push->setMessage("Ny sak");
  send(push);
  EXPECT_EQ(delivered(), (Tokens{"aa01", "cc03"}));

  auto android = Push::push();
  android->setPushToIOS(false);
  android->setMessage("Android");
  send(android);
  EXPECT_EQ(delivered(), (Tokens{"bb02"}));

  auto query = Installation::query();
  query->whereKeyEqualTo("lang", Value("nb"));
  ASSERT_TRUE(Push::sendPushDataToQuery(query, Value::dictionary({{"alert", "Hei"}, {"url", "http://x.test/"}})));
  EXPECT_EQ(delivered(), (Tokens{"cc03"}));

  ASSERT_TRUE(Push::sendAsync("sport", std::string("Mål!")).waitForResult());
  EXPECT_EQ(delivered(), (Tokens{"bb02", "cc03"}));
}

TEST_F(PushTest, TheGatewayHonoursExpiry) {
  device("dd04", "ios", {"news"});
  auto expired = Push::push();
  expired->setChannel("news");
  expired->expireAtDate(platform::Date(platform::Date::now().timeIntervalSince1970() - 60));
  send(expired);
  EXPECT_EQ(delivered(), Tokens{});

  auto fresh = Push::push();
  fresh->setChannel("news");
  fresh->expireAfterTimeInterval(3600);
  send(fresh);
  EXPECT_EQ(delivered(), (Tokens{"dd04"}));
}

TEST_F(PushTest, SubscribingNeedsATokenAndSendsOnlyWhatChanges) {
  std::optional<Error> error;
  EXPECT_FALSE(Push::subscribeToChannel("news", &error));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, 115);
  EXPECT_EQ(error->message(), "There is no device token stored yet.");

  Push::storeDeviceToken(Value(platform::Bytes{0xee, 0x05}));
  ASSERT_TRUE(Push::subscribeToChannel("news", &error)) << (error ? error->message() : "");
  forgetCommandsSeen();
  ASSERT_TRUE(Push::subscribeToChannel("news"));
  EXPECT_TRUE(commandsSeen().empty()) << "the second subscription needs no request";
  EXPECT_EQ(Push::getSubscribedChannels(), (std::set<std::string>{"news"}));

  ASSERT_TRUE(Push::unsubscribeFromChannel("news"));
  EXPECT_EQ(Push::getSubscribedChannels(), std::set<std::string>{});
  EXPECT_FALSE(Push::subscribeOrUnsubscribeAsync("resubscribe", "news").waitForResult());

  // Subscribed, the device is reached by its channel.
  ASSERT_TRUE(Push::subscribeToChannel("sport"));
  delivered();
  ASSERT_TRUE(Push::sendPushMessageToChannel("sport", "Mål!"));
  EXPECT_EQ(delivered(), (Tokens{"ee05"}));
}

TEST_F(PushTest, TheSenderRefusesWhatItCannotSend) {
  auto push = Push::push();
  auto query = Installation::query();
  query->setLimit(5);
  push->setQuery(query);
  EXPECT_EQ(raisedMessage<InvalidArgumentException>([&] { push->createSendCommand(); }),
            "cannot push to a limit query");
  query->setLimit(-1);
  query->setSkip(2);
  EXPECT_EQ(raisedMessage<InvalidArgumentException>([&] { push->createSendCommand(); }),
            "cannot push to an skip query");

  auto neither = Push::push();
  neither->setPushToIOS(false);
  neither->setPushToAndroid(false);
  EXPECT_EQ(raisedMessage<InvalidArgumentException>([&] { neither->createSendCommand(); }),
            "cannot push if both pushToIOS and pushToAndroid are false");

  auto both = Push::push();
  both->setChannels({"a", "b"});
  const Value params(both->createSendCommand()->params());
  EXPECT_EQ(params["channels"], Value(R"(["a","b"])"));
  EXPECT_EQ(params["type"], Value());
  EXPECT_EQ(Value(Push::push()->createSendCommand()->params())["channel"], Value(""));
}

TEST_F(PushTest, AReceivedPushIsShownOnlyWhileActive) {
  bool active = true;
  std::vector<std::string> shown;
  std::vector<std::string> sounds;
  platform::installApplicationHooks(
      {[&] { return active; },
       [&](const std::string& title, const std::string& message, const std::string& button) {
         shown.push_back(title + "|" + message + "|" + button);
       },
       [&](const std::filesystem::path& file) { sounds.push_back(file.filename().string()); }});
  std::filesystem::create_directories(root_ / "resources");
  std::ofstream(root_ / "resources" / "ping.caf") << "sound";
  platform::Bundle::setMain(platform::Bundle(Value::dictionary({{"CFBundleName", "Vestavind"}}), root_ / "resources"));
  platform::setIconBadgeNumber(0);

  Push::handlePush(InternalUtils::parseJSON(R"({"aps": {"alert": "Ny sak"}})"));
  Push::handlePush(InternalUtils::parseJSON(R"({"aps": {"badge": 4, "sound": "ping.caf"}})"));
  Push::handlePush(InternalUtils::parseJSON(R"({"aps": {"badge": -2, "sound": "nothere.caf"}})"));
  active = false;
  Push::handlePush(InternalUtils::parseJSON(R"({"aps": {"alert": "Bakgrunn", "badge": 9}})"));

  platform::installApplicationHooks({});
  platform::Bundle::resetMain();
  EXPECT_EQ(shown, std::vector<std::string>{"Vestavind|Ny sak|OK"});
  EXPECT_EQ(sounds, (std::vector<std::string>{"", "ping.caf", ""})) << "the vibration is the empty path";
  EXPECT_EQ(platform::iconBadgeNumber(), 4);
  platform::setIconBadgeNumber(0);
}

}  // namespace
}  // namespace backend
