#include "app/services.hpp"

namespace app {

Services& Services::shared() {
  static Services services;
  return services;
}

analytics::Analytics& Services::analyticsClient() {
  analytics::Analytics* client = shared().analytics;
  return client ? *client : analytics::Analytics::sharedInstance();
}

std::shared_ptr<analytics::Tracker> Services::defaultTracker() { return analyticsClient().defaultTracker(); }

}  // namespace app
