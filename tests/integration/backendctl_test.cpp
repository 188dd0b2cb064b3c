// backendctl end to end: the real program against a devserver in this
// process, its output read as JSON and checked against what the service
// stored.

#include <gtest/gtest.h>
#include <httplib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "backendctl_fixture.hpp"

namespace {

using platform::Value;

class BackendctlTest : public test_support::BackendctlTestBase {
 protected:
  // Runs backendctl with this test's data directory.
  test_support::BackendctlOutcome run(std::vector<std::string> arguments, const std::string& server = "") {
    return runWith(dir_ / "data", std::move(arguments), server);
  }

  static std::string read(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
};

TEST_F(BackendctlTest, SaveGetAndDeleteAnObject) {
  auto created = run({"save", "Note", "title=Hei", "count=3", "tags=[\"a\",\"b\"]", "when={\"__type\":\"Date\",\"iso\":"
                      "\"2024-01-02T03:04:05.678Z\"}", "plain=not json"});
  ASSERT_EQ(created.status, 0) << created.err;
  const Value object = created.json();
  ASSERT_TRUE(object["objectId"].isString()) << created.out;
  const std::string id = *object["objectId"].string();
  EXPECT_TRUE(object["createdAt"].isString());
  EXPECT_TRUE(object["updatedAt"].isString());
  EXPECT_EQ(object["title"], Value("Hei"));
  EXPECT_EQ(object["count"].longLongValue(), 3);
  EXPECT_EQ(object["tags"], Value::array({"a", "b"}));
  EXPECT_EQ(object["when"]["iso"], Value("2024-01-02T03:04:05.678Z"));
  EXPECT_EQ(object["plain"], Value("not json"));

  auto updated = run({"save", "Note", id, "count=4"});
  ASSERT_EQ(updated.status, 0) << updated.err;
  auto fetched = run({"get", "Note", id});
  ASSERT_EQ(fetched.status, 0) << fetched.err;
  EXPECT_EQ(fetched.json()["count"].longLongValue(), 4);
  EXPECT_EQ(fetched.json()["title"], Value("Hei"));

  auto deleted = run({"delete", "Note", id});
  ASSERT_EQ(deleted.status, 0) << deleted.err;
  EXPECT_EQ(deleted.json()["deleted"], Value(true));
  auto gone = run({"get", "Note", id});
  EXPECT_EQ(gone.status, 1);
  EXPECT_EQ(gone.errorJson()["code"].longLongValue(), 101) << gone.err;
}

TEST_F(BackendctlTest, EventuallyWaitsForTheQueueAndALaterRunSendsWhatStayedQueued) {
  auto sent = run({"eventually", "save", "Note", "title=Now"});
  ASSERT_EQ(sent.status, 0) << sent.err;
  const std::string id = *sent.json()["objectId"].string();
  auto deleted = run({"eventually", "delete", "Note", id});
  ASSERT_EQ(deleted.status, 0) << deleted.err;
  EXPECT_EQ(run({"get", "Note", id}).status, 1);

  // Nobody listens on a stopped server's port: the command stays queued.
  devserver::Server gone{devserver::Server::Options{}};
  gone.start();
  const std::string deadAddress = gone.baseUrl();
  gone.stop();
  auto queued = run({"eventually", "--wait", "1", "save", "Note", "title=Later"}, deadAddress);
  EXPECT_EQ(queued.status, 3) << queued.err;
  EXPECT_NE(queued.err.find("still queued"), std::string::npos) << queued.err;

  auto next = run({"eventually", "save", "Note", "title=Next"});
  ASSERT_EQ(next.status, 0) << next.err;
  auto stored = run({"call", "find", "{\"classname\":\"Note\",\"order\":\"createdAt\"}"});
  ASSERT_EQ(stored.status, 0) << stored.err;
  const Value results = stored.json()["results"];
  ASSERT_EQ(results.array()->size(), 2u) << stored.out;
  EXPECT_EQ(results[std::size_t{0}]["data"]["title"], Value("Later"));
  EXPECT_EQ(results[std::size_t{1}]["data"]["title"], Value("Next"));
}

TEST_F(BackendctlTest, FindRunsAQueryFromWireConstraints) {
  for (const char* fields : {"count=1", "count=2", "count=3"}) {
    ASSERT_EQ(run({"save", "Note", "title=n", fields, "at={\"__type\":\"GeoPoint\",\"latitude\":60,\"longitude\":5}"})
                  .status,
              0);
  }
  auto found = run({"find", "Note", "--where", "{\"count\":{\"$gte\":2},\"title\":\"n\"}", "--order", "-count",
                    "--keys", "count"});
  ASSERT_EQ(found.status, 0) << found.err;
  const Value objects = found.json();
  ASSERT_TRUE(objects.isArray()) << found.out;
  ASSERT_EQ(objects.array()->size(), 2u) << found.out;
  EXPECT_EQ(objects[std::size_t{0}]["count"].longLongValue(), 3);
  EXPECT_TRUE(objects[std::size_t{0}]["objectId"].isString());
  EXPECT_TRUE(objects[std::size_t{0}]["title"].isNil());  // not selected

  auto paged = run({"find", "Note", "--order", "count", "--skip", "1", "--limit", "1"});
  ASSERT_EQ(paged.status, 0) << paged.err;
  EXPECT_EQ(paged.json()[std::size_t{0}]["count"].longLongValue(), 2);

  auto near = run({"find", "Note", "--count", "--where",
                   "{\"at\":{\"$nearSphere\":{\"__type\":\"GeoPoint\",\"latitude\":60.1,\"longitude\":5},"
                   "\"$maxDistance\":0.01},\"$or\":[{\"count\":1},{\"count\":{\"$in\":[3]}}]}"});
  ASSERT_EQ(near.status, 0) << near.err;
  EXPECT_EQ(near.out, "2\n");

  auto none = run({"find", "Note", "--where", "{\"count\":99}"});
  ASSERT_EQ(none.status, 0) << none.err;
  EXPECT_EQ(none.out, "[]\n");

  auto refused = run({"find", "bad class!"});
  EXPECT_EQ(refused.status, 1);
  EXPECT_TRUE(refused.errorJson()["code"].isNumber()) << refused.err;
}

TEST_F(BackendctlTest, CallRunsThroughTheChosenRunnerAndReportsFailuresAsErrorJSON) {
  auto created = run({"call", "create", R"({"classname":"Note","data":{"text":"hei"}})"});
  ASSERT_EQ(created.status, 0) << created.err;
  const Value objectId = created.json()["data"]["objectId"];
  ASSERT_TRUE(objectId.isString()) << created.out;
  const std::string get = R"({"classname":"Note","data":{"objectId":")" + *objectId.string() + R"("}})";

  auto once = run({"call", "get", get, "--runner", "network"});
  EXPECT_EQ(once.status, 0) << once.err;
  EXPECT_EQ(once.json()["data"]["text"], Value("hei"));

  // The network answer is cached, then served from the cache alone.
  EXPECT_EQ(run({"call", "get", get, "--runner", "cached", "--policy", "2"}).status, 0);
  auto cached = run({"call", "get", get, "--runner", "cached", "--policy", "1", "--max-age", "600"});
  EXPECT_EQ(cached.status, 0) << cached.err;
  EXPECT_EQ(cached.json()["data"]["text"], Value("hei"));
  auto miss = run({"call", "get", R"({"classname":"Note","data":{"objectId":"never"}})", "--runner", "cached",
                   "--policy", "1"});
  EXPECT_EQ(miss.status, 1);
  EXPECT_EQ(miss.errorJson()["code"].longLongValue(), 120);

  auto missing = run({"--session-token", "r:unknown", "call", "get",
                      R"({"classname":"Note","data":{"objectId":"nope"}})"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_TRUE(missing.errorJson()["code"].isNumber()) << missing.err;
  EXPECT_TRUE(missing.out.empty());

  // An exception while the command runs is a run-time failure too.
  auto raised = run({"call", "update",
                     R"({"classname":"Note","data":{"objectId":"x","p":{"__type":"Pointer","className":"Note","localId":"local_gone"}}})"});
  EXPECT_EQ(raised.status, 1) << raised.err;
  EXPECT_TRUE(raised.errorJson()["error"].isString()) << raised.err;
}

TEST_F(BackendctlTest, MisuseExitsWithTwoAndSaysWhy) {
  for (const auto& arguments : std::vector<std::vector<std::string>>{
           {"save", "Note"}, {"save", "Note", "a=1", "stray"}, {"save", "Note", "=1"}, {"get", "Note"},
           {"delete", "Note", "a", "b"}, {"eventually", "save"}, {"eventually", "fly", "Note"}, {"launch"},
           {"find", "Note", "--where", "[1]"}, {"find", "Note", "--where", "{\"a\":{\"$near\":1}}"},
           {"find", "Note", "--order", "a,,b"}, {"find", "Note", "--where", "{\"a\":{\"$lt\":[1]}}"},
           {"find", "Note", "--policy", "5"}, {"call", "create", "{nope"},
           {"push", "--where", "{\"a\":{\"$near\":1}}", "--message", "x"}}) {
    auto misuse = run(arguments);
    EXPECT_EQ(misuse.status, 2) << arguments.front();
    EXPECT_FALSE(misuse.err.empty()) << arguments.front();
    EXPECT_TRUE(misuse.out.empty()) << arguments.front();
  }
  auto help = run({"--help"});
  EXPECT_EQ(help.status, 0);
  for (const char* word : {"save", "get", "delete", "eventually", "find"}) {
    EXPECT_NE(help.out.find(word), std::string::npos) << word;
  }
  EXPECT_NE(run({"save", "--help"}).out.find("key=value"), std::string::npos);
}

TEST_F(BackendctlTest, ARefusalRaisedBeforeTheCommandIsSentIsAFailureNotMisuse) {
  auto user = run({"delete", "_User", "someone"});
  EXPECT_EQ(user.status, 1) << user.err;
  EXPECT_NE(user.errorJson()["error"].description().find("User cannot be deleted"), std::string::npos) << user.err;
  auto installation = run({"delete", "_Installation", "x"});
  EXPECT_EQ(installation.status, 1) << installation.err;
  EXPECT_NE(installation.errorJson()["error"].description().find("Installations cannot be deleted"), std::string::npos)
      << installation.err;
}

TEST_F(BackendctlTest, UploadAndDownloadAFile) {
  const auto source = dir_ / "bilde.png";
  std::ofstream(source, std::ios::binary) << "PNG bytes";
  auto uploaded = run({"upload", source.string(), "--type", "image/x-test"});
  ASSERT_EQ(uploaded.status, 0) << uploaded.err;
  const Value stored = uploaded.json();
  ASSERT_TRUE(stored["url"].isString()) << uploaded.out;
  EXPECT_NE(stored["name"].string()->find("bilde.png"), std::string::npos) << uploaded.out;
  EXPECT_TRUE(uploaded.err.empty()) << "no progress bar when stderr is not a terminal: " << uploaded.err;

  const auto copy = dir_ / "copy.png";
  auto downloaded = run({"download", *stored["url"].string(), "--output", copy.string()});
  ASSERT_EQ(downloaded.status, 0) << downloaded.err;
  EXPECT_EQ(read(copy), "PNG bytes");
  EXPECT_EQ(downloaded.json()["size"].longLongValue(), 9);
  EXPECT_TRUE(downloaded.err.empty()) << downloaded.err;

  auto served = httplib::Client("127.0.0.1", server_.port()).Get(stored["url"].string()->substr(server_.baseUrl().size()));
  ASSERT_TRUE(served);
  EXPECT_EQ(served->get_header_value("Content-Type"), "image/x-test");

  auto missing = run({"download", *stored["url"].string() + "-gone", "--output", (dir_ / "gone").string()});
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.errorJson()["code"].longLongValue(), 100) << missing.err;
  EXPECT_FALSE(std::filesystem::exists(dir_ / "gone"));

  for (const auto& arguments : std::vector<std::vector<std::string>>{
           {"upload"}, {"upload", (dir_ / "no-such-file").string()}, {"upload", source.string(), "--type", "png"},
           {"download"}}) {
    auto misuse = run(arguments);
    EXPECT_EQ(misuse.status, 2) << arguments.back();
    EXPECT_FALSE(misuse.err.empty()) << arguments.back();
  }
}

TEST_F(BackendctlTest, InstallationIsCreatedOnceAndPushesReachItsChannel) {
  auto first = run({"installation"});
  ASSERT_EQ(first.status, 0) << first.err;
  const Value created = first.json();
  ASSERT_TRUE(created["objectId"].isString()) << first.out;
  EXPECT_EQ(created["deviceType"], Value("ios"));
  EXPECT_EQ(created["clientVersion"], Value("1.4.2"));
  auto second = run({"installation"});
  ASSERT_EQ(second.status, 0) << second.err;
  EXPECT_EQ(second.json()["objectId"], created["objectId"]);
  EXPECT_EQ(second.json()["installationId"], created["installationId"]);

  auto pushed = run({"push", "--channel", "newsUpdates", "--message", "Ny sak", "--expires-in", "60"});
  ASSERT_EQ(pushed.status, 0) << pushed.err;
  EXPECT_EQ(pushed.out, "true\n");
  EXPECT_EQ(run({"push", "--where", "{\"deviceType\":\"ios\"}", "--data", "{\"alert\":\"Hei\"}"}).status, 0);
  EXPECT_EQ(run({"push", "--message", "x", "--type", "windows"}).status, 2);
  EXPECT_EQ(run({"push", "--message", "x", "--expires-at", "tomorrow"}).status, 2);
  EXPECT_EQ(run({"push", "--channel", "a"}).status, 2) << "nothing to send";
  EXPECT_EQ(run({"push", "--where", "{\"a\":1}", "--channel", "b", "--message", "x"}).status, 2);
}

}  // namespace
