#include "platform/event_loop_thread.hpp"

#include <pthread.h>

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>
#include <atomic>
#include <future>
#include <thread>
#include <unordered_map>

namespace platform {

namespace {

// A timer lives on its loop thread only; handles refer to it by id.
struct LoopTimer {
  LoopTimer(asio::io_context& context, Duration interval, bool repeats, Work work)
      : timer(context), interval(interval), repeats(repeats), work(std::move(work)) {}
  asio::steady_timer timer;
  Duration interval;
  bool repeats;
  Work work;
};

}  // namespace

struct EventLoopThread::State {
  explicit State(std::string n) : name(std::move(n)), guard(context.get_executor()) {}
  std::string name;
  asio::io_context context{1};
  asio::executor_work_guard<asio::io_context::executor_type> guard;
  std::thread thread;
  // Loop-thread only. Declared after the context so timers die first.
  std::unordered_map<std::uint64_t, std::shared_ptr<LoopTimer>> timers;
  std::uint64_t nextTimerId = 1;
};

struct Timer::State {
  std::weak_ptr<EventLoopThread::State> loop;
  std::uint64_t id = 0;
  std::shared_ptr<std::atomic<bool>> cancelled = std::make_shared<std::atomic<bool>>(false);
};

namespace {

// Arms the timer; on expiry runs the work unless cancelled, and re-arms a
// repeating timer from its previous deadline so it does not drift.
void armTimer(const std::shared_ptr<LoopTimer>& timer, std::shared_ptr<std::atomic<bool>> cancelled,
              EventLoopThread::State* loop, std::uint64_t id) {
  std::weak_ptr<LoopTimer> weak = timer;
  timer->timer.async_wait([weak, cancelled, loop, id](const std::error_code& error) {
    auto timer = weak.lock();
    if (error || !timer || cancelled->load()) return;
    if (timer->repeats) {
      timer->timer.expires_at(timer->timer.expiry() + timer->interval);
      armTimer(timer, cancelled, loop, id);
    } else {
      loop->timers.erase(id);
    }
    timer->work();
  });
}

}  // namespace

EventLoopThread::EventLoopThread(std::string name) : state_(std::make_shared<State>(std::move(name))) {
  state_->thread = std::thread([state = state_.get()] {
    pthread_setname_np(pthread_self(), state->name.substr(0, 15).c_str());
    state->context.run();
  });
}

EventLoopThread::~EventLoopThread() {
  state_->guard.reset();
  state_->context.stop();
  state_->thread.join();
}

void EventLoopThread::post(Work work) { asio::post(state_->context, std::move(work)); }

void EventLoopThread::postDelayed(Duration delay, Work work) {
  auto timer = std::make_shared<asio::steady_timer>(state_->context, delay);
  timer->async_wait([timer, work = std::move(work)](const std::error_code& error) {
    if (!error) work();
  });
}

bool EventLoopThread::runsOnCurrentThread() const { return state_->context.get_executor().running_in_this_thread(); }

void EventLoopThread::perform(Work work, Wait wait) {
  if (wait == Wait::No) {
    post(std::move(work));
    return;
  }
  if (runsOnCurrentThread()) {
    work();
    return;
  }
  std::promise<void> done;
  auto finished = done.get_future();
  post([&work, &done] {
    try {
      work();
      done.set_value();
    } catch (...) {
      done.set_exception(std::current_exception());
    }
  });
  finished.get();
}

Timer EventLoopThread::scheduleTimer(Duration interval, bool repeats, Work work) {
  Timer handle;
  handle.state_ = std::make_shared<Timer::State>();
  handle.state_->loop = state_;
  auto cancelled = handle.state_->cancelled;
  auto deadline = std::chrono::steady_clock::now() + interval;
  // The timer object belongs to the loop thread: create and arm it there.
  std::promise<std::uint64_t> idPromise;
  auto id = idPromise.get_future();
  perform(
      [&, state = state_.get()] {
        auto timer = std::make_shared<LoopTimer>(state->context, interval, repeats, std::move(work));
        timer->timer.expires_at(deadline);
        std::uint64_t timerId = state->nextTimerId++;
        state->timers.emplace(timerId, timer);
        armTimer(timer, cancelled, state, timerId);
        idPromise.set_value(timerId);
      },
      Wait::Yes);
  handle.state_->id = id.get();
  return handle;
}

const std::string& EventLoopThread::name() const noexcept { return state_->name; }

Timer::~Timer() { cancel(); }
Timer::Timer(Timer&&) noexcept = default;
Timer& Timer::operator=(Timer&& other) noexcept {
  if (this != &other) {
    cancel();
    state_ = std::move(other.state_);
  }
  return *this;
}

void Timer::cancel() {
  if (!state_) return;
  state_->cancelled->store(true);
  if (auto loop = state_->loop.lock()) {
    asio::post(loop->context, [state = loop.get(), id = state_->id] { state->timers.erase(id); });
  }
  state_.reset();
}

bool Timer::isActive() const { return state_ && !state_->cancelled->load(); }

}  // namespace platform
