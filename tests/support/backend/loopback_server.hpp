#pragma once
// The loopback server of the request tests: a request the test did not
// script gets the backend's empty result.

#include "support/loopback_server.hpp"

namespace backend::testing {

using test_support::RecordedRequest;

class LoopbackServer : public test_support::LoopbackServer {
 public:
  LoopbackServer()
      : test_support::LoopbackServer([](const httplib::Request&, httplib::Response& response) {
          response.set_content("{\"result\":{}}", "application/json");
        }) {}
};

}  // namespace backend::testing
