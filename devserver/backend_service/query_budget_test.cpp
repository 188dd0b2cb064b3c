#include "backend_fixture.hpp"

#include <gtest/gtest.h>

#include <set>

namespace devserver::backend::testing {
namespace {

constexpr int kTooExpensive = 124;

class QueryBudgetTest : public BackendFixture {
 protected:
  // `count` objects of class "Item" with "n" = 0, 1, ..., made in one batch each hundred.
  void addItems(int count) {
    for (int first = 0; first < count; first += 100) {
      Json commands = Json::array();
      for (int n = first; n < std::min(count, first + 100); ++n) {
        commands.push_back({{"op", "create"}, {"params", {{"classname", "Item"}, {"data", {{"n", n}}}}}});
      }
      Json made = result("multi", {{"commands", commands}});
      for (const auto& entry : made) ids.push_back(entry["data"]["objectId"]);
    }
  }

  void limitStepsTo(std::uint64_t steps) {
    ServiceLimits limits;
    limits.command.steps = steps;
    restartWith(limits);
  }

  Json findItems(Json params) {
    params["classname"] = "Item";
    return call("find", std::move(params)).body;
  }

  std::vector<std::string> ids;
};

TEST_F(QueryBudgetTest, AQueryOverItsBudgetEndsWithAFinalErrorInsteadOfAStall) {
  addItems(300);
  limitStepsTo(2000);
  EXPECT_EQ(findItems({{"data", {{"n", {{"$gte", 0}}}}}, {"limit", 1000}})["result"]["results"].size(), 300u);
  Json regexes = Json::array();
  for (int i = 0; i < 10; ++i) regexes.push_back({{"n", {{"$regex", "^(a+)+$"}}}});
  Json costly = findItems({{"data", {{"$or", regexes}}}});
  EXPECT_EQ(costly["code"], kTooExpensive) << costly.dump();
  EXPECT_NE(costly["error"].get<std::string>().find("request too expensive"), std::string::npos);
  // The service is not left stuck: the next request is answered.
  EXPECT_EQ(findItems({{"data", {{"n", 7}}}})["result"]["results"].size(), 1u);
}

// The caps apply while objects are examined; an empty class costs nothing.
TEST_F(QueryBudgetTest, ListsBranchesAndNestingAreCapped) {
  addItems(3);
  Json branches = Json::array();
  for (int i = 0; i <= 100; ++i) branches.push_back({{"n", i}});
  EXPECT_EQ(findItems({{"data", {{"$or", branches}}}})["code"], kTooExpensive);
  branches.erase(branches.begin());
  EXPECT_TRUE(findItems({{"data", {{"$or", branches}}}}).contains("result"));

  Json values = Json::array();
  for (int i = 0; i <= 1000; ++i) values.push_back(i);
  EXPECT_EQ(findItems({{"data", {{"n", {{"$in", values}}}}}})["code"], kTooExpensive);
  EXPECT_EQ(findItems({{"data", {{"n", {{"$all", values}}}}}})["code"], kTooExpensive);

  Json query{{"className", "Item"}, {"where", Json::object()}};
  for (int depth = 0; depth < 5; ++depth) {
    query = {{"className", "Item"}, {"where", {{"ref", {{"$inQuery", query}}}}}};
  }
  EXPECT_EQ(findItems({{"data", {{"ref", {{"$inQuery", query}}}}}})["code"], kTooExpensive);
}

// Reading by id and ordering by the stored timestamps happen in the store,
// so such queries cost steps for what they answer, not for the whole class;
// they answer what the full scan (forced by "count") answers.
TEST_F(QueryBudgetTest, IdLookupsAndTimestampOrderWithALimitDoNotScanTheClass) {
  addItems(300);
  std::vector<Json> queries{{{"data", {{"objectId", ids[150]}}}},
                            {{"data", {{"objectId", {{"$in", {ids[3], ids[1], "nothing"}}}}}}},
                            {{"order", "-createdAt,objectId"}, {"limit", 3}, {"skip", 1}},
                            {{"order", "updatedAt"}, {"limit", 2}}};
  std::vector<Json> fullScans;
  for (Json query : queries) {
    query["count"] = 1;
    Json answer = findItems(query)["result"];
    answer.erase("count");
    fullScans.push_back(answer);
  }
  limitStepsTo(100);
  for (std::size_t i = 0; i < queries.size(); ++i) EXPECT_EQ(findItems(queries[i])["result"], fullScans[i]) << i;
  EXPECT_EQ(fullScans[0]["results"][0]["data"]["n"], 150);
  EXPECT_EQ(fullScans[1]["results"].size(), 2u);
  EXPECT_EQ(fullScans[2]["results"].size(), 3u);
  // Ordering by a field (or counting) needs every match, and this budget is too small for that.
  EXPECT_EQ(findItems({{"order", "-n"}, {"limit", 3}})["code"], kTooExpensive);
  EXPECT_EQ(findItems({{"limit", 3}, {"count", 1}})["code"], kTooExpensive);
}

TEST_F(QueryBudgetTest, RelatedToReadsTheRelationOncePerQuery) {
  addItems(20);
  std::string owner = create("Box", Json::object());
  result("update", {{"classname", "Box"},
                    {"data", {{"objectId", owner},
                              {"items", {{"__op", "AddRelation"},
                                         {"objects", {pointer("Item", ids[2]), pointer("Item", ids[5])}}}}}}});
  Json related = findItems({{"data", {{"$relatedTo", {{"object", pointer("Box", owner)}, {"key", "items"}}}}}});
  ASSERT_EQ(related["result"]["results"].size(), 2u) << related.dump();
  std::set<int> found;
  for (const auto& entry : related["result"]["results"]) found.insert(entry["data"]["n"].get<int>());
  EXPECT_EQ(found, (std::set<int>{2, 5}));
}

// Paging through a class must not cost each page every object before it.
TEST_F(QueryBudgetTest, ADeepPageOfAPlainFindIsNotChargedForTheObjectsItSkips) {
  addItems(600);
  auto idsOf = [](const Json& answer) {
    std::vector<std::string> found;
    for (const auto& entry : answer["result"]["results"]) found.push_back(entry["data"]["objectId"]);
    return found;
  };
  auto all = idsOf(findItems({{"limit", "1000"}}));
  auto newestFirst = idsOf(findItems({{"limit", "1000"}, {"order", "-createdAt"}}));
  limitStepsTo(500);
  Json page = findItems({{"skip", "550"}, {"limit", "40"}});
  ASSERT_TRUE(page.contains("result")) << page.dump();
  EXPECT_EQ(idsOf(page), std::vector<std::string>(all.begin() + 550, all.begin() + 590));
  EXPECT_EQ(idsOf(findItems({{"skip", "550"}, {"order", "-createdAt"}})),
            std::vector<std::string>(newestFirst.begin() + 550, newestFirst.end()));
  // Constraints still cost what they examine.
  EXPECT_EQ(findItems({{"data", {{"n", {{"$gte", 0}}}}}, {"skip", "550"}})["code"], kTooExpensive);
}

}  // namespace
}  // namespace devserver::backend::testing
