#include "platform/event_loop_thread.hpp"

#include <pthread.h>

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/post.hpp>
#include <atomic>
#include <future>
#include <thread>

#include "platform/clock.hpp"

namespace platform {

struct EventLoopThread::State {
  explicit State(std::string n) : name(std::move(n)), guard(context.get_executor()) {}
  std::string name;
  asio::io_context context{1};
  asio::executor_work_guard<asio::io_context::executor_type> guard;
  std::thread thread;
};

// What a timer handle and its pending alarm share. The work is touched on
// the loop thread only.
struct Timer::State {
  std::weak_ptr<EventLoopThread::State> loop;
  Duration interval{};
  bool repeats = false;
  Work work;
  std::atomic<bool> cancelled{false};
};

namespace {

// Runs `work` on the loop once the process clock reaches `deadline`.
void postAt(const std::weak_ptr<EventLoopThread::State>& loop, SteadyTime deadline, Work work) {
  clock().schedule(deadline, [loop, work = std::move(work)]() mutable {
    if (auto state = loop.lock()) asio::post(state->context, std::move(work));
  });
}

// Arms the timer for `deadline`. A repeating timer re-arms from that
// deadline, not from when it ran, so it does not drift; it does so as the
// alarm fires, so a test's clock moved past several periods fires each.
void armTimer(const std::shared_ptr<Timer::State>& timer, SteadyTime deadline) {
  clock().schedule(deadline, [timer, deadline] {
    auto loop = timer->loop.lock();
    if (!loop || timer->cancelled.load()) return;
    if (timer->repeats) armTimer(timer, deadline + timer->interval);
    asio::post(loop->context, [timer] {
      if (timer->cancelled.load()) return;
      if (timer->repeats) {
        timer->work();
        return;
      }
      // A one-shot timer lets go of its work (and what that holds) once run.
      Work once = std::move(timer->work);
      timer->work = nullptr;
      once();
    });
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
  postAt(state_, clock().steadyNow() + delay, std::move(work));
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
  handle.state_->interval = interval;
  handle.state_->repeats = repeats;
  handle.state_->work = std::move(work);
  armTimer(handle.state_, clock().steadyNow() + interval);
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
  state_->cancelled.store(true);
  // The pending alarm keeps the state until it falls due; the work and what
  // it holds go now, on the loop thread that owns them.
  if (auto loop = state_->loop.lock()) asio::post(loop->context, [timer = state_] { timer->work = nullptr; });
  state_.reset();
}

bool Timer::isActive() const { return state_ && !state_->cancelled.load(); }

}  // namespace platform
