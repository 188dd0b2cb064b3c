#include "backend/internal/query_transport.hpp"

#include "platform/exceptions.hpp"

namespace backend {
namespace {

struct Installed {
  std::mutex mutex;
  std::shared_ptr<QueryTransport> transport;
};

Installed& installed() {
  static Installed instance;
  return instance;
}

}  // namespace

void CancellationToken::cancel() {
  std::vector<std::function<void()>> observers;
  {
    std::lock_guard lock(mutex_);
    if (cancelled_.exchange(true)) return;
    observers.swap(observers_);
  }
  for (auto& observer : observers) observer();
}

void CancellationToken::onCancel(std::function<void()> observer) {
  {
    std::lock_guard lock(mutex_);
    if (!cancelled_) {
      observers_.push_back(std::move(observer));
      return;
    }
  }
  observer();
}

void setQueryTransport(std::shared_ptr<QueryTransport> transport) {
  std::lock_guard lock(installed().mutex);
  installed().transport = std::move(transport);
}

std::shared_ptr<QueryTransport> requireQueryTransport() {
  std::lock_guard lock(installed().mutex);
  if (!installed().transport)
    throw platform::InternalInconsistencyException(
        "You have to call setApplicationId:clientKey: on Backend to configure Backend.");
  return installed().transport;
}

}  // namespace backend
