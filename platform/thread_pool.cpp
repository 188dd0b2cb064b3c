#include "thread_pool.hpp"

#include <pthread.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <asio/defer.hpp>
#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/post.hpp>
#include <thread>
#include <utility>
#include <vector>

#include "runnable_handler.hpp"

namespace platform {

struct ThreadPool::State {
  explicit State(unsigned threads) : context(static_cast<int>(threads)), guard(context.get_executor()) {}
  asio::io_context context;
  asio::executor_work_guard<asio::io_context::executor_type> guard;
  std::vector<std::thread> threads;
};

namespace {

void nameAndPrioritiseCurrentThread(const std::string& name, ThreadPool::Priority priority) {
  pthread_setname_np(pthread_self(), name.substr(0, 15).c_str());
  if (priority == ThreadPool::Priority::Low) {
    // Linux applies setpriority to the calling thread when given its thread id.
    setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), 10);
  }
}

}  // namespace

ThreadPool::ThreadPool(std::string name, unsigned threads, Priority priority)
    : state_(std::make_unique<State>(threads)) {
  for (unsigned i = 0; i < threads; ++i) {
    state_->threads.emplace_back([state = state_.get(), name, priority] {
      nameAndPrioritiseCurrentThread(name, priority);
      state->context.run();
    });
  }
}

ThreadPool::~ThreadPool() { stop(); }

void ThreadPool::stop() {
  state_->guard.reset();
  state_->context.stop();
  for (auto& thread : state_->threads) {
    if (thread.joinable()) thread.join();
  }
}

namespace {

// From a pool thread, defer keeps the work on this thread's private queue:
// a chain of continuations then never pays for waking an idle thread.
template <class Handler>
void enqueue(asio::io_context& context, Handler&& handler) {
  if (context.get_executor().running_in_this_thread()) {
    asio::defer(context, std::forward<Handler>(handler));
  } else {
    asio::post(context, std::forward<Handler>(handler));
  }
}

}  // namespace

void ThreadPool::post(Work work) { enqueue(state_->context, std::move(work)); }

void ThreadPool::postRunnable(Runnable& runnable) { enqueue(state_->context, detail::RunnableHandler(runnable)); }

bool ThreadPool::runsOnCurrentThread() const { return state_->context.get_executor().running_in_this_thread(); }

}  // namespace platform
