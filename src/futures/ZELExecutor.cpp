#include "zel/futures/ZELExecutor.h"

#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

#include "BackgroundPool.h"
#include "RunGuarded.h"
#include "zel/foundation/ZELAssertion.h"
#include "zel/futures/ZELMainQueue.h"

namespace zel {
namespace {

void runGuarded(ZELExecutor::Work& work) noexcept {
  detail::runGuarded(work, "an executor");
}

class ImmediateExecutor final : public ZELExecutor {
 public:
  void execute(Work work) override { runGuarded(work); }
  bool isImmediate() const noexcept override { return true; }
};

class MainExecutor final : public ZELExecutor {
 public:
  void execute(Work work) override { ZELMainQueue::shared().enqueue(std::move(work)); }
};

}  // namespace

// Process-wide executors are leaked on purpose: no thread may ever see them destroyed.
const std::shared_ptr<ZELExecutor>& ZELExecutor::immediate() {
  static const auto* executor =
      new std::shared_ptr<ZELExecutor>(std::make_shared<ImmediateExecutor>());
  return *executor;
}

const std::shared_ptr<ZELExecutor>& ZELExecutor::background() {
  static const auto* executor = new std::shared_ptr<ZELExecutor>(detail::makeBackgroundPool());
  return *executor;
}

const std::shared_ptr<ZELExecutor>& ZELExecutor::main() {
  static const auto* executor = new std::shared_ptr<ZELExecutor>(std::make_shared<MainExecutor>());
  return *executor;
}

bool ZELExecutor::isBackgroundThread() noexcept {
  return detail::onBackgroundPoolThread();
}

bool isMainThread() noexcept {
  return ZELMainQueue::shared().isCurrent();
}

// ---- main queue -------------------------------------------------------------------------------

struct ZELMainQueue::State {
  std::mutex mutex;
  std::condition_variable ready;
  std::deque<ZELExecutor::Work> queue;
  Dispatcher dispatcher;
  bool started = false;        // work was enqueued; the mode is fixed from then on
  bool drainPending = false;   // dispatcher mode: a drain was handed to the run loop
  std::thread::id mainThread;  // guarded by mutex until started, then immutable

  void runOwnThread() {
    for (;;) {
      ZELExecutor::Work work;
      {
        std::unique_lock lock(mutex);
        ready.wait(lock, [this] { return !queue.empty(); });
        work = std::move(queue.front());
        queue.pop_front();
      }
      runGuarded(work);
    }
  }

  // Runs on the application's main thread, called by its run loop.
  void drain() {
    for (;;) {
      ZELExecutor::Work work;
      {
        std::lock_guard lock(mutex);
        if (queue.empty()) {
          drainPending = false;
          return;
        }
        work = std::move(queue.front());
        queue.pop_front();
      }
      runGuarded(work);
    }
  }
};

ZELMainQueue::ZELMainQueue() : state_(new State) {}

ZELMainQueue& ZELMainQueue::shared() {
  static auto* queue = new ZELMainQueue();
  return *queue;
}

bool ZELMainQueue::setDispatcher(Dispatcher dispatcher) {
  {
    std::lock_guard lock(state_->mutex);
    if (!state_->started && !state_->dispatcher && dispatcher) {
      state_->dispatcher = std::move(dispatcher);
      state_->mainThread = std::this_thread::get_id();
      return true;
    }
  }
  ZELCAssertionFailure(
      "The main queue's dispatcher must be set once, before the main queue is first used");
  return false;
}

void ZELMainQueue::enqueue(ZELExecutor::Work work) {
  State& s = *state_;
  std::unique_lock lock(s.mutex);
  s.queue.push_back(std::move(work));
  if (!s.started) {
    s.started = true;
    if (!s.dispatcher) {
      std::thread thread([&s] { s.runOwnThread(); });
      s.mainThread = thread.get_id();
      thread.detach();
    }
  }
  if (s.dispatcher) {
    if (s.drainPending) return;
    s.drainPending = true;
    lock.unlock();
    s.dispatcher([&s] { s.drain(); });
    return;
  }
  lock.unlock();
  s.ready.notify_one();
}

bool ZELMainQueue::isCurrent() const noexcept {
  std::lock_guard lock(state_->mutex);
  return state_->mainThread != std::thread::id() &&
         state_->mainThread == std::this_thread::get_id();
}

}  // namespace zel
