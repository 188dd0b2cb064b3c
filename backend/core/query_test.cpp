// Queries built by hand and from predicates, read through the find
// parameters they would send.

#include <gtest/gtest.h>

#include "backend/geo_point.hpp"
#include "backend/internal/internal_utils.hpp"
#include "backend/predicate.hpp"
#include "backend/query.hpp"
#include "backend/value_types.hpp"
#include "support/backend/object_fixture.hpp"

namespace backend {
namespace {

using platform::InternalInconsistencyException;
using platform::InvalidArgumentException;
using testing::raisedMessage;
using namespace predicates;

Value json(std::string_view text) { return InternalUtils::parseJSON(text); }

Value dataOf(const QueryPtr& query) { return query->constructFindParams()["data"]; }

class QueryTest : public testing::BackendTest {
 protected:
  void SetUp() override {
    BackendTest::SetUp();
    registerValueTypes();
  }
};

TEST_F(QueryTest, FreshQuerySendsOnlyItsClass) {
  auto query = Query::queryWithClassName("Note");
  EXPECT_EQ(query->constructFindParams(), json(R"({"classname": "Note"})"));
  EXPECT_EQ(query->limit(), -1);
  EXPECT_EQ(query->cachePolicy(), kCachePolicyIgnoreCache);
  EXPECT_EQ(query->maxCacheAge(), std::numeric_limits<double>::infinity());
}

TEST_F(QueryTest, PagingIncludesKeysAndOptionsAsParameters) {
  auto query = Query::queryWithClassName("Note");
  query->setLimit(0);
  query->setSkip(0);
  EXPECT_EQ(query->constructFindParams(), json(R"({"classname": "Note", "limit": "0"})"));

  query->setSkip(3);
  query->includeKey("author");
  query->includeKey("author.team");
  query->selectKeys({"title", "body"});
  query->setTrace(true);
  query->extraOptions().set("redirectClassNameForKey", Value("likes"));
  EXPECT_EQ(query->constructFindParams(), json(R"({"classname": "Note", "limit": "0", "skip": "3",
      "include": "author,author.team", "fields": "title,body", "trace": "1", "redirectClassNameForKey": "likes"})"));
}

TEST_F(QueryTest, OrderingStrings) {
  auto query = Query::queryWithClassName("Note");
  query->orderByAscending("a");
  query->addDescendingOrder("b");
  EXPECT_EQ(query->order(), "a,-b");
  query->orderByDescending("c");
  query->addAscendingOrder("d");
  EXPECT_EQ(query->constructFindParams()["order"], Value("-c,d"));

  auto fresh = Query::queryWithClassName("Note");
  fresh->addDescendingOrder("x");
  EXPECT_EQ(fresh->order(), "-x");
  fresh->orderBySortDescriptors({{"y", true}, {"z", false}});
  EXPECT_EQ(fresh->order(), "y,-z");
}

TEST_F(QueryTest, ConstraintOperatorsAndOperandEncoding) {
  auto query = Query::queryWithClassName("Note");
  query->whereKeyGreaterThan("n", Value(1));
  query->whereKeyLessThanOrEqualTo("n", Value(9));
  query->whereKeyNotEqualTo("title", Value::null());
  query->whereKeyContainedIn("tag", {Value("a"), Value("b")});
  query->whereKeyNotContainedIn("other", {Value(1)});
  query->whereKeyContainsAllObjectsInArray("all", {Value(1), Value(2)});
  query->whereKeyExists("present");
  query->whereKeyDoesNotExist("absent");
  query->whereKeyEqualTo("author", Value(Object::objectWithoutData("Person", "u1")));
  query->whereKeyGreaterThanOrEqualTo("when", Value(*InternalUtils::preciseDateFromString("2024-01-02T03:04:05.006Z")));
  query->whereKeyMatchesRegex("text", "^a.c", "im");
  query->whereKeyWithinGeoBox("place", GeoPoint::geoPointWithLatitude(1, 2), GeoPoint::geoPointWithLatitude(3, 4));
  EXPECT_EQ(dataOf(query), json(R"({
      "n": {"$gt": 1, "$lte": 9}, "title": {"$ne": null}, "tag": {"$in": ["a", "b"]},
      "other": {"$nin": [1]}, "all": {"$all": [1, 2]}, "present": {"$exists": true}, "absent": {"$exists": false},
      "author": {"__type": "Pointer", "className": "Person", "objectId": "u1"},
      "when": {"$gte": {"__type": "Date", "iso": "2024-01-02T03:04:05.006Z"}},
      "text": {"$regex": "^a.c", "$options": "im"},
      "place": {"$within": {"$box": [{"__type": "GeoPoint", "latitude": 1.0, "longitude": 2.0},
                                     {"__type": "GeoPoint", "latitude": 3.0, "longitude": 4.0}]}}})"));
}

TEST_F(QueryTest, EqualityReplacesConstraintsAndConstraintsReplaceEquality) {
  auto query = Query::queryWithClassName("Note");
  query->whereKeyGreaterThan("n", Value(1));
  query->whereKeyEqualTo("n", Value(5));
  EXPECT_EQ(dataOf(query), json(R"({"n": 5})"));
  query->whereKeyLessThan("n", Value(3));
  EXPECT_EQ(dataOf(query), json(R"({"n": {"$lt": 3}})"));
}

TEST_F(QueryTest, OperandsOfTheWrongClassAreRefused) {
  auto query = Query::queryWithClassName("Note");
  EXPECT_EQ(raisedMessage<InvalidArgumentException>([&] { query->whereKeyLessThan("n", Value::emptyArray()); }),
            "Cannot do a query that requires ordering for type: Array");
  EXPECT_EQ(raisedMessage<InvalidArgumentException>([&] { query->whereKeyEqualTo("n", Value(platform::Bytes{1})); }),
            "Cannot do a comparison query for type: Bytes");
  // A geo point compares but does not order.
  query->whereKeyEqualTo("p", Value(GeoPoint::geoPoint()));
  EXPECT_FALSE(raisedMessage<InvalidArgumentException>(
                   [&] { query->whereKeyGreaterThan("p", Value(GeoPoint::geoPoint())); })
                   .empty());
  query->whereKeyEqualTo("owner", Value(Object::objectWithClassName("Note")));
  EXPECT_EQ(raisedMessage<InternalInconsistencyException>([&] { query->constructFindParams(); }),
            "Tried to save an object with a new, unsaved child.");
}

TEST_F(QueryTest, GeoDistancesBecomeRadians) {
  auto query = Query::queryWithClassName("Place");
  query->whereKeyNearGeoPointWithinKilometers("at", GeoPoint::geoPointWithLatitude(10, 20), 6371);
  query->whereKeyNearGeoPointWithinMiles("near", GeoPoint::geoPoint(), 3958.8 / 2);
  query->whereKeyNearGeoPoint("any", GeoPoint::geoPoint());
  EXPECT_EQ(dataOf(query), json(R"({
      "at": {"$nearSphere": {"__type": "GeoPoint", "latitude": 10.0, "longitude": 20.0}, "$maxDistance": 1.0},
      "near": {"$nearSphere": {"__type": "GeoPoint", "latitude": 0.0, "longitude": 0.0}, "$maxDistance": 0.5},
      "any": {"$nearSphere": {"__type": "GeoPoint", "latitude": 0.0, "longitude": 0.0}}})"));
}

TEST_F(QueryTest, LiteralTextIsQuotedEvenWhenItHoldsTheEndMarker) {
  EXPECT_EQ(Query::regexForString("a.b"), "\\Qa.b\\E");
  EXPECT_EQ(Query::regexForString("x\\Ey"), "\\Qx\\E\\\\E\\Qy\\E");
  EXPECT_EQ(Query::regexForString("\\E"), "\\Q\\E\\\\E\\Q\\E");
  auto query = Query::queryWithClassName("Note");
  query->whereKeyHasPrefix("a", "p*");
  query->whereKeyHasSuffix("b", "s+");
  query->whereKeyContainsString("c", "m?");
  EXPECT_EQ(dataOf(query), json(R"({"a": {"$regex": "^\\Qp*\\E"}, "b": {"$regex": "\\Qs+\\E$"},
                                     "c": {"$regex": "\\Qm?\\E"}})"));
}

TEST_F(QueryTest, SubqueriesTravelAsTheirOwnParameters) {
  auto inner = Query::queryWithClassName("Team");
  inner->whereKeyEqualTo("city", Value("Bergen"));
  inner->setLimit(5);
  auto query = Query::queryWithClassName("Player");
  query->whereKeyMatchesQuery("team", inner);
  query->whereKeyDoesNotMatchKeyInQuery("hometown", "city", inner);
  query->whereRelatedToObject(Object::objectWithoutData("Team", "t1"), "members");
  EXPECT_EQ(dataOf(query), json(R"({
      "team": {"$inQuery": {"className": "Team", "where": {"city": "Bergen"}, "limit": "5"}},
      "hometown": {"$dontSelect": {"key": "city",
                                   "query": {"className": "Team", "where": {"city": "Bergen"}, "limit": "5"}}},
      "$relatedTo": {"object": {"__type": "Pointer", "className": "Team", "objectId": "t1"}, "key": "members"}})"));
}

TEST_F(QueryTest, OrQueriesAndTheirRefusals) {
  auto a = Query::queryWithClassName("Note");
  a->whereKeyEqualTo("a", Value(1));
  auto b = Query::queryWithClassName("Note");
  auto either = Query::orQueryWithSubqueries({a, b});
  EXPECT_EQ(either->constructFindParams(), json(R"({"classname": "Note", "data": {"$or": [{"a": 1}, {}]}})"));

  EXPECT_EQ(raisedMessage<InvalidArgumentException>(
                [&] { Query::orQueryWithSubqueries({a, Query::queryWithClassName("Other")}); }),
            "All sub queries of an or query should be on the same class");
  EXPECT_EQ(raisedMessage<InvalidArgumentException>([&] { Query::orQueryWithSubqueries({a, nullptr}); }),
            "All elements should be BEQuerys");
  EXPECT_EQ(Query::orQueryWithSubqueries({})->backendClassName(), "");

  // Refused when the parameters are built, not when the or-query is made.
  const std::vector<std::pair<std::function<void(Query&)>, std::string>> refusals = {
      {[](Query& q) { q.setLimit(0); }, "OR queries do not support sub queries with limits"},
      {[](Query& q) { q.setSkip(1); }, "OR queries do not support sub queries with skip"},
      {[](Query& q) { q.orderByAscending("a"); }, "OR queries do not support sub queries with order"},
      {[](Query& q) { q.includeKey("a"); }, "OR queries do not support sub-queries with includes"},
      {[](Query& q) { q.selectKeys({"a"}); }, "OR queries do not support sub-queries with selectKeys"},
  };
  for (const auto& [spoil, message] : refusals) {
    auto spoiled = Query::queryWithClassName("Note");
    spoil(*spoiled);
    auto query = Query::orQueryWithSubqueries({a, spoiled});
    EXPECT_EQ(raisedMessage<InvalidArgumentException>([&] { query->constructFindParams(); }), message);
  }
}

TEST_F(QueryTest, SubclassQueriesNeedTheSubclassRegistered) {
  struct Armor : Object {
    static std::string backendClassName() { return "Armor"; }
  };
  EXPECT_FALSE(raisedMessage<InternalInconsistencyException>([] { queryFor<Armor>(); }).empty());
  registerSubclass<Armor>();
  EXPECT_EQ(queryFor<Armor>()->backendClassName(), "Armor");
  unregisterSubclass<Armor>();
}

// ---- Predicates -------------------------------------------------------------------

Value dataOfPredicate(const Predicate& predicate) { return dataOf(Query::queryWithClassName("Note", predicate)); }

std::string refusalOf(const Predicate& predicate) {
  return raisedMessage<InternalInconsistencyException>([&] { Query::queryWithClassName("Note", predicate); });
}

TEST_F(QueryTest, PredicateAndOverOrBecomesAnOrQueryWithTheCommonConstraint) {
  EXPECT_EQ(dataOfPredicate(key("a") == 1 && (key("b") == 2 || key("c") == 3)),
            json(R"({"$or": [{"b": 2}, {"c": 3}], "a": 1})"));
}

TEST_F(QueryTest, PredicateConditionsCommonToEveryBranchAreHoisted) {
  EXPECT_EQ(dataOfPredicate((key("a") == 1 && key("b") == 2) || (key("a") == 1 && key("c") == 3)),
            json(R"({"$or": [{"b": 2}, {"c": 3}], "a": 1})"));
  // A branch left with nothing makes the OR always true.
  EXPECT_EQ(dataOfPredicate(key("a") == 1 || (key("a") == 1 && key("c") == 3)), json(R"({"a": 1})"));
  // Nothing in common: the OR stays.
  EXPECT_EQ(dataOfPredicate(key("a") == 1 || key("b") == 2), json(R"({"$or": [{"a": 1}, {"b": 2}]})"));
}

TEST_F(QueryTest, PredicateNegationsArePushedInward) {
  EXPECT_EQ(dataOfPredicate(!key("x").in({1, 2})), json(R"({"x": {"$nin": [1, 2]}})"));
  EXPECT_EQ(dataOfPredicate(!(key("x") < 5)), json(R"({"x": {"$gte": 5}})"));
  EXPECT_EQ(dataOfPredicate(!(key("x") >= 5)), json(R"({"x": {"$lt": 5}})"));
  EXPECT_EQ(dataOfPredicate(!!(key("x") <= 5)), json(R"({"x": {"$lte": 5}})"));
  EXPECT_EQ(dataOfPredicate(!(key("a") == 1 || key("b") > 2)), json(R"({"a": {"$ne": 1}, "b": {"$lte": 2}})"));
  EXPECT_EQ(dataOfPredicate(!(key("a") != 1 && key("b") <= 2)), json(R"({"$or": [{"a": 1}, {"b": {"$gt": 2}}]})"));
  EXPECT_EQ(dataOfPredicate(!key("x").inEvaluatedObject()), json(R"({"x": {"$exists": false}})"));
  EXPECT_EQ(refusalOf(!key("x").beginsWith("a")), "This comparison predicate cannot be negated. (x BEGINSWITH \"a\")");
}

TEST_F(QueryTest, PredicateBetweenAndConstantFirstComparisons) {
  EXPECT_EQ(dataOfPredicate(key("n").between(1, 9)), json(R"({"n": {"$gte": 1, "$lte": 9}})"));
  EXPECT_EQ(dataOfPredicate(Predicate::comparison(key("n"), PredicateOperator::Between,
                                                  Expression::constant(Value::array({Value(2), Value(3)})))),
            json(R"({"n": {"$gte": 2, "$lte": 3}})"));
  EXPECT_EQ(dataOfPredicate(5 < key("n")), json(R"({"n": {"$gt": 5}})"));
  EXPECT_EQ(dataOfPredicate(5 >= key("n")), json(R"({"n": {"$lte": 5}})"));
  EXPECT_EQ(dataOfPredicate(Predicate::comparison(Expression::constant(Value("t")), PredicateOperator::In, key("tags"))),
            json(R"({"tags": "t"})"));

  EXPECT_EQ(refusalOf(Predicate::comparison(key("n"), PredicateOperator::Between,
                                            Expression::constant(Value::array({Value(1)})))),
            "The right-hand side of a BETWEEN operation must have 2 items.");
  EXPECT_EQ(refusalOf(Predicate::comparison(key("n"), PredicateOperator::Between, Expression::constant(Value(1)))),
            "The right-hand side of a BETWEEN operation must be an array.");
  EXPECT_EQ(refusalOf(Predicate::comparison(key("n"), PredicateOperator::Between, key("m"))),
            "The right-hand side of a BETWEEN operation must be a value or literal.");
}

TEST_F(QueryTest, PredicateInForms) {
  auto teams = Query::queryWithClassName("Team");
  EXPECT_EQ(dataOfPredicate(key("team").in(Value(teams))), json(R"({"team": {"$inQuery": {"className": "Team"}}})"));
  EXPECT_EQ(dataOfPredicate(!key("team").in(Value(teams))),
            json(R"({"team": {"$notInQuery": {"className": "Team"}}})"));
  EXPECT_EQ(dataOfPredicate(key("n").in(Value::array({Value(1)}))), json(R"({"n": {"$in": [1]}})"));
  EXPECT_EQ(dataOfPredicate(key("n").inEvaluatedObject()), json(R"({"n": {"$exists": true}})"));
  EXPECT_EQ(dataOfPredicate(key("n") == Value()), json(R"({"n": null})"));
  EXPECT_EQ(dataOfPredicate(key("s").beginsWith("ab")), json(R"({"s": {"$regex": "^\\Qab\\E"}})"));
  EXPECT_EQ(refusalOf(key("n").in(Value(1))), "An IN predicate must have a key path and a constant.");
  EXPECT_EQ(refusalOf(!Predicate::comparison(key("n"), PredicateOperator::In, Expression::aggregate({key("m")}))),
            "A NOT IN predicate must have a key path and a constant array.");
}

TEST_F(QueryTest, PredicatesQueriesCannotExpressAreRefused) {
  EXPECT_EQ(refusalOf(key("a") == 1 || key("b") == 2 || key("c") == 3 || key("d") == 4 || key("e") == 5),
            "This query is too complex. It had an OR with >4 subpredicates after normalization.");
  EXPECT_EQ(refusalOf(Predicate::comparison(key("a"), PredicateOperator::EqualTo, Expression::constant(Value(1)),
                                            ComparisonModifier::Any)),
            "Unsupported comparison predicate modifier 2.");
  const std::string regexRefusal =
      "Regex queries are not supported with [BEQuery queryWithClassName:predicate:]. Please try to structure your "
      "data so that you can use an equalTo or containedIn query.";
  EXPECT_EQ(refusalOf(key("s").matches("a.*")), regexRefusal);
  EXPECT_EQ(refusalOf(key("s").endsWith("a")), regexRefusal);
  EXPECT_EQ(refusalOf(key("s").contains("a")), regexRefusal);
  EXPECT_EQ(refusalOf(key("s").like("a?")), "LIKE is not supported by BEQuery.");
  EXPECT_EQ(refusalOf(key("a") == key("b")), "This predicate must have a key path and a constant. a == b");
  EXPECT_EQ(refusalOf(Predicate::customSelector(key("a"), "isFoo:", Expression::constant(Value(1)))),
            "Predicates with custom selectors are not supported.");
  EXPECT_EQ(refusalOf(Predicate::truth(true) && key("a") == 1), "NSExpression predicates are not supported.");
}

}  // namespace
}  // namespace backend
