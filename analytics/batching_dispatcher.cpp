#include "batching_dispatcher.hpp"

#include <atomic>
#include <cctype>
#include <charconv>
#include <cmath>
#include <future>
#include <mutex>
#include <string_view>
#include <thread>

#include "analytics/analytics.hpp"
#include "analytics/fields.hpp"
#include "completion_route.hpp"
#include "diagnostics.hpp"
#include "hit_util.hpp"
#include "platform/event_loop_thread.hpp"
#include "platform/executor.hpp"
#include "platform/notification_center.hpp"
#include "platform/url.hpp"
#include "reachability_checker.hpp"

namespace analytics {

namespace {

// The string stored under key, or null.
const std::string* stringParameter(const ParameterMap& parameters, std::string_view key) {
  const platform::Value* value = parameters.find(key);
  return value ? value->string() : nullptr;
}

using Wait = platform::EventLoopThread::Wait;

bool usesPlainEndpoint(const HitRecord& hit) {
  const std::string* useSecure = stringParameter(hit.parameters, kUseSecureKey);
  return useSecure && *useSecure == "0";
}

// "&sf" as a percentage when its whole text is a number (leading blanks and
// a plus sign allowed). The decimal point is "." whatever the process locale.
std::optional<double> sampleRate(const ParameterMap& parameters) {
  const std::string* text = stringParameter(parameters, kSampleRateField);
  if (!text) return std::nullopt;
  std::string_view rest = *text;
  while (!rest.empty() && std::isspace(static_cast<unsigned char>(rest.front()))) rest.remove_prefix(1);
  if (!rest.empty() && rest.front() == '+') rest.remove_prefix(1);
  double rate = 0;
  auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), rate);
  if (error != std::errc() || end != rest.data() + rest.size() || !std::isfinite(rate)) return std::nullopt;
  return rate;
}

std::string describe(const HitRecord& hit) { return platform::Value(hit.parameters).description(); }

}  // namespace

struct BatchingDispatcher::Impl final : ReachabilityDelegate, std::enable_shared_from_this<BatchingDispatcher::Impl> {
  platform::EventLoopThread& thread;
  std::shared_ptr<CompletionRoute> completions;
  std::unique_ptr<DataStore> store;
  RequestBuilder requestBuilder;
  DispatchObserver observer;

  std::atomic<bool> optOut{false};
  std::atomic<bool> stopped{false};

  // Analytics-thread state; read elsewhere only through perform(Wait::Yes).
  DispatchSettings settings;
  std::string httpsURL;
  std::string httpURL;
  bool hostReachable = true;
  bool hasHits = true;
  bool deleteFailureLogged = false;
  std::shared_ptr<Connection> connection;
  platform::Timer timer;
  platform::Timer initialTimer;

  mutable std::mutex factoryMutex;
  std::shared_ptr<ConnectionFactory> connections;

  // Main-queue side.
  std::unique_ptr<ReachabilityChecker> reachability;

  Impl(platform::EventLoopThread& t, std::unique_ptr<DataStore> s, Options& options)
      : thread(t), completions(std::make_shared<CompletionRoute>(t, options.completionQueue)), store(std::move(s)),
        observer(std::move(options.observer)), settings(options.settings), httpsURL(std::move(options.httpsURL)),
        httpURL(std::move(options.httpURL)), connections(std::move(options.connections)) {
    if (!connections) connections = std::make_shared<URLConnectionFactory>(RequestRouter{}, &thread);
  }

  // Runs `work` on the analytics thread unless stopped: inline when already
  // there, else queued without waiting.
  void hop(std::function<void(Impl&)> work) {
    if (thread.runsOnCurrentThread()) {
      if (!stopped) work(*this);
      return;
    }
    thread.perform(
        [self = shared_from_this(), work = std::move(work)] {
          if (!self->stopped) work(*self);
        },
        Wait::No);
  }

  // Queues `work` behind what is already queued (no recursion on the thread).
  void later(std::function<void(Impl&)> work) {
    thread.perform(
        [self = shared_from_this(), work = std::move(work)] {
          if (!self->stopped) work(*self);
        },
        Wait::No);
  }

  template <class F>
  auto onThread(F&& work) {
    using R = decltype(work());
    R result{};
    thread.perform([&] { result = work(); }, Wait::Yes);
    return result;
  }

  std::shared_ptr<ConnectionFactory> factory() const {
    std::lock_guard lock(factoryMutex);
    return connections;
  }

  bool canDispatch() const { return hostReachable && hasHits; }
  bool canScheduleDispatch() const { return settings.dispatchInterval > 0 && canDispatch(); }
  bool idle() { return !connection && store->hitCount() <= 0; }

  // --- scheduling ---

  void cancelDispatch() {
    initialTimer.cancel();
    timer.cancel();
  }

  void rescheduleDispatch() {
    hop([](Impl& self) {
      self.cancelDispatch();
      if (!self.canScheduleDispatch()) return;
      auto interval = std::chrono::duration_cast<platform::Duration>(
          std::chrono::duration<double>(self.settings.dispatchInterval));
      std::weak_ptr<Impl> weak = self.shared_from_this();
      self.timer = self.thread.scheduleTimer(interval, true, [weak] {
        if (auto impl = weak.lock(); impl && !impl->stopped) impl->timerFired();
      });
    });
  }

  void timerFired() {
    if (canScheduleDispatch()) dispatch();
  }

  void initialDispatch() {
    hop([](Impl& self) {
      std::weak_ptr<Impl> weak = self.shared_from_this();
      self.initialTimer = self.thread.scheduleTimer(std::chrono::seconds(1), false, [weak] {
        if (auto impl = weak.lock(); impl && !impl->stopped) impl->timerFired();
      });
    });
  }

  void setHasHits(bool value) {
    hop([value](Impl& self) {
      if (self.hasHits == value) return;
      self.hasHits = value;
      self.rescheduleDispatch();
    });
  }

  void setHostReachable(bool value) {
    hop([value](Impl& self) {
      if (self.hostReachable == value) return;
      self.hostReachable = value;
      self.rescheduleDispatch();
    });
  }

  void reachabilityStatusChanged(ReachabilityChecker&, ReachabilityStatus status) override {
    setHostReachable(status != ReachabilityStatus::NotReachable);
  }

  // --- queuing ---

  void queueDispatch(ParameterMap parameters) {
    if (optOut) return;
    if (auto rate = sampleRate(parameters)) {
      const std::string* cid = stringParameter(parameters, kClientIdField);
      std::uint32_t hash = HitUtil::gaHash(cid ? *cid : std::string());
      if (static_cast<double>(hash % 10000) >= *rate * 100) return;
    }
    persist(HitRecord{platform::Date::now(), std::move(parameters), std::nullopt});
  }

  void persist(HitRecord hit) {
    hop([hit = std::move(hit)](Impl& self) {
      // Opting out may have come between the caller's check and this turn.
      if (self.optOut) return;
      platform::Error error;
      error.domain.clear();
      self.store->addHit(hit, &error);
      bool saved = error.domain.empty() && self.store->save(&error);
      if (saved) {
        AN_VERBOSE("Saved hit: " + describe(hit));
      } else {
        AN_ERROR("Failed to save hit: " + error.description());
      }
      self.setHasHits(true);
      if (self.observer.hitPersisted) self.observer.hitPersisted(saved);
    });
  }

  // --- collecting ---

  // Deletes the hits for good (deleted and saved). A store that refuses
  // (full disk, locked file) keeps them for the next try; the failure is
  // logged once until a deletion works again.
  bool deleteHits(const std::vector<HitRecord>& hits) {
    std::vector<ObjectId> ids;
    ids.reserve(hits.size());
    for (const auto& hit : hits) {
      if (hit.objectId) ids.push_back(*hit.objectId);
    }
    platform::Error error;
    if (!store->deleteHits(ids, &error)) {
      reportDeleteFailure("Failed to delete hit(s): " + error.description());
      return false;
    }
    setHasHits(store->hitCount() != 0);
    AN_INFO("hit(s) Successfully dispatched");
    if (!store->save(&error)) {
      reportDeleteFailure("Unable to save after deleting hit(s): " + error.description());
      return false;
    }
    deleteFailureLogged = false;
    return true;
  }

  void reportDeleteFailure(const std::string& message) {
    if (!deleteFailureLogged) AN_ERROR(message);
    deleteFailureLogged = true;
  }

  // The oldest hits that are not stale; nullopt when stale ones could not be
  // deleted (the next tick tries again).
  std::optional<std::vector<HitRecord>> nextPendingHits() {
    for (;;) {
      platform::Error error;
      auto fetched = store->fetchHits(settings.maxHitsPerDispatch, &error);
      if (!fetched) {
        AN_ERROR("Failed to load pending hits: " + error.description());
        return std::vector<HitRecord>();
      }
      auto oldest = platform::Date::now().addingTimeInterval(-settings.maxHitAge);
      std::vector<HitRecord> stale;
      for (const auto& hit : *fetched) {
        if (hit.timestamp && *hit.timestamp <= oldest) stale.push_back(hit);
      }
      if (stale.empty()) return fetched;
      if (!deleteHits(stale)) return std::nullopt;
    }
  }

  // The next batch; nullopt when the store could not be tidied first.
  std::optional<std::vector<HitRecord>> nextBatch() {
    auto next = nextPendingHits();
    if (!next) return std::nullopt;
    auto& pending = *next;
    if (pending.empty()) {
      AN_INFO("No pending hits.");
      return std::vector<HitRecord>();
    }
    unsigned strategy = settings.batchingStrategy;
    if (strategy == 0) return std::vector<HitRecord>{pending.front()};
    if (strategy > 5) {
      AN_ERROR("unexpected batch strategy: " + std::to_string(strategy));
      return std::vector<HitRecord>{pending.front()};
    }
    bool plain = usesPlainEndpoint(pending.front());
    std::vector<HitRecord> kept;
    for (auto& hit : pending) {
      if (usesPlainEndpoint(hit) == plain) kept.push_back(std::move(hit));
    }
    std::uint64_t maxBody = settings.maxBodySize;
    std::vector<std::uint64_t> running;
    std::uint64_t total = 0;
    std::size_t n = 0;
    for (const auto& hit : kept) {
      total += requestBuilder.parametersForHit(hit).size();  // ASCII: bytes are UTF-16 units
      running.push_back(total);
      if (total <= maxBody) ++n;
    }
    if (total <= maxBody) return kept;
    std::size_t k = n;
    switch (strategy) {
      case 2: k = BatchingDispatcher::batchByTimeGap(kept, n); break;
      case 3:
        if (total < 2 * maxBody) {
          k = 0;
          for (std::size_t i = 1; i < running.size(); ++i) {
            if (running[i] <= total / 2) k = i;
          }
        }
        break;
      case 4: k = std::min(n, kept.size() / 2); break;
      case 5: k = BatchingDispatcher::batchBySessionSplit(kept, n); break;
      default: break;
    }
    // An empty batch would leave the oldest hit in front of all others for
    // ever; send it alone instead (it is dropped if it is too large).
    if (k == 0) k = 1;
    kept.resize(std::min(k, kept.size()));
    return kept;
  }

  std::vector<HitRecord> hitsForDispatch() { return nextBatch().value_or(std::vector<HitRecord>()); }

  std::string buildPayload(const std::vector<HitRecord>& hits) {
    std::string payload;
    bool first = true;
    for (const auto& hit : hits) {
      std::string line = requestBuilder.parametersForHit(hit);
      if (line.empty() || (settings.maxHitSize != 0 && line.size() > settings.maxHitSize)) continue;
      if (!first) payload.push_back('\n');
      payload += line;
      first = false;
    }
    return payload;
  }

  // --- delivering ---

  void dispatch() {
    hop([](Impl& self) { self.dispatchOnThread(); });
  }

  void dispatchOnThread() {
    if (optOut) {
      // Nothing stored before opting out may leave; a delete-all that failed
      // is tried again.
      if (hasHits) deleteAllHitsOnThread();
      return;
    }
    if (!canDispatch()) return;
    auto next = nextBatch();
    if (!next) return;
    auto& batch = *next;
    if (batch.empty()) {
      setHasHits(false);
      return;
    }
    if (connection) return;
    platform::NotificationCenter::defaultCenter().post(kWillDispatchNotification);
    const std::string& endpoint = usesPlainEndpoint(batch.front()) ? httpURL : httpsURL;
    std::string payload = buildPayload(batch);
    std::optional<Request> request;
    std::uint64_t maxBody = settings.maxBodySize;
    if (maxBody == 0 || payload.size() <= maxBody) {
      if (batch.size() == 1 && payload.size() < 2000 && settings.compression == Compression::None) {
        request = requestBuilder.requestGet(endpoint, payload);
      } else {
        request = requestBuilder.requestPost(endpoint, payload, settings.compression);
      }
      if (request && maxBody != 0 && request->body.size() > maxBody) request.reset();
    }
    if (!request) {
      AN_ERROR("Failed to generate request for hit(s).");
      if (deleteHits(batch)) later([](Impl& self) { self.dispatchOnThread(); });
      return;
    }
    AN_VERBOSE("Sending hit(s) " + request->method + ": " + request->url);
    std::weak_ptr<Impl> weak = shared_from_this();
    connection = factory()->start(std::move(*request), *completions,
                                  [weak, batch = std::move(batch)](std::optional<HttpResponse> response, std::string,
                                                                   std::optional<platform::Error> error) mutable {
                                    if (auto self = weak.lock(); self && !self->stopped) {
                                      self->didSendHits(std::move(batch), response, error);
                                    }
                                  });
  }

  // On the completion queue.
  void didSendHits(std::vector<HitRecord> batch, const std::optional<HttpResponse>& response,
                   const std::optional<platform::Error>& error) {
    long status = response ? response->statusCode : -1;
    ExchangeOutcome outcome{status, batch.size(), error};
    if (response) {
      hop([batch = std::move(batch), outcome](Impl& self) {
        bool deleted = self.deleteHits(batch);
        self.connection.reset();
        AN_INFO(std::to_string(batch.size()) + " hit(s) sent");
        if (self.observer.exchangeFinished) self.observer.exchangeFinished(outcome);
        // Undeleted hits would only go out again at once: leave them to the next tick.
        if (deleted && self.canDispatch()) self.later([](Impl& impl) { impl.dispatchOnThread(); });
      });
    } else {
      hop([outcome](Impl& self) {
        self.connection.reset();
        if (self.observer.exchangeFinished) self.observer.exchangeFinished(outcome);
      });
    }
    if (error) {
      AN_INFO("Dispatch error: " + error->description());
    } else {
      AN_INFO("Hit(s) dispatched: HTTP status " + std::to_string(status));
    }
  }

  void deleteAllHits() {
    hop([](Impl& self) { self.deleteAllHitsOnThread(); });
  }

  // When the store refuses, hasHits stays set so that the timer keeps coming
  // back to try again.
  void deleteAllHitsOnThread() {
    platform::Error error;
    bool deleted = store->deleteAllHits(&error);
    if (!deleted) AN_ERROR("Failed to delete all hits for opt-out: " + error.description());
    // What was deleted is saved even when one file refused.
    bool saved = store->save(&error);
    if (!saved) {
      AN_ERROR("Failed to save after updating opt-out property and deleting pending hits: " + error.description());
    }
    if (deleted && saved) setHasHits(false);
  }

  void stop() {
    stopped = true;
    cancelDispatch();
    if (connection) connection->cancel();
    connection.reset();
  }
};

std::shared_ptr<BatchingDispatcher> BatchingDispatcher::dispatcher(Options options) {
  DataStore::Options storeOptions;
  storeOptions.thread = options.thread;
  return std::make_shared<BatchingDispatcher>(std::make_unique<DataStore>(storeOptions), std::move(options));
}

BatchingDispatcher::BatchingDispatcher(std::unique_ptr<DataStore> store, Options options) {
  auto& thread = options.thread ? *options.thread : Analytics::thread();
  bool initial = options.initialDispatch;
  auto* source = options.reachabilitySource;
  impl_ = std::make_shared<Impl>(thread, std::move(store), options);
  impl_->reachability = ReachabilityChecker::create(impl_.get(), platform::hostOf(impl_->httpsURL));
  if (impl_->reachability) {
    impl_->reachability->setReachabilitySource(source);
    impl_->reachability->start();
  }
  if (initial) impl_->initialDispatch();
}

BatchingDispatcher::~BatchingDispatcher() {
  if (impl_->reachability) impl_->reachability->stop();
  impl_->thread.perform([impl = impl_] { impl->stop(); }, Wait::Yes);
  // Close the files now; closures still queued see `stopped` and do nothing.
  impl_->store.reset();
}

void BatchingDispatcher::queueModel(TrackerModel model) {
  if (impl_->optOut) return;
  impl_->hop([model = std::move(model)](Impl& self) { self.queueDispatch(model.buildDictionary()); });
}

void BatchingDispatcher::queueDispatch(ParameterMap parameters) { impl_->queueDispatch(std::move(parameters)); }

std::string BatchingDispatcher::clientId() { return impl_->store->clientId(); }

void BatchingDispatcher::dispatch() { impl_->dispatch(); }

double BatchingDispatcher::dispatchInterval() const {
  return impl_->onThread([&] { return impl_->settings.dispatchInterval; });
}

void BatchingDispatcher::setDispatchInterval(double seconds) {
  impl_->hop([seconds](Impl& self) {
    if (self.settings.dispatchInterval == seconds) return;
    self.settings.dispatchInterval = seconds;
    self.rescheduleDispatch();
  });
}

void BatchingDispatcher::setHostReachable(bool reachable) { impl_->setHostReachable(reachable); }
void BatchingDispatcher::setHasHits(bool hasHits) { impl_->setHasHits(hasHits); }

void BatchingDispatcher::setOptOut(bool optOut) {
  bool was = impl_->optOut.exchange(optOut);
  if (optOut && !was) impl_->deleteAllHits();
}

bool BatchingDispatcher::optOut() const { return impl_->optOut; }

void BatchingDispatcher::deleteAllHits() { impl_->deleteAllHits(); }

DispatchSettings BatchingDispatcher::settings() const {
  return impl_->onThread([&] { return impl_->settings; });
}

void BatchingDispatcher::updateSettings(const std::function<void(DispatchSettings&)>& change) {
  impl_->thread.perform(
      [&] {
        double interval = impl_->settings.dispatchInterval;
        change(impl_->settings);
        impl_->settings.dispatchInterval = interval;
      },
      Wait::Yes);
}

void BatchingDispatcher::setEndpoints(std::string httpsURL, std::string httpURL) {
  impl_->thread.perform(
      [&] {
        impl_->httpsURL = std::move(httpsURL);
        impl_->httpURL = std::move(httpURL);
      },
      Wait::Yes);
}

void BatchingDispatcher::setConnectionFactory(std::shared_ptr<ConnectionFactory> connections) {
  std::lock_guard lock(impl_->factoryMutex);
  if (connections) impl_->connections = std::move(connections);
}

std::shared_ptr<ConnectionFactory> BatchingDispatcher::connectionFactory() const { return impl_->factory(); }

void BatchingDispatcher::setObserver(DispatchObserver observer) {
  impl_->later([observer = std::move(observer)](Impl& self) { self.observer = observer; });
}

bool BatchingDispatcher::isIdle() {
  return impl_->onThread([&] { return impl_->idle(); });
}

bool BatchingDispatcher::waitUntilIdle(std::chrono::steady_clock::time_point deadline) {
  if (impl_->thread.runsOnCurrentThread()) return false;
  for (;;) {
    // A question posted to the thread, whose answer is waited for only until
    // the deadline: a thread stuck in a slow store call cannot hold us.
    auto answer = std::make_shared<std::promise<bool>>();
    auto idle = answer->get_future();
    impl_->thread.post([impl = impl_, answer] { answer->set_value(impl->idle()); });
    if (idle.wait_until(deadline) != std::future_status::ready) return false;
    if (idle.get()) return true;
    auto pause = std::min(deadline, std::chrono::steady_clock::now() + std::chrono::milliseconds(10));
    std::this_thread::sleep_until(pause);
    if (std::chrono::steady_clock::now() >= deadline) return false;
  }
}

void BatchingDispatcher::divertCompletionsToThread() { impl_->completions->divertToThread(); }

DataStore& BatchingDispatcher::dataStore() { return *impl_->store; }

std::vector<HitRecord> BatchingDispatcher::hitsForDispatch() {
  return impl_->onThread([&] { return impl_->hitsForDispatch(); });
}

std::string BatchingDispatcher::buildPayload(const std::vector<HitRecord>& hits) {
  return impl_->onThread([&] { return impl_->buildPayload(hits); });
}

std::size_t BatchingDispatcher::batchByTimeGap(const std::vector<HitRecord>& hits, std::size_t maxHits) {
  std::size_t n = std::min(maxHits, hits.size());
  if (n < 2) return n;
  std::optional<std::size_t> best;
  std::int64_t bestGap = 0;
  for (std::size_t i = 1; i < n; ++i) {
    const auto& before = hits[i - 1].timestamp;
    const auto& after = hits[i].timestamp;
    if (!before || !after || *after < *before) continue;
    std::int64_t gap = HitUtil::millisecondsElapsed(*before, *after);
    if (!best || gap >= bestGap) {
      best = i;
      bestGap = gap;
    }
  }
  return best.value_or(n);
}

std::size_t BatchingDispatcher::batchBySessionSplit(const std::vector<HitRecord>& hits, std::size_t maxHits) {
  std::size_t m = std::min(maxHits, hits.size());
  for (std::size_t i = m; i-- > 1;) {
    const std::string* control = stringParameter(hits[i].parameters, kSessionControlField);
    if (!control) continue;
    if (*control == "start") return i;
    if (*control == "end") return i + 1;
  }
  return maxHits;
}

}  // namespace analytics
