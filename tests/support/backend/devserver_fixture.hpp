#pragma once
// A devserver in this process for the object tests: the client configured
// against it, and what the backend service saw, read back through its
// inspection endpoints.

#include <httplib.h>

#include <string>
#include <vector>

#include "backend/internal/internal_utils.hpp"
#include "backend/net/backend.hpp"
#include "backend/net/command_runners.hpp"
#include "app/reader_credentials.hpp"
#include "devserver/server.hpp"
#include "platform/value.hpp"
#include "support/backend/object_fixture.hpp"

namespace backend::testing {

class DevserverTest : public BackendTest {
 protected:
  void SetUp() override {
    BackendTest::SetUp();
    server_.start();
    InternalUtils::setServer(server_.baseUrl());
    // The reader's own credentials, which the devserver accepts.
    net::Backend::setApplicationId(app::kReaderApplicationId, app::kReaderClientKey);
    net::RetryingCommandRunner::setInitialDelay(0.001);
  }
  void TearDown() override {
    server_.stop();
    net::RetryingCommandRunner::setInitialDelay(1.0);
    InternalUtils::setServer(kDefaultServer);
    BackendTest::TearDown();
  }

  // One backend command the service received: its operation and its body.
  struct SeenCommand {
    std::string operation;
    Value body;
  };

  // The backend commands received since the last forget, oldest first.
  std::vector<SeenCommand> commandsSeen() {
    std::vector<SeenCommand> seen;
    auto answer = admin().Get("/_admin/requests");
    if (!answer) return seen;
    const Value requests = InternalUtils::parseJSON(answer->body)["requests"];
    if (const platform::Array* list = requests.array()) {
      for (const Value& entry : *list) {
        const Value path = entry["path"];
        if (!path.isString() || path.string()->rfind("/2/", 0) != 0) continue;
        const Value body = entry["body"];
        seen.push_back({path.string()->substr(3), body.isString() ? InternalUtils::parseJSON(*body.string()) : Value()});
      }
    }
    return seen;
  }
  void forgetCommandsSeen() { admin().Delete("/_admin/requests"); }

  // The next `count` requests answer with `status`, after `delayMs`.
  void addFault(int count, int status, int delayMs = 0) {
    std::string body = "{\"host\":\"*\",\"count\":" + std::to_string(count);
    if (status) body += ",\"status\":" + std::to_string(status);
    if (delayMs) body += ",\"delayMs\":" + std::to_string(delayMs);
    admin().Post("/_admin/faults", body + "}", "application/json");
  }

  // The service's stored objects of a class, by object id.
  Value storedObject(const std::string& className, const std::string& objectId) {
    auto answer = admin().Get("/_admin/objects/" + className);
    if (!answer) return Value();
    const Value objects = InternalUtils::parseJSON(answer->body);
    const platform::Array* list = objects["results"].array();
    if (!list) return Value();
    for (const Value& object : *list) {
      if (object["objectId"] == Value(objectId)) return object;
    }
    return Value();
  }

  httplib::Client admin() { return httplib::Client("127.0.0.1", server_.port()); }

  devserver::Server server_{devserver::Server::Options{}};
};

}  // namespace backend::testing
