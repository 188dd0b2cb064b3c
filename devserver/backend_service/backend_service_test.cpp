#include "backend_fixture.hpp"

#include "typed_value.hpp"

#include <gtest/gtest.h>

namespace devserver::backend::testing {
namespace {

using ServiceTest = BackendFixture;

TEST_F(ServiceTest, RefusesUnsignedAndMissignedCommands) {
  auto request = signedRequest("find", R"({"classname":"Note"})");
  EXPECT_EQ(send(request).status, 200);

  request.headers.erase("Authorization");
  EXPECT_EQ(send(request).status, 401);

  request = signedRequest("find", R"({"classname":"Note"})");
  EXPECT_EQ(send(request, "http://api.backend.test").status, 401) << "the scheme is part of the signature";

  request.headers.erase("Authorization");
  request.set_header("Authorization",
                     signRequest("https://api.backend.test/2/find", {}, "OtherApp", "other-key", freshNonce(),
                                 nowSeconds()));
  EXPECT_EQ(send(request).status, 401);
  service_->addApplication("OtherApp", "other-key");
  EXPECT_EQ(send(request).status, 200);
}

TEST_F(ServiceTest, StaleAndReplayedCommandsAreRefusedWithAReason) {
  auto request = signedRequest("find", R"({"classname":"Note"})");
  EXPECT_EQ(send(request).status, 200);
  Answer replayed = send(request);
  EXPECT_EQ(replayed.status, 401);
  EXPECT_EQ(replayed.body["error"], "unauthorized: this oauth_nonce was already used (a replayed request)");

  auto stale = std::to_string(std::stoll(nowSeconds()) - 16 * 60);
  request.headers.erase("Authorization");
  request.set_header("Authorization",
                     signRequest("https://api.backend.test/2/find", {}, kAppId, kClientKey, freshNonce(), stale));
  Answer old = send(request);
  EXPECT_EQ(old.status, 401);
  EXPECT_NE(old.body["error"].get<std::string>().find("oauth_timestamp is more than 900 seconds away"),
            std::string::npos);

  ServiceLimits lenient;
  lenient.signatureWindow = std::chrono::hours(1);
  restartWith(lenient);
  EXPECT_EQ(send(request).status, 200);
}

TEST_F(ServiceTest, LoopbackClientsSignTheAddressTheyUsed) {
  std::string base = "http://127.0.0.1:8080";
  auto request = signedRequest("find", R"({"classname":"Note"})", base);
  EXPECT_EQ(send(request, base).status, 200);
  EXPECT_EQ(send(request, "http://127.0.0.1:9090").status, 401);
}

TEST_F(ServiceTest, CreateGetUpdateDeleteRoundTrip) {
  Json data{{"title", "Vær"},
            {"views", 3},
            {"when", {{"__type", "Date"}, {"iso", "2024-02-29T12:34:56.789Z"}}},
            {"blob", {{"__type", "Bytes"}, {"base64", "AAEC"}}},
            {"where", {{"__type", "GeoPoint"}, {"latitude", 59.9}, {"longitude", 10.7}}},
            {"nested", {{"a", {1, 2}}}}};
  Json saved = result("create", {{"classname", "Note"}, {"data", data}});
  std::string id = saved["data"]["objectId"];
  EXPECT_EQ(id.size(), 10u);
  EXPECT_TRUE(parseTimestamp(saved["data"]["createdAt"].get<std::string>()));
  EXPECT_EQ(saved["data"]["createdAt"], saved["data"]["updatedAt"]);
  EXPECT_EQ(saved["data"]["when"], data["when"]);

  Json fetched = get("Note", id);
  for (const auto& [key, value] : data.items()) EXPECT_EQ(fetched[key], value) << key;
  EXPECT_EQ(fetched["objectId"], id);

  Json updated = result("update", {{"classname", "Note"}, {"data", {{"objectId", id}, {"title", "Sol"}}}});
  EXPECT_EQ(updated["data"], (Json{{"title", "Sol"},
                                   {"objectId", id},
                                   {"createdAt", saved["data"]["createdAt"]},
                                   {"updatedAt", updated["data"]["updatedAt"]}}));
  EXPECT_EQ(get("Note", id)["title"], "Sol");
  EXPECT_EQ(get("Note", id)["views"], 3) << "an update leaves other fields alone";

  EXPECT_EQ(result("delete", {{"classname", "Note"}, {"data", {{"objectId", id}}}}), Json::object());
  EXPECT_EQ(errorCode("get", {{"classname", "Note"}, {"data", {{"objectId", id}}}}), 101);
  EXPECT_EQ(errorCode("update", {{"classname", "Note"}, {"data", {{"objectId", id}, {"a", 1}}}}), 101);
  EXPECT_EQ(errorCode("delete", {{"classname", "Note"}, {"data", {{"objectId", id}}}}), 101);
  EXPECT_EQ(errorCode("get", {{"classname", "Note"}, {"data", Json::object()}}), 104);
}

TEST_F(ServiceTest, DataPersistsAcrossRestarts) {
  std::string id = create("Note", {{"title", "kept"}});
  service_ = std::make_unique<BackendService>(dataDir_, push_);
  EXPECT_EQ(get("Note", id)["title"], "kept");
  EXPECT_EQ(service_->objectsOfClass("Note").size(), 1u);
  EXPECT_EQ(service_->objectsOfClass("Note")[0]["objectId"], id);
}

TEST_F(ServiceTest, FieldOperationsAnswerTheServerValue) {
  std::string id = create("Counter", {{"n", 1}, {"tags", {"a"}}, {"gone", true}, {"ratio", 1.5}});
  auto update = [&](Json data) {
    data["objectId"] = id;
    return result("update", {{"classname", "Counter"}, {"data", data}})["data"];
  };
  EXPECT_EQ(update({{"n", {{"__op", "Increment"}, {"amount", 2}}}})["n"], 3);
  EXPECT_EQ(update({{"ratio", {{"__op", "Increment"}, {"amount", 1}}}})["ratio"], 2.5);
  EXPECT_EQ(update({{"fresh", {{"__op", "Increment"}, {"amount", 5}}}})["fresh"], 5);
  EXPECT_EQ(update({{"tags", {{"__op", "Add"}, {"objects", {"b", "a"}}}}})["tags"], Json({"a", "b", "a"}));
  EXPECT_EQ(update({{"tags", {{"__op", "AddUnique"}, {"objects", {"a", "c", "c"}}}}})["tags"],
            Json({"a", "b", "a", "c"}));
  EXPECT_EQ(update({{"tags", {{"__op", "Remove"}, {"objects", {"a"}}}}})["tags"], Json({"b", "c"}));
  Json deleted = update({{"gone", {{"__op", "Delete"}}}});
  EXPECT_FALSE(deleted.contains("gone"));
  EXPECT_FALSE(get("Counter", id).contains("gone"));

  // Pointers in arrays are unique by class and id.
  Json p = pointer("Counter", "abc");
  update({{"refs", {{"__op", "AddUnique"}, {"objects", {p}}}}});
  EXPECT_EQ(update({{"refs", {{"__op", "AddUnique"}, {"objects", {p}}}}})["refs"].size(), 1u);

  EXPECT_EQ(errorCode("update", {{"classname", "Counter"},
                                 {"data", {{"objectId", id}, {"tags", {{"__op", "Increment"}, {"amount", 1}}}}}}),
            111);
  EXPECT_EQ(errorCode("update", {{"classname", "Counter"},
                                 {"data", {{"objectId", id}, {"n", {{"__op", "Add"}, {"objects", {1}}}}}}}),
            111);
  EXPECT_EQ(errorCode("update", {{"classname", "Counter"}, {"data", {{"objectId", id}, {"n", {{"__op", "Explode"}}}}}}),
            111);
  EXPECT_EQ(get("Counter", id)["n"], 3) << "a refused save changes nothing";
}

TEST_F(ServiceTest, RelationOperationsAndBatch) {
  std::string a = create("Tag", {{"name", "a"}});
  std::string b = create("Tag", {{"name", "b"}});
  std::string post = create("Post", Json::object());
  Json relation = result("update", {{"classname", "Post"},
                                    {"data",
                                     {{"objectId", post},
                                      {"tags",
                                       {{"__op", "Batch"},
                                        {"ops",
                                         {{{"__op", "AddRelation"}, {"objects", {pointer("Tag", a), pointer("Tag", b)}}},
                                          {{"__op", "RemoveRelation"}, {"objects", {pointer("Tag", b)}}}}}}}}}})["data"];
  EXPECT_EQ(relation["tags"], (Json{{"__type", "Relation"}, {"className", "Tag"}}));
  Json related = result("find", {{"classname", "Tag"},
                                 {"data", {{"$relatedTo", {{"object", pointer("Post", post)}, {"key", "tags"}}}}}});
  ASSERT_EQ(related["results"].size(), 1u);
  EXPECT_EQ(related["results"][0]["data"]["objectId"], a);

  EXPECT_EQ(errorCode("update", {{"classname", "Post"},
                                 {"data",
                                  {{"objectId", post},
                                   {"tags", {{"__op", "AddRelation"}, {"objects", {pointer("Other", "x")}}}}}}}),
            111);
  EXPECT_EQ(errorCode("update", {{"classname", "Post"}, {"data", {{"objectId", post}, {"tags", 5}}}}), 111);
}

TEST_F(ServiceTest, RefusesMalformedValues) {
  auto refuse = [&](Json value) { return errorCode("create", {{"classname", "Note"}, {"data", {{"v", value}}}}); };
  EXPECT_EQ(refuse({{"__type", "Date"}, {"iso", "yesterday"}}), 111);
  EXPECT_EQ(refuse({{"__type", "Date"}, {"iso", "2023-02-29T00:00:00.000Z"}}), 111);
  EXPECT_EQ(refuse({{"__type", "Bytes"}, {"base64", "@@@"}}), 111);
  EXPECT_EQ(refuse({{"__type", "GeoPoint"}, {"latitude", 91}, {"longitude", 0}}), 111);
  EXPECT_EQ(refuse({{"__type", "Pointer"}, {"className", "Note"}, {"localId", "local_0123456789abcdef"}}), 106);
  EXPECT_EQ(refuse({{"__type", "Relation"}, {"className", "Note"}}), 111);
  EXPECT_EQ(refuse({{"__type", "Mystery"}}), 111);
  EXPECT_EQ(refuse({{"__type", "File"}}), 111);
  EXPECT_EQ(errorCode("create", {{"classname", "Note"}, {"data", {{"bad key", 1}}}}), 105);
  EXPECT_EQ(errorCode("create", {{"classname", "_Secret"}, {"data", Json::object()}}), 103);
  EXPECT_EQ(errorCode("create", {{"classname", 5}, {"data", Json::object()}}), 103);
  EXPECT_EQ(errorCode("create", {{"classname", "Note"}, {"data", 5}}), 107);
  EXPECT_EQ(errorCode("create", {{"classname", "Note"}, {"data", {{"ACL", {{"*", {{"read", "yes"}}}}}}}}), 111);
  EXPECT_EQ(errorCode("create", {{"classname", "Note"}, {"data", {{"big", std::string(200000, 'x')}}}}), 116);
  EXPECT_TRUE(service_->objectsOfClass("Note").empty());
}

TEST_F(ServiceTest, MultiIsAllOrNothing) {
  std::string existing = create("Note", {{"n", 1}});
  Json commands = {
      {{"op", "create"}, {"params", {{"classname", "Note"}, {"data", {{"n", 2}}}}}},
      {{"op", "update"}, {"params", {{"classname", "Note"}, {"data", {{"objectId", existing}, {"n", 10}}}}}},
  };
  Json results = result("multi", {{"commands", commands}});
  ASSERT_EQ(results.size(), 2u);
  EXPECT_EQ(results[0]["data"]["n"], 2);
  EXPECT_EQ(results[1]["data"]["n"], 10);

  commands.push_back({{"op", "update"}, {"params", {{"classname", "Note"}, {"data", {{"objectId", "missing"}}}}}});
  commands[1]["params"]["data"]["n"] = 20;
  Answer failed = call("multi", {{"commands", commands}});
  EXPECT_EQ(failed.body["code"], 101);
  EXPECT_NE(failed.body["error"].get<std::string>().find("command 2"), std::string::npos);
  EXPECT_EQ(service_->objectsOfClass("Note").size(), 2u) << "the failed batch created nothing";
  EXPECT_EQ(get("Note", existing)["n"], 10) << "the failed batch changed nothing";

  EXPECT_EQ(errorCode("multi", {{"commands", {{{"op", "client_push"}, {"params", Json::object()}}}}}), 119);
  EXPECT_EQ(errorCode("multi", {{"commands", {{{"op", "create"}}}}}), 111);
  EXPECT_EQ(errorCode("multi", {{"commands", "none"}}), 111);
  EXPECT_EQ(result("multi", {{"commands", Json::array()}}), Json::array());
}

TEST_F(ServiceTest, MalformedRequestsGetClearErrors) {
  auto raw = [&](const std::string& operation, const std::string& body) { return send(signedRequest(operation, body)); };
  EXPECT_EQ(raw("create", "{not json").body["code"], 107);
  EXPECT_EQ(raw("create", "[1,2]").body["code"], 107);
  EXPECT_EQ(raw("create", "").body["code"], 107);
  EXPECT_EQ(raw("create", std::string(100, '[') + std::string(100, ']')).body["code"], 107);
  EXPECT_EQ(raw("create", "\"\xff\xfe\"").body["code"], 107);
  EXPECT_EQ(raw("explode", "{}").body["code"], 119);
  EXPECT_EQ(raw("create", std::string(9 * 1024 * 1024, ' ')).body["code"], 116);
  EXPECT_EQ(raw("find", R"({"classname":"Note","limit":{"x":1}})").body["code"], 102);
  EXPECT_EQ(raw("get", R"({"classname":"Note","data":{"objectId":7}})").body["code"], 104);
  EXPECT_EQ(raw("create", R"({"classname":"Note","data":{"a":1},"session_token":"r:forged"})").body["code"], 209);

  auto request = signedRequest("find", R"({"classname":"Note"})");
  request.method = "GET";
  EXPECT_EQ(send(request).status, 401) << "a GET is not what was signed";
  httplib::Request elsewhere;
  elsewhere.method = "GET";
  elsewhere.path = "/nothing";
  EXPECT_EQ(send(elsewhere).status, 404);
}

TEST_F(ServiceTest, InstallationsAreOnePerInstallationId) {
  Json data{{"installationId", "abc-1"}, {"deviceType", "ios"}, {"channels", {{"__op", "AddUnique"}, {"objects", {"news"}}}}};
  std::string first = create("_Installation", data);
  data["deviceToken"] = "00ff";
  std::string second = create("_Installation", data);
  EXPECT_EQ(first, second);
  auto stored = service_->objectsOfClass("_Installation");
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_EQ(stored[0]["channels"], Json({"news"}));
  EXPECT_EQ(stored[0]["deviceToken"], "00ff");
  EXPECT_EQ(errorCode("create", {{"classname", "_Installation"}, {"data", {{"deviceType", "ios"}}}}), 135);
  EXPECT_EQ(errorCode("create", {{"classname", "_Installation"},
                                 {"data", {{"installationId", "x"}, {"channels", {"bad channel!"}}}}}),
            112);
  EXPECT_EQ(errorCode("find", {{"classname", "_Installation"}}), 119);
}

}  // namespace
}  // namespace devserver::backend::testing
