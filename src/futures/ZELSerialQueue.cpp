#include "zel/futures/ZELSerialQueue.h"

#include <condition_variable>
#include <exception>
#include <mutex>
#include <vector>

#include "RunGuarded.h"

namespace zel {

using detail::runGuarded;

namespace {

// The queue whose items the current thread is running, if any.
thread_local const void* tlsRunningQueue = nullptr;

}  // namespace

// One runner at a time — the queue's own thread, or a thread draining it with runPendingInline()
// — takes the backlog in FIFO batches, so items never overlap and keep their order.
struct ZELSerialQueue::State {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<Work> queue;
  bool running = false;  // a runner holds the queue
  bool stopping = false;
  bool exited = false;

  void runBatch(std::vector<Work>& batch) {
    const void* previous = tlsRunningQueue;
    tlsRunningQueue = this;
    for (auto& work : batch) {
      runGuarded(work, "a serial queue");
      work = nullptr;  // release captures before the next item runs
    }
    batch.clear();
    tlsRunningQueue = previous;
  }

  // Called with the lock held, after a batch ran: an empty queue takes the batch's storage
  // back, so a steady stream of items does not grow a new vector each time.
  void recycle(std::vector<Work>& batch) {
    if (queue.empty() && queue.capacity() < batch.capacity()) queue.swap(batch);
  }

  void run() {
    std::vector<Work> batch;
    for (;;) {
      {
        std::unique_lock lock(mutex);
        changed.wait(lock,
                     [this] { return (!queue.empty() && !running) || (stopping && !running); });
        if (queue.empty()) break;
        batch.swap(queue);
        running = true;
      }
      runBatch(batch);
      std::lock_guard lock(mutex);
      running = false;
      recycle(batch);
    }
    std::lock_guard lock(mutex);
    exited = true;
    changed.notify_all();
  }

  bool drainInline() {
    std::vector<Work> batch;
    bool ranAny = false;
    bool leftForWorker = false;
    for (;;) {
      {
        std::lock_guard lock(mutex);
        if (running || queue.empty()) {
          leftForWorker = !running && !queue.empty();
          break;
        }
        batch.swap(queue);
        running = true;
      }
      runBatch(batch);
      ranAny = true;
      std::lock_guard lock(mutex);
      running = false;
      recycle(batch);
      if (stopping) {
        leftForWorker = true;  // the queue's thread waits for the runner token to exit
        break;
      }
    }
    if (leftForWorker) changed.notify_all();
    return ranAny;
  }
};

ZELSerialQueue::ZELSerialQueue(std::string label)
    : label_(std::move(label)), state_(std::make_shared<State>()) {
  std::thread([state = state_] { state->run(); }).detach();
}

ZELSerialQueue::~ZELSerialQueue() {
  shutdown();
}

void ZELSerialQueue::execute(Work work) {
  (void)tryExecute(work);
}

bool ZELSerialQueue::tryExecute(Work& work) {
  if (!tryEnqueueWithoutWaking(work)) return false;
  state_->changed.notify_one();
  return true;
}

bool ZELSerialQueue::tryEnqueueWithoutWaking(Work& work) {
  std::lock_guard lock(state_->mutex);
  if (state_->stopping) return false;
  state_->queue.push_back(std::move(work));
  return true;
}

bool ZELSerialQueue::runPendingInline() {
  return state_->drainInline();
}

bool ZELSerialQueue::isCurrent() const noexcept {
  return tlsRunningQueue == state_.get();
}

void ZELSerialQueue::shutdown() {
  std::unique_lock lock(state_->mutex);
  state_->stopping = true;
  state_->changed.notify_all();
  if (isCurrent()) return;
  state_->changed.wait(lock, [this] { return state_->exited; });
}

}  // namespace zel
