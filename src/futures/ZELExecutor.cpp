#include "zel/futures/ZELExecutor.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "BackgroundWakeBatch.h"
#include "RunGuarded.h"
#include "zel/foundation/ZELAssertion.h"
#include "zel/futures/ZELMainQueue.h"

namespace zel {
namespace {

thread_local bool onBackgroundThread = false;
// Inside a BackgroundWakeBatch: work queued while a worker is awake wakes no other until it ends.
thread_local bool tlsDeferWakes = false;
thread_local bool tlsWakeDeferred = false;

void runGuarded(ZELExecutor::Work& work) noexcept {
  detail::runGuarded(work, "an executor");
}

class ImmediateExecutor final : public ZELExecutor {
 public:
  void execute(Work work) override { runGuarded(work); }
  bool isImmediate() const noexcept override { return true; }
};

class BackgroundExecutor final : public ZELExecutor {
 public:
  BackgroundExecutor() {
    const unsigned count = std::max(2u, std::thread::hardware_concurrency());
    for (unsigned i = 0; i < count; ++i) {
      std::thread([this] { run(); }).detach();
    }
  }

  void execute(Work work) override {
    Worker* wake = nullptr;
    {
      std::lock_guard lock(mutex_);
      queue_.push_back(std::move(work));
      // Deferred only while a worker is awake and about to look: an item never waits for the
      // batch's end with every worker asleep (its thread might block before then).
      if (tlsDeferWakes && looking_ > 0) {
        tlsWakeDeferred = true;
      } else {
        wake = takeIdleWorkerIfNeeded();
      }
    }
    if (wake) wake->ready.notify_one();
  }

  void wakeForDeferredWork() {
    Worker* wake = nullptr;
    {
      std::lock_guard lock(mutex_);
      wake = takeIdleWorkerIfNeeded();
    }
    if (wake) wake->ready.notify_one();
  }

 private:
  struct Worker {
    std::condition_variable ready;
    bool woken = false;
  };

  // A sleeping worker is woken only when the queue holds more items than the awake workers about
  // to look at it: a burst costs one futex wake, not one per item. Each worker waits on its own
  // condition, so exactly the worker counted as woken wakes.
  Worker* takeIdleWorkerIfNeeded() {
    if (idle_.empty() || queue_.size() <= looking_) return nullptr;
    Worker* worker = idle_.back();
    idle_.pop_back();
    worker->woken = true;
    ++looking_;
    return worker;
  }

  void run() {
    onBackgroundThread = true;
    Worker self;
    std::unique_lock lock(mutex_);
    ++looking_;
    for (;;) {
      while (queue_.empty()) {
        --looking_;
        idle_.push_back(&self);
        self.ready.wait(lock, [&self] { return self.woken; });
        self.woken = false;  // the waker counted this worker as looking again
      }
      Work work = std::move(queue_.front());
      queue_.pop_front();
      --looking_;
      // More is left than the other awake workers will take: wake one more (it cascades).
      Worker* wake = takeIdleWorkerIfNeeded();
      lock.unlock();
      if (wake) wake->ready.notify_one();
      runGuarded(work);
      work = nullptr;  // its captures go before the lock is taken again
      lock.lock();
      ++looking_;
    }
  }

  std::mutex mutex_;
  std::deque<Work> queue_;
  std::vector<Worker*> idle_;  // the most recently idle last: its cache is the warmest
  std::size_t looking_ = 0;    // awake workers not running an item
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
  static const auto* executor =
      new std::shared_ptr<ZELExecutor>(std::make_shared<BackgroundExecutor>());
  return *executor;
}

const std::shared_ptr<ZELExecutor>& ZELExecutor::main() {
  static const auto* executor = new std::shared_ptr<ZELExecutor>(std::make_shared<MainExecutor>());
  return *executor;
}

namespace detail {

BackgroundWakeBatch::BackgroundWakeBatch() noexcept : outer_(!tlsDeferWakes) {
  tlsDeferWakes = true;
}

BackgroundWakeBatch::~BackgroundWakeBatch() {
  if (!outer_) return;
  tlsDeferWakes = false;
  wakeDeferred();
}

void BackgroundWakeBatch::wakeDeferred() noexcept {
  if (std::exchange(tlsWakeDeferred, false)) {
    static_cast<BackgroundExecutor&>(*ZELExecutor::background()).wakeForDeferredWork();
  }
}

}  // namespace detail

bool ZELExecutor::isBackgroundThread() noexcept {
  return onBackgroundThread;
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
