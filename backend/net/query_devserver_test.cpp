// Queries run against the devserver: constraints, or-queries and
// subqueries, relations, geo searches, access lists, the cache policies,
// counting, get-first, the running guard and cancellation.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include "backend/acl.hpp"
#include "backend/geo_point.hpp"
#include "backend/internal/object_save_hooks.hpp"
#include "backend/query.hpp"
#include "backend/relation.hpp"
#include "backend/role.hpp"
#include "support/backend/devserver_fixture.hpp"
#include "platform/log.hpp"
#include "platform/run_loop.hpp"

namespace backend {
namespace {

using namespace std::chrono_literals;
using platform::Error;
using testing::raisedMessage;
using Names = std::vector<std::string>;

class QueryDevserverTest : public testing::DevserverTest {
 protected:
  void SetUp() override {
    DevserverTest::SetUp();
    CurrentUserHooks hooks;
    hooks.sessionToken = [this] { return sessionToken_; };
    installCurrentUserHooks(hooks);
  }
  void TearDown() override {
    installCurrentUserHooks({});
    DevserverTest::TearDown();
  }

  static ObjectPtr saved(const std::string& className, const platform::Dictionary& fields,
                         const std::shared_ptr<ACL>& acl = nullptr) {
    auto object = Object::objectWithClassName(className, fields);
    if (acl) object->setACL(acl);
    std::optional<Error> error;
    EXPECT_TRUE(object->save(&error)) << (error ? error->message() : "");
    return object;
  }

  // A user made with a raw sign-up command: its object id and session token.
  struct SignedUp {
    std::string userId;
    std::string sessionToken;
  };
  static SignedUp signUp(const std::string& username) {
    auto command = net::Command::commandWithServerOperation(
        "user_signup",
        Value::dictionary({{"data", Value::dictionary({{"username", Value(username)}})},
                           {"user_password", Value("secret")}}),
        std::nullopt);
    std::optional<Error> error;
    const Value answer = net::RetryingCommandRunner::runCommandAsync(command).waitForResult(&error).result;
    EXPECT_FALSE(error) << error->message();
    return {*answer["data"]["objectId"].string(), *answer["session_token"].string()};
  }

  static Names namesOf(const std::vector<ObjectPtr>& objects) {
    Names names;
    for (const auto& object : objects) names.push_back(*object->objectForKey("name").string());
    return names;
  }

  // The names the query finds, sorted.
  static Names found(const QueryPtr& query) {
    std::optional<Error> error;
    Names names = namesOf(query->findObjects(&error));
    EXPECT_FALSE(error) << error->message();
    std::sort(names.begin(), names.end());
    return names;
  }

  // Runs the main loop until `done` holds.
  static void waitFor(const std::function<bool()>& done) {
    ASSERT_TRUE(platform::RunLoop::main().runUntil(done, 60s));
  }

  std::optional<std::string> sessionToken_;
};

// ---- Constraints ------------------------------------------------------------------

class ConstraintTest : public QueryDevserverTest {
 protected:
  void SetUp() override {
    QueryDevserverTest::SetUp();
    saved("Item", {{"name", Value("a")}, {"n", Value(1)}, {"tags", Value::array({Value("x"), Value("y")})},
                   {"text", Value("Alpha")}, {"when", Value(platform::Date(1000.0))}});
    saved("Item", {{"name", Value("b")}, {"n", Value(2)}, {"tags", Value::array({Value("y")})},
                   {"text", Value("be\\Ega*")}, {"when", Value(platform::Date(2000.0))}});
    saved("Item", {{"name", Value("c")}, {"n", Value(3)}, {"text", Value("gamma")}});
    saved("Item", {{"name", Value("d")}});
  }
  static QueryPtr items() { return Query::queryWithClassName("Item"); }
};

// Each constraint's wire form and its matching on the server are pinned on
// their own sides; these run the operands that need encoding through both.
TEST_F(ConstraintTest, EncodedOperandsMatchOnTheServer) {
  auto q = items();
  q->whereKeyGreaterThanOrEqualTo("n", Value(2));
  q->whereKeyLessThan("when", Value(platform::Date(2500.0)));
  EXPECT_EQ(found(q), (Names{"b"}));
  q = items();
  q->whereKeyEqualTo("tags", Value("y"));  // an array field matches its members
  q->whereKeyNotContainedIn("n", {Value(2)});
  EXPECT_EQ(found(q), (Names{"a"}));
  q = items();
  q->whereKeyContainsAllObjectsInArray("tags", {Value("x"), Value("y")});
  EXPECT_EQ(found(q), (Names{"a"}));
  q = items();
  q->whereKeyMatchesRegex("text", "^al", "i");
  EXPECT_EQ(found(q), (Names{"a"}));
  q = items();
  q->whereKeyHasPrefix("text", "be\\Eg");  // the end-of-quote marker, literally
  EXPECT_EQ(found(q), (Names{"b"}));
  q = items();
  q->whereKeyDoesNotExist("n");
  EXPECT_EQ(found(q), (Names{"d"}));
}

TEST_F(ConstraintTest, OrderPagingKeysAndPredicates) {
  auto q = items();
  q->whereKeyExists("n");
  q->orderByDescending("n");
  q->setSkip(1);
  q->setLimit(1);
  EXPECT_EQ(namesOf(q->findObjects()), (Names{"b"}));

  q = items();
  q->selectKeys({"name"});
  q->whereKeyEqualTo("name", Value("a"));
  auto partial = q->findObjects();
  ASSERT_EQ(partial.size(), 1u);
  EXPECT_FALSE(partial.front()->isDataAvailableForKey("text"));

  using namespace predicates;
  EXPECT_EQ(found(Query::queryWithClassName("Item", key("n") >= 2 && (key("name") == "c" || key("tags") == "y"))),
            (Names{"b", "c"}));
  EXPECT_EQ(found(Query::queryWithClassName("Item", !key("n").in({1, 2}))), (Names{"c", "d"}));
}

TEST_F(ConstraintTest, OrQueriesAndSubqueries) {
  auto small = items();
  small->whereKeyLessThan("n", Value(2));
  auto named = items();
  named->whereKeyEqualTo("name", Value("d"));
  EXPECT_EQ(found(Query::orQueryWithSubqueries({small, named})), (Names{"a", "d"}));

  auto first = items();
  first->whereKeyEqualTo("name", Value("a"));
  const ObjectPtr itemA = first->getFirstObject();
  ASSERT_TRUE(itemA);
  saved("Box", {{"name", Value("box of a")}, {"item", Value(itemA)}, {"label", Value("gamma")}});
  auto boxes = Query::queryWithClassName("Box");
  boxes->whereKeyMatchesQuery("item", small);
  EXPECT_EQ(found(boxes), (Names{"box of a"}));
  boxes = Query::queryWithClassName("Box");
  boxes->whereKeyDoesNotMatchQuery("item", small);
  EXPECT_TRUE(found(boxes).empty());

  // Items whose text is the label of some box, and those whose text is none.
  auto labelled = items();
  labelled->whereKeyMatchesKeyInQuery("text", "label", Query::queryWithClassName("Box"));
  EXPECT_EQ(found(labelled), (Names{"c"}));
  auto unlabelled = items();
  unlabelled->whereKeyDoesNotMatchKeyInQuery("text", "label", Query::queryWithClassName("Box"));
  EXPECT_EQ(found(unlabelled), (Names{"a", "b", "d"}));
}

// ---- Relations and geo points ----------------------------------------------------------

TEST_F(QueryDevserverTest, RelationsListTheirObjects) {
  auto p1 = saved("Player", {{"name", Value("Ada")}});
  auto p2 = saved("Player", {{"name", Value("Bo")}});
  saved("Player", {{"name", Value("Cy")}});
  auto team = Object::objectWithClassName("Team");
  auto members = std::dynamic_pointer_cast<Relation>(team->relationForKey("members"));
  members->addObject(p1);
  members->addObject(p2);
  ASSERT_TRUE(team->save());
  EXPECT_EQ(found(members->query()), (Names{"Ada", "Bo"}));

  // A relation that does not know its class is searched through the owner
  // (which the relation does not keep alive).
  auto owner = Object::objectWithoutData("Team", *team->objectId());
  auto unknown = Relation::relationForObject(owner, "members");
  auto players = unknown->query()->findObjects();
  EXPECT_EQ(namesOf(players).size(), 2u);
  ASSERT_FALSE(players.empty());
  EXPECT_EQ(players.front()->backendClassName(), "Player");

  members->removeObject(p1);
  ASSERT_TRUE(team->save());
  auto fetched = Object::objectWithoutData("Team", *team->objectId());
  ASSERT_TRUE(fetched->fetch());
  auto held = fetched->objectForKey("members").object<Relation>();
  ASSERT_TRUE(held);
  EXPECT_EQ(held->targetClass(), "Player");
  EXPECT_EQ(found(std::dynamic_pointer_cast<Relation>(fetched->relationForKey("members"))->query()), (Names{"Bo"}));
}

TEST_F(QueryDevserverTest, GeoSearchesInKilometresMilesAndBoxes) {
  saved("Place", {{"name", Value("Bergen")}, {"at", Value(GeoPoint::geoPointWithLatitude(60.39, 5.32))}});
  saved("Place", {{"name", Value("Stavanger")}, {"at", Value(GeoPoint::geoPointWithLatitude(58.97, 5.73))}});
  saved("Place", {{"name", Value("Oslo")}, {"at", Value(GeoPoint::geoPointWithLatitude(59.91, 10.75))}});
  auto bergen = GeoPoint::geoPointWithLatitude(60.39, 5.32);

  auto q = Query::queryWithClassName("Place");
  q->whereKeyNearGeoPoint("at", bergen);
  EXPECT_EQ(namesOf(q->findObjects()), (Names{"Bergen", "Stavanger", "Oslo"}));  // nearest first
  q = Query::queryWithClassName("Place");
  q->whereKeyNearGeoPointWithinKilometers("at", bergen, 200);  // Stavanger is about 160 km away
  EXPECT_EQ(found(q), (Names{"Bergen", "Stavanger"}));
  q = Query::queryWithClassName("Place");
  q->whereKeyNearGeoPointWithinMiles("at", bergen, 62);  // about 100 km
  EXPECT_EQ(found(q), (Names{"Bergen"}));
  q = Query::queryWithClassName("Place");
  q->whereKeyNearGeoPointWithinRadians("at", bergen, 0.1);
  EXPECT_EQ(found(q), (Names{"Bergen", "Oslo", "Stavanger"}));
  q = Query::queryWithClassName("Place");
  q->whereKeyWithinGeoBox("at", GeoPoint::geoPointWithLatitude(58, 5), GeoPoint::geoPointWithLatitude(61, 6));
  EXPECT_EQ(found(q), (Names{"Bergen", "Stavanger"}));

  auto stored = q->findObjects().front()->objectForKey("at").object<GeoPoint>();
  ASSERT_TRUE(stored);
  EXPECT_LT(stored->distanceInKilometersTo(*bergen), 200);
}

// ---- Access lists and roles -----------------------------------------------------

TEST_F(QueryDevserverTest, ProtectedObjectsAreSeenOnlyByTheirReadersAndRoleMembers) {
  const SignedUp owner = signUp("owner");
  const SignedUp member = signUp("member");
  const SignedUp stranger = signUp("stranger");

  sessionToken_ = owner.sessionToken;
  auto editorsAcl = ACL::create();
  editorsAcl->setPublicReadAccess(true);
  editorsAcl->setWriteAccessForUserId(true, owner.userId);
  auto editors = Role::roleWithName("Editors", editorsAcl);
  editors->users()->addObject(Object::objectWithoutData("_User", member.userId));
  ASSERT_TRUE(editors->save());

  auto secretAcl = ACL::create();
  secretAcl->setReadAccessForUserId(true, owner.userId);
  secretAcl->setWriteAccessForUserId(true, owner.userId);
  secretAcl->setReadAccessForRole(true, editors);
  auto secret = saved("Memo", {{"name", Value("secret")}}, secretAcl);
  saved("Memo", {{"name", Value("open")}});

  auto memos = [] { return Query::queryWithClassName("Memo"); };
  EXPECT_EQ(found(memos()), (Names{"open", "secret"}));
  sessionToken_ = member.sessionToken;
  EXPECT_EQ(found(memos()), (Names{"open", "secret"}));
  sessionToken_ = stranger.sessionToken;
  EXPECT_EQ(found(memos()), (Names{"open"}));
  sessionToken_.reset();
  EXPECT_EQ(found(memos()), (Names{"open"}));

  // Found objects carry their list back.
  sessionToken_ = owner.sessionToken;
  auto mine = memos();
  mine->whereKeyEqualTo("name", Value("secret"));
  auto acl = std::dynamic_pointer_cast<ACL>(mine->getFirstObject()->ACL());
  ASSERT_TRUE(acl);
  EXPECT_TRUE(acl->getReadAccessForRoleWithName("Editors"));
  EXPECT_FALSE(acl->getPublicReadAccess());
  EXPECT_EQ(secret->objectId(), mine->getFirstObject()->objectId());

  auto roles = Role::query();
  roles->whereKeyEqualTo("name", Value("Editors"));
  auto role = roles->getFirstObject();
  EXPECT_TRUE(std::dynamic_pointer_cast<Role>(role));
}

TEST_F(QueryDevserverTest, RelationsOfAnUnreadableOwnerStayHidden) {
  const SignedUp owner = signUp("keeper");
  sessionToken_ = owner.sessionToken;
  auto hidden = saved("Player", {{"name", Value("Hidden")}});
  auto acl = ACL::create();
  acl->setReadAccessForUserId(true, owner.userId);
  acl->setWriteAccessForUserId(true, owner.userId);
  acl->setPublicReadAccess(false);
  auto team = Object::objectWithClassName("Team");
  team->setACL(acl);
  std::dynamic_pointer_cast<Relation>(team->relationForKey("members"))->addObject(hidden);
  ASSERT_TRUE(team->save());

  auto teamRef = Object::objectWithoutData("Team", *team->objectId());
  auto byOwner = Relation::relationForObject(teamRef, "members");
  EXPECT_EQ(found(byOwner->query()), (Names{"Hidden"}));
  sessionToken_.reset();
  std::optional<Error> error;
  auto redirected = byOwner->query()->findObjects(&error);
  EXPECT_TRUE(redirected.empty() || error);
  auto typed = Relation::relationForObject(teamRef, "members");
  typed->setTargetClass("Player");
  EXPECT_TRUE(found(typed->query()).empty());
}

// ---- Cache policies ----------------------------------------------------------------

TEST_F(QueryDevserverTest, EveryCachePolicy) {
  saved("Note", {{"name", Value("first")}});
  auto query = Query::queryWithClassName("Note");
  Query::clearAllCachedResults();
  std::optional<Error> error;

  query->setCachePolicy(kCachePolicyCacheOnly);
  EXPECT_TRUE(query->findObjects(&error).empty());
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, kErrorCacheMiss);

  query->setCachePolicy(kCachePolicyIgnoreCache);
  EXPECT_EQ(found(query), (Names{"first"}));
  EXPECT_FALSE(query->hasCachedResult());

  query->setCachePolicy(kCachePolicyNetworkOnly);
  EXPECT_EQ(found(query), (Names{"first"}));
  EXPECT_TRUE(query->hasCachedResult());

  saved("Note", {{"name", Value("second")}});
  forgetCommandsSeen();
  query->setCachePolicy(kCachePolicyCacheElseNetwork);
  EXPECT_EQ(found(query), (Names{"first"}));
  EXPECT_TRUE(commandsSeen().empty());

  query->setCachePolicy(kCachePolicyNetworkElseCache);
  EXPECT_EQ(found(query), (Names{"first", "second"}));
  addFault(1, 500);
  EXPECT_EQ(found(query), (Names{"first", "second"}));  // the network failed: from the cache

  query->clearCachedResult();
  EXPECT_FALSE(query->hasCachedResult());

  // The blocking form hands policy 5 to the runner, which refuses it.
  query->setCachePolicy(kCachePolicyCacheThenNetwork);
  EXPECT_EQ(raisedMessage<platform::InternalInconsistencyException>([&] { query->findObjects(); }),
            "kBECachePolicyCacheThenNetwork is not implmented as a runner.");
}

TEST_F(QueryDevserverTest, CacheThenNetworkCallsBackTwice) {
  saved("Note", {{"name", Value("first")}});
  auto query = Query::queryWithClassName("Note");
  Query::clearAllCachedResults();
  query->setCachePolicy(kCachePolicyCacheThenNetwork);

  std::vector<std::pair<Names, std::optional<Error>>> deliveries;
  auto collect = [&](const std::vector<ObjectPtr>& objects, const std::optional<Error>& error) {
    deliveries.emplace_back(namesOf(objects), error);
  };
  query->findObjectsInBackground(collect);
  waitFor([&] { return deliveries.size() == 2; });
  ASSERT_TRUE(deliveries[0].second);
  EXPECT_EQ(deliveries[0].second->code, kErrorCacheMiss);
  EXPECT_EQ(deliveries[1].first, (Names{"first"}));
  EXPECT_FALSE(deliveries[1].second);

  saved("Note", {{"name", Value("second")}});
  deliveries.clear();
  query->orderByAscending("name");
  query->findObjectsInBackground(collect);
  waitFor([&] { return deliveries.size() == 2; });
  // The order is part of the cache key: a miss first.
  ASSERT_TRUE(deliveries[0].second);
  EXPECT_EQ(deliveries[1].first, (Names{"first", "second"}));
  deliveries.clear();
  query->findObjectsInBackground(collect);
  waitFor([&] { return deliveries.size() == 2; });
  EXPECT_EQ(deliveries[0].first, (Names{"first", "second"}));
  EXPECT_FALSE(deliveries[0].second);

  std::vector<long long> counts;
  query->countObjectsInBackground([&](long long count, const std::optional<Error>&) { counts.push_back(count); });
  waitFor([&] { return counts.size() == 2; });
  EXPECT_EQ(counts.back(), 2);
}

// ---- Counting, first objects, ids -------------------------------------------------

TEST_F(QueryDevserverTest, CountFirstObjectAndGetById) {
  auto a = saved("Note", {{"name", Value("a")}});
  saved("Note", {{"name", Value("b")}});
  auto query = Query::queryWithClassName("Note");
  EXPECT_EQ(query->countObjects(), 2);

  auto none = Query::queryWithClassName("Note");
  none->whereKeyEqualTo("name", Value("zzz"));
  std::optional<Error> error;
  EXPECT_EQ(none->getFirstObject(&error), nullptr);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, kErrorObjectNotFound);
  EXPECT_EQ(error->message(), "no results matched the query");
  EXPECT_EQ(none->limit(), 1);

  auto byId = Query::getObjectOfClass("Note", *a->objectId(), &error);
  ASSERT_TRUE(byId);
  EXPECT_EQ(byId->objectForKey("name"), Value("a"));
  EXPECT_EQ(Query::queryWithClassName("Note")->getObjectWithId(""), nullptr);

  auto invalid = Query::queryWithClassName("bad class!");
  EXPECT_EQ(invalid->countObjects(&error), -1);
  EXPECT_TRUE(error);

  ObjectPtr inBackground;
  bool called = false;
  Query::queryWithClassName("Note")->getObjectInBackgroundWithId(*a->objectId(),
                                                                 [&](const ObjectPtr& object, const auto&) {
                                                                   inBackground = object;
                                                                   called = true;
                                                                 });
  waitFor([&] { return called; });
  ASSERT_TRUE(inBackground);
  EXPECT_EQ(inBackground->objectId(), a->objectId());

  std::optional<Error> firstError;
  called = false;
  none->getFirstObjectInBackground([&](const ObjectPtr&, const std::optional<Error>& e) {
    firstError = e;
    called = true;
  });
  waitFor([&] { return called; });
  ASSERT_TRUE(firstError);
  EXPECT_EQ(firstError->code, kErrorObjectNotFound);

  EXPECT_EQ(raisedMessage<platform::InvalidArgumentException>(
                [] { Query::queryWithClassName("_Installation")->findObjects(); }),
            "Cannot directly query the Installation class.");
}

TEST_F(QueryDevserverTest, RunningQueryRefusesChangesUntilCancelled) {
  saved("Note", {{"name", Value("a")}});
  auto query = Query::queryWithClassName("Note");
  addFault(1, 0, 3000);
  auto running = query->findAsync(kCachePolicyIgnoreCache);
  const std::string busy = "This query has an outstanding network connection. You have to wait until it's done.";
  EXPECT_EQ(raisedMessage<platform::InternalInconsistencyException>([&] { query->whereKeyExists("name"); }), busy);
  EXPECT_EQ(raisedMessage<platform::InternalInconsistencyException>([&] { query->orderByAscending("name"); }), busy);
  EXPECT_EQ(raisedMessage<platform::InternalInconsistencyException>([&] { query->findAsync(kCachePolicyIgnoreCache); }),
            busy);
  query->setLimit(5);  // not guarded
  query->cancel();
  running.waitUntilFinished();
  EXPECT_TRUE(running.isCancelled());
  query->whereKeyExists("name");
  EXPECT_EQ(found(query), (Names{"a"}));
}

TEST_F(QueryDevserverTest, TraceIsLogged) {
  saved("Note", {{"name", Value("a")}});
  auto query = Query::queryWithClassName("Note");
  query->setTrace(true);
  platform::LogCapture log;
  EXPECT_EQ(found(query), (Names{"a"}));
  EXPECT_TRUE(log.contains("Pre-processing took "));
  EXPECT_TRUE(log.contains("Server: class Note"));
  EXPECT_TRUE(log.contains("Client side parsing took "));
}

}  // namespace
}  // namespace backend
