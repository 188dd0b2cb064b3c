#pragma once
// A devserver on loopback configured as this test's backend, queues on the
// test's own directory with a reachability source the test flips, and the
// devserver's inspection and fault endpoints.

#include <httplib.h>

#include <memory>
#include <string>
#include <vector>

#include "backend/internal/internal_utils.hpp"
#include "backend/net/backend.hpp"
#include "backend/net/command_cache.hpp"
#include "devserver/server.hpp"
#include "platform/json.hpp"
#include "support/backend/object_fixture.hpp"

namespace backend::net::testing {

using platform::Value;

class QueueTest : public backend::testing::BackendTest {
 protected:
  void SetUp() override {
    BackendTest::SetUp();
    devserver::Server::Options options;
    options.applications.emplace_back("QueueApp", "queue-key");
    server_ = std::make_unique<devserver::Server>(options);
    server_->start();
    InternalUtils::setServer(server_->baseUrl());
    Backend::setApplicationId("QueueApp", "queue-key");
  }
  void TearDown() override {
    queues_.clear();
    server_->stop();
    InternalUtils::setServer(kDefaultServer);
    installLocalIdDiskReferenceHooks({});
    BackendTest::TearDown();
  }

  std::filesystem::path queueDirectory() const { return root_ / "queue"; }

  // A queue on the test's directory; its connectivity follows reachability_.
  CommandCache& makeQueue(float retryWaitSeconds = 0.01f) {
    queues_.push_back(std::make_unique<CommandCache>(queueDirectory(), reachability_));
    queues_.back()->setTimeoutRetryWaitSeconds(retryWaitSeconds);
    return *queues_.back();
  }
  void dropQueues() { queues_.clear(); }
  void setOnline(bool online) {
    reachability_.setDefaultFlags(online ? platform::ReachabilityFlags(platform::ReachabilityFlag::Reachable)
                                         : platform::ReachabilityFlags(platform::ReachabilityFlag::ConnectionRequired));
  }

 public:
  static CommandPtr create(const std::string& className, Value data) {
    return Command::commandWithServerOperation("create", Value::dictionary({{"classname", className}, {"data", data}}),
                                               std::nullopt);
  }
  static CommandPtr note(int n) { return create("QueueNote", Value::dictionary({{"n", n}})); }

  template <class T>
  static Task<T> finished(Task<T> task) {
    task.waitUntilFinished();
    return task;
  }

 protected:
  Value admin(const std::string& path) const {
    httplib::Client client("127.0.0.1", server_->port());
    auto answer = client.Get(path);
    if (!answer) return Value();
    auto parsed = platform::json::parse(answer->body);
    return parsed ? parsed.value() : Value();
  }
  void addFault(int count, int status) {
    httplib::Client client("127.0.0.1", server_->port());
    auto rule = "{\"host\":\"*\",\"count\":" + std::to_string(count) + ",\"status\":" + std::to_string(status) + "}";
    client.Post("/_admin/faults", rule, "application/json");
  }
  void clearFaults() {
    httplib::Client client("127.0.0.1", server_->port());
    client.Delete("/_admin/faults");
  }

 public:
  struct SeenRequest {
    std::string operation;
    Value body;
    long long status;
  };
 protected:
  // The backend commands the devserver has seen, oldest first.
  std::vector<SeenRequest> backendRequests() const {
    std::vector<SeenRequest> seen;
    auto logged = admin("/_admin/requests")["requests"];
    if (!logged.array()) return seen;
    for (const auto& entry : *logged.array()) {
      auto path = entry["path"].asString();
      if (path.rfind("/2/", 0) != 0) continue;
      auto body = platform::json::parse(entry["body"].asString());
      seen.push_back({path.substr(3), body ? body.value() : Value(), entry["status"].longLongValue()});
    }
    return seen;
  }
  Value objects(const std::string& className) const { return admin("/_admin/objects/" + className)["results"]; }

  std::unique_ptr<devserver::Server> server_;
  platform::ManualReachabilitySource reachability_;
  std::vector<std::unique_ptr<CommandCache>> queues_;
};

}  // namespace backend::net::testing
