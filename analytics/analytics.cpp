#include "analytics/analytics.hpp"

#include "analytics/fields.hpp"
#include "batching_dispatcher.hpp"
#include "diagnostics.hpp"
#include "platform/event_loop_thread.hpp"
#include "platform/sandbox.hpp"
#include "string_util.hpp"
#include "uncaught_exception_handler.hpp"
#include "usage_tracker.hpp"

namespace analytics {

namespace {

std::mutex& sharedMutex() {
  static std::mutex mutex;
  return mutex;
}

Analytics*& sharedSlot() {
  static Analytics* instance = nullptr;
  return instance;
}

Analytics::Configuration& sharedConfiguration() {
  static Analytics::Configuration configuration;
  return configuration;
}

std::shared_ptr<Tracker> makeDefaultTracker(std::shared_ptr<DispatchSender> dispatcher, const std::string& name) {
  return makeTracker(std::move(dispatcher), name);
}

}  // namespace

Analytics& Analytics::sharedInstance() {
  std::lock_guard lock(sharedMutex());
  // Lives for the process: never destroyed, so nothing depends on exit order.
  if (!sharedSlot()) sharedSlot() = new Analytics(sharedConfiguration());
  return *sharedSlot();
}

bool Analytics::configureSharedInstance(Configuration configuration) {
  std::lock_guard lock(sharedMutex());
  if (sharedSlot()) return false;
  sharedConfiguration() = std::move(configuration);
  return true;
}

std::shared_ptr<Logger> Analytics::sharedLogger() { return detail::sharedLogger(); }

Analytics::Analytics(Configuration configuration)
    : configuration_(std::move(configuration)), trackerFactory_(&makeDefaultTracker) {
  connections_ = std::make_shared<URLConnectionFactory>(configuration_.router, configuration_.thread);
  std::lock_guard lock(mutex_);
  if (!dispatcherLocked()) AN_ERROR("Dispatcher initialization failed: could not create the hit store");
}

Analytics::~Analytics() {
  detail::removeUncaughtExceptionHandler(this);
  std::lock_guard lock(mutex_);
  trackers_.clear();
  dispatcher_.reset();
}

std::shared_ptr<BatchingDispatcher> Analytics::dispatcherLocked() {
  if (dispatcher_) return dispatcher_;
  try {
    DataStore::Options storeOptions;
    storeOptions.directory = configuration_.storeDirectory;
    storeOptions.thread = configuration_.thread;
    BatchingDispatcher::Options options;
    options.httpsURL = configuration_.httpsURL;
    options.httpURL = configuration_.httpURL;
    options.thread = configuration_.thread;
    options.connections = connections_;
    dispatcher_ = std::make_shared<BatchingDispatcher>(std::make_unique<DataStore>(storeOptions), std::move(options));
    dispatcher_->setOptOut(optOut_);
  } catch (const std::exception& e) {
    AN_ERROR(std::string("Cannot initiate dispatcher: ") + e.what());
    dispatcher_.reset();
  }
  return dispatcher_;
}

std::shared_ptr<BatchingDispatcher> Analytics::dispatcher() {
  std::lock_guard lock(mutex_);
  return dispatcherLocked();
}

std::shared_ptr<Tracker> Analytics::trackerWithName(const std::string& name, const std::string& trackingId) {
  std::lock_guard lock(mutex_);
  UsageTracker::trackTarget(this, "trackerWithName:trackingId:");
  std::string trimmed = StringUtil::trim(name);
  if (trimmed.empty()) {
    AN_ERROR("Nil or empty name supplied. Cannot create tracker.");
    return nullptr;
  }
  if (auto it = trackers_.find(trimmed); it != trackers_.end()) return it->second;
  auto tracker = trackerFactory_(dispatcherLocked(), trimmed);
  if (!tracker) return nullptr;
  tracker->anSet(kTrackingIdField, platform::Value(trackingId));
  trackers_.emplace(trimmed, tracker);
  if (!defaultTracker_.lock()) defaultTracker_ = tracker;
  return tracker;
}

std::shared_ptr<Tracker> Analytics::trackerWithTrackingId(const std::string& trackingId) {
  return trackerWithName(trackingId, trackingId);
}

std::shared_ptr<Tracker> Analytics::defaultTracker() {
  std::lock_guard lock(mutex_);
  UsageTracker::trackTarget(this, "defaultTracker");
  return defaultTracker_.lock();
}

void Analytics::setDefaultTracker(const std::shared_ptr<Tracker>& tracker) {
  std::lock_guard lock(mutex_);
  UsageTracker::trackTarget(this, "setDefaultTracker:");
  defaultTracker_ = tracker;
}

void Analytics::removeTrackerByName(const std::string& name) {
  std::lock_guard lock(mutex_);
  UsageTracker::trackTarget(this, "removeTrackerByName:");
  auto it = trackers_.find(name);
  if (it == trackers_.end()) return;
  if (defaultTracker_.lock() == it->second) defaultTracker_.reset();
  trackers_.erase(it);
}

void Analytics::dispatch() {
  std::lock_guard lock(mutex_);
  UsageTracker::trackTarget(this, "dispatch");
  if (auto dispatcher = dispatcherLocked()) dispatcher->dispatch();
}

double Analytics::dispatchInterval() {
  std::lock_guard lock(mutex_);
  auto dispatcher = dispatcherLocked();
  return dispatcher ? dispatcher->dispatchInterval() : 0;
}

void Analytics::setDispatchInterval(double seconds) {
  std::lock_guard lock(mutex_);
  UsageTracker::trackTarget(this, "setDispatchInterval:");
  if (auto dispatcher = dispatcherLocked()) dispatcher->setDispatchInterval(seconds);
}

bool Analytics::trackUncaughtExceptions() {
  std::lock_guard lock(mutex_);
  UsageTracker::trackTarget(this, "trackUncaughtExceptions");
  return trackUncaughtExceptions_;
}

void Analytics::setTrackUncaughtExceptions(bool track) {
  std::lock_guard lock(mutex_);
  UsageTracker::trackTarget(this, "setTrackUncaughtExceptions:");
  trackUncaughtExceptions_ = track;
  if (track) {
    detail::installUncaughtExceptionHandler(this);
  } else {
    detail::removeUncaughtExceptionHandler(this);
  }
}

bool Analytics::optOut() {
  std::lock_guard lock(mutex_);
  UsageTracker::trackTarget(this, "optOut");
  return optOut_;
}

void Analytics::setOptOut(bool optOut) {
  std::lock_guard lock(mutex_);
  UsageTracker::trackTarget(this, "setOptOut:");
  optOut_ = optOut;
  if (dispatcher_) dispatcher_->setOptOut(optOut);
}

bool Analytics::dryRun() {
  std::lock_guard lock(mutex_);
  UsageTracker::trackTarget(this, "dryRun");
  return dryRun_;
}

void Analytics::setDryRun(bool dryRun) {
  std::lock_guard lock(mutex_);
  UsageTracker::trackTarget(this, "setDryRun:");
  dryRun_ = dryRun;
  connections_->setDryRun(dryRun);
}

std::shared_ptr<Logger> Analytics::logger() { return detail::sharedLogger(); }

void Analytics::setLogger(std::shared_ptr<Logger> logger) {
  std::lock_guard lock(mutex_);
  if (detail::setSharedLogger(std::move(logger))) UsageTracker::trackTarget(this, "setLogger:");
}

std::string Analytics::clientId() {
  std::shared_ptr<BatchingDispatcher> dispatcher;
  {
    std::lock_guard lock(mutex_);
    dispatcher = dispatcherLocked();
  }
  // Waiting for the store happens outside the lock.
  return dispatcher ? dispatcher->clientId() : std::string();
}

void Analytics::setConnectionFactory(std::shared_ptr<ConnectionFactory> connections) {
  if (!connections) return;
  std::lock_guard lock(mutex_);
  connections->setDryRun(dryRun_);
  connections_ = connections;
  if (dispatcher_) dispatcher_->setConnectionFactory(connections);
}

void Analytics::setTrackerFactory(TrackerFactory factory) {
  std::lock_guard lock(mutex_);
  trackerFactory_ = factory ? std::move(factory) : TrackerFactory(&makeDefaultTracker);
}

void Analytics::reset() {
  std::shared_ptr<BatchingDispatcher> dropped;
  {
    std::lock_guard lock(mutex_);
    if (dispatcher_) dispatcher_->setDispatchInterval(-1);
    trackers_.clear();
    defaultTracker_.reset();
    dropped = std::move(dispatcher_);
  }
  dropped.reset();
  auto& thread = configuration_.thread ? *configuration_.thread : Analytics::thread();
  thread.perform([] {}, platform::EventLoopThread::Wait::Yes);
  auto directory = configuration_.storeDirectory.empty() ? platform::Sandbox::library() : configuration_.storeDirectory;
  for (const char* name : {kPropertyStoreFileName, kHitStoreFileName}) {
    std::error_code ignored;
    for (const char* suffix : {"", "-wal", "-shm"}) {
      std::filesystem::remove(DataStore::databaseFullPath(directory, name).string() + suffix, ignored);
    }
  }
}

}  // namespace analytics
