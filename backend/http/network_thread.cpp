#include "network_thread.hpp"

#include "connection.hpp"
#include "platform/curl_setup.hpp"
#include "platform/executor.hpp"

namespace backend::http {
namespace {

// Enough for the runner's three transfers and a few of other queues; more
// handles than that at once are freed rather than kept.
constexpr std::size_t kIdleHandleLimit = 8;

// Long enough not to spin, short enough that nothing waits long if a wake-up
// is ever missed.
constexpr int kPollTimeoutMs = 50;

// Completions hop from the network thread to these queues. Creating them
// before the thread makes them outlive it at exit (statics die in reverse).
void touchCompletionQueues() {
  platform::backgroundQueue();
  platform::mainQueue();
}

}  // namespace

NetworkThread& NetworkThread::shared() {
  static NetworkThread instance;
  return instance;
}

NetworkThread::NetworkThread()
    : multi_(platform::ensureCurlSetUp() ? curl_multi_init() : nullptr),
      thread_((touchCompletionQueues(), std::make_unique<platform::EventLoopThread>("BENetworking"))) {}

NetworkThread::~NetworkThread() {
  // Everything that touches the handles goes before the loop stops.
  thread_->perform(
      [this] {
        for (const auto& [easy, connection] : transfers_) curl_multi_remove_handle(multi_, easy);
        transfers_.clear();
        for (CURL* easy : idleHandles_) curl_easy_cleanup(easy);
        idleHandles_.clear();
      },
      platform::EventLoopThread::Wait::Yes);
  thread_.reset();
  curl_multi_cleanup(multi_);
}

void NetworkThread::post(platform::Work work) {
  if (isCurrent()) {
    // The pump sees this before it would block, so no wake-up is needed.
    postedFromLoop_ = true;
    thread_->post(std::move(work));
    return;
  }
  thread_->post(std::move(work));
  if (!wakePending_.exchange(true, std::memory_order_acq_rel)) curl_multi_wakeup(multi_);
}

bool NetworkThread::isCurrent() const { return thread_->runsOnCurrentThread(); }

CURL* NetworkThread::takeHandle() {
  if (idleHandles_.empty()) return curl_easy_init();
  CURL* easy = idleHandles_.back();
  idleHandles_.pop_back();
  return easy;
}

void NetworkThread::recycle(CURL* easy) {
  curl_easy_reset(easy);
  if (idleHandles_.size() < kIdleHandleLimit) {
    idleHandles_.push_back(easy);
  } else {
    curl_easy_cleanup(easy);
  }
}

void NetworkThread::add(const std::shared_ptr<Connection>& connection, CURL* easy) {
  transfers_[easy] = connection;
  curl_multi_add_handle(multi_, easy);
  schedulePump();
}

void NetworkThread::remove(CURL* easy) {
  if (transfers_.erase(easy) > 0) curl_multi_remove_handle(multi_, easy);
}

void NetworkThread::schedulePump() {
  if (pumping_) return;
  pumping_ = true;
  thread_->post([this] { pump(); });
}

// One turn: move the transfers on, report the finished ones, then wait for
// socket activity or a wake-up. Posted work runs between turns.
void NetworkThread::pump() {
  int running = 0;
  curl_multi_perform(multi_, &running);
  finishTransfers();
  if (transfers_.empty()) {
    pumping_ = false;
    return;
  }
  if (postedFromLoop_) {
    postedFromLoop_ = false;
  } else {
    curl_multi_poll(multi_, nullptr, 0, kPollTimeoutMs, nullptr);
    // Posts after this point wake the next poll; those before it are
    // already queued ahead of the next turn.
    wakePending_.exchange(false, std::memory_order_acq_rel);
  }
  thread_->post([this] { pump(); });
}

void NetworkThread::finishTransfers() {
  int queued = 0;
  while (CURLMsg* message = curl_multi_info_read(multi_, &queued)) {
    if (message->msg != CURLMSG_DONE) continue;
    auto it = transfers_.find(message->easy_handle);
    if (it == transfers_.end()) continue;
    auto connection = std::move(it->second);
    auto code = message->data.result;
    remove(message->easy_handle);
    connection->handleDone(code);
  }
}

}  // namespace backend::http
