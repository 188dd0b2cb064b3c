// Users against the devserver: the current user and its data file, sign-up,
// log-in, become, log-out, lazy and anonymous users, providers, and the
// rules of saving and deleting users.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "backend/acl.hpp"
#include "backend/internal/internal_utils.hpp"
#include "backend/user.hpp"
#include "platform/exceptions.hpp"
#include "platform/run_loop.hpp"
#include "platform/sandbox.hpp"
#include "support/backend/devserver_fixture.hpp"

namespace backend {
namespace {

using namespace std::chrono_literals;
using platform::Error;
using testing::raisedMessage;

// A provider of an outside identity service that vouches for a fixed id and
// can be told to refuse stored data.
class TestProvider : public AuthenticationProvider {
 public:
  explicit TestProvider(std::string id) : id_(std::move(id)) {}
  std::string authType() const override { return "vvid"; }
  void authenticate(std::function<void(const Value&)> success, std::function<void(const Error&)>,
                    std::function<void()>) override {
    success(Value::dictionary({{"id", Value(id_)}}));
  }
  bool restoreAuthentication(const Value&) override { return accepts; }
  void deauthenticate() override { ++deauthentications; }

  std::atomic<bool> accepts{true};
  std::atomic<int> deauthentications{0};

 private:
  std::string id_;
};

class UserTest : public testing::DevserverTest {
 protected:
  void SetUp() override {
    DevserverTest::SetUp();
    User::clearCurrentUser();
    User::resetAutomaticUserEnabled();
  }
  void TearDown() override {
    User::clearCurrentUser();
    User::resetAutomaticUserEnabled();
    ACL::setDefaultACL(nullptr, false);
    DevserverTest::TearDown();
  }

  static UserPtr signedUp(const std::string& name, const std::string& password = "hemmelig") {
    auto user = User::user();
    user->setUsername(name);
    user->setPassword(password);
    std::optional<Error> error;
    EXPECT_TRUE(user->signUp(&error)) << (error ? error->message() : "");
    return user;
  }

  static std::string dataFileText() {
    auto text = platform::readFile(InternalUtils::dataFilePath("currentUser"));
    return text ? *text : "";
  }

  // For each command the service received, in order: whether it carried a
  // session token (the request log blanks the token itself).
  std::vector<bool> sessionTokensSent() {
    std::vector<bool> sent;
    for (const auto& command : commandsSeen()) sent.push_back(command.body["session_token"].isString());
    return sent;
  }

  void addProvider(const std::string& name) {
    admin().Post("/_admin/providers", "{\"name\":\"" + name + "\"}", "application/json");
  }
};

TEST_F(UserTest, SignUpMakesTheCurrentUserWhoseFileCarriesTheSessionButNeverThePassword) {
  auto user = User::user();
  user->setUsername("kari");
  user->setPassword("hemmelig");
  user->setEmail("kari@vv.test");
  auto favourite = Object::objectWithClassName("Note");
  favourite->setObject(Value("first"), "text");
  user->setObject(Value(favourite), "favourite");
  std::optional<Error> error;
  ASSERT_TRUE(user->signUp(&error)) << error->message();
  EXPECT_TRUE(user->objectId());
  EXPECT_TRUE(favourite->objectId()) << "what the user points to is saved first";
  EXPECT_EQ(storedObject("_User", *user->objectId())["favourite"]["objectId"], Value(*favourite->objectId()));
  EXPECT_TRUE(user->isNew());
  EXPECT_TRUE(user->isAuthenticated());
  EXPECT_EQ(user->password(), std::nullopt) << "the password is sent once";
  ASSERT_TRUE(user->sessionToken());
  EXPECT_EQ(User::currentUser(), user);
  EXPECT_EQ(User::currentSessionToken(), user->sessionToken());
  EXPECT_FALSE(user->estimatedDataSnapshot().contains("session_token")) << "not a field";

  const std::string file = dataFileText();
  EXPECT_NE(file.find(*user->sessionToken()), std::string::npos);
  EXPECT_EQ(file.find("hemmelig"), std::string::npos);

  // The next run reads the file, and its commands carry the session.
  User::clearCurrentUser();
  auto restored = User::currentUser();
  ASSERT_TRUE(restored);
  EXPECT_NE(restored, user);
  EXPECT_EQ(restored->objectId(), user->objectId());
  EXPECT_EQ(restored->username(), "kari");
  EXPECT_EQ(restored->sessionToken(), user->sessionToken());
  EXPECT_TRUE(restored->isAuthenticated());
  forgetCommandsSeen();
  auto note = Object::objectWithClassName("Note");
  note->setObject(Value("mine"), "text");
  ASSERT_TRUE(note->save(&error));
  EXPECT_EQ(sessionTokensSent(), std::vector<bool>{true});
}

TEST_F(UserTest, SignUpRefusalsAndMisuse) {
  auto nameless = User::user();
  nameless->setPassword("x");
  EXPECT_EQ(raisedMessage<platform::InternalInconsistencyException>([&] { nameless->signUpAsync(); }),
            "Cannot sign up without a username.");
  auto passwordless = User::user();
  passwordless->setUsername("ola");
  EXPECT_EQ(raisedMessage<platform::InternalInconsistencyException>([&] { passwordless->signUpAsync(); }),
            "Cannot sign up without a password.");
  EXPECT_EQ(raisedMessage<platform::InvalidArgumentException>([&] { passwordless->removeObjectForKey("username"); }),
            "Can't remove the username field for a BEUser.");

  auto kari = signedUp("kari");
  std::optional<Error> error;
  EXPECT_FALSE(kari->signUp(&error));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, 202);
  EXPECT_EQ(error->message(), "Cannot sign up a user that has already signed up.");

  // The server's refusal of a taken name leaves the user as it was.
  auto twin = User::user();
  twin->setUsername("kari");
  twin->setPassword("other");
  EXPECT_FALSE(twin->signUp(&error));
  EXPECT_EQ(error->code, 202);
  EXPECT_FALSE(twin->objectId());
  EXPECT_TRUE(twin->isDirtyForKey("username")) << "the failed sign-up keeps the edits";
  EXPECT_EQ(User::currentUser(), kari);
}

TEST_F(UserTest, ASecondSignUpWhileTheFirstIsInFlightIsRefused) {
  auto user = User::user();
  user->setUsername("kari");
  user->setPassword("pw");
  addFault(1, 0, 300);
  auto first = user->signUpAsync();
  std::optional<Error> error;
  EXPECT_FALSE(user->signUp(&error));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, 202);
  EXPECT_EQ(error->message(), "Cannot sign up a user that is already signing up.");
  EXPECT_TRUE(first.waitForResult(&error)) << error->message();
}

TEST_F(UserTest, ConcurrentSignUpsEachGetAnAccountAndOneEndsCurrent) {
  std::vector<UserPtr> users;
  std::vector<Task<bool>> signUps;
  for (const char* name : {"a", "b", "c", "d"}) {
    auto user = User::user();
    user->setUsername(name);
    user->setPassword("pw");
    users.push_back(user);
  }
  std::vector<std::thread> threads;
  std::mutex mutex;
  for (const auto& user : users) {
    threads.emplace_back([&, user] {
      auto task = user->signUpAsync();
      std::lock_guard lock(mutex);
      signUps.push_back(task);
    });
  }
  for (auto& thread : threads) thread.join();
  for (const auto& task : signUps) EXPECT_TRUE(task.waitForResult());
  for (const auto& user : users) EXPECT_TRUE(user->objectId());

  // Exactly one is current, and it is the one on disk.
  const UserPtr current = User::currentUser();
  int currentCount = 0;
  for (const auto& user : users) currentCount += user->isCurrentUser() ? 1 : 0;
  EXPECT_EQ(currentCount, 1);
  ASSERT_TRUE(current && current->isCurrentUser());
  EXPECT_NE(dataFileText().find(*current->objectId()), std::string::npos);
}

TEST_F(UserTest, LogInBecomeAndTheirRefusals) {
  auto kari = signedUp("kari");
  const auto kariToken = kari->sessionToken();
  User::logOut();
  std::optional<Error> error;
  auto loggedIn = User::logIn("kari", "hemmelig", &error);
  ASSERT_TRUE(loggedIn) << error->message();
  EXPECT_EQ(loggedIn->objectId(), kari->objectId());
  EXPECT_NE(loggedIn->sessionToken(), kariToken) << "a session of its own";
  EXPECT_FALSE(loggedIn->isNew());
  EXPECT_EQ(User::currentUser(), loggedIn);

  EXPECT_FALSE(User::logIn("kari", "wrong", &error));
  EXPECT_EQ(error->code, kErrorObjectNotFound);
  EXPECT_EQ(error->message(), "invalid login credentials");
  EXPECT_EQ(User::currentUser(), loggedIn) << "a refusal leaves the current user";

  EXPECT_FALSE(User::become(std::string("r:unknown"), &error));
  EXPECT_EQ(error->code, kErrorObjectNotFound);
  EXPECT_EQ(error->message(), "Invalid Session Token.");
  EXPECT_EQ(User::currentUser(), loggedIn);
  EXPECT_EQ(raisedMessage<platform::InvalidArgumentException>([] { User::becomeAsync(std::nullopt); }),
            "Session Token must be provided for login.");

  auto became = User::become(kariToken, &error);
  ASSERT_TRUE(became);
  EXPECT_EQ(became->sessionToken(), kariToken);
  EXPECT_EQ(became->email(), std::nullopt);
  EXPECT_EQ(User::currentUser(), became);
  EXPECT_FALSE(loggedIn->isCurrentUser());
  EXPECT_FALSE(loggedIn->sessionToken()) << "the replaced user was logged out";
}

TEST_F(UserTest, CallbackFormsAnswerOnTheMainQueue) {
  signedUp("kari");
  User::logOut();
  std::optional<std::thread::id> loggedInOn, resetOn;
  UserPtr loggedIn;
  User::logInInBackground("kari", "hemmelig", [&](const UserPtr& user, const std::optional<Error>&) {
    loggedIn = user;
    loggedInOn = std::this_thread::get_id();
  });
  bool reset = false;
  User::requestPasswordResetInBackground("nobody@vv.test", [&](bool succeeded, const std::optional<Error>& error) {
    reset = succeeded || !error;
    resetOn = std::this_thread::get_id();
  });
  platform::RunLoop::main().runUntil([&] { return loggedInOn && resetOn; }, 20s);
  EXPECT_EQ(loggedInOn, std::this_thread::get_id());
  EXPECT_TRUE(loggedIn && loggedIn->isCurrentUser());
  EXPECT_EQ(resetOn, std::this_thread::get_id());
  EXPECT_FALSE(reset) << "an unknown address is the server's refusal";
}

TEST_F(UserTest, LogOutForgetsTheFileAndDoesNotReadItAgain) {
  auto provider = std::make_shared<TestProvider>("p-1");
  User::registerAuthenticationProvider(provider);
  addProvider("vvid");
  std::optional<Error> error;
  auto user = User::logInWithAuthTypeAsync("vvid").waitForResult(&error);
  ASSERT_TRUE(user) << error->message();
  const std::string stored = dataFileText();
  ASSERT_FALSE(stored.empty());

  User::logOut();
  EXPECT_EQ(provider->deauthentications, 1);
  EXPECT_FALSE(user->sessionToken());
  EXPECT_FALSE(user->isCurrentUser());
  EXPECT_FALSE(std::filesystem::exists(InternalUtils::dataFilePath("currentUser")));
  // Put back behind its back: a logged-out process does not pick it up.
  ASSERT_FALSE(platform::writeFileAtomically(InternalUtils::dataFilePath("currentUser"), stored, 0600));
  EXPECT_EQ(User::currentUser(), nullptr);
  EXPECT_EQ(User::currentSessionToken(), std::nullopt);
}

TEST_F(UserTest, ADamagedDataFileIsReadAsFarAsItMakesSense) {
  const auto path = InternalUtils::dataFilePath("currentUser");
  const auto readBack = [&](const std::string& text) {
    EXPECT_FALSE(platform::writeFileAtomically(path, text, 0600));
    User::clearCurrentUser();
    return User::currentUser();
  };
  auto odd = readBack(R"({"classname":"_User","data":{"objectId":"u1","username":"k","session_token":5,)"
                      R"("auth_data":"x","is_new":"yes","password":"leaked"}})");
  ASSERT_TRUE(odd);
  EXPECT_EQ(odd->objectId(), "u1");
  EXPECT_EQ(odd->username(), "k");
  EXPECT_EQ(odd->sessionToken(), std::nullopt);
  EXPECT_FALSE(odd->isNew());
  EXPECT_TRUE(odd->authData().empty());
  EXPECT_EQ(odd->allKeys(), std::vector<std::string>{"username"}) << "none of them becomes a field";
  EXPECT_FALSE(odd->isAuthenticated());

  EXPECT_EQ(readBack(R"({"classname":"Note","data":{"objectId":"n1"}})"), nullptr);
  EXPECT_EQ(readBack("{\"classname\":"), nullptr);
  EXPECT_EQ(readBack(R"({"classname":"_User","data":[1,2]})")->objectId(), std::nullopt);
}

TEST_F(UserTest, AutomaticUserIsLazyUntilAnObjectPointingAtItIsSaved) {
  EXPECT_EQ(User::currentUser(), nullptr);
  User::enableAutomaticUser();
  auto lazy = User::currentUser();
  ASSERT_TRUE(lazy);
  EXPECT_TRUE(lazy->isLazy());
  EXPECT_TRUE(lazy->isAuthenticated());
  EXPECT_TRUE(AnonymousUtils::isLinkedWithUser(lazy));
  EXPECT_EQ(User::currentSessionToken(), std::nullopt);
  EXPECT_EQ(User::currentUser(), lazy);
  EXPECT_TRUE(dataFileText().empty()) << "not on disk until resolved";

  // An access list for the lazy user waits for its object id.
  auto acl = ACL::create();
  acl->setReadAccessForUser(true, lazy);
  acl->setWriteAccessForUser(true, lazy);
  EXPECT_TRUE(acl->hasUnresolvedUser());
  auto note = Object::objectWithClassName("Note");
  note->setObject(Value("private"), "text");
  note->setObject(Value(lazy), "owner");
  note->setACL(acl);
  auto card = Object::objectWithClassName("Card");
  card->setObject(Value(lazy), "owner");
  note->setObject(Value(card), "card");
  std::optional<Error> error;
  forgetCommandsSeen();
  ASSERT_TRUE(note->save(&error)) << error->message();
  const auto commands = commandsSeen();
  ASSERT_EQ(commands.size(), 3u);
  EXPECT_EQ(commands[0].operation, "user_signup_or_login") << "the lazy user goes first";
  EXPECT_EQ(commands[2].operation, "create");
  EXPECT_EQ(sessionTokensSent(), (std::vector<bool>{false, true, true}))
      << "what is saved after the lazy user goes with its new session";
  EXPECT_EQ(storedObject("Card", *card->objectId())["owner"]["objectId"], Value(*lazy->objectId()));

  EXPECT_FALSE(lazy->isLazy());
  ASSERT_TRUE(lazy->objectId());
  ASSERT_TRUE(lazy->sessionToken());
  EXPECT_FALSE(acl->hasUnresolvedUser());
  EXPECT_TRUE(acl->getReadAccessForUserId(*lazy->objectId()));
  EXPECT_NE(dataFileText().find(*lazy->sessionToken()), std::string::npos);
  EXPECT_EQ(storedObject("Note", *note->objectId())["owner"]["objectId"], Value(*lazy->objectId()));
  const Value stored = storedObject("Note", *note->objectId())["ACL"];
  EXPECT_TRUE(stored[*lazy->objectId()]["read"].boolValue()) << InternalUtils::serializeToJSON(stored);
  EXPECT_TRUE(stored["*unresolved"].isNil());

  // Readable only with the user's session.
  auto mine = Object::objectWithoutData("Note", *note->objectId());
  EXPECT_TRUE(mine->fetch(&error)) << error->message();
  User::logOut();
  auto theirs = Object::objectWithoutData("Note", *note->objectId());
  EXPECT_FALSE(theirs->fetch(&error));
  EXPECT_EQ(error->code, kErrorObjectNotFound);
}

TEST_F(UserTest, ALazyUserSavedDirectlySavesTheNewObjectsItPointsToFirst) {
  User::enableAutomaticUser();
  auto lazy = User::currentUser();
  auto favourite = Object::objectWithClassName("Note");
  favourite->setObject(Value("first"), "text");
  lazy->setObject(Value(favourite), "favourite");
  std::optional<Error> error;
  ASSERT_TRUE(lazy->save(&error)) << error->message();
  EXPECT_FALSE(lazy->isLazy());
  ASSERT_TRUE(favourite->objectId());
  ASSERT_TRUE(lazy->objectId());
  EXPECT_EQ(storedObject("_User", *lazy->objectId())["favourite"]["objectId"], Value(*favourite->objectId()));
}

TEST_F(UserTest, SavingEventuallySignsALazyUserUpFirstAndKeepsTheCurrentUsersFile) {
  User::enableAutomaticUser();
  auto lazy = User::currentUser();
  auto note = Object::objectWithClassName("Note");
  note->setObject(Value(lazy), "owner");
  std::optional<Error> error;
  forgetCommandsSeen();
  ASSERT_TRUE(note->saveEventually().waitForResult(&error)) << error->message();
  const auto commands = commandsSeen();
  ASSERT_EQ(commands.size(), 2u);
  EXPECT_EQ(commands[0].operation, "user_signup_or_login");
  EXPECT_EQ(commands[1].operation, "create");
  EXPECT_TRUE(commands[1].body["session_token"].isString()) << "stored with the new user's session";
  ASSERT_TRUE(lazy->objectId());
  EXPECT_EQ(storedObject("Note", *note->objectId())["owner"]["objectId"], Value(*lazy->objectId()));

  // A user's own offline save: its file follows, and a new password is kept
  // for a save that may carry it (never the offline queue's files).
  lazy->setObject(Value("kari@vv.test"), "email");
  lazy->setPassword("hemmelig");
  ASSERT_TRUE(lazy->saveEventually().waitForResult(&error)) << error->message();
  EXPECT_EQ(storedObject("_User", *lazy->objectId())["email"], Value("kari@vv.test"));
  EXPECT_NE(dataFileText().find("kari@vv.test"), std::string::npos);
  EXPECT_TRUE(lazy->isDirty()) << "the password is still to be sent";
  EXPECT_EQ(commandsSeen().back().body["user_password"], Value());

  // A lazy user saved eventually is signed up at once.
  User::logOut();
  auto another = User::currentUser();
  ASSERT_TRUE(another && another->isLazy());
  another->setObject(Value("ola"), "nickname");
  ASSERT_TRUE(another->saveEventually().waitForResult(&error)) << error->message();
  EXPECT_FALSE(another->isLazy());
  ASSERT_TRUE(another->objectId());
  EXPECT_EQ(storedObject("_User", *another->objectId())["nickname"], Value("ola"));
}

TEST_F(UserTest, ALazyUserLoggedIntoAnExistingAccountEndsResolvedForWhatPointsAtIt) {
  addProvider("vvid");
  User::registerAuthenticationProvider(std::make_shared<TestProvider>("p-9"));
  std::optional<Error> error;
  auto account = User::logInWithAuthTypeAsync("vvid").waitForResult(&error);
  ASSERT_TRUE(account && account->objectId()) << error->message();
  User::logOut();

  User::enableAutomaticUser();
  auto lazy = User::currentUser();
  ASSERT_TRUE(lazy && lazy->isLazy());
  lazy->setObject(Value("L"), "nick");
  auto note = Object::objectWithClassName("Note");
  note->setObject(Value(lazy), "owner");
  auto current = User::logInWithAuthTypeAsync("vvid").waitForResult(&error);
  ASSERT_TRUE(current) << error->message();
  EXPECT_EQ(current->objectId(), account->objectId());
  EXPECT_EQ(User::currentUser(), current);

  EXPECT_FALSE(lazy->isLazy());
  EXPECT_EQ(lazy->objectId(), account->objectId());
  EXPECT_EQ(lazy->sessionToken(), current->sessionToken());
  EXPECT_TRUE(lazy->isDirty()) << "the account did not take the lazy user's changes: they stay to be saved";

  // What points at the former lazy user is stored pointing at the account,
  // in a deep save and through the offline queue alike.
  forgetCommandsSeen();
  ASSERT_TRUE(note->save(&error)) << error->message();
  auto card = Object::objectWithClassName("Card");
  card->setObject(Value(lazy), "owner");
  ASSERT_TRUE(card->saveEventually().waitForResult(&error)) << error->message();
  for (const auto& command : commandsSeen()) {
    EXPECT_NE(command.operation, "user_signup_or_login") << "resolved once";
    EXPECT_FALSE(command.operation == "create" && command.body["params"]["classname"] == Value("_User"))
        << InternalUtils::serializeToJSON(command.body);
  }
  EXPECT_EQ(storedObject("Note", *note->objectId())["owner"]["objectId"], Value(*account->objectId()));
  EXPECT_EQ(storedObject("Card", *card->objectId())["owner"]["objectId"], Value(*account->objectId()));

  ASSERT_TRUE(lazy->save(&error)) << error->message();
  EXPECT_EQ(storedObject("_User", *account->objectId())["nick"], Value("L"));

  // The same when the lazy user's anonymous id already has an account and a
  // deep save resolves it: what follows goes with the account's session.
  User::logOut();
  auto anonymous = AnonymousUtils::logIn(&error);
  ASSERT_TRUE(anonymous && anonymous->objectId()) << error->message();
  const Value anonymousData = anonymous->authData().get("anonymous");
  User::logOut();
  auto returning = User::logInLazyUserWithAuthType("anonymous", anonymousData);
  auto post = Object::objectWithClassName("Note");
  post->setObject(Value(returning), "owner");
  post->setACL(ACL::createWithUser(returning));
  ASSERT_TRUE(post->save(&error)) << error->message();
  EXPECT_FALSE(returning->isLazy());
  EXPECT_EQ(returning->objectId(), anonymous->objectId());
  EXPECT_EQ(storedObject("Note", *post->objectId())["owner"]["objectId"], Value(*anonymous->objectId()));
  EXPECT_TRUE(Object::objectWithoutData("Note", *post->objectId())->fetch(&error)) << error->message();
}

TEST_F(UserTest, ANamedAnonymousUserSignsUpIntoItsOwnAccount) {
  std::optional<Error> error;
  auto anonymous = AnonymousUtils::logIn(&error);
  ASSERT_TRUE(anonymous) << error->message();
  EXPECT_TRUE(anonymous->isNew());
  ASSERT_TRUE(anonymous->objectId());
  EXPECT_TRUE(AnonymousUtils::isLinkedWithUser(anonymous));

  anonymous->setUsername("per");
  EXPECT_FALSE(AnonymousUtils::isLinkedWithUser(anonymous));
  EXPECT_TRUE(anonymous->authData().get("anonymous").isNull());
  anonymous->setPassword("pw");
  ASSERT_TRUE(anonymous->signUp(&error)) << error->message();
  EXPECT_EQ(commandsSeen().back().operation, "update") << "saved as an ordinary object";

  User::logOut();
  auto named = User::logIn("per", "pw", &error);
  ASSERT_TRUE(named) << error->message();
  EXPECT_EQ(named->objectId(), anonymous->objectId());
}

TEST_F(UserTest, ANewUserSigningUpWhileAnonymousTakesOverTheAnonymousAccount) {
  std::optional<Error> error;
  auto anonymous = AnonymousUtils::logIn(&error);
  ASSERT_TRUE(anonymous) << error->message();
  auto note = Object::objectWithClassName("Note");
  note->setACL(ACL::createWithUser(anonymous));
  note->setObject(Value("kept"), "text");
  ASSERT_TRUE(note->save(&error));

  auto user = User::user();
  user->setUsername("per");
  user->setPassword("pw");
  user->setObject(Value("P"), "nick");
  ASSERT_TRUE(user->signUp(&error)) << error->message();
  EXPECT_EQ(user->objectId(), anonymous->objectId());
  EXPECT_EQ(User::currentUser(), user);
  EXPECT_EQ(user->objectForKey("nick"), Value("P"));
  EXPECT_FALSE(anonymous->isCurrentUser());

  User::logOut();
  ASSERT_TRUE(User::logIn("per", "pw", &error)) << error->message();
  auto again = Object::objectWithoutData("Note", *note->objectId());
  ASSERT_TRUE(again->fetch(&error)) << error->message();
  EXPECT_EQ(again->objectForKey("text"), Value("kept"));
}

TEST_F(UserTest, SigningUpWhileALazyUserHoldsAnExistingAnonymousAccountNamesThatAccount) {
  std::optional<Error> error;
  auto anonymous = AnonymousUtils::logIn(&error);
  ASSERT_TRUE(anonymous && anonymous->objectId()) << error->message();
  const Value anonymousData = anonymous->authData().get("anonymous");
  User::logOut();
  auto lazy = User::logInLazyUserWithAuthType("anonymous", anonymousData);
  ASSERT_EQ(User::currentUser(), lazy);

  auto user = User::user();
  user->setUsername("ola");
  user->setPassword("pw");
  ASSERT_TRUE(user->signUp(&error)) << error->message();
  EXPECT_EQ(user->objectId(), anonymous->objectId());
  EXPECT_EQ(User::currentUser(), user);
  EXPECT_EQ(storedObject("_User", *anonymous->objectId())["username"], Value("ola"));

  User::logOut();
  auto named = User::logIn("ola", "pw", &error);
  ASSERT_TRUE(named) << error->message();
  EXPECT_EQ(named->objectId(), anonymous->objectId());
}

TEST_F(UserTest, ProvidersLogInLinkAndUnlink) {
  addProvider("vvid");
  auto provider = std::make_shared<TestProvider>("p-7");
  std::optional<Error> error;
  User::registerAuthenticationProvider(provider);
  auto first = User::logInWithAuthTypeAsync("vvid").waitForResult(&error);
  ASSERT_TRUE(first) << error->message();
  EXPECT_TRUE(first->isNew());
  EXPECT_TRUE(first->isLinkedWith("vvid"));
  User::logOut();
  auto again = User::logInWithAuthTypeAsync("vvid").waitForResult(&error);
  ASSERT_TRUE(again) << error->message();
  EXPECT_FALSE(again->isNew());
  EXPECT_EQ(again->objectId(), first->objectId());

  auto kari = signedUp("kari");
  ASSERT_TRUE(kari->linkWithAuthTypeAsync("vvid", Value::dictionary({{"id", Value("p-8")}})).waitForResult(&error))
      << error->message();
  EXPECT_TRUE(kari->isLinkedWith("vvid"));
  EXPECT_TRUE(kari->unlinkWithAuthType("vvid", &error)) << error->message();
  EXPECT_FALSE(kari->isLinkedWith("vvid"));
  EXPECT_TRUE(kari->authData().empty()) << "the unlinked entry goes once the server saw it";
  User::logOut();
  auto p8 = User::logInWithAuthTypeAsync("vvid", Value::dictionary({{"id", Value("p-8")}})).waitForResult(&error);
  ASSERT_TRUE(p8) << error->message();
  EXPECT_NE(p8->objectId(), kari->objectId()) << "the unlinked id made an account of its own";

  EXPECT_EQ(raisedMessage<platform::InvalidArgumentException>([] { User::logInWithAuthTypeAsync("nobody"); }),
            "No registered authentication provider found for type nobody.");
}

TEST_F(UserTest, SaveAndDeleteRules) {
  auto fresh = User::user();
  fresh->setUsername("ola");
  std::optional<Error> error;
  EXPECT_EQ(raisedMessage<platform::InternalInconsistencyException>([&] { fresh->save(&error); }),
            "User cannot be saved unless they are already signed up. Call signUp first.");

  auto kari = signedUp("kari");
  auto stranger = User::query()->getObjectWithId(*kari->objectId(), &error);
  ASSERT_TRUE(stranger) << error->message();
  User::logOut();
  auto ola = signedUp("ola");
  stranger->setObject(Value("hacked"), "nick");
  EXPECT_EQ(raisedMessage<platform::InternalInconsistencyException>([&] { stranger->save(&error); }),
            "User cannot be saved unless they have been authenticated via logIn or signUp");
  EXPECT_EQ(raisedMessage<platform::InternalInconsistencyException>([&] { stranger->deleteObject(&error); }),
            "User cannot be deleted unless they have been authenticated via logIn or signUp");

  // A changed password goes with the save, and the saved user is on disk again.
  ola->setPassword("new");
  ola->setObject(Value("O"), "nick");
  ASSERT_TRUE(ola->save(&error)) << error->message();
  EXPECT_EQ(ola->password(), std::nullopt);
  EXPECT_NE(dataFileText().find("\"nick\":\"O\""), std::string::npos);
  User::logOut();
  EXPECT_FALSE(User::logIn("ola", "hemmelig", &error));
  auto back = User::logIn("ola", "new", &error);
  ASSERT_TRUE(back) << error->message();

  ASSERT_TRUE(back->deleteObject(&error)) << error->message();
  EXPECT_EQ(User::currentUser(), nullptr) << "deleting the current user logs out";
  EXPECT_FALSE(User::logIn("ola", "new", &error));
}

}  // namespace
}  // namespace backend
