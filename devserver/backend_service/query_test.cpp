#include "backend_fixture.hpp"

#include <gtest/gtest.h>

#include <set>

namespace devserver::backend::testing {
namespace {

class QueryTest : public BackendFixture {
 protected:
  void SetUp() override {
    // Five cities with numbers, texts, dates, arrays and places.
    add("Oslo", 700000, "2020-01-01T00:00:00.000Z", {"capital", "east"}, 59.91, 10.75);
    add("Bergen", 285000, "2021-06-01T00:00:00.000Z", {"west", "rain"}, 60.39, 5.32);
    add("Tromsø", 77000, "2019-03-01T00:00:00.000Z", {"north"}, 69.65, 18.96);
    add("Stavanger", 144000, "2022-09-01T00:00:00.000Z", {"west"}, 58.97, 5.73);
    add("Bodø", 52000, "2018-12-01T00:00:00.000Z", {"north", "east"}, 67.28, 14.40);
    ids["Nowhere"] = create("City", {{"name", "Nowhere"}});
  }

  void add(const std::string& name, int people, const std::string& founded, Json tags, double lat, double lon) {
    ids[name] = create("City", {{"name", name},
                                {"people", people},
                                {"founded", {{"__type", "Date"}, {"iso", founded}}},
                                {"tags", tags},
                                {"place", {{"__type", "GeoPoint"}, {"latitude", lat}, {"longitude", lon}}}});
  }

  Json find(Json params) {
    if (!params.contains("classname")) params["classname"] = "City";
    return result("find", params);
  }

  // Names of the cities matching `where`, in answer order.
  std::vector<std::string> names(Json where, Json extra = Json::object()) {
    extra["data"] = std::move(where);
    std::vector<std::string> out;
    Json found = find(extra);
    for (const auto& entry : found["results"]) out.push_back(entry["data"].value("name", ""));
    return out;
  }

  std::set<std::string> nameSet(Json where) {
    auto list = names(std::move(where));
    return {list.begin(), list.end()};
  }

  static Json date(const std::string& iso) { return {{"__type", "Date"}, {"iso", iso}}; }
  static Json geo(double lat, double lon) { return {{"__type", "GeoPoint"}, {"latitude", lat}, {"longitude", lon}}; }

  std::map<std::string, std::string> ids;
};

using Names = std::set<std::string>;

TEST_F(QueryTest, ComparisonsOnNumbersTextsAndDates) {
  EXPECT_EQ(nameSet({{"people", {{"$gt", 144000}}}}), (Names{"Oslo", "Bergen"}));
  EXPECT_EQ(nameSet({{"people", {{"$gte", 144000}}}}), (Names{"Oslo", "Bergen", "Stavanger"}));
  EXPECT_EQ(nameSet({{"people", {{"$lt", 77000}}}}), (Names{"Bodø"}));
  EXPECT_EQ(nameSet({{"people", {{"$lte", 77000}, {"$gt", 60000}}}}), (Names{"Tromsø"}));
  EXPECT_EQ(nameSet({{"name", {{"$lt", "C"}}}}), (Names{"Bergen", "Bodø"}));
  EXPECT_EQ(nameSet({{"founded", {{"$lt", date("2019-06-01T00:00:00.000Z")}}}}), (Names{"Tromsø", "Bodø"}));
  EXPECT_EQ(nameSet({{"founded", date("2020-01-01T00:00:00.000Z")}}), (Names{"Oslo"}));
  EXPECT_EQ(nameSet({{"createdAt", {{"$gt", date("2000-01-01T00:00:00.000Z")}}}}).size(), 6u);
  EXPECT_TRUE(nameSet({{"people", {{"$gt", "a string"}}}}).empty()) << "different kinds never compare";
}

TEST_F(QueryTest, EqualityMembershipAndExistence) {
  EXPECT_EQ(nameSet({{"name", "Oslo"}}), (Names{"Oslo"}));
  EXPECT_EQ(nameSet({{"tags", "west"}}), (Names{"Bergen", "Stavanger"})) << "equality looks inside arrays";
  EXPECT_EQ(nameSet({{"name", {{"$ne", "Oslo"}}}}).size(), 5u);
  EXPECT_EQ(nameSet({{"name", {{"$in", {"Oslo", "Bodø", "Paris"}}}}}), (Names{"Oslo", "Bodø"}));
  EXPECT_EQ(nameSet({{"tags", {{"$nin", {"west", "north"}}}}}), (Names{"Oslo", "Nowhere"}));
  EXPECT_EQ(nameSet({{"tags", {{"$all", {"north", "east"}}}}}), (Names{"Bodø"}));
  EXPECT_EQ(nameSet({{"people", {{"$exists", false}}}}), (Names{"Nowhere"}));
  EXPECT_EQ(nameSet({{"people", {{"$exists", true}}}}).size(), 5u);
  EXPECT_EQ(nameSet({{"objectId", ids["Oslo"]}}), (Names{"Oslo"}));
}

TEST_F(QueryTest, RegexWithOptionsAndQuoting) {
  EXPECT_EQ(nameSet({{"name", {{"$regex", "^B"}}}}), (Names{"Bergen", "Bodø"}));
  EXPECT_EQ(nameSet({{"name", {{"$regex", "^b"}}}}), Names{});
  EXPECT_EQ(nameSet({{"name", {{"$regex", "^b"}, {"$options", "i"}}}}), (Names{"Bergen", "Bodø"}));
  EXPECT_EQ(nameSet({{"name", {{"$regex", "dø$"}}}}), (Names{"Bodø"}));
  create("City", {{"name", "a.b\\E*"}});
  // "\Q…\E" quotes the text, with "\E" inside written as \E\\E\Q.
  EXPECT_EQ(nameSet({{"name", {{"$regex", "^\\Qa.b\\E\\\\E\\Q*\\E"}}}}), (Names{"a.b\\E*"}));
  EXPECT_EQ(errorCode("find", {{"classname", "City"}, {"data", {{"name", {{"$regex", "("}}}}}}), 102);
  EXPECT_EQ(errorCode("find", {{"classname", "City"}, {"data", {{"name", {{"$regex", "a"}, {"$options", "q"}}}}}}),
            102);
  EXPECT_TRUE(find({{"data", {{"name", {{"$regex", "(a+)+$"}}}}}})["results"].is_array())
      << "a classic backtracking pattern over short names still answers";
}

TEST_F(QueryTest, GeoQueries) {
  // Near Oslo within about 400 km (radians = km / 6371): Oslo, then Bergen.
  EXPECT_EQ(names({{"place", {{"$nearSphere", geo(59.91, 10.75)}, {"$maxDistance", 400.0 / 6371.0}}}}),
            (std::vector<std::string>{"Oslo", "Stavanger", "Bergen"}));
  EXPECT_EQ(names({{"place", {{"$nearSphere", geo(69.0, 18.0)}}}}, {{"limit", "2"}}),
            (std::vector<std::string>{"Tromsø", "Bodø"}))
      << "without an order, nearest first";
  EXPECT_EQ(nameSet({{"place", {{"$within", {{"$box", {geo(58.0, 5.0), geo(61.0, 6.0)}}}}}}}),
            (Names{"Bergen", "Stavanger"}));
  EXPECT_EQ(errorCode("find", {{"classname", "City"}, {"data", {{"place", {{"$within", {{"$box", {1, 2}}}}}}}}}), 102);
}

TEST_F(QueryTest, SubqueriesAndSelect) {
  create("Trip", {{"to", pointer("City", ids["Oslo"])}, {"city", "Oslo"}});
  create("Trip", {{"to", pointer("City", ids["Bodø"])}, {"city", "Bodø"}});
  Json big{{"className", "City"}, {"where", {{"people", {{"$gt", 100000}}}}}};
  auto trips = [&](Json where) {
    std::set<std::string> out;
    Json found = find({{"classname", "Trip"}, {"data", where}});
    for (const auto& entry : found["results"]) out.insert(entry["data"]["city"]);
    return out;
  };
  EXPECT_EQ(trips({{"to", {{"$inQuery", big}}}}), (Names{"Oslo"}));
  EXPECT_EQ(trips({{"to", {{"$notInQuery", big}}}}), (Names{"Bodø"}));
  EXPECT_EQ(trips({{"city", {{"$select", {{"query", big}, {"key", "name"}}}}}}), (Names{"Oslo"}));
  EXPECT_EQ(trips({{"city", {{"$dontSelect", {{"query", big}, {"key", "name"}}}}}}), (Names{"Bodø"}));
  EXPECT_EQ(errorCode("find", {{"classname", "Trip"}, {"data", {{"city", {{"$select", {{"key", "name"}}}}}}}}), 102);
}

TEST_F(QueryTest, OrAndUnknownOperators) {
  EXPECT_EQ(nameSet({{"$or", {{{"name", "Oslo"}}, {{"people", {{"$lt", 60000}}}}}}}), (Names{"Oslo", "Bodø"}));
  EXPECT_EQ(nameSet({{"tags", "north"}, {"$or", {{{"name", "Oslo"}}, {{"people", {{"$lt", 60000}}}}}}}),
            (Names{"Bodø"}));
  EXPECT_EQ(errorCode("find", {{"classname", "City"}, {"data", {{"name", {{"$near", 1}}}}}}), 102);
  EXPECT_EQ(errorCode("find", {{"classname", "City"}, {"data", {{"$where", "1"}}}}), 102);
  EXPECT_EQ(errorCode("find", {{"classname", "City"}, {"data", {{"$or", "x"}}}}), 102);
}

TEST_F(QueryTest, OrderLimitSkipAndCount) {
  EXPECT_EQ(names(Json::object(), {{"order", "-people"}, {"limit", "3"}}),
            (std::vector<std::string>{"Oslo", "Bergen", "Stavanger"}));
  EXPECT_EQ(names(Json::object(), {{"order", "-people"}, {"limit", "2"}, {"skip", "1"}}),
            (std::vector<std::string>{"Bergen", "Stavanger"}));
  create("City", {{"name", "Bergen"}, {"people", 1}});
  EXPECT_EQ(names({{"name", {{"$regex", "^B"}}}}, {{"order", "name,-people"}}),
            (std::vector<std::string>{"Bergen", "Bergen", "Bodø"}));
  Json counted = find({{"data", {{"people", {{"$gt", 100000}}}}}, {"limit", "0"}, {"count", "1"}});
  EXPECT_EQ(counted["count"], 3);
  EXPECT_TRUE(counted["results"].empty());

  for (int i = 0; i < 120; ++i) create("Many", {{"i", i}});
  EXPECT_EQ(find({{"classname", "Many"}})["results"].size(), 100u) << "default limit";
  EXPECT_EQ(find({{"classname", "Many"}, {"limit", 5000}})["results"].size(), 120u);
  EXPECT_EQ(errorCode("find", {{"classname", "Many"}, {"limit", "ten"}}), 102);
  EXPECT_EQ(errorCode("find", {{"classname", "Many"}, {"skip", "-1"}}), 102);
}

TEST_F(QueryTest, IncludeFieldsRedirectAndTrace) {
  std::string country = create("Country", {{"name", "Norge"}, {"capital", pointer("City", ids["Oslo"])}});
  create("Trip", {{"to", pointer("Country", country)}, {"stops", {pointer("City", ids["Bergen"])}}});
  Json trip = find({{"classname", "Trip"}, {"include", "to.capital,stops"}})["results"][0]["data"];
  EXPECT_EQ(trip["to"]["__type"], "Object");
  EXPECT_EQ(trip["to"]["className"], "Country");
  EXPECT_EQ(trip["to"]["name"], "Norge");
  EXPECT_EQ(trip["to"]["capital"]["__type"], "Object");
  EXPECT_EQ(trip["to"]["capital"]["name"], "Oslo");
  EXPECT_EQ(trip["stops"][0]["name"], "Bergen");
  std::string deep = "to";
  for (int i = 0; i < 20; ++i) deep += ".capital";
  EXPECT_EQ(errorCode("find", {{"classname", "Trip"}, {"include", deep}}), 102);
  Json plain = find({{"classname", "Trip"}})["results"][0]["data"];
  EXPECT_EQ(plain["to"]["__type"], "Pointer");

  Json selected = find({{"data", {{"name", "Oslo"}}}, {"fields", "name"}})["results"][0]["data"];
  EXPECT_EQ(selected["name"], "Oslo");
  EXPECT_FALSE(selected.contains("people"));
  EXPECT_TRUE(selected.contains("objectId"));
  EXPECT_TRUE(selected.contains("updatedAt"));

  std::string list = create("List", Json::object());
  result("update", {{"classname", "List"},
                    {"data",
                     {{"objectId", list},
                      {"members", {{"__op", "AddRelation"}, {"objects", {pointer("City", ids["Tromsø"])}}}}}}});
  Json redirected = find({{"classname", "List"},
                          {"redirectClassNameForKey", "members"},
                          {"data", {{"$relatedTo", {{"object", pointer("List", list)}, {"key", "members"}}}}}});
  EXPECT_EQ(redirected["className"], "City");
  ASSERT_EQ(redirected["results"].size(), 1u);
  EXPECT_EQ(redirected["results"][0]["data"]["name"], "Tromsø");

  Json traced = find({{"trace", "1"}});
  EXPECT_TRUE(traced["trace"].is_string());
  EXPECT_FALSE(find(Json::object()).contains("trace"));
}

}  // namespace
}  // namespace devserver::backend::testing
