#include <analytics/analytics.hpp>
#include <backend/net/backend.hpp>
#include <backend/task.hpp>
#include <platform/json.hpp>

int main() {
  backend::net::Backend::setApplicationId("consumer-app", "consumer-key");
  const auto task = backend::Task<int>::taskWithResult(42);
  const analytics::Analytics::Configuration configuration;
  const bool ok = task.result() == 42 && backend::net::Backend::getApplicationId() == "consumer-app" &&
                  platform::json::write(platform::Value(42)) == "42" && !configuration.httpsURL.empty();
  return ok ? 0 : 1;
}
