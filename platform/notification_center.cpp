#include "platform/notification_center.hpp"

#include <mutex>
#include <vector>

#include "callback_gate.hpp"

namespace platform {
namespace {

struct Observer {
  std::uint64_t id;
  std::string name;
  const SharedObject* sender;
  Executor* queue;
  NotificationCallback callback;
  detail::CallbackGate gate;

  bool matches(const Notification& notification) const {
    return name == notification.name && (!sender || sender == notification.object.get());
  }

  void call(const Notification& notification) {
    detail::GatePass pass(gate);
    if (pass) callback(notification);
  }
};

}  // namespace

struct NotificationCenter::State {
  std::mutex mutex;
  std::uint64_t lastId = 0;
  std::vector<std::shared_ptr<Observer>> observers;  // in registration order

  std::vector<std::shared_ptr<Observer>> matching(const Notification& notification) {
    std::lock_guard lock(mutex);
    std::vector<std::shared_ptr<Observer>> found;
    for (const auto& observer : observers) {
      if (observer->matches(notification)) found.push_back(observer);
    }
    return found;
  }

  void deliver(const Notification& notification) {
    for (const auto& observer : matching(notification)) {
      if (observer->queue) {
        observer->queue->post([observer, notification] { observer->call(notification); });
      } else {
        observer->call(notification);
      }
    }
  }
};

NotificationCenter::NotificationCenter() : state_(std::make_shared<State>()) {}

NotificationCenter::~NotificationCenter() = default;

NotificationCenter& NotificationCenter::defaultCenter() {
  static NotificationCenter center;
  return center;
}

ObserverToken NotificationCenter::addObserver(std::string name, NotificationCallback callback,
                                              const SharedObject* sender, Executor* queue) {
  auto observer = std::make_shared<Observer>();
  observer->name = std::move(name);
  observer->sender = sender;
  observer->queue = queue;
  observer->callback = std::move(callback);
  std::lock_guard lock(state_->mutex);
  observer->id = ++state_->lastId;
  state_->observers.push_back(observer);
  return ObserverToken{observer->id};
}

bool NotificationCenter::removeObserver(ObserverToken token) {
  std::shared_ptr<Observer> removed;
  {
    std::lock_guard lock(state_->mutex);
    auto& observers = state_->observers;
    for (auto it = observers.begin(); it != observers.end(); ++it) {
      if ((*it)->id == token.id) {
        removed = std::move(*it);
        observers.erase(it);
        break;
      }
    }
  }
  if (!removed) return false;
  // Outside the centre's lock: a running callback may itself post or remove.
  removed->gate.close();
  return true;
}

void NotificationCenter::post(const Notification& notification) { state_->deliver(notification); }

void NotificationCenter::post(std::string name, std::shared_ptr<SharedObject> object, Value userInfo) {
  post(Notification{std::move(name), std::move(object), std::move(userInfo)});
}

void NotificationCenter::postOnMainAsync(Notification notification) {
  // The delivery holds the observer list, not the centre, so a centre that
  // is gone by then simply has nobody to tell.
  std::weak_ptr<State> weakState = state_;
  mainQueue().post([weakState, notification = std::move(notification)] {
    if (auto state = weakState.lock()) state->deliver(notification);
  });
}

void NotificationCenter::postOnMainAsync(std::string name, std::shared_ptr<SharedObject> object,
                                         Value userInfo) {
  postOnMainAsync(Notification{std::move(name), std::move(object), std::move(userInfo)});
}

}  // namespace platform
