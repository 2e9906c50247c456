#include "BackgroundPool.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <iterator>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "BackgroundWakeBatch.h"
#include "RunGuarded.h"

namespace zel::detail {
namespace {

thread_local bool onPoolThread = false;
// Inside a BackgroundWakeBatch: work queued while a worker is awake wakes no other until it ends.
thread_local bool tlsDeferWakes = false;
thread_local bool tlsWakeDeferred = false;
// Whether the pool exists: a thread about to block has nothing to wake before it does.
std::atomic<bool> poolStarted{false};

class BackgroundPool final : public ZELExecutor {
 public:
  BackgroundPool() {
    const unsigned count = std::max(2u, std::thread::hardware_concurrency());
    for (unsigned i = 0; i < count; ++i) {
      std::thread([this] { run(); }).detach();
    }
    poolStarted.store(true);
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
        wake = takeIdleWorkerIfNeeded(true);
      }
    }
    if (wake) wake->ready.notify_one();
  }

  /// mayWaitForAwakeWorker: false when the calling thread is about to block, perhaps on what is
  /// queued.
  void wakeForQueuedWork(bool mayWaitForAwakeWorker) {
    Worker* wake = nullptr;
    {
      std::lock_guard lock(mutex_);
      wake = takeIdleWorkerIfNeeded(mayWaitForAwakeWorker);
    }
    if (wake) wake->ready.notify_one();
  }

 private:
  struct Worker {
    std::condition_variable ready;
    bool woken = false;
  };

  // How often the standby looks while the pool is busy.
  static constexpr std::chrono::milliseconds kStandbyPeriod{1};
  // Items beyond the looking workers that may wait for an awake worker while a standby is there.
  // A trickle of short items (a request's outcome, one after another) then stays with one
  // worker; a burst of more wakes others at once.
  static constexpr std::size_t kItemsForAwakeWorker = 4;

  // A sleeping worker is woken only when the queue holds more items than the awake workers will
  // soon take. Each worker waits on its own condition, so exactly the worker counted as woken
  // wakes.
  Worker* takeIdleWorkerIfNeeded(bool mayWaitForAwakeWorker) {
    if (idle_.empty() || queue_.size() <= looking_) return nullptr;
    if (mayWaitForAwakeWorker && standby_ && running_ + looking_ > 0 &&
        queue_.size() <= looking_ + kItemsForAwakeWorker) {
      return nullptr;
    }
    // The most recently idle (its cache is the warmest), unless that is the standby and another
    // can go: the standby then stays, and so does the bound on waiting.
    auto chosen = std::prev(idle_.end());
    if (*chosen == standby_ && idle_.size() > 1) --chosen;
    Worker* worker = *chosen;
    idle_.erase(chosen);
    if (worker == standby_) standby_ = nullptr;
    worker->woken = true;
    ++looking_;
    return worker;
  }

  // Sleeps until woken, or until, as the standby, it finds an item held up. The first worker to
  // go idle without a standby becomes it; it stops being it after a whole period in which no
  // item started or waited (a long item running alone keeps no timer going).
  void sleep(Worker& self, std::unique_lock<std::mutex>& lock) {
    idle_.push_back(&self);
    if (!standby_) standby_ = &self;
    std::uint64_t seen = started_;
    while (!self.woken) {
      if (standby_ != &self) {
        self.ready.wait(lock, [&] { return self.woken || standby_ == &self; });
        seen = started_;  // made the standby: its first period starts now
        continue;
      }
      if (self.ready.wait_for(lock, kStandbyPeriod, [&self] { return self.woken; })) break;
      if (started_ == seen) {
        if (!queue_.empty()) {
          // No item started for a whole period while one waited: the awake workers are held up
          // (long work, or work that blocks, perhaps on what waits here). Take it, and leave
          // another idle worker standing by for the rest.
          idle_.erase(std::find(idle_.begin(), idle_.end(), &self));
          standby_ = idle_.empty() ? nullptr : idle_.back();
          if (standby_) standby_->ready.notify_one();
          ++looking_;
          return;
        }
        standby_ = nullptr;  // nothing started or waited for a whole period: sleep without a timer
      }
      seen = started_;
    }
    self.woken = false;  // the waker counted this worker as looking again
  }

  void run() {
    onPoolThread = true;
    Worker self;
    std::unique_lock lock(mutex_);
    ++looking_;
    for (;;) {
      while (queue_.empty()) {
        --looking_;
        sleep(self, lock);
      }
      Work work = std::move(queue_.front());
      queue_.pop_front();
      --looking_;
      ++running_;
      ++started_;
      // More is left than the other awake workers will take: wake one more (it cascades).
      Worker* wake = takeIdleWorkerIfNeeded(true);
      lock.unlock();
      if (wake) wake->ready.notify_one();
      runGuarded(work, "an executor");
      work = nullptr;  // its captures go before the lock is taken again
      lock.lock();
      --running_;
      ++looking_;
    }
  }

  std::mutex mutex_;
  std::deque<Work> queue_;
  std::vector<Worker*> idle_;  // the most recently idle last: its cache is the warmest
  std::size_t looking_ = 0;    // awake workers not running an item
  std::size_t running_ = 0;    // workers running an item
  Worker* standby_ = nullptr;  // the idle worker that looks every kStandbyPeriod, if any
  std::uint64_t started_ = 0;  // items taken so far
};

BackgroundPool& pool() {
  return static_cast<BackgroundPool&>(*ZELExecutor::background());
}

}  // namespace

std::shared_ptr<ZELExecutor> makeBackgroundPool() {
  return std::make_shared<BackgroundPool>();
}

bool onBackgroundPoolThread() noexcept {
  return onPoolThread;
}

BackgroundWakeBatch::BackgroundWakeBatch() noexcept : outer_(!tlsDeferWakes) {
  tlsDeferWakes = true;
}

BackgroundWakeBatch::~BackgroundWakeBatch() {
  if (!outer_) return;
  tlsDeferWakes = false;
  wakeDeferred();
}

void BackgroundWakeBatch::wakeDeferred() noexcept {
  if (std::exchange(tlsWakeDeferred, false)) pool().wakeForQueuedWork(true);
}

void BackgroundWakeBatch::wakeBeforeBlocking() noexcept {
  tlsWakeDeferred = false;
  if (poolStarted.load()) pool().wakeForQueuedWork(false);
}

}  // namespace zel::detail
